// Cursors of the embedded engine: rows read straight from a prepared SQLite
// statement, and rows already held in memory (a procedure's row set).
#pragma once

#include <sqlite3.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace qz::db {

class SqliteCursor;
class SqliteStatementCache;

// The cursors of one connection that are still open. Before the connection
// writes, they read their remaining rows into memory and give up their
// statements: an unfinished read holds a snapshot of the database, and a
// write from a stale snapshot fails at once instead of waiting for the lock.
// Single-threaded, like its connection.
class CursorRegistry {
 public:
  void add(SqliteCursor* c) { live_.push_back(c); }
  void remove(SqliteCursor* c);
  // Detaches every live cursor (see SqliteCursor::detach). Throws DbError.
  void detachAll();

  // Where cursors hand back statements worth keeping; nullptr (the
  // connection closing) makes them finalize their statements instead.
  void keepStatementsIn(SqliteStatementCache* cache) { statements_ = cache; }
  // Gives st, prepared from exactly sql, to the cache, or finalizes it.
  void giveBack(const std::string& sql, sqlite3_stmt* st);

 private:
  std::vector<SqliteCursor*> live_;
  SqliteStatementCache* statements_ = nullptr;
};

// Forward-only rows of one SQLite statement.
//
// Field types come from the declared column types; a column without one
// (an expression) takes its type from the first row's value. required, key
// and readOnly (AUTOINCREMENT) come from the base table when the column is
// a plain column of one; expression columns are readOnly.
//
// Thread-safety: one thread at a time, the thread of its connection.
// REQUIRES: destroyed before its connection is closed.
class SqliteCursor : public Cursor {
 public:
  // Takes ownership of stmt (prepared and bound, not yet stepped) and steps
  // the first row. Throws DbError on an engine failure (stmt finalized).
  // registry, when given, holds the cursor while it lives; with keepAs (the
  // statement's text) the statement goes back to the registry's cache when
  // the cursor is destroyed, to be run again without preparing it.
  SqliteCursor(sqlite3* db, sqlite3_stmt* stmt, std::shared_ptr<CursorRegistry> registry = nullptr,
               std::string keepAs = {});
  ~SqliteCursor() override;
  SqliteCursor(const SqliteCursor&) = delete;
  SqliteCursor& operator=(const SqliteCursor&) = delete;

  const std::vector<FieldDef>& fields() const override { return fields_; }
  bool next() override;
  const std::vector<Variant>& row() const override { return row_; }

  // Reads the remaining rows into memory and resets the statement, so that
  // it no longer holds a read snapshot; next() then serves the buffer.
  // Throws DbError on an engine failure.
  void detach();

 private:
  void readRow();

  sqlite3* db_;
  sqlite3_stmt* stmt_;
  std::vector<FieldDef> fields_;
  std::vector<FieldType> types_;  // fields_[i].type, kept dense for the row loop
  std::vector<int> scales_;
  std::vector<Variant> row_;
  bool pending_ = false;  // the first row has been stepped but not returned
  bool done_ = false;
  bool detached_ = false;  // rows come from buffer_
  std::deque<std::vector<Variant>> buffer_;
  std::shared_ptr<CursorRegistry> registry_;
  bool registered_ = false;  // in registry_ (had rows left to read when made)
  std::string keepAs_;       // non-empty: stmt_ goes back to registry_'s cache
};

// Rows held in memory.
class RowSetCursor : public Cursor {
 public:
  explicit RowSetCursor(RowSet rows) : rows_(std::move(rows)) {}
  const std::vector<FieldDef>& fields() const override { return rows_.fields; }
  bool next() override;
  const std::vector<Variant>& row() const override { return rows_.rows[pos_ - 1]; }

 private:
  RowSet rows_;
  size_t pos_ = 0;  // rows returned so far
};

// The field description of column i of stmt (after a step, so that
// expression columns can be typed by value when hasRow).
FieldDef describeColumn(sqlite3* db, sqlite3_stmt* stmt, int i, bool hasRow);

}  // namespace qz::db
