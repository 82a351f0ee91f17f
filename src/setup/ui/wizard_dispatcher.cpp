#include "setup/ui/wizard_dispatcher.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>

namespace setup {

namespace {

// How long a wait for the worker sleeps at most before it lets the window
// repaint.
constexpr std::chrono::milliseconds kRepaintInterval{20};

}  // namespace

TWizardDispatcher::TWizardDispatcher() : receiver_(std::make_unique<QObject>()) {}

TWizardDispatcher::~TWizardDispatcher() = default;

bool TWizardDispatcher::IsUserInterfaceThread() const { return QThread::currentThread() == receiver_->thread(); }

void TWizardDispatcher::Invoke(const std::function<void()>& call) {
  if (IsUserInterfaceThread()) {
    call();
    return;
  }
  Request request{&call};
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(&request);
    changed_.notify_all();
  }
  QMetaObject::invokeMethod(receiver_.get(), [this] { Serve(); }, Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return request.done; });
  if (request.error) std::rethrow_exception(request.error);
}

void TWizardDispatcher::Serve() {
  for (;;) {
    Request* request;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
      request = queue_.front();
      queue_.pop_front();
    }
    ++serving_;
    try {
      (*request->call)();
    } catch (...) {
      request->error = std::current_exception();
    }
    --serving_;
    {
      std::lock_guard lock(mutex_);
      request->done = true;
      changed_.notify_all();
    }
    RunIdleActions();
  }
}

void TWizardDispatcher::WaitUntil(const std::function<bool()>& done) {
  for (;;) {
    unsigned seen;
    {
      std::lock_guard lock(mutex_);
      seen = wakeups_;
    }
    Serve();
    if (done()) return;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kRepaintInterval, [&] { return !queue_.empty() || wakeups_ != seen; });
  }
}

void TWizardDispatcher::Wake() {
  std::lock_guard lock(mutex_);
  ++wakeups_;
  changed_.notify_all();
}

void TWizardDispatcher::WhenIdle(std::function<void()> action) {
  idleActions_.push_back(std::move(action));
  RunIdleActions();
}

void TWizardDispatcher::RunIdleActions() {
  if (serving_ > 0 || runningIdleActions_) return;
  runningIdleActions_ = true;
  while (!idleActions_.empty()) {
    const std::function<void()> action = std::move(idleActions_.front());
    idleActions_.erase(idleActions_.begin());
    action();
  }
  runningIdleActions_ = false;
}

}  // namespace setup
