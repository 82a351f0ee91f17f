#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kel/platform/file.h"
#include "setup/core/app_repo.h"
#include "setup/core/errors.h"
#include "setup/core/summary.h"
#include "setup/product/actions.h"
#include "support/backup_names.h"
#include "update_fixture.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using orvi::test::IsNewArchiveName;
using orvi::test::ProductSession;
using orvi::test::ProductSessionSpec;
using orvi::test::ReadFileBytes;
using orvi::test::TreeOf;
using Files = std::vector<std::string>;

// The archives in the backup folder, by name.
Files Archives(ProductSession& s) {
  Files names;
  for (const std::string& name : TreeOf(s.Dest() + "!Backup"))
    names.push_back(IsNewArchiveName(name) ? "<new>" : name);
  return names;
}

std::string NewArchive(ProductSession& s) {
  for (const std::string& name : TreeOf(s.Dest() + "!Backup"))
    if (IsNewArchiveName(name)) return s.Dest() + "!Backup/" + name;
  return {};
}

// An installation of ORVI 3.60 in /opt/ORVI with its leftovers: old
// backups, a legacy plug-in, an obsolete skin, the old shell-menu library,
// and the 3.x profiles of alice and bob (carol never ran it).
void WriteVersion3Installation(ProductSession& s) {
  s.WriteDest("ORVI3.ini", "[System]\r\nVersion=3600\r\n");
  s.WriteDest("ORVI", "old player");
  s.WriteDest("Docs/Manual.txt", "old manual");
  s.WriteDest("AlbumArts.cache", "cache");
  s.WriteDest("libwebp.so", "image library");
  s.WriteDest("Plugins/equalizer.so", "user plug-in");
  s.WriteDest("Plugins/Scope/scope.so", "legacy plug-in");
  s.WriteDest("Plugins/Feedback/feedback.so", "plug-in every version drops");
  s.WriteDest("Icons/old.png", "icon");
  s.WriteDest("Skins/Aurora.orvi-skin", "skin the new version brings");
  s.WriteDest("Skins/Nimbus.orvi-skin", "obsolete skin");
  s.WriteDest("Skins/Mine.orvi-skin", "user skin");
  s.WriteDest("System/Data/eq.ini", "data");
  s.WriteDest("System/Encoders/lame.ini", "encoder");
  s.WriteDest("!Backup/z Before install 3.50 [2020.01.01 10-00-00].zip", "oldest");
  s.WriteDest("!Backup/z Before install 3.55 [2021.01.01 10-00-00].zip", "older");
  s.WriteDest("!Backup/z Before install 3.60 [2022.01.01 10-00-00].zip", "old");
  s.Machine().WriteFile("/home/alice/.config/ORVI3/ORVI3.ini", "alice's settings");
  s.Machine().WriteFile("/home/alice/.config/ORVI3/ORVI3-cat.db", "alice's catalogue");
  s.Machine().WriteFile("/home/alice/.config/ORVI3/ORVI3.bak", "stale copy");
  s.Machine().WriteFile("/home/alice/.config/ORVI3/AlbumArtsForURLs.db", "alice's covers");
  s.Machine().WriteFile("/home/bob/.config/ORVI3/ORVI3.ini", "bob's settings");
  s.Machine().WriteFile("/home/bob/.config/ORVI3/ORVI3ac.ini", "bob's autocomplete");
}

// The update of a 3.60 installation from start to end: backup, rotation,
// kept user content, obsolete and about-to-be-installed files, migrated
// profiles, removed folders.
TEST(Prepare, UpdateFromVersion3) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 3600, true});
  ASSERT_TRUE(s.Session().HasFlag(sfUPDATE));
  WriteVersion3Installation(s);
  fs::create_directories(s.Dest() + "System");
  fs::copy_file(ORVI_SHELL_MENU_TESTLIB_PATH, s.Dest() + "System/orvi_menu32.so");
  orvi::test::TempDir scratch;
  orvi::test::ScopedEnv menuLog("ORVI_TEST_SHELL_MENU_LOG", (scratch / "menu.log").c_str());
  const Files before = TreeOf(s.Dest());

  TSetupActionPrepare action;
  action.Execute();

  ASSERT_EQ(action.Profiles.Count(), 2u) << "alice once, though the user list names her twice; no carol";
  EXPECT_EQ(action.Profiles[0].Name, "alice");
  EXPECT_EQ(action.Profiles[0].OldPath, s / "/home/alice/.config/ORVI3/");
  EXPECT_EQ(action.Profiles[0].NewPath, s / "/home/alice/.config/ORVI/");
  EXPECT_EQ(action.Profiles[1].Name, "bob");
  EXPECT_EQ(action.UpdateTasks.size(), 5u) << "three removals (from a 3.x version) and two profiles";

  // The archive holds the old installation and the old profiles, byte for
  // byte, except the caches.
  EXPECT_EQ(Archives(s), (Files{"z Before install 3.55 [2021.01.01 10-00-00].zip",
                                "z Before install 3.60 [2022.01.01 10-00-00].zip", "<new>"}));
  const std::string archive = NewArchive(s);
  ASSERT_FALSE(archive.empty());
  EXPECT_EQ(orvi::test::RunTool("unzip", {"-t", "-qq", archive}), 0);
  const std::unique_ptr<orvi::test::TempDir> unpacked = orvi::test::Unzipped(archive);
  ASSERT_TRUE(unpacked);
  Files expected;
  for (const std::string& file : before)
    if (!file.starts_with("!Backup/") && file != "AlbumArts.cache") expected.push_back("Program/" + file);
  for (const char* file : {"AlbumArtsForURLs.db", "ORVI3-cat.db", "ORVI3.bak", "ORVI3.ini"})
    expected.push_back(std::string("Profiles/alice/") + file);
  for (const char* file : {"ORVI3.ini", "ORVI3ac.ini"}) expected.push_back(std::string("Profiles/bob/") + file);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(TreeOf(unpacked->Path()), expected);
  EXPECT_EQ(ReadFileBytes(*unpacked / "Program/Plugins/Scope/scope.so"), "legacy plug-in");
  EXPECT_EQ(ReadFileBytes(*unpacked / "Profiles/bob/ORVI3ac.ini"), "bob's autocomplete");
  EXPECT_EQ(ReadFileBytes(*unpacked / "Program/System/orvi_menu32.so"),
            ReadFileBytes(ORVI_SHELL_MENU_TESTLIB_PATH));

  // What stays: the user's plug-ins, icons, data, encoders, own skins, the
  // image library, the configuration under its new name.
  EXPECT_EQ(TreeOf(s.Dest()),
            (Files{"!Backup/z Before install 3.55 [2021.01.01 10-00-00].zip",
                   "!Backup/z Before install 3.60 [2022.01.01 10-00-00].zip",
                   "!Backup/" + fs::path(archive).filename().string(), "Icons/old.png", "ORVI.ini",
                   "Plugins/equalizer.so", "Skins/Mine.orvi-skin", "System/Data/eq.ini", "System/Encoders/lame.ini",
                   "libwebp.so"}));
  EXPECT_EQ(ReadFileBytes(s.Dest() + "ORVI.ini"), "[System]\r\nVersion=3600\r\n");
  EXPECT_EQ(ReadFileBytes(scratch / "menu.log"), "DllUnregisterServer\n");

  // The profiles moved to the new folder and names; the old folders went.
  EXPECT_EQ(TreeOf(s / "/home/alice/.config"),
            (Files{"ORVI/AlbumArts.Custom.db", "ORVI/ORVI-cat.db", "ORVI/ORVI.ini"}));
  EXPECT_EQ(ReadFileBytes(s / "/home/alice/.config/ORVI/ORVI.ini"), "alice's settings");
  EXPECT_EQ(TreeOf(s / "/home/bob/.config"), (Files{"ORVI/ORVI.ini", "ORVI/ORVIac.ini"}));
}

// Without a backup nothing of the old installation or of the profiles is
// deleted beyond old archives, obsolete files and the files about to be
// installed.
TEST(Prepare, NoBackupDeletesOnlyWhatIsReplacedOrObsolete) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT /NOBACKUP", 3600, true});
  WriteVersion3Installation(s);
  s.WriteDest("!Backup/z Before install 3.40 [2019.01.01 10-00-00].zip", "oldest of all");

  TSetupActionPrepare action;
  action.Execute();

  EXPECT_EQ(action.Total, 0);
  EXPECT_EQ(Archives(s), (Files{"z Before install 3.50 [2020.01.01 10-00-00].zip",
                                "z Before install 3.55 [2021.01.01 10-00-00].zip",
                                "z Before install 3.60 [2022.01.01 10-00-00].zip"}))
      << "the oldest of four (by name) goes; no new archive";
  EXPECT_EQ(TreeOf(s.Dest()),
            (Files{"!Backup/z Before install 3.50 [2020.01.01 10-00-00].zip",
                   "!Backup/z Before install 3.55 [2021.01.01 10-00-00].zip",
                   "!Backup/z Before install 3.60 [2022.01.01 10-00-00].zip", "AlbumArts.cache", "Docs/Manual.txt",
                   "Icons/old.png", "ORVI.ini", "Plugins/equalizer.so", "Skins/Mine.orvi-skin", "System/Data/eq.ini",
                   "System/Encoders/lame.ini", "libwebp.so"}));
  EXPECT_EQ(TreeOf(s / "/home/alice/.config"),
            (Files{"ORVI/AlbumArts.Custom.db", "ORVI/ORVI-cat.db", "ORVI/ORVI.ini", "ORVI3/AlbumArtsForURLs.db",
                   "ORVI3/ORVI3-cat.db", "ORVI3/ORVI3.bak", "ORVI3/ORVI3.ini"}))
      << "copied and renamed in the new folder (without the stale copy), the old folder untouched";
}

// What an update keeps depends on the version it comes from.
TEST(Prepare, KeptContentByInstalledVersion) {
  const struct {
    int version;
    bool pluginsKept;
    const char* profileFolder;
  } rows[] = {{3500, false, "ORVI3"}, {3600, true, "ORVI3"}, {4800, true, "ORVI"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.version);
    ProductSession s({"/AUTO=/opt/ORVI /SILENT", row.version, true});
    s.WriteDest("Plugins/equalizer.so", "plug-in");
    s.WriteDest("ORVI", "old player");
    s.Machine().WriteFile("/home/alice/.config/" + std::string(row.profileFolder) + "/ORVI.ini", "settings");

    TSetupActionPrepare action;
    action.Execute();

    EXPECT_EQ(fs::exists(s.Dest() + "Plugins/equalizer.so"), row.pluginsKept);
    EXPECT_FALSE(fs::exists(s.Dest() + "ORVI"));
    EXPECT_EQ(ReadFileBytes(s / "/home/alice/.config/ORVI/ORVI.ini"), "settings")
        << "a 4.x profile is its own new folder and stays where it is";
    const std::unique_ptr<orvi::test::TempDir> unpacked = orvi::test::Unzipped(NewArchive(s));
    ASSERT_TRUE(unpacked);
    EXPECT_TRUE(fs::exists(*unpacked / "Profiles/alice/ORVI.ini"));
  }
}

// A clean installation where nothing is installed (version 0): each user's
// 3.x profile is backed up and deleted; profiles of 4.x and later are not
// touched.
TEST(Prepare, NewInstallationPacksOnlyVersion3Profiles) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 0, false});
  s.Machine().WriteFile("/home/alice/.config/ORVI3/ORVI3.ini", "3.x");
  s.Machine().WriteFile("/home/bob/.config/ORVI/ORVI.ini", "5.x");

  TSetupActionPrepare action;
  action.Execute();

  EXPECT_EQ(action.UpdateTasks.size(), 3u);
  const std::unique_ptr<orvi::test::TempDir> unpacked = orvi::test::Unzipped(NewArchive(s));
  ASSERT_TRUE(unpacked);
  EXPECT_EQ(TreeOf(unpacked->Path()), (Files{"Profiles/alice/ORVI3.ini"}));
  EXPECT_FALSE(fs::exists(s / "/home/alice/.config/ORVI3"));
  EXPECT_EQ(ReadFileBytes(s / "/home/bob/.config/ORVI/ORVI.ini"), "5.x");
}

// A portable installation: bare entry names, its profile inside, the backup
// folder left out, no clean-up of the machine.
TEST(Prepare, PortableUpdate) {
  ProductSession s({"/AUTO=/media/stick/ORVI /SILENT", 5000, true, true});
  ASSERT_TRUE(s.Session().HasFlag(sfPORTABLE));
  s.WriteDest("ORVI", "old player");
  s.WriteDest("Profile/ORVI.ini", "portable settings");
  s.WriteDest("!Backup/z Before install 4.90 [2023.01.01 10-00-00].zip", "old");

  TSetupActionPrepare action;
  action.Execute();

  ASSERT_EQ(action.Profiles.Count(), 1u);
  EXPECT_EQ(action.Profiles[0].Name, "SingleUser");
  EXPECT_EQ(action.Profiles[0].OldPath, s.Dest() + "Profile/");
  EXPECT_EQ(action.UpdateTasks.size(), 1u) << "only the profile's";
  const std::unique_ptr<orvi::test::TempDir> unpacked = orvi::test::Unzipped(NewArchive(s));
  ASSERT_TRUE(unpacked);
  EXPECT_EQ(TreeOf(unpacked->Path()), (Files{"ORVI", "Profile/ORVI.ini"}));
  EXPECT_EQ(ReadFileBytes(s.Dest() + "Profile/ORVI.ini"), "portable settings");
}

// Links are backed up as links and never followed: what they lead to is
// neither read into the backup nor deleted; the links themselves go.
TEST(Prepare, LinksAreBackedUpAsLinks) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 4800, true});
  s.WriteDest("ORVI", "old player");
  s.Machine().WriteFile("/home/alice/Music/song.mp3", "music");
  fs::create_directory_symlink(s / "/home/alice/Music", s.Dest() + "Music");
  fs::create_symlink(s / "/home/alice/Music/song.mp3", s.Dest() + "song.mp3");

  TSetupActionPrepare action;
  action.Execute();

  EXPECT_EQ(ReadFileBytes(s / "/home/alice/Music/song.mp3"), "music");
  const std::unique_ptr<orvi::test::TempDir> unpacked = orvi::test::Unzipped(NewArchive(s));
  ASSERT_TRUE(unpacked);
  EXPECT_EQ(TreeOf(unpacked->Path()), (Files{"Program/Music@", "Program/ORVI", "Program/song.mp3@"}));
  EXPECT_EQ(fs::read_symlink(*unpacked / "Program/Music"), s / "/home/alice/Music");
  EXPECT_FALSE(fs::exists(fs::symlink_status(s.Dest() + "Music")));
}

// What cannot be read is left out of the backup and stays where it is, and
// so does a profile that would make the backup too large; the rest is backed
// up and deleted, and the user is told.
TEST(Prepare, WhatCannotBeBackedUpStays) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 0, false});
  s.WriteDest("Docs/Manual.txt", "old manual");
  const std::string locked = s.WriteDest("Plugins/busy.so", "0123456789");
  s.Machine().WriteFile("/home/alice/.config/ORVI3/ORVI3.ini", "alice's");
  fs::create_symlink("gone.m3u8", s / "/home/alice/.config/ORVI3/current.m3u8");
  s.Machine().WriteFile("/home/bob/.config/ORVI3/ORVI3.ini", "bob's");
  fs::resize_file(s.Machine().WriteFile("/home/bob/.config/ORVI3/library.db", ""), uint64_t{1} << 31);  // sparse
  const kel::platform::FileHandle holder =
      kel::platform::OpenFile(locked, kel::platform::FileAccess::ReadWrite,
                              kel::platform::FileDisposition::OpenExisting, kel::platform::FileShare::None);
  ASSERT_NE(holder, kel::platform::kInvalidFile);
  orvi::test::TRecordingListener listener;
  s.Session().AddListener(&listener);

  TSetupActionPrepare action;
  action.Execute();
  s.Session().RemoveListener(&listener);
  kel::platform::CloseFile(holder);

  const std::unique_ptr<orvi::test::TempDir> unpacked = orvi::test::Unzipped(NewArchive(s));
  ASSERT_TRUE(unpacked);
  EXPECT_EQ(TreeOf(unpacked->Path()),
            (Files{"Profiles/alice/ORVI3.ini", "Profiles/alice/current.m3u8@", "Program/Docs/Manual.txt"}));
  EXPECT_EQ(TreeOf(s.Dest()), (Files{"!Backup/" + fs::path(NewArchive(s)).filename().string(), "Plugins/busy.so"}));
  EXPECT_FALSE(fs::exists(s / "/home/alice/.config/ORVI3"));
  EXPECT_EQ(TreeOf(s / "/home/bob/.config/ORVI3"), (Files{"ORVI3.ini", "library.db"}));
  EXPECT_EQ(s.Session().Notices().Join("|"), "W2 bob too large|W1 1 skipped");
  std::vector<std::string> statuses;
  for (const auto& entry : listener.entries)
    if (entry.code == neStatusText) statuses.push_back(entry.text);
  EXPECT_EQ(statuses, (Files{"A1 backing up", "W1 1 skipped", "A5 updating", "A3 deleting"}));
}

// The backup folder and the archive are the administrator's alone, also
// where an older version left them open.
TEST(Prepare, TheBackupIsPrivate) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 4800, true});
  s.WriteDest("ORVI", "old player");
  const std::string older = s.WriteDest("!Backup/z Before install 4.70 [2023.01.01 10-00-00].zip", "older");
  fs::permissions(s.Dest() + "!Backup", fs::perms(0755));
  fs::permissions(older, fs::perms(0644));

  TSetupActionPrepare action;
  action.Execute();

  EXPECT_EQ(fs::status(s.Dest() + "!Backup").permissions(), fs::perms(0700));
  EXPECT_EQ(fs::status(NewArchive(s)).permissions(), fs::perms(0600));
}

// Up to 2 GiB of files can be backed up.
TEST(Prepare, TooManyFilesForBackup) {
  ProductSession s({"/AUTO=/opt/ORVI /SILENT", 4800, true});
  const std::string half = s.WriteDest("half.bin", "");
  const std::string rest = s.WriteDest("rest.bin", "");
  fs::resize_file(half, uint64_t{1} << 30);  // sparse: no disk space needed
  fs::resize_file(rest, uint64_t{1} << 30);

  TSetupActionPrepare action;
  try {
    action.Execute();
    ADD_FAILURE() << "the backup of exactly 2 GiB started";
  } catch (const EInstallerBackupError& e) {
    EXPECT_EQ(e.Message(), "Too many files for backup");
  }
  EXPECT_EQ(TreeOf(s.Dest()), (Files{"half.bin", "rest.bin"})) << "no backup folder, nothing deleted";
}

TEST(Prepare, Summary) {
  const struct {
    const char* params;
    int installed;
    bool canUpdate;
    bool registeredElsewhere;
    const char* lines;  // after the destination's two lines
  } rows[] = {
      {"/AUTO=/opt/ORVI", 4800, true, true, "Options\r\nUpdate\r\nBackup\r\n"},
      {"/AUTO=/opt/ORVI /NOBACKUP", 0, false, false, "Options\r\nInstall\r\n"},
      {"/AUTO=/opt/ORVI", 0, false, true, "Options\r\nInstall\r\nBackup\r\n\r\nOptions\r\nReplaces\r\n"},
      {"/AUTO=/opt/ORVI", 5400, false, false, "Options\r\nInstall\r\nBackup\r\n\r\nOptions\r\nReplaces\r\n"},
      {"/AUTO=/media/stick/ORVI /PORTABLE", 0, false, true, "Options\r\nPortable\r\nBackup\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.params);
    ProductSession s({row.params, row.installed, row.canUpdate});
    if (row.registeredElsewhere) {
      const std::string exe = s.WriteDest("../Elsewhere/Uninstall", "");
      TSetupAppRepo::Register("ORVI", exe, "4.80", "Larkspur Media Works", "");
    }
    TSetupSummaryBuilder builder;
    TSetupActionPrepare().Summarize(builder);
    EXPECT_EQ(builder.ToString(), "Folder\r\n" + s.Dest() + "\r\n\r\n" + row.lines);
  }
}

}  // namespace
}  // namespace setup
