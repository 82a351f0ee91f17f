#include "setup/core/worker.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "setup/core/errors.h"
#include "setup/core/session.h"
#include "support/session_fixture.h"
#include "support/watchdog.h"

namespace setup {
namespace {

using orvi::test::SessionFixture;
using orvi::test::SessionSpec;
using orvi::test::TRecordingListener;
using orvi::test::TTestProduct;
using orvi::test::TWatchdog;

class TTestAction : public TSetupAction {
 public:
  using TSetupAction::ReportStatus;
};

// What the actions of a test do, by their position in the run.
struct TSteps {
  static inline std::array<std::function<void(TTestAction&)>, 3> execute;
  static inline std::array<std::function<void()>, 3> cancel;
  static inline std::array<std::atomic<int>, 3> runs;
};

template <int N>
class TStep : public TTestAction {
 public:
  void Execute() override {
    ++TSteps::runs[N];
    if (TSteps::execute[N]) TSteps::execute[N](*this);
  }
  void Cancel() override {
    if (TSteps::cancel[N]) TSteps::cancel[N]();
  }
};

const std::vector<TSetupActionClass> kThreeSteps = {TSetupActionClass::Of<TStep<0>>("TStep0"),
                                                    TSetupActionClass::Of<TStep<1>>("TStep1"),
                                                    TSetupActionClass::Of<TStep<2>>("TStep2")};

class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() {
    for (size_t i = 0; i < 3; ++i) {
      TSteps::execute[i] = nullptr;
      TSteps::cancel[i] = nullptr;
      TSteps::runs[i] = 0;
    }
  }
  ~WorkerTest() override {
    for (size_t i = 0; i < 3; ++i) {
      TSteps::execute[i] = nullptr;
      TSteps::cancel[i] = nullptr;
    }
  }

  static SessionSpec Spec() {
    SessionSpec spec;
    spec.params = "/AUTO=/home/u/App";
    return spec;
  }

  static std::vector<int> Runs() { return {TSteps::runs[0], TSteps::runs[1], TSteps::runs[2]}; }

  // (overall, current action) of every progress notification.
  static std::vector<std::pair<int, int>> Progress(const TRecordingListener& listener) {
    std::vector<std::pair<int, int>> values;
    for (intptr_t value : listener.Values(neProgress)) values.emplace_back(OverallPercentOf(value), ActionPercentOf(value));
    return values;
  }

  orvi::test::TTestProductScope product_;
  TWatchdog watchdog_;
};

TEST_F(WorkerTest, ProgressFigures) {
  using Pairs = std::vector<std::pair<int, int>>;
  struct Case {
    const char* what;
    size_t actions;
    std::function<void(TTestAction&)> second;
    Pairs progress;
  };
  const Case cases[] = {
      {"three actions: 0, 33, 66, 100 at the boundaries", 3, nullptr,
       {{0, 0}, {33, 100}, {33, 0}, {66, 100}, {66, 0}, {100, 100}}},
      {"a percentage reported once per change",
       3,
       [](TTestAction& action) {
         action.SetProgress(50);
         action.SetProgress(50);
         action.SetProgress(100);
       },
       {{0, 0}, {33, 100}, {33, 0}, {50, 50}, {66, 100}, {66, 0}, {100, 100}}},
      {"no actions: finished at once", 0, nullptr, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TTestProduct::Actions.assign(kThreeSteps.begin(), kThreeSteps.begin() + static_cast<long>(c.actions));
    TSteps::execute[1] = c.second;
    SessionFixture fixture(Spec());
    TRecordingListener listener;
    fixture.Session().AddListener(&listener);
    fixture.Session().Start(true);

    EXPECT_EQ(Progress(listener), c.progress);
    // Every progress notification is followed by a repaint.
    for (size_t i = 0; i < listener.entries.size(); ++i) {
      if (listener.entries[i].code != neProgress) continue;
      ASSERT_LT(i + 1, listener.entries.size());
      EXPECT_EQ(listener.entries[i + 1].code, neRepaint);
      EXPECT_EQ(listener.entries[i + 1].value, 0);
    }
    ASSERT_FALSE(listener.entries.empty());
    EXPECT_EQ(listener.entries.back().code, neFinished);
    EXPECT_EQ(listener.Values(neFinished), std::vector<intptr_t>{0});
    EXPECT_FALSE(fixture.Session().HasErrors());
  }
}

TEST_F(WorkerTest, TheFirstErrorEndsTheRun) {
  struct Case {
    const char* what;
    int failing;  // position of the failing action
    std::function<void()> fail;
    std::vector<int> runs;
  };
  const Case cases[] = {
      {"an installer error in the first action", 0, [] { throw EInstallerInstallError("boom"); }, {1, 0, 0}},
      {"a library error in the second", 1, [] { throw kel::EOSError("os failure"); }, {1, 1, 0}},
      {"a standard library error", 0, [] { throw std::out_of_range("index out of range"); }, {1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (size_t i = 0; i < 3; ++i) TSteps::runs[i] = 0;
    TTestProduct::Actions = kThreeSteps;
    TSteps::execute[0] = nullptr;
    TSteps::execute[1] = nullptr;
    TSteps::execute[static_cast<size_t>(c.failing)] = [&c](TTestAction&) { c.fail(); };
    SessionFixture fixture(Spec());
    TRecordingListener listener;
    fixture.Session().AddListener(&listener);
    fixture.Session().Start(true);

    EXPECT_EQ(Runs(), c.runs);
    std::string message;
    try {
      c.fail();
    } catch (const std::exception& e) {
      message = e.what();
    }
    EXPECT_EQ(fixture.Session().Errors().Text(), message + "\r\n");
    EXPECT_EQ(listener.Values(neFinished), std::vector<intptr_t>{0});
    EXPECT_EQ(fixture.Session().State(), TSetupState::Finished);
    EXPECT_FALSE(fixture.Session().AbortedByUser());
  }
}

// A listener that fails on the last notification: the error is kept and the
// waiting main thread still learns that the run is over.
TEST_F(WorkerTest, AListenerFailingWhenTheRunFinishes) {
  class TFailingListener : public IInstallerNotify {
   public:
    void Notify(int code, intptr_t) override {
      if (code == neFinished) throw std::runtime_error("listener failed");
    }
  };
  TTestProduct::Actions = {kThreeSteps[0]};
  SessionFixture fixture(Spec());
  TFailingListener listener;
  fixture.Session().AddListener(&listener);
  fixture.Session().Start(true);

  EXPECT_EQ(fixture.Session().Errors().Text(), "listener failed\r\n");
  EXPECT_EQ(fixture.Session().State(), TSetupState::Finished);
}

// A stop request (the wizard closing during the run) while the second of
// three actions runs: it is asked to cancel on the main thread, finishes,
// and the third never runs. Freeing the worker keeps serving the worker's
// notifications while it waits for it.
TEST_F(WorkerTest, AStopRequestDuringTheSecondAction) {
  TTestProduct::Actions = kThreeSteps;
  std::mutex mutex;
  std::condition_variable changed;
  bool cancelled = false;
  std::atomic<bool> secondRunning{false};
  std::thread::id cancelThread;
  TSteps::execute[1] = [&](TTestAction&) {
    secondRunning = true;
    TSetup::Instance().Dispatcher().Wake();
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return cancelled; });
  };
  TSteps::cancel[1] = [&] {
    cancelThread = std::this_thread::get_id();
    std::lock_guard lock(mutex);
    cancelled = true;
    changed.notify_all();
  };
  SessionFixture fixture(Spec());
  TSetup& session = fixture.Session();
  TRecordingListener listener;
  session.AddListener(&listener);
  session.LogError("earlier");

  session.Start(false);
  session.Dispatcher().WaitUntil([&] { return secondRunning.load(); });
  session.FreeWorker();

  EXPECT_EQ(Runs(), (std::vector<int>{1, 1, 0}));
  EXPECT_EQ(cancelThread, std::this_thread::get_id());
  EXPECT_EQ(Progress(listener), (std::vector<std::pair<int, int>>{{0, 0}, {33, 100}, {33, 0}, {66, 100}}));
  EXPECT_EQ(listener.Values(neFinished), std::vector<intptr_t>{1});
  EXPECT_EQ(session.Errors().Text(), "earlier\r\nE4 stopped\r\n");
  EXPECT_TRUE(session.AbortedByUser());
  EXPECT_EQ(session.State(), TSetupState::Finished);
}

// Listeners hear every notification on the thread that dispatches them, the
// last registered first; one removed meanwhile is not called any more.
TEST_F(WorkerTest, ListenersLastRegisteredFirstOnTheDispatchingThread) {
  struct Heard {
    char listener;
    int code;
    std::string text;
    std::thread::id thread;
  };
  std::vector<Heard> heard;
  class TListener : public IInstallerNotify {
   public:
    TListener(char name, std::vector<Heard>& heard) : name_(name), heard_(heard) {}
    void Notify(int code, intptr_t value) override {
      heard_.push_back({name_, code, code == neStatusText ? StatusTextOf(value) : "", std::this_thread::get_id()});
      if (onNotify) onNotify(code);
    }
    std::function<void(int)> onNotify;

   private:
    char name_;
    std::vector<Heard>& heard_;
  };
  TTestProduct::Actions = {kThreeSteps[0]};
  TSteps::execute[0] = [](TTestAction& action) { action.ReportStatus("working"); };
  SessionFixture fixture(Spec());
  TSetup& session = fixture.Session();
  TListener a('A', heard), b('B', heard), c('C', heard);
  session.AddListener(&a);
  session.AddListener(&b);
  session.AddListener(&c);
  b.onNotify = [&](int code) {
    if (code == neFinished) session.RemoveListener(&a);
  };
  session.Start(true);

  std::string order, texts;
  for (const Heard& h : heard) {
    order += h.listener;
    if (h.code == neStatusText) texts += h.text + ";";
    EXPECT_EQ(h.thread, std::this_thread::get_id());
  }
  // progress, repaint, status, progress, repaint, then finished without A.
  EXPECT_EQ(order, "CBA" "CBA" "CBA" "CBA" "CBA" "CB");
  EXPECT_EQ(texts, "working;working;working;");
  EXPECT_EQ(heard.back().code, neFinished);
}

// An action that needs an answer from the main thread while the main thread
// waits for the worker (a silent run asking about a file in use).
TEST_F(WorkerTest, AQuestionFromTheWorkerWhileTheMainThreadWaits) {
  TTestProduct::Actions = kThreeSteps;
  std::vector<TSetupAnswer> answers;
  std::thread::id askedOn;
  auto ask = [&](TTestAction&) {
    TSetup& session = TSetup::Instance();
    TSetupAnswer answer = TSetupAnswer::Abort;
    session.Dispatcher().Invoke([&] {
      askedOn = std::this_thread::get_id();
      answer = session.Prompt().AskAbortRetryIgnore("Continue?");
    });
    answers.push_back(answer);
  };
  TSteps::execute[0] = ask;
  TSteps::execute[2] = ask;
  SessionFixture fixture(Spec());
  fixture.Prompt().answers = {TSetupAnswer::Retry, TSetupAnswer::Ignore};
  fixture.Session().Start(true);

  EXPECT_EQ(answers, (std::vector<TSetupAnswer>{TSetupAnswer::Retry, TSetupAnswer::Ignore}));
  EXPECT_EQ(fixture.Prompt().questions, (std::vector<std::string>{"Continue?", "Continue?"}));
  EXPECT_EQ(askedOn, std::this_thread::get_id());
  EXPECT_EQ(Runs(), (std::vector<int>{1, 1, 1}));
  EXPECT_FALSE(fixture.Session().HasErrors());
}

}  // namespace
}  // namespace setup
