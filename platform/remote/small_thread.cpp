// SmallThread over pthread_create with a stack-size attribute.
#include "platform/remote/small_thread.h"

#include <limits.h>

#include <memory>
#include <system_error>

namespace qz::remote {

SmallThread::~SmallThread() { join(); }

void* SmallThread::trampoline(void* arg) {
  std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(arg));
  (*fn)();
  return nullptr;
}

void SmallThread::start(size_t stackSize, std::function<void()> fn) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (stackSize < static_cast<size_t>(PTHREAD_STACK_MIN)) stackSize = PTHREAD_STACK_MIN;
  pthread_attr_setstacksize(&attr, stackSize);
  auto* heapFn = new std::function<void()>(std::move(fn));
  int rc = pthread_create(&thread_, &attr, &SmallThread::trampoline, heapFn);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete heapFn;
    throw std::system_error(rc, std::generic_category(), "cannot start a module thread");
  }
  started_ = true;
}

void SmallThread::join() {
  if (!started_) return;
  pthread_join(thread_, nullptr);
  started_ = false;
}

}  // namespace qz::remote
