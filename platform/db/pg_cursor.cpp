// PgCursor: rows of a whole result first, then rows read ahead, then the
// pending failure, then rows still streaming from the feed.
#include "platform/db/pg_cursor.h"

#include <string_view>

namespace qz::db {
namespace {

// Decodes row `row` of r into out (one value per column).
void decodeRow(const PGresult* r, int row, const std::vector<PgDecode>& decode,
               std::vector<Variant>* out) {
  for (int c = 0, n = static_cast<int>(decode.size()); c < n; ++c) {
    if (PQgetisnull(r, row, c)) {
      (*out)[c] = Variant::null();
      continue;
    }
    const std::string_view text(PQgetvalue(r, row, c), PQgetlength(r, row, c));
    // Text goes into the string the row already holds (no new one per value).
    if (decode[c] == PgDecode::Text)
      (*out)[c].assignString(text);
    else
      (*out)[c] = pgDecodeValue(decode[c], text);
  }
}

}  // namespace

PgCursor::PgCursor(ResultPtr res, std::vector<FieldDef> fields, std::vector<PgDecode> decode)
    : res_(std::move(res)),
      fields_(std::move(fields)),
      decode_(std::move(decode)),
      rows_(res_ ? PQntuples(res_.get()) : 0),
      row_(fields_.size()) {}

PgCursor::~PgCursor() {
  if (feed_) feed_->abandon();
}

bool PgCursor::next() {
  for (;;) {
    if (current_ + 1 < rows_) {
      ++current_;
      decodeRow(res_.get(), current_, decode_, &row_);
      return true;
    }
    res_.reset();
    rows_ = 0;
    current_ = -1;
    if (!ahead_.empty()) {
      row_ = std::move(ahead_.front());
      ahead_.pop_front();
      return true;
    }
    if (!pendingError_.empty()) {
      std::string error;
      error.swap(pendingError_);
      throw DbError(error);
    }
    if (!feed_) return false;
    res_ = feed_->nextRow();
    if (!res_) return false;
    rows_ = PQntuples(res_.get());
  }
}

void PgCursor::readAhead() {
  while (feed_) {
    ResultPtr r;
    try {
      r = feed_->nextRow();
    } catch (const DbError& e) {
      pendingError_ = e.what();
      break;
    }
    if (!r) break;
    for (int i = 0, n = PQntuples(r.get()); i < n; ++i) {
      std::vector<Variant> values(decode_.size());
      decodeRow(r.get(), i, decode_, &values);
      ahead_.push_back(std::move(values));
    }
  }
}

}  // namespace qz::db
