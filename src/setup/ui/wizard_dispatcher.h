// The wizard's hand-over of calls from the worker to the user-interface
// thread: the worker queues its call, wakes the Qt event loop with a queued
// call that serves the queue, and waits until its call has run. Waiting on
// the user-interface thread serves the queue itself (so it works in any
// nesting of event loops) and keeps repainting, without taking the user's
// input.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "setup/core/dispatcher.h"

namespace setup {

class TWizardDispatcher : public ISetupDispatcher {
 public:
  // Made on the user-interface thread, which the calls are handed to.
  TWizardDispatcher();
  ~TWizardDispatcher() override;

  void Invoke(const std::function<void()>& call) override;
  void WaitUntil(const std::function<bool()>& done) override;
  void Wake() override;
  bool IsUserInterfaceThread() const override;

  // Whether a call handed over by another thread is running now (that
  // thread waits for it).
  bool Serving() const { return serving_ > 0; }
  // Runs `action` on the user-interface thread once no handed-over call is
  // running: at once when none is, else as soon as the outermost one has
  // returned and its caller has been released. Anything that waits for the
  // worker must go through here, or it would wait for a thread that waits
  // for it.
  void WhenIdle(std::function<void()> action);

 private:
  struct Request {
    const std::function<void()>* call;
    bool done = false;
    std::exception_ptr error;
  };

  // Runs the queued calls (user-interface thread).
  void Serve();
  void RunIdleActions();

  std::unique_ptr<QObject> receiver_;  // lives on the user-interface thread
  std::mutex mutex_;
  std::condition_variable changed_;  // a call queued or done, or a wake-up
  std::deque<Request*> queue_;
  unsigned wakeups_ = 0;
  int serving_ = 0;
  bool runningIdleActions_ = false;
  std::vector<std::function<void()>> idleActions_;
};

}  // namespace setup
