// PgCursor: the rows of one PostgreSQL statement as a Cursor. They come from
// a whole result, then, while the statement still streams (libpq's
// single-row mode), from the connection one at a time through a RowFeed, or
// from memory when the connection was wanted for another statement first.
//
// Thread-safety: none; used by the thread that uses its session.
#pragma once

#include <libpq-fe.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/engine.h"
#include "platform/db/pg_values.h"

namespace qz::db {

struct PgResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using ResultPtr = std::unique_ptr<PGresult, PgResultDeleter>;

// Where a streaming cursor's further rows come from: the session whose
// connection is still sending them.
class RowFeed {
 public:
  virtual ~RowFeed() = default;
  // The next result of one row; nullptr once the rows have ended (the
  // connection is then free). Throws DbError when the statement failed
  // part-way (the connection is free then too).
  virtual ResultPtr nextRow() = 0;
  // The cursor ends before its last row: the rest is read and dropped.
  virtual void abandon() = 0;
};

class PgCursor : public Cursor {
 public:
  // The rows of res (may be nullptr: none), with fields and their decoders.
  PgCursor(ResultPtr res, std::vector<FieldDef> fields, std::vector<PgDecode> decode);
  // A cursor dropped while its rows still stream has the feed drop the rest.
  ~PgCursor() override;
  PgCursor(const PgCursor&) = delete;
  PgCursor& operator=(const PgCursor&) = delete;

  const std::vector<FieldDef>& fields() const override { return fields_; }
  // Throws DbError when the statement failed after the rows before it.
  bool next() override;
  const std::vector<Variant>& row() const override { return row_; }

  // After the current result, rows stream from feed.
  void streamFrom(RowFeed* feed) { feed_ = feed; }
  // Called by the feed when its rows have ended (or its session closed).
  void detach() { feed_ = nullptr; }
  // Reads every row still to come into memory, so that the connection can
  // run another statement. A failure is kept for the row after the last
  // one read. Never throws.
  void readAhead();
  // For the session to add table metadata after the rows have started.
  std::vector<FieldDef>& mutableFields() { return fields_; }

 private:
  ResultPtr res_;
  std::vector<FieldDef> fields_;
  std::vector<PgDecode> decode_;
  int rows_;          // rows of res_
  int current_ = -1;  // row of res_ in row_
  std::vector<Variant> row_;
  RowFeed* feed_ = nullptr;                 // set while rows still stream
  std::deque<std::vector<Variant>> ahead_;  // read ahead into memory
  std::string pendingError_;                // failure after the rows ahead
};

}  // namespace qz::db
