#include "setup/core/switches.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kel/base/command_line.h"
#include "setup/core/errors.h"

namespace setup {
namespace {

// The parameter text of a process started with these arguments.
std::string Params(const std::vector<std::string>& arguments) { return kel::kelJoinCommandLine(arguments); }

TEST(CheckCommandLine, AcceptsTheSwitchesOfTheProgramAndItsCopies) {
  const std::vector<std::string> accepted[] = {
      {},
      {"/AUTO", "/SILENT"},
      {"-auto=/opt/X", "/Silent"},
      {"/AUTO=/opt/My Apps/ORVI", "/PORTABLE", "/NOBACKUP", "/SILENT"},
      {"/AUTO", "/UPDATE", "/RUN"},
      {"/AUTO=a;b"},
      {"/AUTO", "relorvi"},
      {"/AUTO", "My", "Folder", "/SILENT"},
      {"/AUTO", ""},
      {"/SKIPUAC=4711", "/AUTO", "/SILENT"},
      {"/PATH=/opt/My Apps/ORVI/", "/AUTO", "/SILENT"},
      {"/AUTO", "/SILENT", "/LOG"},
      {"/LOG=/var/log/orvi setup.log", "/AUTO"},
      {"/AUTO", "/LOG", "my", "run.log"},
      {"/AUTO", "/SILENT", "/RemoveBackups", "-REMOVECONTENT"},
  };
  for (const auto& arguments : accepted) EXPECT_NO_THROW(CheckCommandLine(Params(arguments))) << Params(arguments);
}

// The message names the argument and shows the form the program reads.
TEST(CheckCommandLine, RefusesWhatItWouldIgnore) {
  const struct {
    std::vector<std::string> arguments;
    std::string named;
    std::string form;
  } rows[] = {
      {{"/AUTO", "/SILENT", "/opt/X"}, "\"/opt/X\"", "/AUTO=/opt/X"},
      {{"/AUTO", "/SILENT", "relorvi"}, "\"relorvi\"", "/AUTO=relorvi"},
      {{"/AUTO", "/SILENT", "My Folder"}, "\"My Folder\"", "/AUTO=\"My Folder\""},
      {{"relorvi", "/AUTO"}, "\"relorvi\"", "/AUTO=relorvi"},
      {{"/AUTO=/opt/My", "Folder"}, "\"Folder\"", "/AUTO=Folder"},
      {{"/SILNET", "/AUTO"}, "\"/SILNET\"", "/AUTO[=folder], /SILENT,"},
      {{"/AUTO", "-x"}, "\"-x\"", "/AUTO[=folder], /SILENT,"},
      {{"/AUTO", "/SILENT=no"}, "\"/SILENT=no\"", "/AUTO[=folder], /SILENT,"},
      {{"/AUTO", "/REMOVECONTENT=1"}, "\"/REMOVECONTENT=1\"", "/REMOVEBACKUPS and /REMOVECONTENT"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Params(row.arguments));
    try {
      CheckCommandLine(Params(row.arguments));
      ADD_FAILURE() << "accepted";
    } catch (const EInstallerMysteryError& e) {
      EXPECT_NE(e.Message().find("Unknown argument " + row.named), std::string::npos) << e.Message();
      EXPECT_NE(e.Message().find(row.form), std::string::npos) << e.Message();
    }
  }
}

TEST(IsHelpRequest, AnyArgumentMayAskForHelp) {
  const struct {
    std::vector<std::string> arguments;
    bool help;
  } rows[] = {
      {{"--help"}, true},        {{"-h"}, true},          {{"/?"}, true},
      {{"/AUTO", "-H"}, true},   {{"--HELP", "/AUTO"}, true},
      {{}, false},               {{"/AUTO", "/SILENT"}, false},
      {{"/h"}, false},           {{"/AUTO=--help"}, false},
      {{"/LOG=-h"}, false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsHelpRequest(Params(row.arguments)), row.help) << Params(row.arguments);
}

// Copies of the program get the log's full path in place of what the user
// wrote; the rest of the command line reads as before.
TEST(ReplaceSwitch, WritesTheSwitchWithItsValueOnce) {
  const struct {
    std::vector<std::string> arguments;
    std::string value;
    std::vector<std::string> expected;
  } rows[] = {
      {{"/AUTO", "/LOG", "/SILENT"}, "/tmp/My Logs/a.log", {"/AUTO", "/LOG=/tmp/My Logs/a.log", "/SILENT"}},
      {{"/LOG", "my", "run.log", "/AUTO"}, "/x.log", {"/LOG=/x.log", "/AUTO"}},
      {{"-log=rel.log", "/AUTO", "/Log=second"}, "/x.log", {"/LOG=/x.log", "/AUTO"}},
      {{"/AUTO", "My", "Folder", "/LOG"}, "/x.log", {"/AUTO", "My", "Folder", "/LOG=/x.log"}},
      {{"/AUTO=/opt/A B", "/LOG=a.log", "/SILENT"}, "", {"/AUTO=/opt/A B", "/SILENT"}},
      {{"/AUTO", "/LOG", "a", "b"}, "", {"/AUTO"}},
      {{"/AUTO", "/SILENT"}, "/x.log", {"/AUTO", "/SILENT"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Params(row.arguments));
    const std::string replaced = ReplaceSwitch(Params(row.arguments), "LOG", row.value);
    EXPECT_EQ(kel::kelSplitCommandLine(replaced), row.expected) << replaced;
    // The value reads back whole, spaces and all.
    std::string value;
    if (kel::HasSwitch(replaced, "LOG", value)) {
      EXPECT_EQ(value, row.value);
    }
  }
}

}  // namespace
}  // namespace setup
