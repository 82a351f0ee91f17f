// The add-on action: the add-on installer of the setup package is written to
// the temporary folder and started with the parameters the user's choices
// collect. The demo product's addons.ini and its recording installer are
// used as they ship.
#include <gtest/gtest.h>

#include <filesystem>

#include "kel/base/file_system.h"
#include "kel/platform/process.h"
#include "setup/core/errors.h"
#include "setup/core/session.h"
#include "setup/core/summary.h"
#include "setup/product/actions.h"
#include "support/session_fixture.h"
#include "support/x_display.h"

namespace setup {
namespace {

using orvi::test::SessionFixture;
using orvi::test::SessionSpec;

std::string DemoSetupFile(const std::string& name) {
  return orvi::test::ReadFileBytes(std::string(ORVI_SOURCE_DIR) + "/data/demo/setup/" + name);
}

void SetAddonOptions(TSetup& session, bool viewer, bool extensions, bool shortcuts) {
  session.Settings().WriteBool("Common", "AddonsViewer", viewer);
  session.Settings().WriteBool("Common", "AddonsExtensions", extensions);
  session.Settings().WriteBool("Common", "AddonsShortcuts", shortcuts);
}

TEST(AddonsAction, InstallerStartedWithTheCollectedParameters) {
  SessionSpec spec;
  spec.params = "/AUTO=/opt/ORVI";
  spec.setupFiles = {{"addons.ini", DemoSetupFile("addons.ini")}, {"TagStudioSetup", DemoSetupFile("TagStudioSetup")}};
  SessionFixture fixture(spec);
  const std::string log = fixture.Machine() / "/addon.log";
  orvi::test::ScopedEnv logEnv("ORVI_ADDON_LOG", log.c_str());

  // addons.ini: P1 --no-associate (extensions off), P2 --with-viewer,
  // P3 --shortcuts, CL "--quiet --origin=orvi-setup %s".
  const struct {
    bool viewer, extensions, shortcuts;
    const char* arguments;  // as the installer records them; nullptr: not started
  } rows[] = {
      {false, false, false, nullptr},
      {true, true, true, "--quiet --origin=orvi-setup --with-viewer --shortcuts"},
      {false, false, true, "--quiet --origin=orvi-setup --no-associate --shortcuts"},
      {true, false, false, "--quiet --origin=orvi-setup --no-associate --with-viewer"},
      {false, true, false, "--quiet --origin=orvi-setup"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.viewer << row.extensions << row.shortcuts);
    SetAddonOptions(fixture.Session(), row.viewer, row.extensions, row.shortcuts);
    std::filesystem::remove(log);
    TSetupActionAddonsInstall action;
    action.Run();
    const std::string installer = kel::kelTempPath() + "TagStudioSetup";
    ASSERT_EQ(installer.rfind(fixture.Machine().Root(), 0), 0u) << installer;
    if (!row.arguments) {
      EXPECT_FALSE(std::filesystem::exists(installer));
      continue;
    }
    EXPECT_TRUE(kel::platform::IsExecutableFile(installer));
    EXPECT_EQ(orvi::test::ReadFileBytes(installer), DemoSetupFile("TagStudioSetup"));
    ASSERT_TRUE(orvi::test::WaitFor([&] {
      return std::filesystem::exists(log) && orvi::test::ReadFileBytes(log).find('\n') != std::string::npos;
    })) << "the installer did not run";
    EXPECT_EQ(orvi::test::ReadFileBytes(log), std::string(row.arguments) + "\n");
    std::filesystem::remove(installer);
  }
}

TEST(AddonsAction, MissingPackageFilesFailTheAction) {
  const struct {
    const char* addonsIni;  // nullptr: not in the package
    const char* message;
  } rows[] = {
      {nullptr, "Cannot locate \"addons.ini\" file in setup archive"},
      {"P4=Missing\r\nCL=%s\r\n", "Cannot locate \"Missing\" file in setup archive"},
      {"CL=%s\r\n", "Cannot locate \"\" file in setup archive"},
  };
  for (const auto& row : rows) {
    SessionSpec spec;
    spec.params = "/AUTO=/opt/ORVI";
    if (row.addonsIni) spec.setupFiles = {{"addons.ini", row.addonsIni}};
    SessionFixture fixture(spec);
    SetAddonOptions(fixture.Session(), true, false, false);
    TSetupActionAddonsInstall action;
    try {
      action.Run();
      ADD_FAILURE() << "no error for " << row.message;
    } catch (const EInstallerInstallError& e) {
      EXPECT_EQ(e.Message(), row.message);
    }
  }
}

TEST(AddonsAction, SummaryListsTheChosenOptions) {
  SessionSpec spec;
  spec.params = "/AUTO=/opt/ORVI";
  spec.englishLng = orvi::test::MinimalEnglishLng() +
                    "[PageAddons]\r\nTitle=Add-ons:\r\nCB1=viewer\r\nCB2=extensions\r\nCB3=shortcuts\r\n";
  SessionFixture fixture(spec);
  const struct {
    bool viewer, extensions, shortcuts;
    const char* summary;
  } rows[] = {
      {false, false, false, ""},
      {true, false, true, "Add-ons:\r\nviewer\r\nshortcuts\r\n"},
      {false, true, false, "Add-ons:\r\nextensions\r\n"},
  };
  for (const auto& row : rows) {
    SetAddonOptions(fixture.Session(), row.viewer, row.extensions, row.shortcuts);
    TSetupSummaryBuilder builder;
    TSetupActionAddonsInstall().Summarize(builder);
    EXPECT_EQ(builder.ToString(), row.summary);
  }
}

}  // namespace
}  // namespace setup
