// PgSession: EngineSession over libpq, its cursor over one PGresult, the
// catalogue cache of field metadata, and openPostgres.
#include "platform/db/pg_session.h"

#include <libpq-fe.h>

#include <cctype>
#include <cstdlib>
#include <unordered_map>

#include "platform/db/pg_conninfo.h"
#include "platform/db/pg_statement_cache.h"
#include "platform/db/pg_values.h"

namespace qz::db {
namespace {

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

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

constexpr Oid kVoidOid = 2278;

constexpr const char* kLostTransaction =
    "the connection to the database server was lost; the open transaction was rolled back";

void ignoreNotice(void*, const char*) {}

bool startsWithWordNoCase(std::string_view sql, std::string_view word) {
  size_t i = 0;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  if (sql.size() - i < word.size()) return false;
  return equalsNoCase(sql.substr(i, word.size()), word);
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
  for (char c : last)
    ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
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
  std::vector<FieldDef> fields;               // in column order
  std::unordered_map<int, size_t> byAttnum;  // attnum -> index into fields
};

class PgCursor : public Cursor {
 public:
  PgCursor(ResultPtr res, std::vector<FieldDef> fields, std::vector<PgDecode> decode)
      : res_(std::move(res)),
        fields_(std::move(fields)),
        decode_(std::move(decode)),
        rows_(res_ ? PQntuples(res_.get()) : 0),
        row_(fields_.size()) {}

  const std::vector<FieldDef>& fields() const override { return fields_; }

  bool next() override {
    if (current_ + 1 >= rows_) {
      current_ = rows_;
      return false;
    }
    ++current_;
    PGresult* r = res_.get();
    for (int c = 0, n = static_cast<int>(decode_.size()); c < n; ++c) {
      if (PQgetisnull(r, current_, c)) {
        row_[c] = Variant::null();
        continue;
      }
      row_[c] = pgDecodeValue(decode_[c], std::string_view(PQgetvalue(r, current_, c),
                                                          PQgetlength(r, current_, c)));
    }
    return true;
  }

  const std::vector<Variant>& row() const override { return row_; }

 private:
  ResultPtr res_;
  std::vector<FieldDef> fields_;
  std::vector<PgDecode> decode_;
  int rows_;
  int current_ = -1;
  std::vector<Variant> row_;
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

class PgSession : public EngineSession {
 public:
  PgSession(PGconn* conn, int commandTimeout) : conn_(conn), timeout_(commandTimeout) {
    PQsetNoticeProcessor(conn_, ignoreNotice, nullptr);
  }
  ~PgSession() override { PQfinish(conn_); }
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  EngineKind kind() const override { return EngineKind::PostgreSQL; }
  SqlFlavor flavor() const override { return SqlFlavor::Postgres; }

  void begin() override {
    if (inTransaction()) throw DbError("a transaction is already open on this connection");
    command("BEGIN");
  }

  void commit() override {
    if (!inTransaction()) throw DbError("no transaction is open on this connection");
    if (lostInTransaction_) {
      lostInTransaction_ = false;
      transactionEnded(true);
      throw DbError(kLostTransaction);
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
    if (lostInTransaction_) {
      lostInTransaction_ = false;  // the server ended it with the connection
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
    if (lostInTransaction_) return true;  // until the caller ends it
    auto s = PQtransactionStatus(conn_);
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
  }

  // Never throws (it is called from destructors): a timeout that cannot be
  // sent now is sent before the next statement that can carry it.
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
    return cursorOver(run(sql, binds));
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
      if (equalsNoCase(f.name, "return_value")) {
        for (auto& p : params)
          if (p.direction == ParamDirection::ReturnValue) {
            target = &p;
            break;
          }
      } else {
        for (auto& p : params) {
          std::string_view pn = p.name;
          if (!pn.empty() && pn.front() == '@') pn.remove_prefix(1);
          if (isOutput(p) && equalsNoCase(pn, f.name)) {
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
    if (!meta || meta->fields.empty())
      throw DbError("relation \"" + table + "\" does not exist");
    relations_.emplace(name, oid);
    return meta->fields;
  }

 private:
  // A connection that the server or the network dropped is opened again
  // before the next statement, unless it dropped inside a transaction: the
  // caller must first learn that its transaction is gone (commit fails,
  // rollback ends it), so later statements never run outside it unnoticed.
  void ensureConnected() {
    if (PQstatus(conn_) != CONNECTION_BAD) return;
    if (lostInTransaction_) throw DbError(kLostTransaction);
    PQreset(conn_);
    statements_.forgetAll();  // the new server session has none of them
    if (PQstatus(conn_) != CONNECTION_OK) throw DbError(trimmed(PQerrorMessage(conn_)));
    timeoutPending_ = true;  // the new session started with the first timeout
    timeoutSetInTransaction_ = false;
  }

  // Runs `exec` on the connection, noting a connection lost inside a
  // transaction.
  template <typename Exec>
  ResultPtr guarded(Exec exec) {
    ensureConnected();
    flushTimeout();
    const auto before = PQtransactionStatus(conn_);
    ResultPtr r(exec());
    if (PQstatus(conn_) == CONNECTION_BAD &&
        (before == PQTRANS_INTRANS || before == PQTRANS_INERROR))
      lostInTransaction_ = true;
    return r;
  }

  ResultPtr command(const char* sql) {
    ResultPtr r = guarded([&] { return PQexec(conn_, sql); });
    auto st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) throw DbError(resultError(r.get(), conn_));
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
  }

  // Runs `sql`: without parameters through the simple protocol (so a batch
  // of statements runs as one), with parameters through the extended one,
  // prepared from the second run of the same text on. Throws DbError with
  // the server's message.
  ResultPtr run(const std::string& sql, const std::vector<Parameter>& binds) {
    ResultPtr r;
    std::string key;
    bool prepared = false;
    if (binds.empty()) {
      r = guarded([&] { return PQexec(conn_, sql.c_str()); });
    } else {
      const int n = static_cast<int>(binds.size());
      std::vector<std::string> texts(n);
      std::vector<const char*> values(n, nullptr);
      std::vector<int> lengths(n, 0), formats(n, 0);
      std::vector<Oid> types(n, 0);
      key = sql;
      for (int i = 0; i < n; ++i) {
        const Variant& v = binds[i].value;
        if (v.isEmpty()) continue;
        bool binary = false;
        texts[i] = pgParamText(v, &binary);
        values[i] = texts[i].data();
        lengths[i] = static_cast<int>(texts[i].size());
        if (binary) {
          formats[i] = 1;
          types[i] = 17;  // bytea
          // The declared type is part of a prepared statement.
          key += '\0';
          key += std::to_string(i);
        }
      }
      ensureConnected();  // a reset session has no prepared statements left
      deallocateIfDue();
      PgStatementCache::Plan plan = statements_.use(key);
      if (plan.kind == PgStatementCache::Plan::kPrepare) {
        ResultPtr p = guarded(
            [&] { return PQprepare(conn_, plan.name.c_str(), sql.c_str(), n, types.data()); });
        // A text the server cannot prepare fails the same way unnamed.
        if (!p || PQresultStatus(p.get()) != PGRES_COMMAND_OK) {
          forgetSchema();
          throw DbError(resultError(p.get(), conn_));
        }
        statements_.prepared(key, plan.name);
        plan.kind = PgStatementCache::Plan::kPrepared;
      }
      auto unnamed = [&] {
        return guarded([&] {
          return PQexecParams(conn_, sql.c_str(), n, types.data(), values.data(), lengths.data(),
                              formats.data(), 0);
        });
      };
      if (plan.kind == PgStatementCache::Plan::kPrepared) {
        prepared = true;
        const bool idle = PQtransactionStatus(conn_) == PQTRANS_IDLE;
        r = guarded([&] {
          return PQexecPrepared(conn_, plan.name.c_str(), n, values.data(), lengths.data(),
                                formats.data(), 0);
        });
        // A table changed under a prepared statement so that its result
        // changed shape: nothing ran, and outside a transaction nothing was
        // aborted either, so the text runs again freshly planned.
        if (idle && r && PQresultStatus(r.get()) == PGRES_FATAL_ERROR) {
          const char* state = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
          if (state && std::string_view(state) == "0A000") {
            statements_.forget(key);
            forgetSchema();
            prepared = false;
            r = unnamed();
          }
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
      if (prepared && staleSchemaError(r.get())) statements_.forget(key);
      throw DbError(resultError(r.get(), conn_));
    }
    return r;
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

  std::unique_ptr<Cursor> cursorOver(ResultPtr r) {
    PGresult* res = r.get();
    const int n = PQnfields(res);
    std::vector<FieldDef> fields(n);
    std::vector<PgDecode> decode(n);
    for (int c = 0; c < n; ++c) {
      FieldDef& f = fields[c];
      f.name = PQfname(res, c);
      PgColumnType t = pgColumnType(PQftype(res, c), PQfmod(res, c));
      f.type = t.type;
      f.size = t.size;
      f.precision = t.precision;
      f.scale = t.scale;
      decode[c] = t.decode;
      Oid table = PQftable(res, c);
      if (table == InvalidOid) continue;
      if (const TableMeta* meta = tableMeta(table)) {
        auto it = meta->byAttnum.find(PQftablecol(res, c));
        if (it != meta->byAttnum.end()) {
          const FieldDef& col = meta->fields[it->second];
          f.table = meta->name;
          f.required = col.required;
          f.key = col.key;
          f.readOnly = col.readOnly;
        }
      }
    }
    return std::make_unique<PgCursor>(std::move(r), std::move(fields), std::move(decode));
  }

  // The cached metadata of table `oid`, loaded on first use; nullptr when
  // the catalogue has no such relation.
  const TableMeta* tableMeta(Oid oid) {
    auto it = tables_.find(oid);
    if (it != tables_.end()) return &it->second;
    std::string oidText = std::to_string(oid);
    const char* value = oidText.c_str();
    ResultPtr r = guarded(
        [&] { return PQexecParams(conn_, kCatalogueQuery, 1, nullptr, &value, nullptr, nullptr, 0); });
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) throw DbError(resultError(r.get(), conn_));
    TableMeta meta;
    for (int i = 0, rows = PQntuples(r.get()); i < rows; ++i) {
      FieldDef f;
      meta.name = PQgetvalue(r.get(), i, 0);
      int attnum = std::atoi(PQgetvalue(r.get(), i, 1));
      f.name = PQgetvalue(r.get(), i, 2);
      PgColumnType t = pgColumnType(static_cast<uint32_t>(std::strtoul(PQgetvalue(r.get(), i, 3),
                                                                       nullptr, 10)),
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
  bool timeoutPending_ = false;          // timeout_ not yet in force on the server
  bool timeoutSetInTransaction_ = false;  // sent inside the open transaction
  bool lostInTransaction_ = false;  // the connection dropped inside a transaction
  std::unordered_map<Oid, TableMeta> tables_;
  std::unordered_map<std::string, Oid> relations_;  // table name -> oid
  PgStatementCache statements_;
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
