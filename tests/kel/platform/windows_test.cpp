#include "kel/platform/windows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>

#include "kel/platform/module.h"
#include "support/testlib/environment.h"
#include "support/x_display.h"

namespace kel::platform {
namespace {

using orvi::test::ScopedEnv;
using orvi::test::TestWindow;
using orvi::test::TestWindowOptions;
using orvi::test::XvfbServer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(Windows, NothingWithoutAReachableDisplay) {
  for (const char* display : {static_cast<const char*>(nullptr), "", ":9999", "garbage"}) {
    ScopedEnv env("DISPLAY", display);
    const char* shown = display ? display : "(unset)";
    EXPECT_THAT(FindTopLevelWindows("TORVIMainForm"), IsEmpty()) << shown;
    EXPECT_FALSE(CloseWindow(0x200001)) << shown;
    EXPECT_EQ(WindowProcessExecutable(0x200001), "") << shown;
  }
}

// One X server for the tests below; they skip when Xvfb cannot be started.
class WindowsOnDisplay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new XvfbServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_->Running()) GTEST_SKIP() << "Xvfb is not installed or does not start";
    display_.emplace("DISPLAY", server_->Name().c_str());
  }

  TestWindowOptions Window(const std::string& className) const {
    TestWindowOptions options;
    options.className = className;
    return options;
  }
  const std::string& Display() const { return server_->Name(); }

  static inline XvfbServer* server_ = nullptr;
  std::optional<ScopedEnv> display_;
};

TEST_F(WindowsOnDisplay, FoundByClassOnlyIncludingClientsInFrames) {
  TestWindow plain(Display(), Window("TORVIMainForm"));
  TestWindowOptions framed = Window("TORVIMainForm");
  framed.frameDepth = 2;  // as a reparenting window manager keeps clients
  TestWindow inFrame(Display(), framed);
  TestWindow longerClass(Display(), Window("TORVIMainFormX"));
  TestWindow prefixOnly(Display(), Window("TORVIMain"));
  TestWindowOptions instanceOnly = Window("Other");
  instanceOnly.instanceName = "TORVIMainForm";
  TestWindow byInstance(Display(), instanceOnly);
  ASSERT_NE(plain.Id(), 0u);

  EXPECT_THAT(FindTopLevelWindows("TORVIMainForm"), ElementsAre(plain.Id(), inFrame.Id()));
  EXPECT_THAT(FindTopLevelWindows("TORVIMain"), ElementsAre(prefixOnly.Id()));
  EXPECT_THAT(FindTopLevelWindows("torvimainform"), IsEmpty()) << "the class is compared exactly";
  EXPECT_THAT(FindTopLevelWindows(""), IsEmpty());
}

TEST_F(WindowsOnDisplay, ClientListOfAWindowManagerReachesDeeperClients) {
  TestWindowOptions deep = Window("TORVILibMainForm");
  deep.frameDepth = 6;
  TestWindow window(Display(), deep);
  ASSERT_NE(window.Id(), 0u);
  EXPECT_THAT(FindTopLevelWindows("TORVILibMainForm"), IsEmpty()) << "too deep for the tree walk";
  // A list with stale entries (a window that no longer exists) as well.
  orvi::test::SetRootWindowList(Display(), "_NET_CLIENT_LIST", {0x7FFFFF, window.Id(), window.Id()});
  EXPECT_THAT(FindTopLevelWindows("TORVILibMainForm"), ElementsAre(window.Id()));
  orvi::test::SetRootWindowList(Display(), "_NET_CLIENT_LIST", {});
}

TEST_F(WindowsOnDisplay, ExecutableOfTheWindowsProcess) {
  TestWindow own(Display(), Window("A"));
  TestWindowOptions noPid = Window("B");
  noPid.setPid = false;
  TestWindow withoutPid(Display(), noPid);
  TestWindowOptions remote = Window("C");
  remote.clientMachine = "elsewhere.invalid";
  TestWindow onOtherHost(Display(), remote);
  ASSERT_NE(own.Id(), 0u);

  const std::string self = ExecutablePath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(WindowProcessId(own.Id()), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(WindowProcessExecutable(own.Id()), self);
  // No _NET_WM_PID; a process id of another machine (it means nothing
  // here); no such window.
  for (WindowId window : {withoutPid.Id(), onOtherHost.Id(), WindowId{0x7FFFFF}}) {
    EXPECT_EQ(WindowProcessId(window), 0u) << window;
    EXPECT_EQ(WindowProcessExecutable(window), "") << window;
  }
}

TEST_F(WindowsOnDisplay, CloseAsksPoliteWindowsAndDisconnectsOthers) {
  TestWindow polite(Display(), Window("TORVIMainForm"));
  TestWindowOptions stubbornOptions = Window("TORVIMainForm");
  stubbornOptions.closesOnDelete = false;
  TestWindow stubborn(Display(), stubbornOptions);
  TestWindowOptions noProtocol = Window("TORVIMainForm");
  noProtocol.takesDelete = false;
  TestWindow withoutProtocol(Display(), noProtocol);
  ASSERT_NE(polite.Id(), 0u);

  EXPECT_TRUE(CloseWindow(polite.Id()));
  EXPECT_TRUE(orvi::test::WaitFor([&] { return !polite.Open(); }));
  EXPECT_EQ(polite.DeleteRequests(), 1);
  EXPECT_FALSE(polite.ConnectionLost());

  EXPECT_TRUE(CloseWindow(stubborn.Id()));
  EXPECT_TRUE(orvi::test::WaitFor([&] { return stubborn.DeleteRequests() == 1; }));
  EXPECT_TRUE(stubborn.Open()) << "a window may refuse to close";

  EXPECT_TRUE(CloseWindow(withoutProtocol.Id()));
  EXPECT_TRUE(orvi::test::WaitFor([&] { return withoutProtocol.ConnectionLost(); }));
  EXPECT_EQ(withoutProtocol.DeleteRequests(), 0);

  EXPECT_THAT(FindTopLevelWindows("TORVIMainForm"), ElementsAre(stubborn.Id()));
  EXPECT_FALSE(CloseWindow(polite.Id())) << "the window is gone";
}

}  // namespace
}  // namespace kel::platform
