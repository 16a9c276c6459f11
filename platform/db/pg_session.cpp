// PgSession: EngineSession over libpq (statements, prepared statements,
// streaming queries, transactions, reconnects), the catalogue cache of field
// metadata, and openPostgres.
#include "platform/db/pg_session.h"

#include <libpq-fe.h>

#include <cctype>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

#include "platform/db/declared_names.h"
#include "platform/db/pg_conninfo.h"
#include "platform/db/pg_cursor.h"
#include "platform/db/pg_statement_cache.h"
#include "platform/db/pg_values.h"
#include "platform/log/server_log.h"

namespace qz::db {
namespace {

std::string trimmed(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  size_t b = 0;
  while (b < s.size() && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  return s.substr(b);
}

// The server's message of a failed statement: the primary text, and the
// detail on a second line when there is one (e.g. which key is duplicated).
std::string resultError(const PGresult* r, PGconn* conn) {
  if (!r) return trimmed(PQerrorMessage(conn));
  const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
  if (!primary) {
    std::string all = trimmed(PQresultErrorMessage(r));
    return all.empty() ? trimmed(PQerrorMessage(conn)) : all;
  }
  std::string text = primary;
  if (const char* detail = PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL)) {
    text += '\n';
    text += detail;
  }
  return trimmed(text);
}

// The failure of a statement with the server's SQLSTATE.
DbError resultFailure(const PGresult* r, PGconn* conn) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  return DbError(resultError(r, conn), state ? state : "");
}

constexpr Oid kVoidOid = 2278;

constexpr const char* kLostTransaction =
    "the connection to the database server was lost; the open transaction was rolled back";

void ignoreNotice(void*, const char*) {}

bool startsWithWordNoCase(std::string_view sql, std::string_view word) {
  size_t i = 0;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  if (sql.size() - i < word.size()) return false;
  return EqualsNoCase(sql.substr(i, word.size()), word);
}

bool changesSchema(std::string_view sql) {
  return startsWithWordNoCase(sql, "create") || startsWithWordNoCase(sql, "alter") ||
         startsWithWordNoCase(sql, "drop") || startsWithWordNoCase(sql, "do");
}

// "dbo.Bills_insert", "[qz].[dbo].[Bills_insert]" -> "Bills_insert". The
// name is placed unquoted into the call, so it must be a plain identifier.
std::string procedureIdentifier(const std::string& name) {
  std::string last = name;
  if (size_t semi = last.find(';'); semi != std::string::npos) last.resize(semi);
  if (size_t dot = last.rfind('.'); dot != std::string::npos) last = last.substr(dot + 1);
  if (last.size() >= 2 && last.front() == '[' && last.back() == ']')
    last = last.substr(1, last.size() - 2);
  last = trimmed(last);
  bool ok = !last.empty() && !std::isdigit(static_cast<unsigned char>(last[0]));
  for (char c : last) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  if (!ok) throw DbError("invalid procedure name '" + name + "'");
  return last;
}

bool isOutput(const Parameter& p) { return p.direction != ParamDirection::Input; }

// True for the errors that may mean a cached plan or catalogue entry no
// longer fits the tables: an unknown table or column, a type mismatch
// (class 42) or "cached plan must not change result type" (0A000).
bool staleSchemaError(const PGresult* r) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  if (!state) return false;
  const std::string_view s(state);
  return s.starts_with("42") || s == "0A000";
}

// Field metadata of one table, by column number (attnum).
struct TableMeta {
  std::string name;
  std::vector<FieldDef> fields;              // in column order
  std::unordered_map<int, size_t> byAttnum;  // attnum -> index into fields
};

constexpr const char* kCatalogueQuery =
    "SELECT c.relname, a.attnum, a.attname, a.atttypid, a.atttypmod, a.attnotnull,"
    " (a.attidentity <> '' OR a.attgenerated <> '' OR"
    "  coalesce(pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%', false)) AS generated,"
    " coalesce(a.attnum = ANY (i.indkey), false) AS iskey"
    " FROM pg_class c"
    " JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped"
    " LEFT JOIN pg_attrdef d ON d.adrelid = c.oid AND d.adnum = a.attnum"
    " LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary"
    " WHERE c.oid = $1::oid ORDER BY a.attnum";

class PgSession : public EngineSession, private RowFeed {
 public:
  PgSession(PGconn* conn, int commandTimeout) : conn_(conn), timeout_(commandTimeout) {
    PQsetNoticeProcessor(conn_, ignoreNotice, nullptr);
  }
  ~PgSession() override {
    if (streaming_) streaming_->detach();  // its rows end with the connection
    PQfinish(conn_);
  }
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  EngineKind kind() const override { return EngineKind::PostgreSQL; }
  SqlFlavor flavor() const override { return SqlFlavor::Postgres; }

  // BEGIN goes to the server with the transaction's first statement: in
  // one round trip with it when that is a prepared statement, else just
  // before it. A transaction in which nothing ran ends without a word to
  // the server. A BEGIN that failed counts as a transaction lost: every
  // statement fails until the caller ends it, so none runs outside it.
  void begin() override {
    if (inTransaction()) throw DbError("a transaction is already open on this connection");
    beginPending_ = true;
  }

  void commit() override {
    if (!inTransaction()) throw DbError("no transaction is open on this connection");
    if (beginPending_) {
      beginPending_ = false;
      return;
    }
    if (lostInTransaction_) {
      const std::string why = lostText();
      lostInTransaction_ = false;
      beginError_.clear();
      transactionEnded(true);
      throw DbError(why);
    }
    ResultPtr r = command("COMMIT");
    // COMMIT of a transaction that a failed statement aborted answers
    // "ROLLBACK": nothing was stored, so that is no success.
    const bool rolledBack = std::string_view(PQcmdStatus(r.get())) == "ROLLBACK";
    transactionEnded(rolledBack);
    if (rolledBack)
      throw DbError("the transaction was rolled back because a statement in it failed");
  }

  void rollback() override {
    settle();
    if (beginPending_) {
      beginPending_ = false;
      return;
    }
    if (lostInTransaction_) {
      lostInTransaction_ = false;  // the server ended it with the connection
      beginError_.clear();
      transactionEnded(true);
      return;
    }
    if (PQtransactionStatus(conn_) != PQTRANS_INTRANS &&
        PQtransactionStatus(conn_) != PQTRANS_INERROR)
      return;
    command("ROLLBACK");
    transactionEnded(true);
  }

  bool inTransaction() const override {
    if (beginPending_) return true;
    // A streaming statement keeps the connection busy; its rows are read
    // ahead so the state answered is the transaction's, not "busy".
    const_cast<PgSession*>(this)->settle();
    if (lostInTransaction_) return true;  // until the caller ends it
    auto s = PQtransactionStatus(conn_);
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
  }

  // Never throws (it is called from destructors): a timeout that cannot be
  // sent now is sent before the next statement that can carry it.
  // A streaming statement is left alone: the SET waits until it has ended.
  void setCommandTimeout(int seconds) override {
    timeout_ = seconds < 0 ? 0 : seconds;
    timeoutPending_ = true;
    flushTimeout();
  }

  int64_t execute(const std::string& sql, const std::vector<Parameter>& binds) override {
    if (changesSchema(sql)) forgetSchema();
    ResultPtr r = run(sql, binds);
    const char* n = PQcmdTuples(r.get());
    return *n ? std::strtoll(n, nullptr, 10) : 0;
  }

  std::unique_ptr<Cursor> query(const std::string& sql,
                                const std::vector<Parameter>& binds) override {
    if (changesSchema(sql)) forgetSchema();
    // A text with ';' may be a batch, which only the simple protocol runs:
    // its last result is read whole.
    if (sql.find(';') != std::string::npos) return cursorOver(run(sql, binds));
    return stream(sql, binds, true);
  }

  std::unique_ptr<Cursor> callProcedure(const std::string& name, ParamList& params) override {
    std::string sql = "SELECT * FROM " + procedureIdentifier(name) + "(";
    std::vector<Parameter> args;
    for (const auto& p : params) {
      if (p.direction != ParamDirection::Input && p.direction != ParamDirection::InputOutput)
        continue;
      if (!args.empty()) sql += ", ";
      args.push_back(p);
      sql += "$" + std::to_string(args.size());
    }
    sql += ")";
    ResultPtr r = run(sql, args);
    if (PQnfields(r.get()) == 1 && PQftype(r.get(), 0) == kVoidOid) return nullptr;
    auto cursor = cursorOver(std::move(r));
    const auto& fields = cursor->fields();

    // Output columns: every column names an output parameter of the call.
    std::vector<Parameter*> targets;
    for (const auto& f : fields) {
      Parameter* target = nullptr;
      if (EqualsNoCase(f.name, "return_value")) {
        for (auto& p : params)
          if (p.direction == ParamDirection::ReturnValue) {
            target = &p;
            break;
          }
      } else {
        for (auto& p : params) {
          std::string_view pn = p.name;
          if (!pn.empty() && pn.front() == '@') pn.remove_prefix(1);
          if (isOutput(p) && EqualsNoCase(pn, f.name)) {
            target = &p;
            break;
          }
        }
      }
      if (!target) {
        // A row set of the procedure's own. Like a T-SQL procedure that
        // ends without RETURN, it returns 0.
        for (auto& p : params)
          if (p.direction == ParamDirection::ReturnValue) p.value = Variant(int32_t{0});
        return cursor;
      }
      targets.push_back(target);
    }
    if (fields.empty()) return nullptr;
    if (cursor->next()) {
      for (size_t i = 0; i < targets.size(); ++i) targets[i]->value = cursor->row()[i];
    } else {
      for (auto* t : targets) t->value = Variant::null();
    }
    return nullptr;
  }

  // The name is looked up once per session (to_regclass, following the
  // search path) and kept until this session changes the schema or a
  // statement fails; statements name tables by name, so a table that
  // another session recreated is still the one written to, and a mismatch
  // shows up as an error, after which the lookup is fresh.
  std::vector<FieldDef> tableFields(const std::string& table) override {
    std::string name = table;
    if (size_t dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
      name = name.substr(1, name.size() - 2);
    Oid oid = 0;
    if (auto it = relations_.find(name); it != relations_.end()) {
      oid = it->second;
    } else {
      Parameter p;
      p.value = Variant(name);
      ResultPtr r = run("SELECT coalesce(to_regclass($1)::oid, 0)", {p});
      oid = static_cast<Oid>(std::strtoul(PQgetvalue(r.get(), 0, 0), nullptr, 10));
    }
    const TableMeta* meta = oid ? tableMeta(oid) : nullptr;
    if (!meta || meta->fields.empty()) throw DbError("relation \"" + table + "\" does not exist");
    relations_.try_emplace(name, oid);
    return meta->fields;
  }

 private:
  // Every use of the connection starts here: a streaming cursor first
  // reads its remaining rows ahead (settle). A connection that the server
  // or the network dropped is opened again before the next statement,
  // unless it dropped inside a transaction: the caller must first learn
  // that its transaction is gone (commit fails, rollback ends it), so later
  // statements never run outside it unnoticed.
  void ensureConnected() {
    settle();
    if (lostInTransaction_) throw DbError(lostText());
    if (PQstatus(conn_) != CONNECTION_BAD) return;
    const std::string where = std::string(PQdb(conn_) ? PQdb(conn_) : "") + " on " +
                              (PQhost(conn_) ? PQhost(conn_) : "") + ":" +
                              (PQport(conn_) ? PQport(conn_) : "");
    log::warning("database connection to " + where + " lost; reconnecting");
    PQreset(conn_);
    statements_.forgetAll();  // the new server session has none of them
    if (PQstatus(conn_) != CONNECTION_OK) {
      std::string message = trimmed(PQerrorMessage(conn_));
      log::error("database reconnect to " + where + " failed: " + message);
      throw DbError(message);
    }
    log::info("database connection to " + where + " restored");
    timeoutPending_ = true;  // the new session started with the first timeout
    timeoutSetInTransaction_ = false;
  }

  // Runs `exec` on the connection, noting a connection lost inside a
  // transaction.
  template <typename Exec>
  ResultPtr guarded(Exec exec) {
    ensureConnected();
    flushTimeout();
    sendPendingBegin();
    const auto before = PQtransactionStatus(conn_);
    ResultPtr r(exec());
    if (PQstatus(conn_) == CONNECTION_BAD &&
        (before == PQTRANS_INTRANS || before == PQTRANS_INERROR))
      lostInTransaction_ = true;
    return r;
  }

  // Why the statements of a lost transaction fail.
  std::string lostText() const { return beginError_.empty() ? kLostTransaction : beginError_; }

  // The BEGIN of begin(), before a statement that cannot carry it.
  // REQUIRES: the connection is free (ensureConnected).
  void sendPendingBegin() {
    if (!beginPending_) return;
    beginPending_ = false;
    ResultPtr r(PQexec(conn_, "BEGIN"));
    if (PQstatus(conn_) == CONNECTION_BAD) {
      // Dropped while idle: nothing of the transaction has run, so it
      // begins on a new session.
      ensureConnected();
      flushTimeout();
      r.reset(PQexec(conn_, "BEGIN"));
    }
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) beginFailed(r.get());
  }

  // A BEGIN that failed: the caller's transaction counts as lost.
  [[noreturn]] void beginFailed(const PGresult* r) {
    lostInTransaction_ = true;
    beginError_ = PQstatus(conn_) == CONNECTION_BAD ? std::string() : resultError(r, conn_);
    throw DbError(lostText());
  }

  ResultPtr command(const char* sql) {
    ResultPtr r = guarded([&] { return PQexec(conn_, sql); });
    auto st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) throw resultFailure(r.get(), conn_);
    return r;
  }

  // Sends a pending command timeout when the session can take it (not in a
  // failed transaction). A SET inside a transaction is undone if the
  // transaction rolls back, so that case is remembered.
  void flushTimeout() {
    if (!timeoutPending_ || PQstatus(conn_) != CONNECTION_OK) return;
    const auto ts = PQtransactionStatus(conn_);
    if (ts != PQTRANS_IDLE && ts != PQTRANS_INTRANS) return;
    const std::string sql = "SET statement_timeout = " + std::to_string(int64_t{timeout_} * 1000);
    ResultPtr r(PQexec(conn_, sql.c_str()));
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) return;
    timeoutPending_ = false;
    if (ts == PQTRANS_INTRANS) timeoutSetInTransaction_ = true;
  }

  void transactionEnded(bool rolledBack) {
    if (rolledBack && timeoutSetInTransaction_) timeoutPending_ = true;
    timeoutSetInTransaction_ = false;
    flushTimeout();
  }

  // Forgets what was read from the catalogue.
  void forgetSchema() {
    tables_.clear();
    relations_.clear();
    described_.clear();
  }

  // Parameter values as libpq takes them, and the statement cache's key.
  struct Bound {
    std::vector<std::string> texts;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    std::vector<Oid> types;
    std::string key;
    int count() const { return static_cast<int>(values.size()); }
  };

  static Bound bindAll(const std::string& sql, const std::vector<Parameter>& binds) {
    const size_t n = binds.size();
    Bound b;
    b.texts.resize(n);
    b.values.assign(n, nullptr);
    b.lengths.assign(n, 0);
    b.formats.assign(n, 0);
    b.types.assign(n, 0);
    b.key = sql;
    for (size_t i = 0; i < n; ++i) {
      const Variant& v = binds[i].value;
      if (v.isEmpty()) continue;
      bool binary = false;
      b.texts[i] = pgParamText(v, &binary);
      // The server reads a text parameter up to its first NUL: the rest
      // would be dropped without a word.
      if (!binary && b.texts[i].find('\0') != std::string::npos)
        throw DbError(
            "Text with a NUL character (\\u0000) cannot be stored on PostgreSQL "
            "(parameter '" +
            binds[i].name + "')");
      b.values[i] = b.texts[i].data();
      b.lengths[i] = static_cast<int>(b.texts[i].size());
      if (binary) {
        b.formats[i] = 1;
        b.types[i] = 17;  // bytea
        // The declared type is part of a prepared statement.
        b.key += '\0';
        b.key += std::to_string(i);
      }
    }
    return b;
  }

  // BEGIN and the transaction's first statement, prepared as `name`, in one
  // round trip (libpq's pipeline mode). Returns the statement's result; a
  // failed BEGIN fails it (nothing ran).
  ResultPtr beginAndRun(const std::string& sql, const std::string& name, const Bound& b) {
    beginPending_ = false;
    flushTimeout();
    bool sent = PQenterPipelineMode(conn_) == 1;
    sent = sent && PQsendQueryParams(conn_, "BEGIN", 0, nullptr, nullptr, nullptr, nullptr, 0);
    sent = sent && PQsendQueryPrepared(conn_, name.c_str(), b.count(), b.values.data(),
                                       b.lengths.data(), b.formats.data(), 0);
    sent = sent && PQpipelineSync(conn_);
    ResultPtr begun, result;
    if (sent) {
      // Each statement's results end with a null; the sync ends the lot.
      auto skipToEnd = [&] {
        while (PGresult* more = PQgetResult(conn_)) PQclear(more);
      };
      begun.reset(PQgetResult(conn_));
      if (begun) skipToEnd();
      result.reset(PQgetResult(conn_));
      if (result) skipToEnd();
      while (PGresult* more = PQgetResult(conn_)) {
        const bool sync = PQresultStatus(more) == PGRES_PIPELINE_SYNC;
        PQclear(more);
        if (sync) break;
      }
    }
    bool gone = PQstatus(conn_) != CONNECTION_OK;
    if (!PQexitPipelineMode(conn_)) {
      // Answers still owed by a connection in trouble: it starts afresh,
      // and the transaction is gone either way.
      PQreset(conn_);
      statements_.forgetAll();
      forgetSchema();
      timeoutPending_ = true;
      timeoutSetInTransaction_ = false;
      gone = true;
    }
    if (gone) {
      // Nothing of a transaction outlasts its connection before COMMIT: it
      // begins again on a new session, where the statement is not prepared.
      beginPending_ = true;
      ensureConnected();
      return guarded([&] {
        return PQexecParams(conn_, sql.c_str(), b.count(), b.types.data(), b.values.data(),
                            b.lengths.data(), b.formats.data(), 0);
      });
    }
    if (!begun || PQresultStatus(begun.get()) != PGRES_COMMAND_OK) beginFailed(begun.get());
    return result;
  }

  // The prepared statement to run b's text with, prepared now when due;
  // empty to run it unnamed. Throws DbError when the server cannot prepare
  // it (it would fail the same way unnamed).
  std::string preparedName(const std::string& sql, const Bound& b) {
    ensureConnected();  // a reset session has no prepared statements left
    deallocateIfDue();
    PgStatementCache::Plan plan = statements_.use(b.key);
    if (plan.kind == PgStatementCache::Plan::kPrepare) {
      ResultPtr p = guarded([&] {
        return PQprepare(conn_, plan.name.c_str(), sql.c_str(), b.count(), b.types.data());
      });
      if (!p || PQresultStatus(p.get()) != PGRES_COMMAND_OK) {
        forgetSchema();
        throw resultFailure(p.get(), conn_);
      }
      statements_.prepared(b.key, plan.name);
      return plan.name;
    }
    return plan.kind == PgStatementCache::Plan::kPrepared ? plan.name : std::string();
  }

  static bool resultChangedShape(const PGresult* r) {
    if (!r || PQresultStatus(r) != PGRES_FATAL_ERROR) return false;
    const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    return state && std::string_view(state) == "0A000";
  }

  // Runs `sql`: without parameters through the simple protocol (so a batch
  // of statements runs as one), with parameters through the extended one,
  // prepared from the second run of the same text on. Throws DbError with
  // the server's message.
  ResultPtr run(const std::string& sql, const std::vector<Parameter>& binds) {
    ResultPtr r;
    Bound b;
    bool prepared = false;
    if (binds.empty()) {
      r = guarded([&] { return PQexec(conn_, sql.c_str()); });
    } else {
      b = bindAll(sql, binds);
      const std::string name = preparedName(sql, b);
      auto unnamed = [&] {
        return guarded([&] {
          return PQexecParams(conn_, sql.c_str(), b.count(), b.types.data(), b.values.data(),
                              b.lengths.data(), b.formats.data(), 0);
        });
      };
      if (!name.empty() && beginPending_) {
        prepared = true;
        r = beginAndRun(sql, name, b);
      } else if (!name.empty()) {
        prepared = true;
        const bool idle = PQtransactionStatus(conn_) == PQTRANS_IDLE;
        r = guarded([&] {
          return PQexecPrepared(conn_, name.c_str(), b.count(), b.values.data(), b.lengths.data(),
                                b.formats.data(), 0);
        });
        // A table changed under a prepared statement so that its result
        // changed shape: nothing ran, and outside a transaction nothing was
        // aborted either, so the text runs again freshly planned.
        if (idle && resultChangedShape(r.get())) {
          statements_.forget(b.key);
          forgetSchema();
          prepared = false;
          r = unnamed();
        }
      } else {
        r = unnamed();
      }
    }
    auto st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK && st != PGRES_EMPTY_QUERY) {
      // Errors are rare and any of them may come from a table that changed
      // since it was looked up, so the next lookup is fresh.
      forgetSchema();
      if (prepared && staleSchemaError(r.get())) statements_.forget(b.key);
      throw resultFailure(r.get(), conn_);
    }
    return r;
  }

  // Runs a single statement that returns rows and hands them out while the
  // server still sends them (libpq's single-row mode), so the caller works
  // on the first rows while the rest arrive and a large result is never
  // held whole. Until its last row is read the connection is busy: any
  // other use of the session first reads the remaining rows into the
  // cursor (settle). Throws DbError as run().
  std::unique_ptr<Cursor> stream(const std::string& sql, const std::vector<Parameter>& binds,
                                 bool mayRetry) {
    // The retries below assume a statement that failed outside a
    // transaction aborted nothing: the transaction's BEGIN goes first.
    ensureConnected();
    flushTimeout();
    sendPendingBegin();
    Bound b = bindAll(sql, binds);
    const std::string name = preparedName(sql, b);  // the connection is free after it
    if (!learnTables(sql, b, name, mayRetry)) {
      statements_.forget(b.key);
      forgetSchema();
      return stream(sql, binds, false);
    }
    flushTimeout();
    const auto before = PQtransactionStatus(conn_);
    const int sent = name.empty()
                         ? PQsendQueryParams(conn_, sql.c_str(), b.count(), b.types.data(),
                                             b.values.data(), b.lengths.data(), b.formats.data(), 0)
                         : PQsendQueryPrepared(conn_, name.c_str(), b.count(), b.values.data(),
                                               b.lengths.data(), b.formats.data(), 0);
    if (!sent) {
      if (PQstatus(conn_) == CONNECTION_BAD &&
          (before == PQTRANS_INTRANS || before == PQTRANS_INERROR))
        lostInTransaction_ = true;
      throw DbError(trimmed(PQerrorMessage(conn_)));
    }
    PQsetSingleRowMode(conn_);
    streamInTransaction_ = before == PQTRANS_INTRANS || before == PQTRANS_INERROR;
    ResultPtr first(PQgetResult(conn_));
    const auto st = first ? PQresultStatus(first.get()) : PGRES_FATAL_ERROR;
    if (st != PGRES_SINGLE_TUPLE) {
      // No rows (the whole answer is here), a statement without rows, or
      // a failure: the connection is free once the rest is read.
      while (PGresult* more = PQgetResult(conn_)) PQclear(more);
      noteLostConnection();
      if (st == PGRES_TUPLES_OK || st == PGRES_COMMAND_OK || st == PGRES_EMPTY_QUERY)
        return cursorOver(std::move(first));
      if (!name.empty() && mayRetry && before == PQTRANS_IDLE && resultChangedShape(first.get())) {
        statements_.forget(b.key);
        forgetSchema();
        return stream(sql, binds, false);
      }
      forgetSchema();
      if (!name.empty() && staleSchemaError(first.get())) statements_.forget(b.key);
      throw resultFailure(first.get(), conn_);
    }
    std::vector<FieldDef> fields;
    std::vector<PgDecode> decode;
    const bool known = describe(first.get(), &fields, &decode);
    PGresult* shape = first.get();
    auto cursor =
        std::make_unique<PgCursor>(std::move(first), std::move(fields), std::move(decode));
    cursor->streamFrom(this);
    streaming_ = cursor.get();
    // Reading the catalogue needs the connection: the rows come first.
    if (!known) settle();
    addTableMeta(shape, &cursor->mutableFields());
    return cursor;
  }

  // RowFeed: the connection's next result while a cursor streams.
  ResultPtr nextRow() override {
    ResultPtr r(PQgetResult(conn_));
    // No result at all is the end only while the connection holds: a
    // dropped one must not pass for a shorter result.
    const auto st = r                                   ? PQresultStatus(r.get())
                    : PQstatus(conn_) == CONNECTION_BAD ? PGRES_FATAL_ERROR
                                                        : PGRES_TUPLES_OK;
    if (st == PGRES_SINGLE_TUPLE) return r;
    std::string error;
    if (st != PGRES_TUPLES_OK) error = resultError(r.get(), conn_);
    if (st != PGRES_TUPLES_OK && error.empty())
      error = "the connection to the database server was lost";
    r.reset();
    while (PGresult* more = PQgetResult(conn_)) PQclear(more);
    endStream();
    if (!error.empty()) {
      forgetSchema();
      throw DbError(error);
    }
    return nullptr;
  }

  void abandon() override {
    while (PGresult* more = PQgetResult(conn_)) PQclear(more);
    endStream();
  }

  // The streaming cursor's rows have all been read: the connection is free.
  void endStream() {
    if (streaming_) streaming_->detach();
    streaming_ = nullptr;
    noteLostConnection();
  }

  // A connection that dropped while a statement of a transaction ran takes
  // the transaction with it.
  void noteLostConnection() {
    if (PQstatus(conn_) == CONNECTION_BAD && streamInTransaction_) lostInTransaction_ = true;
    streamInTransaction_ = false;
  }

  // Frees the connection for another statement: a streaming cursor reads
  // its remaining rows into memory. Never throws.
  void settle() {
    if (streaming_) streaming_->readAhead();
  }

  // Names of forgotten prepared statements stay on the server until they
  // are deallocated; that is done in one go, outside any transaction.
  void deallocateIfDue() {
    if (!statements_.wantsDeallocateAll() || PQstatus(conn_) != CONNECTION_OK ||
        PQtransactionStatus(conn_) != PQTRANS_IDLE)
      return;
    ResultPtr r(PQexec(conn_, "DEALLOCATE ALL"));
    if (r && PQresultStatus(r.get()) == PGRES_COMMAND_OK) statements_.forgetAll();
  }

  // Reads the catalogue entries of the tables a statement's columns come
  // from before the statement runs, while the connection is free: once its
  // rows stream, the connection cannot answer a catalogue query without the
  // rows being read into memory first. The statement is described (parsed,
  // not run) the first time its text runs in this session; later runs find
  // its tables cached. Returns false when the prepared statement `name`
  // no longer fits its tables and may be planned afresh (mayRetry, outside
  // a transaction, where the failure aborted nothing). Throws DbError with
  // the server's message when the text does not parse or fit (running it
  // would fail the same way).
  bool learnTables(const std::string& sql, const Bound& b, const std::string& name, bool mayRetry) {
    if (described_.count(b.key)) return true;
    if (name.empty()) {
      ResultPtr p =
          guarded([&] { return PQprepare(conn_, "", sql.c_str(), b.count(), b.types.data()); });
      if (!p || PQresultStatus(p.get()) != PGRES_COMMAND_OK) {
        forgetSchema();
        throw resultFailure(p.get(), conn_);
      }
    }
    const auto before = PQtransactionStatus(conn_);
    ResultPtr d = guarded([&] { return PQdescribePrepared(conn_, name.c_str()); });
    if (!d || PQresultStatus(d.get()) != PGRES_COMMAND_OK) {
      if (!name.empty() && mayRetry && before == PQTRANS_IDLE && resultChangedShape(d.get()))
        return false;
      forgetSchema();
      if (!name.empty() && staleSchemaError(d.get())) statements_.forget(b.key);
      throw resultFailure(d.get(), conn_);
    }
    for (int c = 0, n = PQnfields(d.get()); c < n; ++c) {
      const Oid table = PQftable(d.get(), c);
      if (table != InvalidOid && !tables_.count(table)) tableMeta(table);
    }
    // One-off texts must not pile up: past the bound, start afresh.
    if (described_.size() >= kMaxDescribed) described_.clear();
    described_.insert(b.key);
    return true;
  }

  // Field names and types of r's columns; returns whether the table
  // metadata of every column is cached (addTableMeta then reads nothing).
  bool describe(const PGresult* res, std::vector<FieldDef>* fields,
                std::vector<PgDecode>* decode) const {
    const int n = PQnfields(res);
    fields->assign(n, FieldDef{});
    decode->assign(n, PgDecode{});
    bool known = true;
    for (int c = 0; c < n; ++c) {
      FieldDef& f = (*fields)[c];
      f.name = PQfname(res, c);
      PgColumnType t = pgColumnType(PQftype(res, c), PQfmod(res, c));
      f.type = t.type;
      f.size = t.size;
      f.precision = t.precision;
      f.scale = t.scale;
      (*decode)[c] = t.decode;
      const Oid table = PQftable(res, c);
      if (table != InvalidOid && !tables_.count(table)) known = false;
    }
    return known;
  }

  // NOT NULL, key and generated flags of the columns that come from a
  // table, from the catalogue (read on first use).
  void addTableMeta(const PGresult* res, std::vector<FieldDef>* fields) {
    for (int c = 0, n = PQnfields(res); c < n; ++c) {
      const Oid table = PQftable(res, c);
      if (table == InvalidOid) continue;
      if (const TableMeta* meta = tableMeta(table)) {
        auto it = meta->byAttnum.find(PQftablecol(res, c));
        if (it != meta->byAttnum.end()) {
          FieldDef& f = (*fields)[c];
          const FieldDef& col = meta->fields[it->second];
          // An unrenamed column takes the table's spelling of its name
          // (the declared one where the application registered it).
          if (EqualsNoCase(f.name, col.name)) f.name = col.name;
          f.table = meta->name;
          f.required = col.required;
          f.key = col.key;
          f.readOnly = col.readOnly;
        }
      }
    }
  }

  std::unique_ptr<Cursor> cursorOver(ResultPtr r) {
    std::vector<FieldDef> fields;
    std::vector<PgDecode> decode;
    describe(r.get(), &fields, &decode);
    addTableMeta(r.get(), &fields);
    return std::make_unique<PgCursor>(std::move(r), std::move(fields), std::move(decode));
  }

  // The cached metadata of table `oid`, loaded on first use; nullptr when
  // the catalogue has no such relation.
  const TableMeta* tableMeta(Oid oid) {
    auto it = tables_.find(oid);
    if (it != tables_.end()) return &it->second;
    std::string oidText = std::to_string(oid);
    const char* value = oidText.c_str();
    ResultPtr r = guarded([&] {
      return PQexecParams(conn_, kCatalogueQuery, 1, nullptr, &value, nullptr, nullptr, 0);
    });
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) throw resultFailure(r.get(), conn_);
    TableMeta meta;
    for (int i = 0, rows = PQntuples(r.get()); i < rows; ++i) {
      FieldDef f;
      meta.name = PQgetvalue(r.get(), i, 0);
      int attnum = std::atoi(PQgetvalue(r.get(), i, 1));
      f.name = PQgetvalue(r.get(), i, 2);
      if (const std::string* declared = declaredColumnName(meta.name, f.name)) f.name = *declared;
      PgColumnType t =
          pgColumnType(static_cast<uint32_t>(std::strtoul(PQgetvalue(r.get(), i, 3), nullptr, 10)),
                       std::atoi(PQgetvalue(r.get(), i, 4)));
      f.type = t.type;
      f.size = t.size;
      f.precision = t.precision;
      f.scale = t.scale;
      // A generated column is filled by the database: clients need not
      // (and should not) supply it, so it is not required of them.
      f.readOnly = PQgetvalue(r.get(), i, 6)[0] == 't';
      f.required = PQgetvalue(r.get(), i, 5)[0] == 't' && !f.readOnly;
      f.key = PQgetvalue(r.get(), i, 7)[0] == 't';
      f.table = meta.name;
      meta.byAttnum[attnum] = meta.fields.size();
      meta.fields.push_back(std::move(f));
    }
    if (meta.fields.empty()) return nullptr;
    return &tables_.emplace(oid, std::move(meta)).first->second;
  }

  PGconn* conn_;
  int timeout_;
  bool timeoutPending_ = false;           // timeout_ not yet in force on the server
  bool timeoutSetInTransaction_ = false;  // sent inside the open transaction
  bool lostInTransaction_ = false;        // the connection dropped inside a transaction
  bool beginPending_ = false;             // begin() called, BEGIN not sent yet
  std::string beginError_;                // why BEGIN failed on a connection that held
  std::unordered_map<Oid, TableMeta> tables_;
  std::unordered_map<std::string, Oid> relations_;  // table name -> oid
  // Statement keys whose tables' catalogue entries were read before they ran.
  std::unordered_set<std::string> described_;
  static constexpr size_t kMaxDescribed = 4096;
  PgStatementCache statements_;
  PgCursor* streaming_ = nullptr;     // the cursor whose rows are still coming
  bool streamInTransaction_ = false;  // it started inside a transaction
};

}  // namespace

std::unique_ptr<EngineSession> openPostgres(const ConnectionString& cs, int connectTimeout,
                                            int commandTimeout) {
  PgConnInfo info = pgConnInfo(cs, connectTimeout);
  if (commandTimeout < 0) commandTimeout = 0;
  // Session settings travel with the start-up packet: ISO dates (the form
  // the decoder reads) and the command timeout.
  info.params.emplace_back("options", "-c DateStyle=ISO,YMD -c statement_timeout=" +
                                          std::to_string(int64_t{commandTimeout} * 1000));
  std::vector<const char*> keys, values;
  for (const auto& [k, v] : info.params) {
    keys.push_back(k.c_str());
    values.push_back(v.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* conn = PQconnectdbParams(keys.data(), values.data(), 0);
  if (!conn) throw DbError("out of memory while connecting to the database server");
  if (PQstatus(conn) != CONNECTION_OK) {
    std::string text = trimmed(PQerrorMessage(conn));
    PQfinish(conn);
    throw DbError(text);
  }
  return std::make_unique<PgSession>(conn, commandTimeout);
}

}  // namespace qz::db
