// The blocking invoke onto Qt's main thread.
#include "server/window/qt_ui_dispatcher.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>

namespace qz::server {

struct QtUiDispatcher::Call {
  const std::function<void()>* fn;
  bool started = false;
  bool done = false;
  bool cancelled = false;
  std::exception_ptr error;
};

QtUiDispatcher::QtUiDispatcher(QObject* context)
    : context_(context), shared_(std::make_shared<Shared>()) {}

QtUiDispatcher::~QtUiDispatcher() { close(); }

void QtUiDispatcher::invoke(const std::function<void()>& fn) {
  if (QThread::currentThread() == context_->thread()) {
    fn();
    return;
  }
  auto call = std::make_shared<Call>();
  call->fn = &fn;
  auto shared = shared_;
  {
    std::lock_guard<std::mutex> lock(shared->mu);
    if (shared->closed) throw remote::RemoteError("The server is shutting down");
    shared->pending.push_back(call);
  }
  QMetaObject::invokeMethod(
      context_,
      [shared, call] {
        {
          std::lock_guard<std::mutex> lock(shared->mu);
          if (call->cancelled) return;
          call->started = true;
        }
        try {
          (*call->fn)();
        } catch (...) {
          call->error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(shared->mu);
        call->done = true;
        shared->cv.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(shared->mu);
  shared->cv.wait(lock, [&] { return call->done || call->cancelled; });
  auto& pending = shared->pending;
  pending.erase(std::remove(pending.begin(), pending.end(), call), pending.end());
  if (call->cancelled) throw remote::RemoteError("The server is shutting down");
  if (call->error) std::rethrow_exception(call->error);
}

void QtUiDispatcher::close() {
  std::lock_guard<std::mutex> lock(shared_->mu);
  shared_->closed = true;
  for (auto& call : shared_->pending)
    if (!call->started) call->cancelled = true;
  shared_->cv.notify_all();
}

}  // namespace qz::server
