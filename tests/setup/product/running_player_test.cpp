// The folder of a running player as the last answer to where the product is
// installed: only a window whose program is the player counts, whatever
// program opened a window of the player's class.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "kel/base/file_system.h"
#include "kel/platform/process.h"
#include "kel/platform/windows.h"
#include "setup/product/product_info_orvi.h"
#include "support/testlib/environment.h"
#include "support/x_display.h"

namespace setup {
namespace {

using orvi::test::TestWindow;
using orvi::test::TestWindowOptions;

TEST(RunningPlayer, OnlyThePlayersOwnWindowTellsTheFolder) {
  std::optional<orvi::test::XvfbServer> server(std::in_place);
  if (!server->Running()) GTEST_SKIP() << "Xvfb is not installed or does not start";
  orvi::test::ScopedEnv display("DISPLAY", server->Name().c_str());
  orvi::test::Sandbox machine;  // no registered installation

  // A window of the player's class opened by another program (this test).
  TestWindowOptions options;
  options.className = "TORVIMainForm";
  TestWindow impostor(server->Name(), options);
  ASSERT_NE(impostor.Id(), 0u);
  ASSERT_NE(kel::platform::WindowProcessExecutable(impostor.Id()), "");
  EXPECT_EQ(TProductInfoORVI::FindExistingInstallation(), "") << "a program that is not the player";

  const std::string player = std::string(ORVI_BINARY_DIR) + "/data/demo/payload/ORVI";
  if (!kel::platform::IsExecutableFile(player)) GTEST_SKIP() << "the demo player is not built";
  std::atomic<bool> ended{false};
  std::thread run([&] {
    kel::platform::RunProgram(player, {});
    ended = true;
  });
  // Shown, and telling its program (the player sets its properties one by one).
  kel::platform::WindowId playerWindow = 0;
  const bool shown = orvi::test::WaitFor([&] {
    for (kel::platform::WindowId window : kel::platform::FindTopLevelWindows("TORVIMainForm"))
      if (kel::platform::WindowProcessExecutable(window) == player) playerWindow = window;
    return playerWindow != 0;
  });
  if (shown) {
    EXPECT_EQ(TProductInfoORVI::FindExistingInstallation(), kel::kelExtractFilePath(player))
        << "the player's window counts, though another window of its class comes first";
    kel::platform::CloseWindow(playerWindow);
  }
  // If the player did not end, the end of the X server ends it.
  if (!orvi::test::WaitFor([&] { return ended.load(); })) server.reset();
  run.join();
  ASSERT_TRUE(shown) << "the player's window did not appear";
}

}  // namespace
}  // namespace setup
