// EventLoopDispatcher: a plain event loop that stands in for the window
// thread where there is no window (headless host, tests).
//
// The thread that calls run() becomes the loop's thread: it runs posted
// functions one after the other until quit(). invoke() from another thread
// queues a function and waits for it, so work that must happen on the
// window thread (instance creation, activity log appends) waits while the
// loop is busy with something long, exactly as it would behind a window.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/remote/remote_object.h"

namespace qz::remote {

// Thread-safe: post/invoke/quit may be called from any thread.
class EventLoopDispatcher final : public UiDispatcher {
 public:
  EventLoopDispatcher() = default;
  ~EventLoopDispatcher() override;

  EventLoopDispatcher(const EventLoopDispatcher&) = delete;
  EventLoopDispatcher& operator=(const EventLoopDispatcher&) = delete;

  // Runs posted work on the calling thread until quit(). Returns at once if
  // quit() was called before. Work still queued at quit is not run: each
  // waiting invoke() throws std::runtime_error instead.
  // REQUIRES: not already running on another thread.
  void run();

  // Queues fn to run on the loop thread; returns at once. Dropped after quit.
  void post(std::function<void()> fn);

  // Runs fn on the loop thread and waits for it; an exception thrown by fn is
  // rethrown here. Called on the loop thread itself, runs fn directly. Throws
  // std::runtime_error if the loop has quit (or quits before fn runs).
  void invoke(const std::function<void()>& fn) override;

  // Ends run() after the function it is running now; refuses new work.
  void quit();

  bool running() const;

 private:
  struct Job {
    std::function<void()> fn;
    // Set for invoke(): the waiter's completion record.
    struct Waiter* waiter = nullptr;
  };

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Job> queue_;
  bool quit_ = false;
  bool running_ = false;
  std::thread::id loopThread_;
};

}  // namespace qz::remote
