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

}  // namespace
}  // namespace setup
