// The worker: runs the product's action list once, on its own thread,
// reporting progress and status through the session and collecting the first
// error into the session's error list.
#pragma once

#include <atomic>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "setup/core/action.h"

namespace setup {

class TSetupThread {
 public:
  TSetupThread() = default;
  // Stops the worker (Terminate) and waits for it, serving the
  // user-interface calls it makes meanwhile.
  ~TSetupThread();
  TSetupThread(const TSetupThread&) = delete;
  TSetupThread& operator=(const TSetupThread&) = delete;

  // Lets the thread run (once).
  void Start();
  // Asks the worker to stop after the current action; under the lock, asks
  // the current action to Cancel.
  void Terminate();
  bool Terminated() const { return terminated_; }
  bool Finished() const { return finished_; }
  // On the user-interface thread: waits until the thread has ended, serving
  // the calls it hands over.
  void WaitFor();

  TSetupActionList& Actions() { return actions_; }

 private:
  void Execute();
  void PopulateActions();
  void ReportProgress();

  TSetupActionList actions_;
  std::vector<std::string_view> names_;  // of the actions' classes, for the log
  TSetupAction* current_ = nullptr;  // guarded by lock_
  std::mutex lock_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace setup
