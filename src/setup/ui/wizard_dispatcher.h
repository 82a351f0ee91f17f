// The wizard's hand-over of calls from the worker to the user-interface
// thread: a blocking queued call onto the Qt event loop. Waiting on the
// user-interface thread keeps serving such calls (and repaints), but not
// the user's input.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
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
  // running: at once when none is, else soon after the outermost one has
  // returned and its caller has been released. Anything that waits for the
  // worker must go through here, or it would wait for a thread that waits
  // for it.
  void WhenIdle(std::function<void()> action);

 private:
  void RunIdleActions();

  std::unique_ptr<QObject> receiver_;  // lives on the user-interface thread
  int serving_ = 0;
  std::vector<std::function<void()>> idleActions_;
};

}  // namespace setup
