// The hand-over of calls from the worker thread to the user-interface thread.
//
// The worker never touches the user interface itself: it asks the dispatcher
// to run a call on the user-interface thread and waits until that call has
// run (a synchronous hand-over, in the order sent). The user-interface thread,
// whenever it waits for the worker, keeps serving such calls, so a worker
// that reports progress or asks the user a question never blocks forever.
//
// A wizard implements this over its toolkit's event loop (a blocking queued
// call); a silent run uses TSetupQueueDispatcher, whose waiting main thread
// pumps a queue.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace setup {

class ISetupDispatcher {
 public:
  virtual ~ISetupDispatcher() = default;

  // Runs `call` on the user-interface thread and returns when it has run; an
  // exception thrown by the call is rethrown here. On the user-interface
  // thread itself the call runs at once.
  virtual void Invoke(const std::function<void()>& call) = 0;

  // On the user-interface thread: waits until `done` holds, serving Invoke
  // calls meanwhile. `done` is checked after every served call and after
  // every Wake().
  virtual void WaitUntil(const std::function<bool()>& done) = 0;

  // Makes a waiting WaitUntil check its condition again (call it after
  // changing what the condition reads, from any thread).
  virtual void Wake() = 0;

  virtual bool IsUserInterfaceThread() const = 0;
};

// The dispatcher of a run without a window: the thread that creates it is the
// user-interface thread; calls from other threads wait in a queue until that
// thread serves them in WaitUntil.
class TSetupQueueDispatcher : public ISetupDispatcher {
 public:
  TSetupQueueDispatcher();

  void Invoke(const std::function<void()>& call) override;
  void WaitUntil(const std::function<bool()>& done) override;
  void Wake() override;
  bool IsUserInterfaceThread() const override { return std::this_thread::get_id() == uiThread_; }

 private:
  struct Request {
    const std::function<void()>* call;
    bool done = false;
    std::exception_ptr error;
  };

  const std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable requestsChanged_;  // new request or a wake-up, for the UI thread
  std::condition_variable requestDone_;      // a served request, for the callers
  std::deque<Request*> queue_;
  unsigned wakeups_ = 0;
};

}  // namespace setup
