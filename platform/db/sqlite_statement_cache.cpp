// SqliteStatementCache: see sqlite_statement_cache.h.
#include "platform/db/sqlite_statement_cache.h"

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

void SqliteStatementCache::clear() {
  for (auto& [sql, st] : kept_) sqlite3_finalize(st);
  kept_.clear();
}

}  // namespace qz::db
