// Every text of every wizard page fits its control, on a real X server
// (Xvfb), in English, German and Russian, at 96 and 144 DPI: the screenshot
// tool walks the demo setup's runs (installation, failed installation,
// uninstallation) in both themes and checks each picture it takes. The
// walk follows the product's page list, so pages added to the product are
// checked as well.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/e2e.h"
#include "support/x_display.h"

namespace orvi::test {
namespace {

namespace fs = std::filesystem;

TEST(WizardTextFit, EveryTextFitsInEveryLanguageAtBothDpis) {
  ASSERT_TRUE(fs::exists(DemoSetupPath())) << "build the target demo_setup first";
  XvfbServer server("1280x1024x24");
  if (!server.Running()) GTEST_SKIP() << "Xvfb is not available";
  Sandbox sandbox;  // the tool keeps its runs in machines of its own
  for (const char* language : {"en", "de", "ru"}) {
    for (const char* dpi : {"96", "144"}) {
      SCOPED_TRACE(std::string(language) + " at " + dpi + " DPI");
      TempDir pictures;
      RunOptions options;
      options.environment = {"DISPLAY=" + server.Name(), "QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + pictures.Path()};
      options.timeoutSeconds = 120;
      std::string output;
      const int code = RunInSandbox(sandbox, BuiltProgram("tools/wizard-screenshots/wizard-screenshots"),
                                    {"--check", "--language", language, "--dpi", dpi, DemoSetupPath(), pictures.Path()},
                                    &output, options);
      EXPECT_EQ(code, 0) << output;
      // The walk reached the pages: every page of each run, in both themes.
      for (const char* theme : {"light-", "dark-"}) {
        const std::string folder = pictures / (std::string(theme) + dpi);
        for (const char* page : {"install_1_PageWelcome.png", "install_2_PageLicense.png",
                                 "install_PageFinish.png", "failed_PageFinish.png",
                                 "uninstall_PageUninstallFinish.png"})
          EXPECT_TRUE(fs::exists(folder + "/" + page)) << folder << "/" << page << "\n" << output;
      }
    }
  }
}

}  // namespace
}  // namespace orvi::test
