#include "setup/ui/wizard_dispatcher.h"

#include <QCoreApplication>
#include <QThread>
#include <exception>

namespace setup {

TWizardDispatcher::TWizardDispatcher() : receiver_(std::make_unique<QObject>()) {}

TWizardDispatcher::~TWizardDispatcher() = default;

bool TWizardDispatcher::IsUserInterfaceThread() const { return QThread::currentThread() == receiver_->thread(); }

void TWizardDispatcher::Invoke(const std::function<void()>& call) {
  if (IsUserInterfaceThread()) {
    call();
    return;
  }
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      receiver_.get(),
      [&] {
        ++serving_;
        try {
          call();
        } catch (...) {
          error = std::current_exception();
        }
        --serving_;
        // The caller is released only when this returns: what waits for it
        // runs after that.
        if (serving_ == 0 && !idleActions_.empty())
          QMetaObject::invokeMethod(receiver_.get(), [this] { RunIdleActions(); }, Qt::QueuedConnection);
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

void TWizardDispatcher::WaitUntil(const std::function<bool()>& done) {
  while (!done())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
}

void TWizardDispatcher::Wake() {
  QMetaObject::invokeMethod(receiver_.get(), [] {}, Qt::QueuedConnection);
}

void TWizardDispatcher::WhenIdle(std::function<void()> action) {
  if (serving_ == 0) {
    action();
    return;
  }
  idleActions_.push_back(std::move(action));
}

void TWizardDispatcher::RunIdleActions() {
  if (serving_ > 0) return;  // a newer call runs; its end posts this again
  std::vector<std::function<void()>> actions;
  actions.swap(idleActions_);
  for (const std::function<void()>& action : actions) action();
}

}  // namespace setup
