// The embedded engine's session and openEmbedded; see embedded_session.h.
#include "platform/db/embedded_session.h"

#include <climits>
#include <cstring>
#include <filesystem>

#include "platform/core/ascii.h"
#include "platform/db/dialect.h"
#include "platform/db/embedded_catalog.h"
#include "platform/db/embedded_procedures.h"
#include "platform/db/sql_lexer.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sqlite_cursor.h"
#include "platform/db/sqlite_functions.h"
#include "platform/db/sqlite_values.h"

namespace qz::db {
namespace {

int timeoutMs(int seconds) {
  return seconds <= 0 || seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
}

// Opens a SQLite handle; throws DbError with SQLite's text.
sqlite3* openHandle(const std::string& file, int flags, int busyMs) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    throw DbError(msg + ": " + file);
  }
  sqlite3_extended_result_codes(db, 0);
  sqlite3_busy_timeout(db, busyMs);
  return db;
}

// Closes a handle on scope exit unless released.
struct HandleGuard {
  sqlite3* db;
  ~HandleGuard() {
    if (db) sqlite3_close_v2(db);
  }
};

// Runs after every statement: only its first word is looked at.
bool firstWordIsDml(const char* sql) {
  const std::optional<Token> t = firstSignificantToken(sql ? sql : "");
  return t && (t->isWord("insert") || t->isWord("update") || t->isWord("delete") ||
               t->isWord("replace"));
}

constexpr const char* kProcTable =
    "CREATE TABLE IF NOT EXISTS sys_procedures(name TEXT PRIMARY KEY COLLATE NOCASE, "
    "params TEXT NOT NULL, body TEXT NOT NULL)";

// "db.dbo.name", "dbo.name", "name" -> database and name.
void splitProcName(const std::string& full, std::string* database, std::string* name) {
  std::vector<std::string> parts;
  for (const Token& t : lexSql(full))
    if (t.isIdentifier()) parts.push_back(identifierName(t));
  // db..name gives two parts; dbo is dropped.
  std::erase_if(parts, [](const std::string& p) { return EqualsNoCase(p, "dbo"); });
  database->clear();
  if (parts.empty()) {
    *name = full;
    return;
  }
  *name = parts.back();
  if (parts.size() >= 2) *database = parts[parts.size() - 2];
}

}  // namespace

// Arms the command timeout for one call on the session (outermost wins).
class DeadlineScope {
 public:
  explicit DeadlineScope(EmbeddedSession* s) : s_(s) {
    if (s_->deadlineDepth_++ == 0 && s_->commandTimeout_ > 0)
      s_->deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(s_->commandTimeout_);
  }
  ~DeadlineScope() {
    if (--s_->deadlineDepth_ == 0) s_->deadline_ = {};
  }
  DeadlineScope(const DeadlineScope&) = delete;
  DeadlineScope& operator=(const DeadlineScope&) = delete;

 private:
  EmbeddedSession* s_;
};

int EmbeddedSession::progress(void* self) {
  auto* s = static_cast<EmbeddedSession*>(self);
  if (s->deadlineDepth_ == 0 || s->deadline_ == std::chrono::steady_clock::time_point{}) return 0;
  return std::chrono::steady_clock::now() > s->deadline_ ? 1 : 0;
}

// ---------------------------------------------------------------- open

std::unique_ptr<EngineSession> openEmbedded(const ConnectionString& cs, int connectTimeout,
                                            int commandTimeout) {
  std::string dataDir = embeddedDataDir();
  if (dataDir.empty()) dataDir = "./";
  std::error_code ec;
  std::filesystem::create_directories(dataDir, ec);
  if (ec) throw DbError("Cannot create the data folder " + dataDir + ": " + ec.message());
  dataDir = std::filesystem::absolute(dataDir).lexically_normal().string();
  if (dataDir.back() != '/') dataDir += '/';

  std::string database = cs.value("Initial Catalog");
  if (database.empty()) database = "master";
  const std::string fileName = cs.value("Initial File Name");

  std::string file;
  {
    HandleGuard master{openHandle(catalog::masterPath(dataDir),
                                  SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                  timeoutMs(connectTimeout))};
    catalog::configureHandle(master.db, timeoutMs(connectTimeout));
    catalog::ensureSchema(master.db, "main", timeoutMs(connectTimeout));
    if (!fileName.empty()) {
      const std::string path = catalog::resolvePath(dataDir, fileName);
      if (std::filesystem::is_regular_file(path, ec)) {
        auto known = catalog::findDatabaseFile(master.db, "main", dataDir, database);
        if (!known || *known != path) catalog::registerDatabase(master.db, "main", database, path);
      }
    }
    auto found = catalog::findDatabaseFile(master.db, "main", dataDir, database);
    if (!found || !std::filesystem::is_regular_file(*found, ec))
      throw DbError(catalog::cannotOpenText(database));
    file = *found;
  }
  return std::make_unique<EmbeddedSession>(dataDir, database, file, commandTimeout);
}

// ---------------------------------------------------------------- session

EmbeddedSession::EmbeddedSession(std::string dataDir, std::string database, const std::string& file,
                                 int commandTimeout)
    : dataDir_(std::move(dataDir)), database_(std::move(database)) {
  const std::string master = catalog::masterPath(dataDir_);
  std::error_code ec;
  isMaster_ = std::filesystem::equivalent(file, master, ec);  // false when either is missing
  if (!isMaster_) useLock_ = DatabaseUseLock::shared(file);
  HandleGuard guard{openHandle(file, SQLITE_OPEN_READWRITE, timeoutMs(commandTimeout))};
  catalog::configureHandle(guard.db, timeoutMs(commandTimeout));
  execPlainOn(guard.db, "PRAGMA foreign_keys=ON");
  if (registerSqlFunctions(guard.db) != SQLITE_OK) throwSqlite(guard.db, SQLITE_ERROR);
  if (!isMaster_) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(guard.db, "ATTACH DATABASE ?1 AS master", -1, &st, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_bind_text(st, 1, master.c_str(), -1, SQLITE_TRANSIENT);
      rc = sqlite3_step(st);
      sqlite3_finalize(st);
    }
    if (rc != SQLITE_DONE && rc != SQLITE_OK) throwSqlite(guard.db, rc);
  }
  db_ = guard.db;
  guard.db = nullptr;
  commandTimeout_ = commandTimeout;
  sqlite3_progress_handler(db_, 4000, &EmbeddedSession::progress, this);
  cursors_->keepStatementsIn(&statements_);
}

EmbeddedSession::~EmbeddedSession() {
  cursors_->keepStatementsIn(nullptr);  // a cursor still open finalizes its own
  statements_.clear();
  if (db_) {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
}

void EmbeddedSession::execPlainOn(sqlite3* db, const char* sql) {
  char* err = nullptr;
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = ((rc & 0xff) == SQLITE_BUSY || !err) ? sqliteErrorText(db, rc) : err;
    sqlite3_free(err);
    throw DbError(msg, sqliteEngineCode(db, rc));
  }
}

void EmbeddedSession::execPlain(const char* sql) { execPlainOn(db_, sql); }

void EmbeddedSession::execKept(const char* sql) { statements_.run(db_, sql); }

void EmbeddedSession::begin() {
  cursors_->detachAll();
  execKept("BEGIN IMMEDIATE");
  userTxn_ = true;
}

void EmbeddedSession::commit() {
  execKept("COMMIT");
  userTxn_ = false;
}

void EmbeddedSession::rollback() {
  // SQLite ends a transaction by itself after some failures (an interrupted
  // write, a full disk); rolling back what is already rolled back is not a
  // new error that would hide the first one.
  if (userTxn_ && sqlite3_get_autocommit(db_)) {
    userTxn_ = false;
    return;
  }
  execKept("ROLLBACK");
  userTxn_ = false;
}
bool EmbeddedSession::inTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

void EmbeddedSession::setCommandTimeout(int seconds) {
  commandTimeout_ = seconds;
  sqlite3_busy_timeout(db_, timeoutMs(seconds));
}

sqlite3_stmt* EmbeddedSession::prepare(const char* sql, const char** tail,
                                       const std::vector<Parameter>& params) {
  sqlite3_stmt* st = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql, -1, &st, tail);
  if (rc != SQLITE_OK) throwSqlite(db_, rc);
  if (!st) return nullptr;
  try {
    bindAll(st, params);
  } catch (...) {
    sqlite3_finalize(st);
    throw;
  }
  return st;
}

void EmbeddedSession::bindAll(sqlite3_stmt* st, const std::vector<Parameter>& params) {
  const int n = sqlite3_bind_parameter_count(st);
  for (int i = 1; i <= n; ++i) {
    const char* name = sqlite3_bind_parameter_name(st, i);
    const Parameter* p = nullptr;
    if (!name || name[0] == '?') {
      if (i <= static_cast<int>(params.size())) p = &params[i - 1];
    } else {
      p = findParam(params, name);
      if (!p) p = findParam(params, name + 1);
    }
    if (p) bindParameter(db_, st, i, *p);
  }
}

int64_t EmbeddedSession::runToEnd(sqlite3_stmt* st) {
  if (!sqlite3_stmt_readonly(st)) cursors_->detachAll();
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) throw DbError(sqliteErrorText(db_, rc), sqliteEngineCode(db_, rc));
  return firstWordIsDml(sqlite3_sql(st)) ? sqlite3_changes64(db_) : 0;
}

int64_t EmbeddedSession::execute(const std::string& sql, const std::vector<Parameter>& binds) {
  DeadlineScope deadline(this);
  // A text run before: its statement is taken out of the cache while it
  // runs and only returned when it succeeded.
  if (sqlite3_stmt* st = statements_.take(sql)) {
    int64_t affected;
    try {
      bindAll(st, binds);
      affected = runToEnd(st);
    } catch (...) {
      sqlite3_finalize(st);
      throw;
    }
    statements_.give(sql, st);
    return affected;
  }
  int64_t affected = 0;
  const char* p = sql.c_str();
  while (*p) {
    const char* tail = nullptr;
    const bool first = p == sql.c_str();
    sqlite3_stmt* st = prepare(p, &tail, binds);
    p = tail;
    if (!st) continue;
    try {
      affected += runToEnd(st);
    } catch (...) {
      sqlite3_finalize(st);
      throw;
    }
    // Only a text that is one statement is kept: its text is its key.
    if (first && p[std::strspn(p, " \t\r\n;")] == '\0')
      statements_.give(sql, st);
    else
      sqlite3_finalize(st);
  }
  return affected;
}

std::unique_ptr<Cursor> EmbeddedSession::query(const std::string& sql,
                                               const std::vector<Parameter>& binds) {
  DeadlineScope deadline(this);  // up to the first row
  // A query with parameters is the kind run again and again with other
  // values (a lookup by key): its statement is kept when the cursor is
  // done. Texts without parameters are mostly composed once, and would
  // only push the kept statements of the writes out of the cache.
  sqlite3_stmt* st = statements_.take(sql);
  if (st) {
    try {
      bindAll(st, binds);
    } catch (...) {
      sqlite3_finalize(st);
      throw;
    }
  } else {
    const char* tail = nullptr;
    st = prepare(sql.c_str(), &tail, binds);
    if (!st) return std::make_unique<RowSetCursor>(RowSet{});
    for (const Token& t : lexSql(tail ? tail : "")) {
      if (!t.trivia() && !t.isPunct(";")) {
        sqlite3_finalize(st);
        throw DbError("A query must be a single statement");
      }
    }
  }
  const bool keep = sqlite3_bind_parameter_count(st) > 0;
  if (!sqlite3_stmt_readonly(st)) {
    try {
      cursors_->detachAll();
    } catch (...) {
      sqlite3_finalize(st);
      throw;
    }
  }
  return std::make_unique<SqliteCursor>(db_, st, cursors_, keep ? sql : std::string());
}

std::vector<FieldDef> EmbeddedSession::tableFields(const std::string& table) {
  std::string database, name;
  splitProcName(table, &database, &name);
  const std::string prefix = database.empty() ? std::string() : qualifierFor(database);
  const std::string sql = "SELECT * FROM " + prefix + QuoteSqlName(name) + " LIMIT 0";
  // Every apply of a delta asks again, so the statement is kept; SQLite
  // prepares it anew when the table changed.
  sqlite3_stmt* st = statements_.take(sql);
  if (!st) {
    knownFields_.erase(sql);  // a new statement counts its re-preparations afresh
    const int rc =
        sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    if (rc != SQLITE_OK) throwSqlite(db_, rc);
  }
  std::vector<FieldDef> out;
  try {
    // A kept statement learns of a changed table only when it runs.
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) throwSqlite(db_, rc);
    const int reprepares = sqlite3_stmt_status(st, SQLITE_STMTSTATUS_REPREPARE, 0);
    auto known = knownFields_.find(sql);
    if (known != knownFields_.end() && known->second.reprepares == reprepares) {
      out = known->second.fields;
    } else {
      const int n = sqlite3_column_count(st);
      for (int i = 0; i < n; ++i) out.push_back(describeColumn(db_, st, i, false));
      knownFields_[sql] = KnownFields{reprepares, out};
    }
  } catch (...) {
    knownFields_.erase(sql);
    sqlite3_finalize(st);
    throw;
  }
  statements_.give(sql, st);
  return out;
}

std::string EmbeddedSession::databaseFile(std::string_view name) {
  auto f = catalog::findDatabaseFile(db_, catalogSchema(), dataDir_, name);
  if (!f)
    throw DbError("Database '" + std::string(name) +
                  "' does not exist. Make sure that the name is entered correctly.");
  return *f;
}

std::string EmbeddedSession::qualifierFor(std::string_view database) {
  if (EqualsNoCase(database, database_)) return "main.";
  if (EqualsNoCase(database, "master")) return isMaster_ ? "main." : "master.";
  if (EqualsNoCase(database, "tempdb")) return "temp.";
  const std::string alias = AsciiLower(database);
  for (const std::string& a : attached_)
    if (a == alias) return QuoteSqlName(alias) + ".";
  const std::string file = databaseFile(database);
  std::vector<Parameter> binds(1);
  binds[0].value = Variant(file);
  execute("ATTACH DATABASE ?1 AS " + QuoteSqlName(alias), binds);
  attached_.push_back(alias);
  return QuoteSqlName(alias) + ".";
}

// ---------------------------------------------------------------- procedures

std::unique_ptr<Cursor> EmbeddedSession::callProcedure(const std::string& name, ParamList& params) {
  std::string database, proc;
  splitProcName(name, &database, &proc);
  return callIn(database, proc, params, /*byPosition=*/true);
}

std::unique_ptr<Cursor> EmbeddedSession::callIn(const std::string& database,
                                                const std::string& name, ParamList& params,
                                                bool byPosition) {
  DeadlineScope deadline(this);
  // @RETURN_VALUE (when present) is first; the arguments follow.
  const size_t first =
      !params.empty() && params[0].direction == ParamDirection::ReturnValue ? 1 : 0;
  ParamList args(params.begin() + static_cast<std::ptrdiff_t>(first), params.end());
  if (byPosition)
    for (Parameter& a : args) a.name.clear();
  int32_t ret = 0;
  std::unique_ptr<Cursor> rows;
  if (const EmbeddedProcFn* native = findEmbeddedProcedure(name)) {
    EmbeddedCall call{*this, args};
    rows = (*native)(call);
    ret = call.returnValue;
  } else {
    const std::string schema = database.empty() ? std::string("main.") : qualifierFor(database);
    StoredProcedureText text;
    bool found = false;
    sqlite3_stmt* st = nullptr;
    const std::string sql =
        "SELECT name, params, body FROM " + schema + "sys_procedures WHERE name = ?1";
    // Looked up on every call: the statement is kept.
    st = statements_.take(sql);
    if (st || sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) ==
                  SQLITE_OK) {
      sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(st) == SQLITE_ROW) {
        auto col = [&](int i) {
          const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
          return std::string(p ? p : "");
        };
        text = StoredProcedureText{col(0), col(1), col(2)};
        found = true;
      }
      statements_.give(sql, st);
    } else {
      sqlite3_finalize(st);
    }
    if (!found) throw DbError("Could not find stored procedure '" + name + "'.");
    NestedExec nested = [this](const DialectStatement& s, ParamList& a) { return runNative(s, a); };
    cursors_->detachAll();
    rows = runStoredProcedure(db_, &statements_, &plans_, text, args, &ret, nested);
  }
  for (size_t i = 0; i < args.size(); ++i) {
    Parameter& p = params[first + i];
    if (p.direction == ParamDirection::Output || p.direction == ParamDirection::InputOutput)
      p.value = args[i].value;
  }
  if (first) params[0].value = Variant(ret);
  return rows;
}

std::unique_ptr<Cursor> EmbeddedSession::runNative(const DialectStatement& st, ParamList& args) {
  switch (st.kind) {
    case DialectStatement::Kind::Exec:
      return callIn(st.database, st.procedure, args, /*byPosition=*/false);
    case DialectStatement::Kind::Restore: {
      const EmbeddedProcFn* restore = findEmbeddedProcedure("RESTORE DATABASE");
      if (!restore) return EngineSession::runNative(st, args);
      ParamList rargs(3);
      rargs[0].name = "@database";
      rargs[0].value = Variant(st.database);
      rargs[1].name = "@disk";
      rargs[1].value = Variant(st.disk);
      rargs[2].name = "@password";
      rargs[2].value = Variant(st.password);
      EmbeddedCall call{*this, rargs};
      return (*restore)(call);
    }
    case DialectStatement::Kind::CreateDatabase:
      createDatabase(st.database);
      return nullptr;
    case DialectStatement::Kind::DropDatabase:
      dropDatabase(st.database);
      return nullptr;
    default:
      return EngineSession::runNative(st, args);
  }
}

void EmbeddedSession::createDatabase(const std::string& name) {
  if (inTransaction())
    throw DbError("CREATE DATABASE statement not allowed within multi-statement transaction.");
  if (!catalog::isValidDatabaseName(name)) throw DbError("Invalid database name '" + name + "'.");
  if (catalog::findDatabaseFile(db_, catalogSchema(), dataDir_, name))
    throw DbError("Database '" + name + "' already exists. Choose a different database name.");
  const std::string file = catalog::resolvePath(dataDir_, name + ".db");
  {
    HandleGuard fresh{openHandle(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, 5000)};
    catalog::configureHandle(fresh.db);
    execPlainOn(fresh.db, kProcTable);
  }
  catalog::registerDatabase(db_, catalogSchema(), name, file);
}

void EmbeddedSession::dropDatabase(const std::string& name) {
  if (inTransaction())
    throw DbError("DROP DATABASE statement cannot be used inside a user transaction.");
  if (EqualsNoCase(name, "master"))
    throw DbError("Cannot drop the database 'master' because it is a system database.");
  if (EqualsNoCase(name, database_))
    throw DbError("Cannot drop database \"" + name + "\" because it is currently in use.");
  auto file = catalog::findDatabaseFile(db_, catalogSchema(), dataDir_, name);
  if (!file)
    throw DbError("Cannot drop the database '" + name +
                  "', because it does not exist or you do not have permission.");
  const std::string alias = AsciiLower(name);
  for (auto it = attached_.begin(); it != attached_.end(); ++it) {
    if (*it == alias) {
      execPlain(("DETACH DATABASE " + QuoteSqlName(alias)).c_str());
      attached_.erase(it);
      break;
    }
  }
  // Other connections on the database hold its use lock: deleting the file
  // under them would lose what they write.
  std::unique_ptr<DatabaseUseLock> exclusive = DatabaseUseLock::tryExclusive(*file);
  if (!exclusive)
    throw DbError("Cannot drop database \"" + name + "\" because it is currently in use.");
  catalog::unregisterDatabase(db_, catalogSchema(), name);
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", ".use"})
    std::filesystem::remove(*file + suffix, ec);
}

}  // namespace qz::db
