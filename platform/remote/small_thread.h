// SmallThread: a joinable thread with a chosen stack size.
//
// Module threads mostly sit idle waiting for their client; thousands of
// them should cost little. std::thread cannot set the stack size, so this
// wraps pthreads. The stack is reserved address space; only the pages a
// thread touches become resident.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace qz::remote {

// Not thread-safe: start/join/destructor from one owner at a time.
class SmallThread {
 public:
  SmallThread() = default;
  // Joins the thread if it was started and not joined.
  ~SmallThread();

  SmallThread(const SmallThread&) = delete;
  SmallThread& operator=(const SmallThread&) = delete;

  // Starts fn on a new thread with the given stack size (rounded up to the
  // system minimum). Throws std::system_error when the thread cannot be
  // created. REQUIRES: not started before.
  void start(size_t stackSize, std::function<void()> fn);

  // Waits for the thread to end. No-op when not started or already joined.
  // REQUIRES: not called on the thread itself.
  void join();

  bool joinable() const { return started_; }

 private:
  static void* trampoline(void* arg);

  pthread_t thread_{};
  bool started_ = false;
};

}  // namespace qz::remote
