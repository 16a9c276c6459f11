// SQLite statement cursor and in-memory cursor; see sqlite_cursor.h.
#include "platform/db/sqlite_cursor.h"

#include "platform/db/connection_string.h"
#include "platform/db/sqlite_statement_cache.h"
#include "platform/db/sqlite_values.h"

namespace qz::db {

FieldDef describeColumn(sqlite3* db, sqlite3_stmt* stmt, int i, bool hasRow) {
  FieldDef f;
  const char* name = sqlite3_column_name(stmt, i);
  f.name = name ? name : "";
  const char* decl = sqlite3_column_decltype(stmt, i);
  if (!decl || !parseDeclaredType(decl, &f)) {
    if (hasRow) {
      typeFromValue(stmt, i, &f);
    } else {
      f.type = FieldType::String;
      f.size = 255;
    }
  }
  const char* table = sqlite3_column_table_name(stmt, i);
  const char* origin = sqlite3_column_origin_name(stmt, i);
  const char* dbName = sqlite3_column_database_name(stmt, i);
  if (table && origin) {
    // An unrenamed column carries its declared spelling, as on PostgreSQL.
    if (EqualsNoCase(f.name, origin)) f.name = origin;
    f.table = table;
    int notNull = 0, pk = 0, autoinc = 0;
    if (sqlite3_table_column_metadata(db, dbName, table, origin, nullptr, nullptr, &notNull, &pk,
                                      &autoinc) == SQLITE_OK) {
      f.required = notNull != 0;
      f.key = pk != 0;
      f.readOnly = autoinc != 0;
    }
  } else {
    f.readOnly = true;
  }
  return f;
}

void CursorRegistry::remove(SqliteCursor* c) { std::erase(live_, c); }

void CursorRegistry::detachAll() {
  for (SqliteCursor* c : live_) c->detach();
}

void CursorRegistry::giveBack(const std::string& sql, sqlite3_stmt* st) {
  if (statements_)
    statements_->give(sql, st);
  else
    sqlite3_finalize(st);
}

SqliteCursor::SqliteCursor(sqlite3* db, sqlite3_stmt* stmt,
                           std::shared_ptr<CursorRegistry> registry, std::string keepAs)
    : db_(db), stmt_(stmt) {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    pending_ = true;
  } else if (rc == SQLITE_DONE) {
    done_ = true;
  } else {
    const std::string msg = sqliteErrorText(db_, rc);
    const std::string code = sqliteEngineCode(db_, rc);
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    throw DbError(msg, code);
  }
  const int n = sqlite3_column_count(stmt_);
  fields_.reserve(n);
  for (int i = 0; i < n; ++i) {
    fields_.push_back(describeColumn(db_, stmt_, i, pending_));
    types_.push_back(fields_.back().type);
    scales_.push_back(fields_.back().scale);
  }
  row_.resize(n);
  if (done_) sqlite3_reset(stmt_);
  registry_ = std::move(registry);
  if (registry_) keepAs_ = std::move(keepAs);
  if (registry_ && !done_) {
    registry_->add(this);
    registered_ = true;
  }
}

SqliteCursor::~SqliteCursor() {
  if (registered_) registry_->remove(this);
  if (!stmt_) return;
  if (!keepAs_.empty())
    registry_->giveBack(keepAs_, stmt_);
  else
    sqlite3_finalize(stmt_);
}

void SqliteCursor::detach() {
  if (detached_ || done_) return;
  if (pending_) {
    readRow();
    buffer_.push_back(row_);
    pending_ = false;
  }
  int rc;
  while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
    readRow();
    buffer_.push_back(row_);
  }
  if (rc != SQLITE_DONE) throwSqlite(db_, rc);
  sqlite3_reset(stmt_);
  detached_ = true;
}

void SqliteCursor::readRow() {
  const int n = static_cast<int>(types_.size());
  for (int i = 0; i < n; ++i) readColumnInto(stmt_, i, types_[i], scales_[i], &row_[i]);
}

bool SqliteCursor::next() {
  if (detached_) {
    if (buffer_.empty()) return false;
    row_ = std::move(buffer_.front());
    buffer_.pop_front();
    return true;
  }
  if (pending_) {
    pending_ = false;
    readRow();
    return true;
  }
  if (done_) return false;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    readRow();
    return true;
  }
  done_ = true;
  if (rc != SQLITE_DONE) throwSqlite(db_, rc);
  // Release the statement's read snapshot as soon as the rows are read.
  sqlite3_reset(stmt_);
  return false;
}

bool RowSetCursor::next() {
  if (pos_ >= rows_.rows.size()) return false;
  ++pos_;
  return true;
}

}  // namespace qz::db
