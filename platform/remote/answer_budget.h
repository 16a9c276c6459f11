// AnswerBudget: the bytes of answers composed but not yet taken by their
// clients, per connection and across all connections of a Host.
// Internal to this folder.
//
// A client that sends requests without reading the answers would make the
// server hold every answer it composes. Each Session counts the bytes it
// holds (answers and answer parts waiting to be written or being written)
// and asks mayCompose() before its module thread runs the next call or
// adds the next part of a long answer; while the answer is no, the call
// waits. A connection holding nothing may always go on, so one client's
// backlog never stops the others, and the memory held stays below
// perConnection * connections and near total (one part or one short answer
// beyond a limit per connection at most).
//
// Thread-safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <cstddef>

namespace qz::remote::detail {

class AnswerBudget {
 public:
  AnswerBudget(size_t perConnection, size_t total) : perConnection_(perConnection), total_(total) {}

  // Whether a connection that holds `held` bytes may compose more now.
  bool mayCompose(size_t held) const {
    return held == 0 || (held < perConnection_ && held_.load() < total_);
  }
  // Whether a connection holding `held` bytes is over its own limit (its
  // reading pauses).
  bool overConnectionLimit(size_t held) const { return held >= perConnection_; }
  // Whether a paused connection holding `held` bytes may read again (half
  // the limit, so that reading does not flap at its edge).
  bool mayResumeReading(size_t held) const { return held < perConnection_ / 2; }

  void add(size_t n) { held_.fetch_add(n); }
  void remove(size_t n) { held_.fetch_sub(n); }
  // The bytes held by all connections now.
  size_t held() const { return held_.load(); }

 private:
  const size_t perConnection_;
  const size_t total_;
  std::atomic<size_t> held_{0};
};

}  // namespace qz::remote::detail
