// SqliteStatementCache: see sqlite_statement_cache.h.
#include "platform/db/sqlite_statement_cache.h"

#include "platform/db/sqlite_values.h"

namespace qz::db {

sqlite3_stmt* SqliteStatementCache::take(const std::string& sql) {
  auto it = kept_.find(sql);
  if (it == kept_.end()) return nullptr;
  sqlite3_stmt* st = it->second;
  kept_.erase(it);
  return st;
}

void SqliteStatementCache::give(const std::string& sql, sqlite3_stmt* st) {
  if (!st) return;
  // Reset so that it holds no lock or read snapshot while it waits.
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (capacity_ == 0 || kept_.count(sql)) {
    sqlite3_finalize(st);
    return;
  }
  if (kept_.size() >= capacity_) {
    // Any one goes: texts that keep coming back are soon kept again.
    sqlite3_finalize(kept_.begin()->second);
    kept_.erase(kept_.begin());
  }
  kept_.emplace(sql, st);
}

void SqliteStatementCache::run(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = take(sql);
  int rc = SQLITE_OK;
  if (!st) rc = sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    if (rc == SQLITE_DONE) {
      give(sql, st);
      return;
    }
  }
  std::string msg = (rc & 0xff) == SQLITE_BUSY ? sqliteErrorText(db, rc) : sqlite3_errmsg(db);
  std::string code = sqliteEngineCode(db, rc);
  sqlite3_finalize(st);
  throw DbError(msg, code);
}

void SqliteStatementCache::clear() {
  for (auto& [sql, st] : kept_) sqlite3_finalize(st);
  kept_.clear();
}

}  // namespace qz::db
