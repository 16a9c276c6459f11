// QtUiDispatcher: the window thread's blocking invoke for Qt's main thread.
// From another thread, invoke() posts the work to the main thread's event
// loop (so it also runs while a modal dialog or the sign-in hint runs its
// own loop) and waits until it has run; an exception thrown by the work
// reaches the caller. On the main thread the work runs directly.
//
// After close() (the event loop has ended), invoke() throws instead of
// waiting forever, and work posted but not yet started is cancelled, so
// that stopping the transport never deadlocks on a waiting call.
//
// Thread-safety: invoke() from any thread; close() on the main thread.
#pragma once

#include <QObject>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/remote/remote_object.h"

namespace qz::server {

class QtUiDispatcher : public remote::UiDispatcher {
 public:
  // context: an object living on the window thread (the work runs in its thread).
  explicit QtUiDispatcher(QObject* context);
  ~QtUiDispatcher() override;
  QtUiDispatcher(const QtUiDispatcher&) = delete;
  QtUiDispatcher& operator=(const QtUiDispatcher&) = delete;

  // Throws remote::RemoteError when closed; rethrows what fn throws.
  void invoke(const std::function<void()>& fn) override;
  // Refuses new work and releases every waiter whose work has not started.
  void close();

 private:
  struct Call;
  // Shared with posted work, which may outlive the dispatcher.
  struct Shared {
    std::mutex mu;
    std::condition_variable cv;
    bool closed = false;
    std::vector<std::shared_ptr<Call>> pending;
  };
  QObject* context_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace qz::server
