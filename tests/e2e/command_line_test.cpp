// End-to-end tests of the command line: destinations are taken as typed,
// and arguments the Setup does not read stop it before anything is done.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "setup/core/app_repo.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace orvi::test {
namespace {

namespace fs = std::filesystem;

RunOptions English(std::vector<std::string> environment = {}) {
  RunOptions options;
  options.environment = {"LANG=en_US.UTF-8", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "DISPLAY="};
  options.environment.insert(options.environment.end(), environment.begin(), environment.end());
  return options;
}

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(fs::exists(DemoSetupPath())) << "build the target demo_setup first"; }
};

// A relative folder lies below the current folder, on the sandboxed machine
// like any other, and is registered so; a folder the rules of file names
// change is installed changed, and the user is told before the run.
TEST_F(CommandLine, DestinationsTakenAsTyped) {
  TempDir work;
  fs::create_directories(work / "cwd");
  const std::string cwd = fs::canonical(work / "cwd").string();
  const struct {
    std::string argument;
    std::string dest;  // on the machine
    bool told;
  } rows[] = {
      {"/AUTO=relorvi", cwd + "/relorvi/", false},
      {"/AUTO=My Folder", cwd + "/My Folder/", false},
      {"/AUTO=/opt/Media: ORVI?", "/opt/Media ORVI/", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.argument);
    Sandbox sandbox;
    sandbox.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
    RunOptions options = English();
    options.workingDirectory = cwd;
    std::string output;
    ASSERT_EQ(RunSetup(sandbox, {row.argument, "/SILENT"}, &output, options), 0) << output;

    const std::string dest = sandbox / row.dest;
    EXPECT_TRUE(fs::exists(dest + "ORVI"));
    EXPECT_TRUE(fs::exists(dest + "Uninstall.dat"));
    std::string registered;
    EXPECT_TRUE(setup::TSetupAppRepo::FindInstallPath("ORVI", registered));
    EXPECT_EQ(registered, dest);
    EXPECT_TRUE(fs::is_empty(cwd)) << "nothing outside the sandbox";
    const std::string notice = "was changed to \"" + dest + "\"";
    EXPECT_EQ(output.find(notice) != std::string::npos, row.told) << output;
  }
}

// On Linux a path looks like a switch. Whatever the Setup would not read
// stops it with a message that names it and shows the right form, before
// anything is done: not even the rights are asked for.
TEST_F(CommandLine, UnknownArgumentsStopBeforeAnythingIsDone) {
  Sandbox sandbox;
  sandbox.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
  TempDir tools;
  const std::string elevatorLog = tools / "pkexec.log";
  const std::string standIn = tools.WriteFile("pkexec", "#!/bin/sh\necho \"$*\" >> '" + elevatorLog + "'\n");
  chmod(standIn.c_str(), 0755);
  const RunOptions options = English({"ORVI_SETUP_SANDBOX_ELEVATED=0", "ORVI_SETUP_PKEXEC=" + standIn});
  const std::vector<std::string> machine = NamesIn(sandbox.Root());

  const struct {
    std::vector<std::string> arguments;
    std::string message;
  } rows[] = {
      {{"/AUTO", "/SILENT", "/opt/X"}, "Unknown argument \"/opt/X\". A folder is given as the value of /AUTO, "
                                       "quoted when it holds spaces: /AUTO=/opt/X"},
      {{"/AUTO", "/SILENT", "My Folder"}, "Unknown argument \"My Folder\". A folder is given as the value of /AUTO, "
                                          "quoted when it holds spaces: /AUTO=\"My Folder\""},
      {{"/SILNET", "/AUTO"}, "Unknown argument \"/SILNET\". The switches are /AUTO[=folder], /SILENT, /PORTABLE, "
                             "/UPDATE, /RUN, /NOBACKUP and /LOG[=file], the uninstaller's also /REMOVEBACKUPS and "
                             "/REMOVECONTENT; --help tells what they do."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments.back());
    std::string output;
    EXPECT_EQ(RunSetup(sandbox, row.arguments, &output, options), 1);
    EXPECT_EQ(output, "Setup: " + row.message + "\n");
  }
  EXPECT_FALSE(fs::exists(elevatorLog));
  EXPECT_EQ(NamesIn(sandbox.Root()), machine) << "the machine is as it was";
}

}  // namespace
}  // namespace orvi::test
