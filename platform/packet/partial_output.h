// Partial output: the text of a long answer leaves in parts while the rest
// is still being written, so sending (and the reader's decoding) overlaps
// the writing instead of following it.
//
// Whoever owns the answer's buffer opens a PartialOutputScope on the
// writing thread; code that writes long output (rows) calls
// offerPartialOutput() between values. Text in the buffer is final once
// written (writers only append), so any amount of it may leave at any time.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>

#include "platform/packet/json_values.h"

namespace qz::provider {

// Receives the parts of an answer in order. Called on the writing thread.
class PartialOutput {
 public:
  virtual ~PartialOutput() = default;
  // Takes the next part of the answer (the buffer's whole text). Returns
  // false when nobody wants the rest any more (the reader has gone).
  virtual bool take(std::unique_ptr<rapidjson::StringBuffer> part) = 0;
};

// Thrown by offerPartialOutput() when the output's reader has gone: the
// writing may stop, nobody will see its result.
class OutputAbandoned : public std::runtime_error {
 public:
  OutputAbandoned() : std::runtime_error("the reader of the answer has gone") {}
};

// While alive, what writer w writes into buf on this thread may be handed
// to out in parts of at least chunk bytes. Scopes do not nest.
// Not thread-safe: lives on one thread, like the writer.
class PartialOutputScope {
 public:
  // REQUIRES: w writes into buf; no other scope is open on this thread.
  PartialOutputScope(const JsonWriter& w, rapidjson::StringBuffer& buf, PartialOutput& out,
                     size_t chunk);
  ~PartialOutputScope();
  PartialOutputScope(const PartialOutputScope&) = delete;
  PartialOutputScope& operator=(const PartialOutputScope&) = delete;

  // Whether some of the text has left: the answer can no longer be
  // replaced by another (an error, say).
  bool started() const { return started_; }

  // Hands the buffer's text to the output (its memory goes along, the
  // buffer starts anew) when it holds at least the chunk size. Throws
  // OutputAbandoned when the output refuses it.
  void offer();

 private:
  const JsonWriter& writer_;
  rapidjson::StringBuffer& buf_;
  PartialOutput& out_;
  const size_t chunk_;
  bool started_ = false;
  PartialOutputScope* saved_;
  friend void offerPartialOutput(const JsonWriter& w);
};

// For writers of long output, between values: when a scope for w is open
// on this thread, offers its buffer (see PartialOutputScope::offer); does
// nothing otherwise (w writes somewhere no scope covers). Throws
// OutputAbandoned.
void offerPartialOutput(const JsonWriter& w);

}  // namespace qz::provider
