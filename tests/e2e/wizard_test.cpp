// End-to-end tests of the wizard: the built demo Setup shows its windows on
// Qt's offscreen platform in a sandbox machine, driven by a script of
// clicks and answers (ORVI_SETUP_WIZARD_SCRIPT).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "wizard_run.h"

namespace orvi::test {
namespace {

// The whole installation through the wizard, relaunched elevated: the same
// result as a silent installation, and the ticked program is started by
// the unelevated parent through its spawn service.
TEST_F(Wizard, InteractiveInstallationEqualsTheSilentOne) {
  // The reference: a silent run on a machine of its own.
  Files silentTree, silentLog;
  std::string silentConfig, silentRegistry;
  {
    Sandbox silent;
    silent.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
    RunOptions options;
    options.environment = {"LANG=en_US.UTF-8", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "DISPLAY="};
    std::string output;
    ASSERT_EQ(RunSetup(silent, {"/AUTO", "/SILENT"}, &output, options), 0) << output;
    silentTree = TreeOf(silent / "/opt/ORVI/");
    silentLog = UninstallLog(silent, silent / "/opt/ORVI/");
    silentConfig = ReadTextFile(silent / "/opt/ORVI/ORVI.ini");
    silentRegistry = RegistryEntries(silent);
  }

  const std::string elevatorLog = tools_ / "pkexec.log";
  const std::string elevatedPlayerLog = tools_ / "orvi-elevated.log";
  const std::string standIn = tools_.WriteFile(
      "pkexec", "#!/bin/sh\necho \"$*\" >> '" + elevatorLog + "'\nORVI_SETUP_SANDBOX_ELEVATED=1 ORVI_DEMO_LOG='" +
                    elevatedPlayerLog + "' exec \"$@\"\n");
  chmod(standIn.c_str(), 0755);
  std::string output;
  ASSERT_EQ(Run(DemoSetupPath(), {}, kInstallScript, &output,
                {"ORVI_SETUP_SANDBOX_ELEVATED=0", "ORVI_SETUP_PKEXEC=" + standIn}),
            0)
      << output;
  EXPECT_NE(ReadFileBytes(elevatorLog).find(" /SKIPUAC="), std::string::npos) << "relaunched elevated";
  EXPECT_NE(output.find("wizard script: dialog \"Select Language\" answered English\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("unscripted"), std::string::npos) << output;

  EXPECT_EQ(TreeOf(destination_), silentTree);
  for (const char* file : {"ORVI", "Readme.txt", "Plugins/orvi_flac.so", "Elevator.log"})
    EXPECT_EQ(ReadFileBytes(destination_ + file), ReadFileBytes(sandbox_ / "/opt/ORVI/" + file)) << file;
  EXPECT_EQ(UninstallLog(sandbox_, destination_), silentLog);
  const std::string config = ReadTextFile(destination_ + "ORVI.ini");
  for (const char* key : {"DefaultLang", "UserMode", "Version"})
    EXPECT_EQ(IniValue(config, "System", key), IniValue(silentConfig, "System", key)) << key;
  EXPECT_EQ(RegistryEntries(sandbox_), silentRegistry);

  const std::string started = PlayerStarts();
  EXPECT_EQ(std::count(started.begin(), started.end(), '\n'), 1) << "the parent started the player once: " << started;
  EXPECT_FALSE(fs::exists(elevatedPlayerLog)) << "the elevated child started the player itself";
}

TEST_F(Wizard, InteractiveUninstallation) {
  std::string output;
  ASSERT_EQ(Run(DemoSetupPath(), {"/AUTO", "/SILENT"}, "", &output), 0) << output;
  ASSERT_TRUE(fs::exists(destination_ + "ORVI"));
  // The uninstaller runs a copy of itself from the temporary folder, which
  // shows the wizard: the progress page, then its finish page.
  ASSERT_EQ(Run(destination_ + "Uninstall", {},
                "answer:English; page:PageUninstallParams; click:bNext; page:PageUninstallFinish; click:bNext",
                &output),
            0)
      << output;
  EXPECT_NE(output.find("wizard script: page:PageUninstallFinish"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(destination_ + "ORVI"));
  EXPECT_FALSE(fs::exists(destination_ + "Uninstall.dat"));
  EXPECT_EQ(RegistryEntries(sandbox_).find("ORVI"), std::string::npos) << RegistryEntries(sandbox_);
  EXPECT_EQ(PlayerStarts(), "");
}

TEST_F(Wizard, UpdateOverAnEarlierInstallation) {
  std::string output;
  ASSERT_EQ(Run(DemoSetupPath(), {"/AUTO", "/SILENT"}, "", &output), 0) << output;
  // Make it an earlier version.
  std::string config = ReadTextFile(destination_ + "ORVI.ini");
  config.replace(config.find("Version=5300"), 12, "Version=5010");
  WriteFileBytes(destination_ + "ORVI.ini", config);

  // An update: no integration page.
  ASSERT_EQ(Run(DemoSetupPath(), {},
                std::string("answer:English;") + kToSetupPage +
                    "click:bNext; page:PageReadyToInstall; click:bNext; page:PageFinish; click:CB2; click:bNext",
                &output),
            0)
      << output;
  EXPECT_EQ(IniValue(ReadTextFile(destination_ + "ORVI.ini"), "System", "Version"), "5300");
  ASSERT_TRUE(fs::exists(destination_ + "!Backup")) << "the earlier installation was backed up";
  EXPECT_EQ(std::distance(fs::directory_iterator(destination_ + "!Backup"), fs::directory_iterator()), 1);
  const std::string started = PlayerStarts();
  EXPECT_EQ(std::count(started.begin(), started.end(), '\n'), 1) << started;
}

TEST_F(Wizard, FailedRunShowsItsErrorsAndStartsNothing) {
  sandbox_.WriteFile("/opt/ORVI", "a file where the destination should be");
  std::string output;
  EXPECT_EQ(Run(DemoSetupPath(), {},
                std::string("answer:English;") + kToSetupPage +
                    "click:bNext; page:PageIntegration; click:bNext; page:PageReadyToInstall; click:bNext;"
                    "page:PageFinish; expect:L1=The installation did not succeed; click:bNext",
                &output),
            1)
      << output;
  EXPECT_NE(output.find("wizard script: expect:L1=The installation did not succeed"), std::string::npos) << output;
  EXPECT_EQ(PlayerStarts(), "") << "nothing is started after a failed run";
}

TEST_F(Wizard, WithoutADisplayTheSetupNamesTheUnattendedSwitches) {
  std::string output;
  EXPECT_EQ(Run(DemoSetupPath(), {}, "", &output, {"QT_QPA_PLATFORM="}), 1);
  EXPECT_NE(output.find("No display is available"), std::string::npos) << output;
  EXPECT_NE(output.find("/AUTO[=folder] /SILENT"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(destination_));
}

}  // namespace
}  // namespace orvi::test
