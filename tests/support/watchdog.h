// Ends the test program when a test hangs, instead of leaving a deadlock to
// the test runner's time limit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace orvi::test {

class TWatchdog {
 public:
  explicit TWatchdog(int seconds = 60)
      : thread_([this, seconds] {
          std::unique_lock lock(mutex_);
          if (!disarmed_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fputs("The test hangs (deadlock?): stopping the program.\n", stderr);
            std::abort();
          }
        }) {}
  ~TWatchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    disarmed_.notify_all();
    thread_.join();
  }
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable disarmed_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace orvi::test
