#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kel/base/error.h"
#include "kel/base/shell.h"
#include "kel/base/string_list.h"
#include "setup/core/app_repo.h"
#include "setup/product/actions.h"
#include "update_fixture.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using orvi::test::ProductSession;
using orvi::test::ReadFileBytes;
using orvi::test::TreeOf;
using Files = std::vector<std::string>;

TEST(UpdateTasks, RemoveShellMenuUnregistersWhatLoadsAndDeletesBoth) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 3600, true});
  fs::create_directories(s.Dest() + "System");
  fs::copy_file(ORVI_SHELL_MENU_TESTLIB_PATH, s.Dest() + "System/orvi_menu64.so");
  s.WriteDest("System/orvi_menu32.so", "a library of another architecture");
  orvi::test::TempDir scratch;
  orvi::test::ScopedEnv menuLog("ORVI_TEST_SHELL_MENU_LOG", (scratch / "menu.log").c_str());

  TSetupUpdateTaskRemoveShellMenu().Execute(nullptr);

  EXPECT_EQ(ReadFileBytes(scratch / "menu.log"), "DllUnregisterServer\n");
  EXPECT_EQ(TreeOf(s.Dest()), (Files{"System/"}));
  TSetupUpdateTaskRemoveShellMenu().Execute(nullptr);  // nothing left: nothing happens
}

TEST(UpdateTasks, RemoveUninstallInfoOnlyOfThisFolder) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 3600, true});
  TSetupAppRepo::Register("ORVI3", s.WriteDest("Uninstall", ""), "3.60", "", "");
  TSetupAppRepo::Register("ORVI", s.Machine().WriteFile("/opt/Other/Uninstall", ""), "4.80", "", "");

  TSetupUpdateTaskRemoveUninstallInfo().Execute(nullptr);

  std::string folder;
  EXPECT_FALSE(TSetupAppRepo::FindInstallPath("ORVI3", folder));
  ASSERT_TRUE(TSetupAppRepo::FindInstallPath("ORVI", folder)) << "an entry of another folder stays";
  EXPECT_EQ(folder, s / "/opt/Other/");
}

TEST(UpdateTasks, RemoveShortcutsOfTheVersion) {
  const struct {
    int installed;
    Files left;
  } rows[] = {
      {3600, {"Other.desktop"}},
      {4000, {"ORVI3.desktop", "ORVI3/", "Other.desktop"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.installed);
    ProductSession s({"/AUTO=/opt/ORVI /SILENT", row.installed, true});
    const std::string desktop = kel::kelShellGetSpecialFolder(kel::CSIDL_DESKTOP);
    const std::string menu = kel::kelShellGetSpecialFolder(kel::CSIDL_STARTMENU);
    const std::string commonMenu = kel::kelShellGetSpecialFolder(kel::CSIDL_COMMON_PROGRAMS);
    ASSERT_TRUE(desktop.starts_with(s.Machine().Root())) << desktop;
    const auto write = [&](const std::string& path) {
      s.Machine().WriteFile(path.substr(s.Machine().Root().size()), "[Desktop Entry]\n");
    };
    for (const char* name : {"ORVI.desktop", "ORVI3.desktop", "Other.desktop"}) write(desktop + name);
    write(menu + "ORVI/ORVI.desktop");
    write(commonMenu + "ORVI/Uninstall ORVI.desktop");
    fs::create_directories(commonMenu + "ORVI3");

    TSetupUpdateTaskRemoveShortcuts().Execute(nullptr);

    Files left = TreeOf(desktop);
    for (const std::string& entry : TreeOf(menu)) left.push_back(entry);
    for (const std::string& entry : TreeOf(commonMenu)) left.push_back(entry);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, row.left);
  }
}

// The helper runs from the destination even when a program is named like
// the first part of a folder of its path.
TEST(UpdateTasks, RemoveFromRegistryRunsTheHelperAndDeletesTheEntry) {
  ProductSession s({"/AUTO=\"/opt/My Apps/ORVI\" /SILENT", 5000, true});
  ASSERT_EQ(s.Dest(), s / "/opt/My Apps/ORVI/");
  const std::string script = "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/$(basename \"$0\").log\"\n";
  fs::permissions(s.WriteDest("Elevator", script), fs::perms(0755));
  fs::permissions(s.Machine().WriteFile("/opt/My", script), fs::perms(0755));
  TSetupAppRepo::Register("ORVI", s.WriteDest("Uninstall", ""), "5.00", "", "");

  TSetupUpdateTaskRemoveFromRegistry().Execute(nullptr);

  EXPECT_EQ(ReadFileBytes(s.Dest() + "Elevator.log"), "/REG=U\n");
  EXPECT_FALSE(fs::exists(s / "/opt/My.log"));
  std::string folder;
  EXPECT_FALSE(TSetupAppRepo::FindInstallPath("ORVI", folder));
}

// Moving a 3.x configuration stops where a file of the new name is in the
// way: the system's error, nothing overwritten.
TEST(UpdateTasks, UpdateConfigsStopsAtAnExistingName) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 3600, true});
  s.WriteDest("ORVI3.ini", "old");
  s.WriteDest("ORVI.ini", "new");
  TSetupProfileInfo profile{"alice", s / "/home/alice/.config/ORVI/", s / "/home/alice/.config/ORVI3/"};
  s.Machine().WriteFile("/home/alice/.config/ORVI3/ORVI3.ini", "alice");
  kel::TKELStringList files;
  try {
    TSetupUpdateTaskUpdateConfigs(profile).Execute(&files);
    ADD_FAILURE() << "the rename replaced a file";
  } catch (const kel::EOSError& e) {
    EXPECT_TRUE(e.Message().starts_with("File exists\r\n")) << e.Message();
  }
  EXPECT_EQ(ReadFileBytes(s.Dest() + "ORVI.ini"), "new");
  EXPECT_EQ(ReadFileBytes(s.Dest() + "ORVI3.ini"), "old");
}

// A 4.x profile that is its own new folder: nothing is copied, its files
// are kept, and the caches of versions before 5.02 are dropped, a blocked
// rename of the cover database notwithstanding.
TEST(UpdateTasks, UpdateConfigsOfTheSameFolder) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 4800, true});
  const std::string folder = s / "/home/alice/.config/ORVI/";
  for (const char* name : {"ORVI.ini", "AlbumArtCache.db", "AlbumArtsForURLs.db", "AlbumArts.Custom.db"})
    s.Machine().WriteFile("/home/alice/.config/ORVI/" + std::string(name), name);
  TSetupProfileInfo profile{"alice", folder, folder};
  kel::TKELStringList files{folder + "ORVI.ini", folder + "AlbumArts.Custom.db", s.Dest() + "ORVI"};

  TSetupUpdateTaskUpdateConfigs(profile).Execute(&files);

  EXPECT_EQ(files.Join("|"), s.Dest() + "ORVI|" + folder + "AlbumArtCache.db");
  EXPECT_EQ(TreeOf(folder), (Files{"AlbumArtCache.db", "AlbumArts.Custom.db", "AlbumArtsForURLs.db", "ORVI.ini"}));
  EXPECT_EQ(ReadFileBytes(folder + "AlbumArts.Custom.db"), "AlbumArts.Custom.db");
}

}  // namespace
}  // namespace setup
