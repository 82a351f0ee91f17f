// End-to-end tests of installing: the built demo Setup runs in a sandbox
// machine, as a user would run it.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "kel/platform/process.h"
#include "kel/platform/users.h"
#include "setup/core/app_repo.h"
#include "support/e2e.h"

namespace orvi::test {
namespace {

namespace fs = std::filesystem;

std::string PayloadFile(const std::string& name) {
  return ReadFileBytes(std::string(ORVI_BINARY_DIR) + "/data/demo/payload/" + name);
}

// The shortcut files anywhere in the sandbox, relative to it.
std::vector<std::string> ShortcutsIn(const Sandbox& sandbox) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(sandbox.Root()))
    if (entry.is_regular_file() && entry.path().extension() == ".desktop")
      found.push_back(fs::relative(entry.path(), sandbox.Root()).string());
  std::sort(found.begin(), found.end());
  return found;
}

// The [Uninstall] section of the installation's log, line by line.
std::vector<std::string> UninstallLog(const Sandbox& sandbox, const std::string& destination) {
  TempDir out;
  std::string output;
  const int code = RunInSandbox(sandbox, BuiltProgram("tools/setup-pack/setup-pack"),
                                {"extract", destination + "Uninstall.dat", out.Path()}, &output);
  EXPECT_EQ(code, 0) << output;
  const std::string text = ReadTextFile(out / "Uninstall.ini");
  std::vector<std::string> lines;
  bool inSection = false;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with("[")) inSection = line == "[Uninstall]";
    else if (inSection && !line.empty()) lines.push_back(line);
  }
  return lines;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case hexadecimal digits.
bool IsRegistryGuid(const std::string& text) {
  const std::string shape = "{########-####-####-####-############}";
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    const char c = text[i];
    if (shape[i] == '#' ? !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) : c != shape[i]) return false;
  }
  return true;
}

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(DemoSetupPath())) << "build the target demo_setup first";
    sandbox_.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
  }

  // Runs the demo Setup; English unless the test says otherwise.
  int Setup(const std::vector<std::string>& args, std::string* output, std::vector<std::string> environment = {}) {
    RunOptions options;
    options.environment = {"LANG=en_US.UTF-8", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "DISPLAY="};
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    return RunSetup(sandbox_, args, output, options);
  }

  Sandbox sandbox_;
  const std::string destination_ = sandbox_ / "/opt/ORVI/";
};

TEST_F(Install, SilentInstallInEachLanguage) {
  const struct {
    const char* language;  // LANGUAGE, the user's list
    const char* lang;
    const char* readme;
    const char* defaultLang;
  } rows[] = {
      {"", "en_US.UTF-8", "Readme_EN.txt", "English.lng"},
      {"", "ru_RU.UTF-8", "Readme_RU.txt", "Russian.lng"},
      {"", "de_DE.UTF-8", "Readme_DE.txt", "Deutsch.lng"},
      {"", "de_CH.UTF-8", "Readme_DE.txt", "Deutsch.lng"},  // a regional German takes German
      {"fr:de", "en_US.UTF-8", "Readme_DE.txt", "Deutsch.lng"},  // no French: the next of the list
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.language) + " " + row.lang);
    Sandbox sandbox;
    fs::create_directories(kel::platform::InvokingUser().home);  // the desktop in it is the setup's to make
    RunOptions options;
    options.environment = {std::string("LANG=") + row.lang, std::string("LANGUAGE=") + row.language, "LC_ALL=",
                           "LC_MESSAGES=", "DISPLAY="};
    std::string output;
    ASSERT_EQ(RunSetup(sandbox, {"/AUTO", "/SILENT"}, &output, options), 0) << output;
    const std::string dest = sandbox / "/opt/ORVI/";

    // Every component of the language's family, and nothing of the others.
    EXPECT_EQ(TreeOf(dest), (std::vector<std::string>{
                                "Elevator", "Elevator.log", "History.txt", "Icons/audio.png", "Icons/orvi.png",
                                "Icons/playlist.png", "Icons/video.png", "ORVI", "ORVI.ini", "Plugins/orvi_flac.so",
                                "Plugins/orvi_opus.so", "Plugins/orvi_spectrum.so", "Readme.txt",
                                "Skins/Aurora.orvi-skin", "Skins/Graphite.orvi-skin", "System/Data/equalizer.ini",
                                "System/Data/stations.m3u8", "System/Encoders/encoders.ini", "Uninstall",
                                "Uninstall.dat"}));
    EXPECT_EQ(ReadFileBytes(dest + "Readme.txt"), PayloadFile(row.readme));
    EXPECT_EQ(ReadFileBytes(dest + "ORVI"), PayloadFile("ORVI"));
    EXPECT_TRUE(fs::status(dest + "Uninstall").permissions() != fs::perms::none &&
                (fs::status(dest + "Uninstall").permissions() & fs::perms::owner_exec) != fs::perms::none);

    // The log: the files in extraction order, then Uninstall.dat and
    // Uninstall; Count written after the first entry.
    const std::vector<std::string> log = UninstallLog(sandbox, dest);
    ASSERT_EQ(log.size(), 19u) << ::testing::PrintToString(log);
    EXPECT_EQ(log[0], "0=ORVI");
    EXPECT_EQ(log[1], "Count=18");
    EXPECT_EQ(log[2], "1=Elevator");
    EXPECT_EQ(log[3], "2=Plugins/orvi_flac.so");
    EXPECT_EQ(log[15], "14=History.txt");
    EXPECT_EQ(log[16], "15=Readme.txt");
    EXPECT_EQ(log[17], "16=Uninstall.dat");
    EXPECT_EQ(log[18], "17=Uninstall");

    // The registry entry points at the installation.
    std::string folder;  // the sandbox of this row is the one this process sees
    ASSERT_TRUE(setup::TSetupAppRepo::FindInstallPath("ORVI", folder));
    EXPECT_EQ(folder, dest);

    // ORVI.ini: exactly the four [System] keys.
    const std::string ini = ReadTextFile(dest + "ORVI.ini");
    EXPECT_TRUE(IsRegistryGuid(IniValue(ini, "System", "ID"))) << IniValue(ini, "System", "ID");
    EXPECT_EQ(IniValue(ini, "System", "DefaultLang"), row.defaultLang);
    EXPECT_EQ(IniValue(ini, "System", "UserMode"), "1");
    EXPECT_EQ(IniValue(ini, "System", "Version"), "5300");

    // Integration through Elevator, unattended (no /REG_UI), and shortcuts
    // to programs only (the release notes are a document).
    EXPECT_EQ(ReadFileBytes(dest + "Elevator.log"), "/REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2\n");
    const std::vector<std::string> shortcuts = ShortcutsIn(sandbox);
    ASSERT_EQ(shortcuts.size(), 3u) << ::testing::PrintToString(shortcuts);
    EXPECT_TRUE(shortcuts[0].ends_with("/Desktop/ORVI.desktop")) << shortcuts[0];
    EXPECT_EQ(shortcuts[1], "usr/local/share/applications/ORVI/ORVI.desktop");
    EXPECT_EQ(shortcuts[2], "usr/local/share/applications/ORVI/Uninstall ORVI.desktop");
    const std::string validator = kel::platform::FindExecutable("desktop-file-validate");
    for (const std::string& shortcut : shortcuts) {
      if (validator.empty()) break;
      std::string validation;
      EXPECT_EQ(RunInSandbox(sandbox, validator, {sandbox / ("/" + shortcut)}, &validation), 0) << validation;
    }
  }
}

TEST_F(Install, PortableCopyHasNoEntryNoIntegrationAndUserModeZero) {
  std::string output;
  ASSERT_EQ(Setup({"/AUTO=/srv/ORVI Portable", "/PORTABLE", "/SILENT"}, &output), 0) << output;
  const std::string dest = sandbox_ / "/srv/ORVI Portable/";
  EXPECT_TRUE(fs::exists(dest + "ORVI"));
  EXPECT_TRUE(fs::exists(dest + "Uninstall.dat"));
  EXPECT_FALSE(fs::exists(dest + "Elevator.log")) << "no integration";
  EXPECT_EQ(IniValue(ReadTextFile(dest + "ORVI.ini"), "System", "UserMode"), "0");
  EXPECT_TRUE(ShortcutsIn(sandbox_).empty());
  std::string folder;
  EXPECT_FALSE(setup::TSetupAppRepo::FindInstallPath("ORVI", folder)) << folder;
}

TEST_F(Install, RunningProgramIsReplaced) {
  // The player still runs from the destination: its file is replaced, and
  // the running copy goes on undisturbed.
  fs::create_directories(destination_);
  fs::copy_file(kel::platform::FindExecutable("sleep"), destination_ + "ORVI");  // a real program image
  const pid_t running = fork();
  if (running == 0) {
    execl((destination_ + "ORVI").c_str(), "ORVI", "30", nullptr);
    _exit(127);
  }
  usleep(200 * 1000);  // let it start

  std::string output;
  const int code = Setup({"/AUTO", "/SILENT"}, &output);
  const bool stillRunning = waitpid(running, nullptr, WNOHANG) == 0;
  kill(running, SIGKILL);
  waitpid(running, nullptr, 0);
  ASSERT_EQ(code, 0) << output;
  EXPECT_EQ(ReadFileBytes(destination_ + "ORVI"), PayloadFile("ORVI"));
  EXPECT_TRUE(stillRunning);
}

TEST_F(Install, UnwritableDestinationFailsWithTheLanguageText) {
  sandbox_.WriteFile("/srv/blocker", "a file where a folder should be");
  std::string output;
  EXPECT_EQ(Setup({"/AUTO=/srv/blocker/ORVI", "/SILENT"}, &output), 1);
  EXPECT_NE(output.find("Cannot create the folder \"" + sandbox_.Root() + "/srv/blocker/ORVI/"), std::string::npos)
      << output;
  std::string folder;
  EXPECT_FALSE(setup::TSetupAppRepo::FindInstallPath("ORVI", folder));
}

TEST_F(Install, MissingPackageFileStopsTheRunWithItsName) {
  // A Setup whose script names a file that neither package holds.
  TempDir work;
  const std::string pack = BuiltProgram("tools/setup-pack/setup-pack");
  std::string output;
  ASSERT_EQ(RunInSandbox(sandbox_, pack, {"extract", std::string(ORVI_BINARY_DIR) + "/demo/SETUP.dat", work / "setup"},
                         &output),
            0)
      << output;
  std::string script = ReadFileBytes(work / "setup/Install.xml");
  script.replace(script.find("<Components>"), 12, "<Components><File name=\"$DESTdata/Missing.bin\"/>");
  WriteFileBytes(work / "setup/Install.xml", script);
  ASSERT_EQ(RunInSandbox(sandbox_, pack, {"create", work / "SETUP.dat", work / "setup"}, &output), 0) << output;
  ASSERT_EQ(RunInSandbox(sandbox_, pack,
                         {"attach", BuiltProgram("src/setup/program/Setup"), work / "Setup", "--setup",
                          work / "SETUP.dat", "--product", std::string(ORVI_BINARY_DIR) + "/demo/PRODUCT.dat"},
                         &output),
            0)
      << output;

  RunOptions options;
  options.environment = {"LANG=en_US.UTF-8", "DISPLAY="};
  EXPECT_EQ(RunInSandbox(sandbox_, work / "Setup", {"/AUTO", "/SILENT"}, &output, options), 1);
  EXPECT_NE(output.find(destination_ + "data/Missing.bin"), std::string::npos) << output;
  EXPECT_NE(output.find("Cannot locate \"Missing.bin\" file in setup archive"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(destination_ + "Uninstall.dat")) << "no uninstall data after a failed extraction";
}

// The elevated relaunch: a process without the rights starts itself through
// the elevation program (here a stand-in) with /SKIPUAC=<its server>, and
// opens the programs the elevated copy asks for.
TEST_F(Install, RelaunchElevatedAndOpenAsTheUser) {
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;  // an installation to update

  TempDir tools;
  const std::string elevatorLog = tools / "pkexec.log";
  // The player records its starts here; the elevated child keeps none of
  // the user's other variables, so only a player the unelevated parent
  // started as the user records itself.
  const std::string playerLog = tools / "orvi.log";
  const std::string standIn = tools.WriteFile(
      "pkexec", "#!/bin/sh\necho \"ppid=$PPID $*\" >> '" + elevatorLog +
                    "'\n[ -n \"$REFUSE\" ] && exit 126\nORVI_SETUP_SANDBOX_ELEVATED=1 exec \"$@\"\n");
  chmod(standIn.c_str(), 0755);
  const std::vector<std::string> environment = {"ORVI_SETUP_SANDBOX_ELEVATED=0", "ORVI_SETUP_PKEXEC=" + standIn,
                                                "ORVI_DEMO_LOG=" + playerLog};

  // /AUTO /UPDATE /RUN: the post-installation programs run by default.
  ASSERT_EQ(Setup({"/AUTO", "/UPDATE", "/RUN"}, &output, environment), 0) << output;
  // One start of the elevation program, by the parent, asking to run this
  // Setup with /SKIPUAC=<the parent's server> and the parameters it got.
  const std::string relaunch = ReadFileBytes(elevatorLog);
  ASSERT_TRUE(relaunch.starts_with("ppid=") && relaunch.ends_with(" /AUTO /UPDATE /RUN\n")) << relaunch;
  const std::string parent = relaunch.substr(5, relaunch.find(' ') - 5);
  EXPECT_NE(relaunch.find(DemoSetupPath() + " /SKIPUAC=" + parent + " /AUTO"), std::string::npos)
      << "the server is the process that asked for the rights: " << relaunch;
  // The player inherits the test's output pipe, which is read to its end:
  // its start record is complete once Setup's output is.
  const std::string started = ReadFileBytes(playerLog);
  EXPECT_EQ(std::count(started.begin(), started.end(), '\n'), 1)
      << "the unelevated parent started the player once: " << started;

  // A refused prompt ends quietly.
  std::remove(elevatorLog.c_str());
  std::vector<std::string> refusing = environment;
  refusing.push_back("REFUSE=1");
  EXPECT_EQ(Setup({"/AUTO", "/SILENT"}, &output, refusing), 3);
  EXPECT_EQ(output, "");
}

TEST_F(Install, UninstallerRelocatesItselfAndRefusesToLoop) {
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;

  // Started in place, the uninstaller runs a copy from its private temporary
  // folder, which removes the installation, and reports its outcome.
  ASSERT_EQ(RunInSandbox(sandbox_, destination_ + "Uninstall", {"/AUTO", "/SILENT"}, &output), 0) << output;
  EXPECT_FALSE(fs::exists(destination_ + "ORVI"));
  EXPECT_FALSE(fs::exists(destination_ + "Uninstall"));
  std::vector<std::string> copies;
  for (const auto& entry : fs::recursive_directory_iterator(sandbox_ / "/tmp"))
    if (entry.path().filename() == "Uninstall") copies.push_back(entry.path().string());
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_TRUE(fs::exists(fs::path(copies[0]).parent_path() / "Uninstall.dat"));

  // The copy started again without /PATH would copy itself for ever: it
  // refuses instead.
  EXPECT_EQ(RunInSandbox(sandbox_, copies[0], {"/AUTO", "/SILENT"}, &output), 1);
  EXPECT_NE(output.find("Cannot start the Uninstaller"), std::string::npos) << output;
}

}  // namespace
}  // namespace orvi::test
