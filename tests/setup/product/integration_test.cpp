// The integration actions: the helper program's switches, the shortcuts of
// the script, and their summaries.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "kel/base/file_system.h"
#include "kel/base/shell.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/process.h"
#include "kel/platform/users.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/core/summary.h"
#include "setup/product/actions.h"
#include "support/session_fixture.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using orvi::test::ScopedEnv;
using orvi::test::SessionFixture;
using orvi::test::SessionSpec;

// A program that appends its arguments, joined by blanks, to <name>.log
// beside itself, as the demo product's Elevator does.
std::string WriteRecorder(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  orvi::test::WriteFileBytes(path, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$0.log\"\n");
  kel::platform::SetExecutable(path, true);
  return path + ".log";
}

std::string ReadIfExists(const std::string& path) { return fs::exists(path) ? orvi::test::ReadFileBytes(path) : ""; }

// --- Integration through the helper -----------------------------------------------

TEST(IntegrateAction, SwitchesFollowOptionsSystemVersionAndAuto) {
  const struct {
    const char* params;
    const char* osVersion;  // nullptr: the system's answer (Windows 10)
    const char* options;    // lines of [Integration]
    const char* switches;   // the helper's arguments; nullptr: not run
  } rows[] = {
      {"", nullptr, "", "/REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2 /REG_UI"},
      {"", nullptr, "IntegrateToWindows=0\r\nRegisterContextMenu=0\r\n", "/REG=R2 /REG_UI"},
      {"/AUTO=/srv/ORVI", nullptr, "IntegrateToWindows=0\r\nRegisterContextMenu=0\r\n", "/REG=R2"},
      {"", "6.1", "IntegrateToWindows=0\r\nRegisterContextMenu=0\r\n", "/REG=R2"},
      {"", "6.2", "IntegrateToWindows=0\r\nRegisterContextMenu=0\r\n", "/REG=R2 /REG_UI"},
      {"", nullptr, "IntegrateToWindows=1\r\nRegisterContextMenu=0\r\nAssociateWithFiles=0\r\n",
       "/REG=L1 /REG=D1 /REG=R1"},
      {"/AUTO=/srv/ORVI", nullptr, "AssociateWithFiles=0\r\n", "/REG=L1 /REG=D1 /REG=R1 /REG=M1"},
      {"", nullptr, "IntegrateToWindows=0\r\nRegisterContextMenu=0\r\nAssociateWithFiles=0\r\n", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.params << " | " << (row.osVersion ? row.osVersion : "10") << " | "
                                    << row.options);
    ScopedEnv os(kel::platform::kOsVersionVariable, row.osVersion);
    SessionSpec spec;
    spec.params = row.params;
    SessionFixture fixture(spec);
    TSetup& session = fixture.Session();
    session.Settings().WriteSection("Integration", row.options);
    const std::string log = WriteRecorder(session.DestPath() + "Elevator");
    TSetupActionIntegrate().Run();
    EXPECT_EQ(ReadIfExists(log), row.switches ? std::string(row.switches) + "\n" : "");
  }
}

// A folder with blanks whose first part names another program: the helper,
// not that program, is run. Without the helper nothing is run.
TEST(IntegrateAction, RunsTheHelperOfTheDestinationOnly) {
  SessionSpec spec;
  spec.params = "/AUTO=/srv/ORVI";
  SessionFixture fixture(spec);
  TSetup& session = fixture.Session();
  const std::string decoyLog = WriteRecorder(fixture.Machine() / "/srv/ORVI/ORVI");
  session.SetDestination("/srv/ORVI/ORVI backup");
  ASSERT_EQ(session.DestPath(), fixture.Machine() / "/srv/ORVI/ORVI backup/");
  TSetupActionIntegrate().Run();  // no helper there yet
  const std::string log = WriteRecorder(session.DestPath() + "Elevator");
  TSetupActionIntegrate().Run();
  EXPECT_EQ(ReadIfExists(log), "/REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2\n");
  EXPECT_EQ(ReadIfExists(decoyLog), "");
}

// --- Shortcuts --------------------------------------------------------------------

const char* const kShortcuts =
    "<Shortcuts>\n"
    "<File name=\"$DESKTOPORVI.desktop\">$DESTORVI</File>\n"
    "<File name=\"$STARTMENUORVI/ORVI.desktop\">$DESTORVI</File>\n"
    "<File name=\"$STARTMENUORVI/Release Notes.desktop\">$DESTReadme.txt</File>\n"
    "<File name=\"$DESTLinks/$desktop.desktop\">$DESTORVI</File>\n"
    "<File name=\"$desktopDir/ORVI.desktop\">$DESTORVI</File>\n"
    "<File name=\"$STARTMENUGone/Missing.desktop\">$DESTMissing</File>\n"
    "</Shortcuts>";

// A session over kShortcuts with the player and its notes in the destination
// (/srv, outside the program folders, so that the portable flag holds). The
// current folder is an empty folder of the sandbox: entries whose path stays
// relative (an unknown variable) must not land there.
class ShortcutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SessionSpec spec;
    spec.params = "/AUTO=/srv/ORVI";
    spec.installXml = orvi::test::MinimalInstallXml(kShortcuts);
    fixture_.emplace(spec);
    TSetup& session = fixture_->Session();
    const TSetupResources& resources = session.Resources();
    for (const std::string* folder : {&resources.CommonDesktopPath, &resources.CommonProgramsPath, &session.DestPath()})
      ASSERT_EQ(folder->rfind(fixture_->Machine().Root() + "/", 0), 0u) << *folder << " is outside the sandbox";
    // The user's home exists; the desktop folder in it is the action's to
    // make.
    fs::create_directories(kel::platform::InvokingUser().home);
    player_ = session.DestPath() + "ORVI";
    WriteRecorder(player_);
    notes_ = fixture_->Machine().WriteFile("/srv/ORVI/Readme.txt", "notes");
    links_ = {
        {"desktop", resources.CommonDesktopPath + "ORVI.desktop"},
        {"menu", resources.CommonProgramsPath + "ORVI/ORVI.desktop"},
        {"notes", resources.CommonProgramsPath + "ORVI/Release Notes.desktop"},
        {"lower", session.DestPath() + "Links/$desktop.desktop"},
    };
    cwd_ = fixture_->Machine() / "/cwd";
    fs::create_directories(cwd_);
    oldCwd_ = kel::platform::CurrentDirectory();
    ASSERT_TRUE(kel::platform::SetCurrentDirectory(cwd_));
  }
  void TearDown() override {
    if (!oldCwd_.empty()) {
      EXPECT_TRUE(fs::is_empty(cwd_)) << "a shortcut was written to the current folder";
      kel::platform::SetCurrentDirectory(oldCwd_);
    }
  }

  TSetup& Session() { return fixture_->Session(); }

  std::optional<SessionFixture> fixture_;
  std::string player_, notes_, cwd_, oldCwd_;
  std::map<std::string, std::string> links_;
};

TEST_F(ShortcutsTest, WrittenForAllowedRootsAndPrograms) {
  const struct {
    bool portable;
    const char* osVersion;
    const char* options;
    std::vector<std::string> written;
  } rows[] = {
      {false, nullptr, "", {"desktop", "lower", "menu"}},
      {false, "6.1", "", {"desktop", "lower", "menu", "notes"}},
      {true, nullptr, "", {}},
      {true, nullptr, "ShortcutDesktop=1\r\n", {"desktop", "lower"}},
      {false, nullptr, "ShortcutDesktop=0\r\n", {"menu"}},
      {false, "6.1", "ShortcutStartMenu=0\r\n", {"desktop", "lower"}},
  };
  const std::string validator = kel::platform::FindExecutable("desktop-file-validate");

  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.portable << " | " << (row.osVersion ? row.osVersion : "10") << " | "
                                    << row.options);
    ScopedEnv os(kel::platform::kOsVersionVariable, row.osVersion);
    Session().SetFlag(sfPORTABLE, row.portable);
    Session().Settings().WriteSection("Integration", row.options);
    for (const auto& [name, link] : links_) fs::remove(link);

    TSetupActionShortcuts action;
    std::vector<int> progress;
    action.OnProgress = [&](TSetupAction& a) { progress.push_back(a.Progress()); };
    action.Run();

    std::vector<std::string> written;
    for (const auto& [name, link] : links_) {
      if (!fs::exists(link)) continue;
      written.push_back(name);
      EXPECT_EQ(kel::kelShellGetLinkTarget(link), name == "notes" ? notes_ : player_) << name;
      if (!validator.empty()) {
        EXPECT_EQ(kel::platform::RunProgram(validator, {link}), 0) << link;
      }
    }
    EXPECT_EQ(written, row.written);
    EXPECT_EQ(progress, (std::vector<int>{16, 33, 50, 66, 83, 100}));
    EXPECT_FALSE(fs::exists(Session().Resources().CommonProgramsPath + "Gone")) << "no folder for a missing target";
    EXPECT_TRUE(fs::is_empty(cwd_));
  }
}

TEST_F(ShortcutsTest, ExistingShortcutToTheSameTargetIsLeftAlone) {
  const std::string other = Session().DestPath() + "Other";
  WriteRecorder(other);
  for (const char* name : {"desktop", "menu"}) fs::create_directories(fs::path(links_[name]).parent_path());
  ASSERT_TRUE(kel::kelShellCreateLink(links_["desktop"], player_));
  ASSERT_TRUE(kel::kelShellCreateLink(links_["menu"], other));
  const auto past = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
  fs::last_write_time(links_["desktop"], past);
  fs::last_write_time(links_["menu"], past);

  TSetupActionShortcuts().Run();
  EXPECT_EQ(fs::last_write_time(links_["desktop"]), past);
  EXPECT_NE(fs::last_write_time(links_["menu"]), past);
  EXPECT_EQ(kel::kelShellGetLinkTarget(links_["menu"]), player_);
}

// --- Summaries ------------------------------------------------------------------------

TEST(IntegrationSummaries, ListTheChosenOptions) {
  SessionSpec spec;
  spec.params = "/AUTO=/srv/ORVI";
  spec.englishLng = orvi::test::MinimalEnglishLng() +
                    "[PageIntegration]\r\nLB1=Shortcuts:\r\nLB2=Integration:\r\nCB1=desktop\r\nCB2=menu\r\n"
                    "CB3=files\r\nCB4=system\r\nCB5=context menu\r\n";
  SessionFixture fixture(spec);
  const struct {
    bool portable;
    const char* options;
    const char* integration;
    const char* shortcuts;
  } rows[] = {
      {false, "", "Integration:\r\nsystem\r\ncontext menu\r\nfiles\r\n", "Shortcuts:\r\ndesktop\r\nmenu\r\n"},
      {true, "", "Integration:\r\nsystem\r\ncontext menu\r\nfiles\r\n", ""},
      {false, "IntegrateToWindows=0\r\nAssociateWithFiles=0\r\nShortcutDesktop=0\r\n",
       "Integration:\r\ncontext menu\r\n", "Shortcuts:\r\nmenu\r\n"},
      {true, "RegisterContextMenu=0\r\nShortcutStartMenu=1\r\n", "Integration:\r\nsystem\r\nfiles\r\n",
       "Shortcuts:\r\nmenu\r\n"},
  };
  for (const auto& row : rows) {
    fixture.Session().SetFlag(sfPORTABLE, row.portable);
    fixture.Session().Settings().WriteSection("Integration", row.options);
    TSetupSummaryBuilder integration, shortcuts;
    TSetupActionIntegrate().Summarize(integration);
    TSetupActionShortcuts().Summarize(shortcuts);
    EXPECT_EQ(integration.ToString(), row.integration) << row.options;
    EXPECT_EQ(shortcuts.ToString(), row.shortcuts) << row.options;
  }
}

}  // namespace
}  // namespace setup
