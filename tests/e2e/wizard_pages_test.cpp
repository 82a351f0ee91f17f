// End-to-end tests of the ORVI pages of the wizard: the choices made on the
// setup, add-ons, integration and uninstall options pages reach the machine,
// and the summary shows them.
#include <chrono>
#include <thread>

#include "setup/core/app_repo.h"
#include "wizard_run.h"

namespace orvi::test {
namespace {

// The finish page with nothing started.
const char kFinishQuietly[] = "page:PageFinish; click:CB1; click:CB2; click:bNext";

// The file's text once it exists (programs started without waiting write it
// a little later); "" after ten seconds.
std::string WhenWritten(const std::string& path) {
  for (int i = 0; i < 200 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return fs::exists(path) ? ReadFileBytes(path) : "";
}

// Run as alice's setup: her desktop holds portable copies and shortcuts.
const Files kAlice = {"SUDO_UID=1000", "SUDO_GID=1000", "SUDO_USER=alice"};

TEST_F(Wizard, RussianInstallationStartsTheAddonWithTheChosenOptions) {
  const std::string addonLog = tools_ / "addon.log";
  std::string output;
  ASSERT_EQ(Run(DemoSetupPath(), {},
                std::string("answer:Русский;") + kToSetupPage +
                    "click:bNext; page:PageAddons; click:CB2; click:bNext; page:PageIntegration; click:bNext;"
                    "page:PageReadyToInstall; click:bNext;" + kFinishQuietly,
                &output, {"ORVI_ADDON_LOG=" + addonLog}),
            0)
      << output;
  // The viewer and the shortcuts, not the file associations.
  EXPECT_EQ(WhenWritten(addonLog), "--quiet --origin=orvi-setup --no-associate --with-viewer --shortcuts\n");
  EXPECT_TRUE(fs::exists(destination_ + "ORVI"));
}

TEST_F(Wizard, PortableCopyChosenOnTheSetupPage) {
  const std::string copy = sandbox_ / "/home/alice/Desktop/ORVI/";
  std::string output;
  ASSERT_EQ(Run(DemoSetupPath(), {},
                std::string("answer:English;") + kToSetupPage + "click:CB3; expect:PathEdit=" + copy +
                    "; click:bNext; page:PageReadyToInstall; contains:Summary=Portable installation; click:bNext;" +
                    kFinishQuietly,
                &output, kAlice),
            0)
      << output;
  EXPECT_TRUE(fs::exists(copy + "ORVI"));
  EXPECT_EQ(IniValue(ReadTextFile(copy + "ORVI.ini"), "System", "UserMode"), "0");
  EXPECT_FALSE(fs::exists(destination_));
  EXPECT_FALSE(fs::exists(copy + "Elevator.log")) << "no integration for a portable copy";
  std::string registered;
  EXPECT_FALSE(setup::TSetupAppRepo::FindInstallPath("ORVI", registered)) << registered;
}

// The earlier installation is not registered: the user types its folder,
// the page offers the update and the run backs it up first.
TEST_F(Wizard, UpdateChosenByTypingTheFolderOfAnEarlierInstallation) {
  const std::string earlier = sandbox_ / "/srv/Media/ORVI/";
  std::string output;
  ASSERT_EQ(Run(DemoSetupPath(), {"/AUTO=/srv/Media/ORVI", "/SILENT"}, "", &output), 0) << output;
  fs::remove(sandbox_ / "/var/lib/orvi-setup/registry.db");
  std::string config = ReadTextFile(earlier + "ORVI.ini");
  config.replace(config.find("Version=5300"), 12, "Version=5010");
  WriteFileBytes(earlier + "ORVI.ini", config);

  ASSERT_EQ(Run(DemoSetupPath(), {},
                std::string("answer:English;") + kToSetupPage + "expect:PathEdit=" + destination_ +
                    "; type:PathEdit=/srv/Media/ORVI;"
                    "expect:W1=An earlier version of ORVI is installed in this folder. It will be updated.;"
                    "click:bNext; page:PageReadyToInstall; contains:Summary=Update the installed version;"
                    "contains:Summary=Back up the current installation first; click:bNext;" +
                    kFinishQuietly,
                &output),
            0)
      << output;
  EXPECT_EQ(IniValue(ReadTextFile(earlier + "ORVI.ini"), "System", "Version"), "5300");
  ASSERT_TRUE(fs::exists(earlier + "!Backup"));
  EXPECT_EQ(std::distance(fs::directory_iterator(earlier + "!Backup"), fs::directory_iterator()), 1);
  EXPECT_FALSE(fs::exists(destination_));
}

TEST_F(Wizard, IntegrationChoicesReachTheConfigurationAndTheShortcuts) {
  std::string output;
  ASSERT_EQ(Run(DemoSetupPath(), {},
                std::string("answer:English;") + kToSetupPage +
                    "click:bNext; page:PageIntegration; click:CB1; click:CB5; click:bNext; page:PageReadyToInstall;"
                    "contains:Summary=Create a shortcut in the applications menu; click:bNext;" + kFinishQuietly,
                &output, kAlice),
            0)
      << output;
  const std::string config = ReadTextFile(destination_ + "ORVI.ini");
  const struct {
    const char* key;
    const char* value;
  } keys[] = {{"ShortcutDesktop", "0"},
              {"ShortcutStartMenu", "1"},
              {"AssociateWithFiles", "1"},
              {"IntegrateToWindows", "1"},
              {"RegisterContextMenu", "0"}};
  for (const auto& [key, value] : keys) EXPECT_EQ(IniValue(config, "Integration", key), value) << key;
  EXPECT_FALSE(fs::exists(sandbox_ / "/home/alice/Desktop/ORVI.desktop"));
  EXPECT_TRUE(fs::exists(sandbox_ / "/usr/local/share/applications/ORVI/ORVI.desktop"));
  const std::string helper = ReadFileBytes(destination_ + "Elevator.log");
  EXPECT_NE(helper.find("/REG=L1"), std::string::npos) << helper;
  EXPECT_EQ(helper.find("/REG=M1"), std::string::npos) << helper;
}

TEST_F(Wizard, UninstallationWithBothOptionsRemovesBackupsAndProfiles) {
  std::string output;
  ASSERT_EQ(Run(DemoSetupPath(), {"/AUTO", "/SILENT"}, "", &output), 0) << output;
  sandbox_.WriteFile("/opt/ORVI/!Backup/z Before install 5.20 [2024.05.01 10-00-00].zip", "a backup");
  sandbox_.WriteFile("/home/alice/.config/ORVI/ORVI.ini", "alice's settings");

  ASSERT_EQ(Run(destination_ + "Uninstall", {},
                "answer:English; page:PageUninstallParams; click:CB1; click:CB2; click:bNext;"
                "page:PageUninstallFinish; click:bNext",
                &output),
            0)
      << output;
  EXPECT_FALSE(fs::exists(destination_)) << "with the backups, the whole folder goes";
  EXPECT_FALSE(fs::exists(sandbox_ / "/home/alice/.config/ORVI"));
}

}  // namespace
}  // namespace orvi::test
