// Partial output: the thread's open scope and the hand-off of its buffer.
#include "platform/packet/partial_output.h"

namespace qz::provider {

namespace {
thread_local PartialOutputScope* openScope = nullptr;
}  // namespace

PartialOutputScope::PartialOutputScope(const JsonWriter& w, rapidjson::StringBuffer& buf,
                                       PartialOutput& out, size_t chunk)
    : writer_(w), buf_(buf), out_(out), chunk_(chunk), saved_(openScope) {
  openScope = this;
}

PartialOutputScope::~PartialOutputScope() { openScope = saved_; }

void PartialOutputScope::offer() {
  if (buf_.GetSize() < chunk_) return;
  started_ = true;
  auto part = std::make_unique<rapidjson::StringBuffer>(std::move(buf_));
  buf_.Reserve(chunk_ + chunk_ / 4);  // one allocation for the next part
  if (!out_.take(std::move(part))) throw OutputAbandoned();
}

void offerPartialOutput(const JsonWriter& w) {
  PartialOutputScope* s = openScope;
  if (s && &s->writer_ == &w) s->offer();
}

}  // namespace qz::provider
