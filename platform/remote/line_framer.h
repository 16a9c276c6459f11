// LineFramer: cuts a byte stream into messages, one per line.
//
// A message is the bytes up to a line feed; a carriage return right before
// the line feed is dropped, so "\r\n" peers work too. Empty lines are
// skipped. The framer never holds more than `limit` bytes of an unfinished
// line: once a line grows past the limit it reports an overflow and stops
// taking input, so a peer cannot make the server buffer without bound.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qz::remote {

// Not thread-safe: one framer belongs to one connection's reading side.
class LineFramer {
 public:
  // REQUIRES: limit > 0.
  explicit LineFramer(size_t limit) : limit_(limit) {}

  LineFramer(const LineFramer&) = delete;
  LineFramer& operator=(const LineFramer&) = delete;

  // Takes the next bytes of the stream and appends every completed message
  // to out. Returns false (and appends nothing more) once a line exceeds the
  // limit; the framer then stays overflowed and ignores further input.
  bool feed(std::string_view bytes, std::vector<std::string>& out);

  bool overflowed() const { return overflowed_; }
  size_t limit() const { return limit_; }
  // Bytes of the unfinished line held now.
  size_t pending() const { return partial_.size(); }

 private:
  void emit(std::string&& line, std::vector<std::string>& out);

  const size_t limit_;
  std::string partial_;  // bytes after the last line feed, at most limit_ + 1
  bool overflowed_ = false;
};

}  // namespace qz::remote
