// Prepared SQLite statements kept for reuse on one handle, by their text.
//
// Preparing is a large share of a short statement's cost (a posting runs
// the same dozen texts for every bill), so statements that ran are kept,
// reset and unbound, and the next run of the same text takes the kept one.
// A statement is taken out of the cache while it runs, so a nested run of
// the same text (a procedure calling itself through EXEC) prepares its own.
// SQLite prepares a kept statement again by itself after a schema change.
//
// Thread-safety: one thread at a time (the handle's).
#pragma once

#include <sqlite3.h>

#include <string>
#include <unordered_map>

namespace qz::db {

class SqliteStatementCache {
 public:
  explicit SqliteStatementCache(size_t capacity = 64) : capacity_(capacity) {}
  ~SqliteStatementCache() { clear(); }
  SqliteStatementCache(const SqliteStatementCache&) = delete;
  SqliteStatementCache& operator=(const SqliteStatementCache&) = delete;

  // The kept statement of sql, no longer kept; nullptr when there is none.
  sqlite3_stmt* take(const std::string& sql);
  // Keeps st (prepared from exactly sql) reset and unbound. When the cache
  // is full another statement is finalized to make room; when sql is
  // already kept, st is finalized.
  void give(const std::string& sql, sqlite3_stmt* st);
  // Runs sql, one statement whose rows (if any) are not wanted, to its end
  // on db, from the kept statement (prepared and kept the first time).
  // Throws DbError with the text sqlite3_exec() would give and SQLite's
  // extended code; the statement is then not kept.
  void run(sqlite3* db, const std::string& sql);
  // Finalizes every kept statement. Must run before the handle closes.
  void clear();

 private:
  size_t capacity_;
  std::unordered_map<std::string, sqlite3_stmt*> kept_;
};

}  // namespace qz::db
