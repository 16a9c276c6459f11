// JSON text that arrives in pieces (a line read from a socket as it comes),
// read by the rapidjson parser as one stream: the parser pulls the next
// piece when it has used up the last, so decoding overlaps receiving.
#pragma once

#include <cstddef>

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
