#include "setup/core/dispatcher.h"

namespace setup {

TSetupQueueDispatcher::TSetupQueueDispatcher() : uiThread_(std::this_thread::get_id()) {}

void TSetupQueueDispatcher::Invoke(const std::function<void()>& call) {
  if (IsUserInterfaceThread()) {
    call();
    return;
  }
  Request request{&call};
  std::unique_lock lock(mutex_);
  queue_.push_back(&request);
  requestsChanged_.notify_all();
  requestDone_.wait(lock, [&] { return request.done; });
  if (request.error) std::rethrow_exception(request.error);
}

void TSetupQueueDispatcher::WaitUntil(const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  for (;;) {
    while (!queue_.empty()) {
      Request* request = queue_.front();
      queue_.pop_front();
      lock.unlock();
      try {
        (*request->call)();
      } catch (...) {
        request->error = std::current_exception();
      }
      lock.lock();
      request->done = true;
      requestDone_.notify_all();
    }
    const unsigned seen = wakeups_;
    lock.unlock();
    if (done()) return;
    lock.lock();
    requestsChanged_.wait(lock, [&] { return !queue_.empty() || wakeups_ != seen; });
  }
}

void TSetupQueueDispatcher::Wake() {
  std::lock_guard lock(mutex_);
  ++wakeups_;
  requestsChanged_.notify_all();
}

}  // namespace setup
