// EventLoopDispatcher: queue + condition variable; invoke() waiters are
// released either by the loop running their job or by quit() failing it.
#include "platform/remote/event_loop_dispatcher.h"

#include <stdexcept>

namespace qz::remote {

struct Waiter {
  bool done = false;
  bool refused = false;
  std::exception_ptr error;
  std::condition_variable cv;
};

namespace {
constexpr const char* kLoopEnded = "the event loop has ended";
}

EventLoopDispatcher::~EventLoopDispatcher() { quit(); }

void EventLoopDispatcher::run() {
  std::unique_lock<std::mutex> lock(mu_);
  if (quit_) return;
  running_ = true;
  loopThread_ = std::this_thread::get_id();
  while (!quit_) {
    if (queue_.empty()) {
      cv_.wait(lock);
      continue;
    }
    Job job = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    std::exception_ptr error;
    try {
      job.fn();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    if (job.waiter) {
      job.waiter->error = error;
      job.waiter->done = true;
      job.waiter->cv.notify_all();
    }
    // An exception of post()ed work has nobody to go to; the loop goes on.
  }
  // Fail whatever is left so no invoke() waits forever.
  for (Job& job : queue_) {
    if (job.waiter) {
      job.waiter->refused = true;
      job.waiter->done = true;
      job.waiter->cv.notify_all();
    }
  }
  queue_.clear();
  running_ = false;
  loopThread_ = {};
}

void EventLoopDispatcher::post(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mu_);
  if (quit_) return;
  queue_.push_back(Job{std::move(fn), nullptr});
  cv_.notify_all();
}

void EventLoopDispatcher::invoke(const std::function<void()>& fn) {
  std::unique_lock<std::mutex> lock(mu_);
  if (running_ && loopThread_ == std::this_thread::get_id()) {
    lock.unlock();
    fn();
    return;
  }
  if (quit_) throw std::runtime_error(kLoopEnded);
  Waiter waiter;
  queue_.push_back(Job{fn, &waiter});
  cv_.notify_all();
  waiter.cv.wait(lock, [&] { return waiter.done; });
  if (waiter.refused) throw std::runtime_error(kLoopEnded);
  if (waiter.error) std::rethrow_exception(waiter.error);
}

void EventLoopDispatcher::quit() {
  std::lock_guard<std::mutex> lock(mu_);
  quit_ = true;
  cv_.notify_all();
  if (!running_) {
    // Nobody will ever run the queue: release the waiters now.
    for (Job& job : queue_) {
      if (job.waiter) {
        job.waiter->refused = true;
        job.waiter->done = true;
        job.waiter->cv.notify_all();
      }
    }
    queue_.clear();
  }
}

bool EventLoopDispatcher::running() const {
  std::lock_guard<std::mutex> lock(mu_);
  return running_;
}

}  // namespace qz::remote
