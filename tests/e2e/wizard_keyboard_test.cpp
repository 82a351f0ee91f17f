// The wizard on a real X server (Xvfb), used with the keyboard alone: the
// test types keys as a person would, waiting for each page to be shown (the
// program says so when a script of waits only is given: it answers nothing
// and clicks nothing itself).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/e2e.h"
#include "support/x_display.h"

namespace orvi::test {
namespace {

namespace fs = std::filesystem;

// Keysyms of the keys typed.
constexpr uint32_t kReturn = 0xff0d, kTab = 0xff09, kShift = 0xffe1, kSpace = 0x20;

TEST(WizardKeyboard, WholeInstallationWithKeysOnly) {
  ASSERT_TRUE(fs::exists(DemoSetupPath())) << "build the target demo_setup first";
  XvfbServer server("1024x768x24");
  if (!server.Running()) GTEST_SKIP() << "Xvfb is not available";
  Sandbox sandbox;
  sandbox.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
  TempDir work;
  RunOptions options;
  options.environment = {"LANG=en_US.UTF-8", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "DISPLAY=" + server.Name(),
                         "QT_QPA_PLATFORM=", "XDG_RUNTIME_DIR=" + work.Path(), "ORVI_DEMO_LOG=" + (work / "orvi.log"),
                         "ORVI_SETUP_WIZARD_SCRIPT=dialog:Select Language; page:PageWelcome; page:PageLicense;"
                         "page:PageSetup; page:PageIntegration; page:PageReadyToInstall; page:PageFinish"};
  options.timeoutSeconds = 120;
  RunningProgram setup(sandbox, DemoSetupPath(), {}, options);

  const struct {
    const char* shown;
    std::vector<std::vector<uint32_t>> keys;
  } steps[] = {
      {"dialog:Select Language", {{kReturn}}},
      {"page:PageWelcome", {{kReturn}}},
      // The licence has the focus: Tab to the box, Space ticks it, Enter is Next.
      {"page:PageLicense", {{kTab}, {kSpace}, {kReturn}}},
      {"page:PageSetup", {{kReturn}}},
      {"page:PageIntegration", {{kReturn}}},
      {"page:PageReadyToInstall", {{kReturn}}},
      // Finish has the focus; Shift+Tab goes back through the boxes of the
      // programs to start (the release notes, the player), Space unticks
      // each, Enter finishes.
      {"page:PageFinish", {{kShift, kTab}, {kSpace}, {kShift, kTab}, {kSpace}, {kReturn}}},
  };
  for (const auto& step : steps) {
    ASSERT_TRUE(setup.WaitForOutput(std::string("wizard script: ") + step.shown + "\n", 60))
        << step.shown << "\n" << setup.Output();
    for (const std::vector<uint32_t>& chord : step.keys) ASSERT_TRUE(PressKeys(server.Name(), chord));
  }
  ASSERT_EQ(setup.Finish(), 0) << setup.Output();
  const std::string destination = sandbox / "/opt/ORVI/";
  EXPECT_TRUE(fs::exists(destination + "ORVI"));
  EXPECT_TRUE(fs::exists(destination + "Uninstall.dat"));
  EXPECT_FALSE(fs::exists(work / "orvi.log")) << "both boxes were unticked: the player was not started";
}

}  // namespace
}  // namespace orvi::test
