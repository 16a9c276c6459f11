// JSON text that arrives in pieces (a line read from a socket as it comes),
// read by the rapidjson parser as one stream: the parser pulls the next
// piece when it has used up the last, so decoding overlaps receiving.
//
// rapidjson reads a stream one character at a time; text is nearly all of
// a packet, so the reader's hook for copying a run of unescaped string
// characters is given a version for this stream (at the end of this file)
// that copies each run of the current piece whole. Every parse over a
// PullStream includes this header, so it always sees that version.
#pragma once

#include <rapidjson/reader.h>

#include <cstddef>
#include <cstring>

namespace qz::provider {

// Where the pieces come from. Not thread-safe: one reader.
class TextSource {
 public:
  virtual ~TextSource() = default;
  // Sets [*begin, *end) to the next piece of the text (not empty), valid
  // until the next call, and returns true; returns false at the end of the
  // text. Throws (the source's own exceptions) when the text cannot be had.
  virtual bool next(const char** begin, const char** end) = 0;
};

// A rapidjson input stream over a TextSource: '\0' at the end of the text,
// like rapidjson's memory streams. Reads only (no in-situ parsing).
// Not thread-safe.
class PullStream {
 public:
  typedef char Ch;

  explicit PullStream(TextSource& source) : source_(source) {}

  Ch Peek() { return cur_ != end_ || fill() ? *cur_ : '\0'; }
  Ch Take() { return cur_ != end_ || fill() ? *cur_++ : '\0'; }
  // Characters taken so far.
  size_t Tell() const { return passed_ + static_cast<size_t>(cur_ - begin_); }
  // Whether the source has said the text ended.
  bool ended() const { return ended_; }

  // The characters of the current piece not yet taken: [result, *end).
  // Empty when the piece is used up (Peek() moves to the next one).
  const char* pieceRest(const char** end) const {
    *end = end_;
    return cur_;
  }
  // Takes n characters of the current piece at once.
  // REQUIRES: n is at most the length of pieceRest().
  void takeFromPiece(size_t n) { cur_ += n; }

  // Not used by a reading parser; present for the stream concept.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  size_t PutEnd(Ch*) { return 0; }

 private:
  // Moves to the next piece. Returns false at the end of the text.
  bool fill() {
    if (ended_) return false;
    passed_ += static_cast<size_t>(end_ - begin_);
    if (!source_.next(&begin_, &end_)) {
      begin_ = end_ = cur_ = nullptr;
      ended_ = true;
      return false;
    }
    cur_ = begin_;
    return cur_ != end_;
  }

  TextSource& source_;
  const char* begin_ = nullptr;
  const char* cur_ = nullptr;
  const char* end_ = nullptr;
  size_t passed_ = 0;  // characters in the pieces before this one
  bool ended_ = false;
};

}  // namespace qz::provider

namespace rapidjson {

// Copies the run of characters before the next '"', '\\' or control
// character into the parser's string buffer, piece by piece; the parser
// handles that character itself, as it would without this. (rapidjson's
// own versions of this hook exist for its in-memory streams only.)
template <>
template <>
inline void GenericReader<UTF8<>, UTF8<>, CrtAllocator>::ScanCopyUnescapedString<
    qz::provider::PullStream, GenericReader<UTF8<>, UTF8<>, CrtAllocator>::StackStream<char>>(
    qz::provider::PullStream& is, StackStream<char>& os) {
  for (;;) {
    const char* end;
    const char* p = is.pieceRest(&end);
    const char* q = p;
    while (q != end && static_cast<unsigned char>(*q) >= 0x20 && *q != '"' && *q != '\\') ++q;
    if (q != p) {
      const auto n = static_cast<SizeType>(q - p);
      std::memcpy(os.Push(n), p, n);
      is.takeFromPiece(n);
    }
    if (q != end || is.Peek() == '\0') return;  // a character to handle, or the end
  }
}

}  // namespace rapidjson
