// The embedded engine's catalogue in master.db; see embedded_catalog.h.
#include "platform/db/embedded_catalog.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/db/connection.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sqlite_values.h"

namespace qz::db::catalog {
namespace {

// A lock that SQLite reports without waiting (changing the journal mode or
// recovering a WAL file while another connection does the same).
class BusyError : public DbError {
 public:
  using DbError::DbError;
};

void exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = err ? err : sqliteErrorText(db, rc);
    sqlite3_free(err);
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
      throw BusyError(sqliteErrorText(db, rc));
    throw DbError(msg);
  }
}

// Runs f again while it meets a lock, for up to waitMs.
template <class F>
void retryWhileBusy(int waitMs, F f) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    try {
      f();
      return;
    } catch (const BusyError&) {
      if (std::chrono::steady_clock::now() >= deadline) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

// A prepared statement finalized on scope exit.
class Stmt {
 public:
  Stmt(sqlite3* db, const std::string& sql) : db_(db) {
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &s_, nullptr);
    if (rc != SQLITE_OK) throwSqlite(db, rc);
  }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  void bind(int i, std::string_view text) {
    sqlite3_bind_text(s_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  bool step() {
    const int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
      throw BusyError(sqliteErrorText(db_, rc));
    if (rc != SQLITE_DONE) throwSqlite(db_, rc);
    return false;
  }
  std::string text(int i) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, i));
    return p ? p : "";
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
};

std::string table(const std::string& schema, const char* name) {
  return QuoteSqlName(schema) + "." + name;
}

void ensureSchemaOnce(sqlite3* db, const std::string& schema);

}  // namespace

std::string masterPath(const std::string& dataDir) { return dataDir + "master.db"; }

std::string resolvePath(const std::string& dataDir, const std::string& file) {
  std::filesystem::path p(file);
  if (p.is_relative()) p = std::filesystem::path(dataDir) / p;
  return p.lexically_normal().string();
}

bool isValidDatabaseName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("/\\") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string cannotOpenText(std::string_view name) {
  return "Cannot open database \"" + std::string(name) +
         "\" requested by the login. The login failed.";
}

void configureHandle(sqlite3* db, int waitMs) {
  retryWhileBusy(waitMs, [&] {
    exec(db, "PRAGMA journal_mode=WAL");
    exec(db, "PRAGMA synchronous=NORMAL");
  });
}

void ensureSchema(sqlite3* db, const std::string& schema, int waitMs) {
  retryWhileBusy(waitMs, [&] { ensureSchemaOnce(db, schema); });
}

namespace {

void ensureSchemaOnce(sqlite3* db, const std::string& schema) {
  {
    Stmt s(db, "SELECT count(*) FROM " + table(schema, "sqlite_master") +
                   " WHERE type='table' AND name IN ('sysdatabases','sysdevices')");
    if (s.step() && s.text(0) == "2") return;
  }
  exec(db, "BEGIN IMMEDIATE");
  try {
    exec(db, "CREATE TABLE IF NOT EXISTS " + table(schema, "sysdatabases") +
                 "(name varchar(128) NOT NULL PRIMARY KEY COLLATE NOCASE, "
                 "dbid int, crdate datetime, filename varchar(260) NOT NULL)");
    exec(db, "CREATE TABLE IF NOT EXISTS " + table(schema, "sysdevices") +
                 "(name varchar(128) NOT NULL PRIMARY KEY COLLATE NOCASE, "
                 "size int NOT NULL DEFAULT 0, low int NOT NULL DEFAULT 0, "
                 "high int NOT NULL DEFAULT 0, status smallint NOT NULL DEFAULT 0, "
                 "cntrltype smallint NOT NULL, phyname varchar(260) NOT NULL)");
    exec(db, "INSERT OR IGNORE INTO " + table(schema, "sysdatabases") +
                 "(name, dbid, crdate, filename) VALUES ('master', 1, "
                 "strftime('%Y-%m-%d %H:%M:%S','now','localtime'), 'master.db')");
    exec(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace

std::optional<std::string> findDatabaseFile(sqlite3* db, const std::string& schema,
                                            const std::string& dataDir, std::string_view name) {
  {
    Stmt s(db, "SELECT filename FROM " + table(schema, "sysdatabases") + " WHERE name = ?1");
    s.bind(1, name);
    if (s.step()) return resolvePath(dataDir, s.text(0));
  }
  if (!isValidDatabaseName(name)) return std::nullopt;
  const std::string file = resolvePath(dataDir, std::string(name) + ".db");
  std::error_code ec;
  if (std::filesystem::is_regular_file(file, ec)) return file;
  return std::nullopt;
}

void registerDatabase(sqlite3* db, const std::string& schema, std::string_view name,
                      const std::string& file) {
  Stmt s(db, "INSERT INTO " + table(schema, "sysdatabases") +
                 "(name, dbid, crdate, filename) VALUES (?1, "
                 "(SELECT coalesce(max(dbid), 0) + 1 FROM " +
                 table(schema, "sysdatabases") +
                 "), strftime('%Y-%m-%d %H:%M:%S','now','localtime'), ?2) "
                 "ON CONFLICT(name) DO UPDATE SET filename = excluded.filename");
  s.bind(1, name);
  s.bind(2, file);
  s.step();
}

void unregisterDatabase(sqlite3* db, const std::string& schema, std::string_view name) {
  Stmt s(db, "DELETE FROM " + table(schema, "sysdatabases") + " WHERE name = ?1");
  s.bind(1, name);
  s.step();
}

}  // namespace qz::db::catalog
