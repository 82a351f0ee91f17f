#include "setup/core/worker.h"

#include <chrono>
#include <cstdio>

#include "kel/base/error.h"
#include "setup/core/dispatcher.h"
#include "setup/core/notify.h"
#include "setup/core/product_info.h"
#include "setup/core/session.h"

namespace setup {

TSetupThread::~TSetupThread() {
  if (!thread_.joinable()) return;
  Terminate();
  WaitFor();
}

void TSetupThread::Start() {
  if (thread_.joinable() || finished_) return;
  thread_ = std::thread([this] { Execute(); });
}

void TSetupThread::Terminate() {
  terminated_ = true;
  std::lock_guard lock(lock_);
  if (current_) current_->Cancel();
}

void TSetupThread::WaitFor() {
  if (!thread_.joinable()) return;
  TSetup::Instance().Dispatcher().WaitUntil([this] { return finished_.load(); });
  thread_.join();
}

void TSetupThread::PopulateActions() {
  TSetup::Instance().Product().PopulateActions([this](const TSetupActionClass& actionClass) {
    std::unique_ptr<TSetupAction> action = actionClass.create();
    action->OnProgress = [this](TSetupAction&) { ReportProgress(); };
    actions_.Add(std::move(action));
    names_.push_back(actionClass.name);
  });
}

void TSetupThread::ReportProgress() {
  int current;
  {
    std::lock_guard lock(lock_);
    current = current_ ? current_->Progress() : 0;
  }
  const int overall = actions_.Progress();
  TSetup& session = TSetup::Instance();
  session.SendNotify(neProgress, static_cast<intptr_t>(overall) * 65536 + current);
  session.SendNotify(neRepaint, 0);
}

void TSetupThread::Execute() {
  TSetup& session = TSetup::Instance();
  TSetupLog& log = session.Log();
  std::string action;  // the running action as the log names it
  auto started = std::chrono::steady_clock::now();
  const auto seconds = [&] {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return std::string(text);
  };
  try {
    PopulateActions();
    for (size_t i = 0; i < actions_.Count() && !terminated_; ++i) {
      {
        std::lock_guard lock(lock_);
        current_ = &actions_[i];
      }
      action = "Action " + std::to_string(i + 1) + " of " + std::to_string(actions_.Count()) + ", " +
               std::string(names_[i]);
      log.Write(action + ", started");
      started = std::chrono::steady_clock::now();
      ReportProgress();  // never while holding the lock: Terminate may be waiting for it
      actions_[i].Run();
      log.Write(action + ", ended after " + seconds());
      action.clear();
    }
  } catch (const std::exception& e) {
    if (!action.empty()) log.Write(action + ", failed after " + seconds());
    // The library's errors and those of the standard library alike: an
    // error escaping the thread would end the whole program without a word.
    session.LogError(e.what());
  }
  {
    std::lock_guard lock(lock_);
    current_ = nullptr;
  }
  try {
    session.SendNotify(neFinished, terminated_ ? 1 : 0);
  } catch (const std::exception& e) {
    // A listener failing on the last notification: the run is over all the
    // same, and the waiting main thread must still learn that it is.
    session.LogError(e.what());
  }
  finished_ = true;
  session.Dispatcher().Wake();
}

}  // namespace setup
