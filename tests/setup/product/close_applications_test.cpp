// The close-applications action, run by the session's worker against the
// windows of an X server of the test's own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "kel/platform/process.h"
#include "kel/platform/windows.h"
#include "setup/core/session.h"
#include "setup/product/actions.h"
#include "support/session_fixture.h"
#include "support/temp_dir.h"
#include "support/x_display.h"

namespace setup {
namespace {

using namespace std::chrono_literals;
using orvi::test::ScopedEnv;
using orvi::test::SessionFixture;
using orvi::test::SessionSpec;
using orvi::test::TestWindow;
using orvi::test::TestWindowOptions;
using orvi::test::TTestProduct;
using Clock = std::chrono::steady_clock;

class CloseApplicationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TTestProduct::Actions = {TSetupActionClass::Of<TSetupActionCloseApplications>("TSetupActionCloseApplications")};
    SessionSpec spec;
    spec.params = "/AUTO=/srv/ORVI /SILENT";
    fixture_.emplace(spec);
    Session().AddListener(&listener_);
  }
  void TearDown() override {
    if (fixture_) Session().RemoveListener(&listener_);
    fixture_.reset();
    TTestProduct::Actions.clear();
    TSetupActionCloseApplications::SetPassInterval(2000ms);
    TSetupActionCloseApplications::SetExitWait(10s);
  }

  TSetup& Session() { return fixture_->Session(); }

  // Runs the worker, serving its calls, until it finishes, `until` holds or
  // the time is up; then stops it (a stop request cancels the action). True
  // when the worker finished by itself.
  bool RunWorker(std::chrono::milliseconds timeout, const std::function<bool()>& until = nullptr) {
    Session().Start(false);
    std::atomic<bool> done{false};
    std::thread waker([&] {
      while (!done) {
        Session().Dispatcher().Wake();
        std::this_thread::sleep_for(5ms);
      }
    });
    const auto deadline = Clock::now() + timeout;
    Session().Dispatcher().WaitUntil([&] {
      return Session().State() == TSetupState::Finished || Clock::now() >= deadline || (until && until());
    });
    const bool finished = Session().State() == TSetupState::Finished;
    done = true;
    waker.join();
    Session().FreeWorker();
    return finished;
  }

  int StatusReports(const std::string& text) const {
    int count = 0;
    for (const auto& entry : listener_.entries) count += entry.code == neStatusText && entry.text == text;
    return count;
  }

  std::optional<SessionFixture> fixture_;
  orvi::test::TRecordingListener listener_;
};

TEST_F(CloseApplicationsTest, WithoutADisplayOnePassAndDone) {
  ScopedEnv display("DISPLAY", nullptr);
  TSetupActionCloseApplications::SetPassInterval(1000ms);
  const auto start = Clock::now();
  ASSERT_TRUE(RunWorker(20s));
  EXPECT_LT(Clock::now() - start, 1000ms) << "nothing to close: no waiting";
  EXPECT_EQ(StatusReports("A8 closing"), 1);
  EXPECT_FALSE(Session().HasErrors()) << Session().Errors().Text();
}

class CloseApplicationsOnDisplay : public CloseApplicationsTest {
 protected:
  void SetUp() override {
    server_.emplace();
    if (!server_->Running()) GTEST_SKIP() << "Xvfb is not installed or does not start";
    display_.emplace("DISPLAY", server_->Name().c_str());
    CloseApplicationsTest::SetUp();
  }
  void TearDown() override {
    CloseApplicationsTest::TearDown();
    display_.reset();
  }

  TestWindowOptions Window(const std::string& className) const {
    TestWindowOptions options;
    options.className = className;
    return options;
  }
  const std::string& Display() const { return server_->Name(); }

  std::optional<orvi::test::XvfbServer> server_;
  std::optional<ScopedEnv> display_;
};

// Every window of the product family closes (two of one class in two
// passes; one that does not take WM_DELETE_WINDOW loses its connection);
// other windows stay. The windows' program (this test) goes on running: the
// action waits the whole exit wait for it, then ends all the same.
TEST_F(CloseApplicationsOnDisplay, ClosesEveryProductWindow) {
  TestWindow main1(Display(), Window("TORVIMainForm"));
  TestWindow main2(Display(), Window("TORVIMainForm"));
  TestWindow editor(Display(), Window("TORVI2EditorForm"));
  TestWindowOptions noProtocol = Window("TORVIConverterMainForm");
  noProtocol.takesDelete = false;
  TestWindow converter(Display(), noProtocol);
  TestWindow otherClass(Display(), Window("TORVIMainFormX"));
  TestWindowOptions instanceOnly = Window("Other");
  instanceOnly.instanceName = "TORVIMainForm";
  TestWindow otherInstance(Display(), instanceOnly);
  ASSERT_NE(main1.Id(), 0u);

  TSetupActionCloseApplications::SetPassInterval(200ms);
  TSetupActionCloseApplications::SetExitWait(300ms);
  ASSERT_TRUE(RunWorker(30s)) << "windows were left, or the wait for their program did not end";
  for (const TestWindow* window : {&main1, &main2, &editor}) {
    EXPECT_FALSE(window->Open());
    EXPECT_GE(window->DeleteRequests(), 1);
  }
  EXPECT_TRUE(converter.ConnectionLost());
  for (const TestWindow* window : {&otherClass, &otherInstance}) {
    EXPECT_TRUE(window->Open());
    EXPECT_EQ(window->DeleteRequests(), 0);
  }
  EXPECT_EQ(StatusReports("A8 closing"), 1);
  EXPECT_FALSE(Session().HasErrors()) << Session().Errors().Text();
}

// A window that refuses to close is asked again every pass until the run
// is stopped, which ends the waiting at once.
TEST_F(CloseApplicationsOnDisplay, RefusingWindowKeepsTheActionWaitingUntilStopped) {
  TestWindowOptions refusing = Window("TORVI3MainWindow");
  refusing.closesOnDelete = false;
  TestWindow window(Display(), refusing);
  ASSERT_NE(window.Id(), 0u);

  TSetupActionCloseApplications::SetPassInterval(1000ms);
  const bool finished = RunWorker(30s, [&] { return window.DeleteRequests() >= 2; });
  EXPECT_FALSE(finished);
  EXPECT_GE(window.DeleteRequests(), 2);
  EXPECT_TRUE(window.Open());
  EXPECT_EQ(Session().Errors().Text(), "E4 stopped\r\n");
}

TEST_F(CloseApplicationsOnDisplay, StopEndsThePauseBetweenPasses) {
  TestWindowOptions refusing = Window("TORVIATEForm");
  refusing.closesOnDelete = false;
  TestWindow window(Display(), refusing);
  ASSERT_NE(window.Id(), 0u);
  TSetupActionCloseApplications::SetPassInterval(10s);
  const auto start = Clock::now();
  EXPECT_FALSE(RunWorker(30s, [&] { return window.DeleteRequests() >= 1; }));
  EXPECT_LT(Clock::now() - start, 5s) << "the stop request waited for the pass to end";
  EXPECT_EQ(window.DeleteRequests(), 1);
}

// A program that goes on for a while after its window has closed (saving
// its settings, say): the action returns only once the program has ended,
// which it marks by a file just before it ends.
TEST_F(CloseApplicationsOnDisplay, ReturnsOnlyOnceTheProgramHasEnded) {
  orvi::test::TempDir dir;
  const std::string marker = dir / "ended";
  const kel::platform::StartResult program =
      kel::platform::StartProgram(ORVI_WINDOW_PROGRAM_PATH, {"TORVIMainForm", "500", marker});
  ASSERT_TRUE(program.started) << program.error;
  ASSERT_TRUE(orvi::test::WaitFor([] { return !kel::platform::FindTopLevelWindows("TORVIMainForm").empty(); }));

  TSetupActionCloseApplications::SetPassInterval(20ms);
  ASSERT_TRUE(RunWorker(30s));
  EXPECT_TRUE(std::filesystem::exists(marker)) << "the action returned while the program was still running";
  EXPECT_FALSE(Session().HasErrors()) << Session().Errors().Text();
}

// A program that goes on running after its window has closed holds the
// action (up to the exit wait) until the run is stopped, which ends the
// waiting at once.
TEST_F(CloseApplicationsOnDisplay, StopEndsTheWaitForThePrograms) {
  TestWindow window(Display(), Window("TORVIMainForm"));  // this test's: it stays
  ASSERT_NE(window.Id(), 0u);
  TSetupActionCloseApplications::SetPassInterval(0ms);
  TSetupActionCloseApplications::SetExitWait(60s);
  const auto start = Clock::now();
  EXPECT_FALSE(RunWorker(30s, [&] { return !window.Open() && Clock::now() - start >= 300ms; }))
      << "the action did not wait for the program";
  EXPECT_LT(Clock::now() - start, 5s) << "the stop request waited for the program";
  EXPECT_FALSE(window.Open());
  EXPECT_EQ(Session().Errors().Text(), "E4 stopped\r\n");
}

// The demo product's player: found, traced to its program, and ended by the
// action. Runs when the demo player has been built (target orvi_demo_player).
TEST_F(CloseApplicationsOnDisplay, DemoPlayerEnds) {
  const std::string player = std::string(ORVI_BINARY_DIR) + "/data/demo/payload/ORVI";
  if (!kel::platform::IsExecutableFile(player)) GTEST_SKIP() << "the demo player is not built";
  std::atomic<int> exitCode{-2};
  std::thread run([&] { exitCode = kel::platform::RunProgram(player, {}); });
  const bool shown = orvi::test::WaitFor([] { return !kel::platform::FindTopLevelWindows("TORVIMainForm").empty(); });
  if (shown) {
    EXPECT_EQ(kel::platform::WindowProcessExecutable(kel::platform::FindTopLevelWindows("TORVIMainForm").front()),
              player);
    TSetupActionCloseApplications::SetPassInterval(200ms);
    EXPECT_TRUE(RunWorker(30s));
  }
  // The player ends when the action closes its window; if it does not, the
  // end of the X server ends it.
  const bool ended = orvi::test::WaitFor([&] { return exitCode != -2; });
  if (!ended) server_.reset();
  run.join();
  ASSERT_TRUE(shown) << "the player's window did not appear";
  EXPECT_TRUE(ended);
  EXPECT_EQ(exitCode, 0);
}

}  // namespace
}  // namespace setup
