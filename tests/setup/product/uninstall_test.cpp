#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kel/base/shell.h"
#include "kel/platform/file_details.h"
#include "setup/core/app_repo.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/product/actions.h"
#include "support/fuzz.h"
#include "update_fixture.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using orvi::test::ProductSession;
using orvi::test::ReadFileBytes;
using orvi::test::TreeOf;
using Files = std::vector<std::string>;

// An uninstall log listing the entries.
std::string Log(const Files& entries, const std::string& count = "") {
  std::string text = "[Uninstall]\r\nCount=" + (count.empty() ? std::to_string(entries.size()) : count) + "\r\n";
  for (size_t i = 0; i < entries.size(); ++i) text += std::to_string(i) + "=" + entries[i] + "\r\n";
  return text;
}

// The uninstaller's session: its package holds the log; the destination is
// /opt/ORVI, as the relocated uninstaller is told.
struct Uninstaller {
  explicit Uninstaller(const std::string& log, const std::string& params = "/AUTO /SILENT")
      : s({params, 0, false, false, {{"Uninstall.ini", log}}}) {
    EXPECT_EQ(s.Session().Mode(), TSetupMode::Uninstall);
    s.Session().SetDestination("/opt/ORVI");
  }
  ProductSession s;
};

TEST(Uninstall, IntegrationIsUndone) {
  Uninstaller u(Log({}));
  ProductSession& s = u.s;
  fs::create_directories(s.Dest() + "System");
  fs::copy_file(ORVI_SHELL_MENU_TESTLIB_PATH, s.Dest() + "System/orvi_menu32.so");
  const std::string helper = s.WriteDest("Elevator", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/Elevator.log\"\n");
  fs::permissions(helper, fs::perms(0755));
  TSetupAppRepo::Register("ORVI", s.WriteDest("Uninstall", ""), "5.30", "", "");
  const std::string desktop = kel::kelShellGetSpecialFolder(kel::CSIDL_DESKTOP);
  const std::string menu = kel::kelShellGetSpecialFolder(kel::CSIDL_COMMON_PROGRAMS);
  s.Machine().WriteFile(desktop.substr(s.Machine().Root().size()) + "ORVI.desktop", "[Desktop Entry]\n");
  s.Machine().WriteFile(menu.substr(s.Machine().Root().size()) + "ORVI/ORVI.desktop", "[Desktop Entry]\n");
  orvi::test::TempDir scratch;
  orvi::test::ScopedEnv menuLog("ORVI_TEST_SHELL_MENU_LOG", (scratch / "menu.log").c_str());
  std::vector<int> progress;

  TSetupActionUninstallIntegration action;
  action.OnProgress = [&](TSetupAction& a) { progress.push_back(a.Progress()); };
  action.Execute();

  EXPECT_EQ(progress, (std::vector<int>{33, 66, 100}));
  EXPECT_EQ(ReadFileBytes(scratch / "menu.log"), "DllUnregisterServer\n");
  EXPECT_EQ(ReadFileBytes(s.Dest() + "Elevator.log"), "/REG=U\n");
  EXPECT_EQ(TreeOf(s.Dest()), (Files{"Elevator", "Elevator.log", "System/", "Uninstall"}));
  EXPECT_TRUE(TreeOf(desktop).empty());
  EXPECT_TRUE(TreeOf(menu).empty());
  std::string folder;
  EXPECT_FALSE(TSetupAppRepo::FindInstallPath("ORVI", folder));
}

// The logged files go, folders left empty go; the options decide about the
// backups, the portable profile, the whole destination and the users'
// profile folders.
TEST(Uninstall, FilesAndFoldersByOption) {
  const struct {
    const char* name;
    std::optional<bool> removeBackups;  // unset: the default of an automatic run
    bool removeContent;
    bool userMode;
    Files destinationLeft;
    bool usersProfilesLeft;
  } rows[] = {
      {"nothing more", false, false, true, {"!Backup/old.zip", "ORVI.ini", "Profile/ORVI.ini", "keep.txt"}, true},
      {"automatic", std::nullopt, false, true, {"ORVI.ini", "Profile/ORVI.ini", "keep.txt"}, true},
      {"content", false, true, true, {"!Backup/old.zip", "ORVI.ini", "keep.txt"}, false},
      {"content and backups", true, true, false, {}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Uninstaller u(Log({"ORVI", "Plugins/a.so", "Plugins/Visual/b.so", "Uninstall.dat", "Uninstall"}));
    ProductSession& s = u.s;
    for (const char* file : {"ORVI", "Plugins/a.so", "Plugins/Visual/b.so", "Uninstall.dat", "Uninstall", "keep.txt",
                             "!Backup/old.zip", "Profile/ORVI.ini"})
      s.WriteDest(file, file);
    s.WriteDest("ORVI.ini", row.userMode ? "[System]\r\nUserMode=1\r\n" : "[System]\r\nUserMode=0\r\n");
    fs::create_directories(s.Dest() + "Plugins/Empty");
    s.Machine().WriteFile("/home/alice/.config/ORVI/ORVI.ini", "alice");
    s.Machine().WriteFile("/home/bob/.config/ORVI/ORVI.ini", "bob");
    if (row.removeBackups) s.Session().Settings().WriteBool("Common", "RemoveBackups", *row.removeBackups);
    s.Session().Settings().WriteBool("Common", "RemoveContent", row.removeContent);

    TSetupActionUninstallFiles().Execute();

    EXPECT_EQ(TreeOf(s.Dest()), row.destinationLeft);
    EXPECT_EQ(fs::exists(s.Dest()), !row.destinationLeft.empty());
    EXPECT_EQ(fs::exists(s / "/home/alice/.config/ORVI/ORVI.ini"), row.usersProfilesLeft);
    EXPECT_EQ(fs::exists(s / "/home/bob/.config/ORVI/ORVI.ini"), row.usersProfilesLeft);
  }
}

// Removing everything takes the installation's own folder, never a system
// folder: from an installation made into /opt itself (before such
// destinations were refused) only what it put there goes, and the other
// programs in /opt, even their empty folders, stay. Links are not followed.
TEST(Uninstall, RemoveEverythingKeepsSystemFolders) {
  const struct {
    const char* destination;
    bool ownFolder;
    Files left;  // of /opt
  } rows[] = {
      {"/opt/ORVI", true, {"Other/Empty/", "Other/other"}},
      {"/opt", false, {"Other/Empty/", "Other/other", "keep.txt"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.destination);
    orvi::test::TempDir outside;
    const std::string victim = outside.WriteFile("victim.txt", "not the player's");
    Uninstaller u(Log({"ORVI", "Plugins/a.so", "Plugins/Visual/b.so", "Uninstall.dat", "Uninstall"}));
    ProductSession& s = u.s;
    s.Session().SetDestination(row.destination);
    for (const char* file : {"ORVI", "Plugins/a.so", "Plugins/Visual/b.so", "Uninstall.dat", "Uninstall", "keep.txt",
                             "!Backup/old.zip", "Profile/ORVI.ini"})
      s.WriteDest(file, file);
    fs::create_directory_symlink(outside.Path(), s.Dest() + "Link");
    s.Machine().WriteFile("/opt/Other/other", "another program");
    fs::create_directories(s / "/opt/Other/Empty");
    s.Session().Settings().WriteBool("Common", "RemoveBackups", true);
    s.Session().Settings().WriteBool("Common", "RemoveContent", true);

    TSetupActionUninstallFiles().Execute();

    // The link goes with the installation's own folder; in /opt it is
    // not the installation's.
    EXPECT_EQ(fs::is_symlink(s.Dest() + "Link"), !row.ownFolder);
    fs::remove(s.Dest() + "Link");
    EXPECT_EQ(TreeOf(s / "/opt"), row.left);
    EXPECT_EQ(ReadFileBytes(victim), "not the player's");
  }
}

// The users' player data is deleted through their homes: a folder of the
// way made a link to elsewhere leads nowhere.
TEST(Uninstall, UsersDataIsDeletedOnlyInTheirHomes) {
  Uninstaller u(Log({}));
  ProductSession& s = u.s;
  s.WriteDest("ORVI.ini", "[System]\r\nUserMode=1\r\n");
  orvi::test::TempDir victim;
  victim.WriteFile("ORVI/ORVI.ini", "someone else's");
  fs::create_directories(s / "/home/alice");
  fs::create_directory_symlink(victim.Path(), s / "/home/alice/.config");
  s.Machine().WriteFile("/home/bob/.config/ORVI/ORVI.ini", "bob");
  s.Session().Settings().WriteBool("Common", "RemoveContent", true);

  TSetupActionUninstallFiles().Execute();

  EXPECT_EQ(ReadFileBytes(victim / "ORVI/ORVI.ini"), "someone else's");
  EXPECT_FALSE(fs::exists(s / "/home/bob/.config/ORVI"));
}

// The log is outside data: entries that climb out of the destination or
// pass through a link to elsewhere are refused; an absolute entry is
// deleted only when nobody but the administrator can have written the log
// that was read (the installation's, or a relocated uninstaller's copy of
// it), and it is a path of the sandboxed machine.
TEST(Uninstall, LogEntriesCannotReachOutside) {
  enum Read { kInstalled, kCopy, kChangedCopy };
  const struct {
    const char* name;
    fs::perms folder;
    Read read;
    bool absoluteDeleted;
  } rows[] = {{"written by the administrator", fs::perms(0755), kInstalled, true},
              {"writable by others", fs::perms(0777), kInstalled, false},
              {"a copy of the administrator's", fs::perms(0755), kCopy, true},
              {"a copy of one writable by others", fs::perms(0777), kCopy, false},
              {"a copy that differs", fs::perms(0755), kChangedCopy, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    orvi::test::TempDir outside, relocated;  // beyond the sandboxed machine; the uninstaller's private folder
    const std::string victim = outside.WriteFile("victim.txt", "not the player's");
    const std::string written = "/usr/local/share/applications/orvi-open.desktop";
    Uninstaller u(Log({"ORVI", "../../etc/passwd", "Plugins/../../../etc/hosts", "Link/victim.txt",
                       "Plugins/Link/victim.txt", "", written, victim, "/Link/victim.txt", "Uninstall.dat"},
                      "2147483647"));
    ProductSession& s = u.s;
    s.Session().Settings().WriteBool("Common", "RemoveBackups", false);
    s.Machine().WriteFile("/etc/hosts", "hosts");
    s.Machine().WriteFile(written, "[Desktop Entry]\n");
    s.WriteDest("ORVI", "player");
    s.WriteDest("Uninstall.dat", "package");
    s.Session().Resources().ProductPackageFile =
        row.read == kInstalled ? s.Dest() + "Uninstall.dat"
                               : relocated.WriteFile("Uninstall.dat", row.read == kCopy ? "package" : "packag3");
    fs::create_directory_symlink(outside.Path(), s.Dest() + "Link");
    fs::create_directory_symlink(outside.Path(), s / "/Link");
    fs::create_directories(s.Dest() + "Plugins");
    fs::create_directory_symlink(outside.Path(), s.Dest() + "Plugins/Link");
    fs::permissions(s.Dest(), row.folder);
    fs::permissions(s.Dest() + "Uninstall.dat", fs::perms(0644));
    kel::platform::FileDetails details;
    ASSERT_TRUE(kel::platform::GetFileDetails(s.Dest() + "Uninstall.dat", details));
    if (row.absoluteDeleted && details.owner != 0) GTEST_SKIP() << "only root can write a trusted log";

    const Files expected = row.absoluteDeleted
                               ? Files{s.Dest() + "ORVI", s / written, s / victim, s.Dest() + "Uninstall.dat"}
                               : Files{s.Dest() + "ORVI", s.Dest() + "Uninstall.dat"};
    Files listed;
    const kel::TKELStringList files = TSetupActionUninstallFiles().CreateFileList();
    for (const auto& item : files.Items()) listed.push_back(item.text);
    EXPECT_EQ(listed, expected);

    TSetupActionUninstallFiles().Execute();
    EXPECT_EQ(ReadFileBytes(s / "/etc/hosts"), "hosts");
    EXPECT_TRUE(fs::exists(s / "/etc/passwd"));
    EXPECT_EQ(ReadFileBytes(victim), "not the player's");
    EXPECT_EQ(fs::exists(s / written), !row.absoluteDeleted);
    EXPECT_FALSE(fs::exists(s.Dest() + "ORVI"));
  }
}

// Whatever a log that anybody could have written holds (here: no trusted
// Uninstall.dat at all), every file the uninstaller would delete lies in the
// destination, without ".." parts.
TEST(Uninstall, FuzzLogEntries) {
  orvi::test::FuzzOptions options;
  options.seeds = {Log({"ORVI", "Plugins/a.so", "Uninstall.dat"}), Log({"../x", "/etc/passwd", "a/../../b"}),
                   "\xEF\xBB\xBF[Uninstall]\r\nCount=3\r\n1=a\\..\\..\\b\r\n0=/\r\n2=..\r\n"};
  options.dictionary = {"..", "/", "\\", "Count=", "[Uninstall]", "\r\n", "0=", "1=", "./"};
  options.maxLength = 512;
  orvi::test::RunFuzzTarget(
      "uninstall log entries",
      [](std::string_view log) {
        Uninstaller u{std::string(log)};
        const std::string destination = u.s.Dest();
        const kel::TKELStringList files = TSetupActionUninstallFiles().CreateFileList();
        for (const auto& item : files.Items()) {
          const std::string& path = item.text;
          ASSERT_TRUE(path.starts_with(destination)) << path;
          EXPECT_EQ(("/" + path.substr(destination.size()) + "/").find("/../"), std::string::npos) << path;
        }
      },
      options);
}

}  // namespace
}  // namespace setup
