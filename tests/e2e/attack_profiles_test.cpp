// End-to-end attacks on the users' files. The built demo Setup runs as root
// runs it for alice (through sudo), in a sandbox whose users have their
// homes in it, while links and swaps that a user can make in their own home
// aim at a victim folder outside the sandbox. After every run the victim is
// checked to be byte for byte as it was, with nothing added or taken away.
//
// Some checks need root (giving files away, a hard link to someone else's
// file); they are skipped when the tests run as another user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/backup_names.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace orvi::test {
namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::string>;

// Every entry below a folder with its kind, owner, mode and content (a
// link's target), by relative path.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat info;
    if (::lstat(entry.path().c_str(), &info) != 0) continue;
    std::string state = std::to_string(info.st_uid) + " " + std::to_string(info.st_mode) + " ";
    if (S_ISLNK(info.st_mode))
      state += "-> " + fs::read_symlink(entry.path()).string();
    else if (S_ISREG(info.st_mode))
      state += ReadFileBytes(entry.path());
    entries[entry.path().lexically_relative(folder).string()] = state;
  }
  return entries;
}

// Every file below the folder, relative to it, sorted; links end with '@'.
Files TreeOf(const std::string& folder) {
  Files files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = entry.path().lexically_relative(folder).string();
    if (entry.is_symlink())
      files.push_back(relative + "@");
    else if (entry.is_regular_file())
      files.push_back(relative);
  }
  std::sort(files.begin(), files.end());
  return files;
}

struct Owner {
  uid_t uid;
  gid_t gid;
  mode_t mode;
};

Owner OwnerOf(const std::string& path) {
  struct stat info{};
  ::lstat(path.c_str(), &info);
  return {info.st_uid, info.st_gid, info.st_mode & 07777};
}

// Gives a tree to a user, its links included.
void GiveTree(const std::string& folder, uid_t uid) {
  ASSERT_EQ(::lchown(folder.c_str(), uid, uid), 0) << folder;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    ASSERT_EQ(::lchown(entry.path().c_str(), uid, uid), 0) << entry.path();
}

class AttackProfiles : public ::testing::Test {
 protected:
  static constexpr uid_t kAlice = 1000;

  void SetUp() override {
    ASSERT_TRUE(fs::exists(DemoSetupPath())) << "build the target demo_setup first";
    sandbox_.AddAccount("alice", kAlice, "/home/alice", "/bin/bash", true);
    sandbox_.AddAccount("bob", 1001, "/home/bob", "/bin/bash", true);
    // A folder of the machine that is no user's: a system folder, a profile
    // of the same names, a desktop.
    victim_.WriteFile("passwd", "root:x:0:0:root:/root:/bin/bash\n");
    victim_.WriteFile("cron.d/job", "* * * * * root true\n");
    victim_.WriteFile("ORVI3.ini", "the victim's settings");
    victim_.WriteFile("ORVI3-cat.db", "the victim's catalogue");
    victim_.WriteFile("Playlists/Morning.m3u8", "the victim's list");
    victim_.WriteFile("ORVI.desktop", "[Desktop Entry]\nType=Application\nExec=/usr/bin/victim\n");
    victim_.WriteFile("local/share/applications/ORVI/ORVI.desktop", "[Desktop Entry]\nType=Application\n");
    Remember();
  }

  void TearDown() override { EXPECT_EQ(Snapshot(victim_.Path()), before_) << "the victim changed"; }

  // The victim as it is now is what it must stay.
  void Remember() { before_ = Snapshot(victim_.Path()); }

  std::string operator/(const std::string& path) const { return sandbox_ / path; }
  std::string Home(const std::string& relative) const { return sandbox_ / ("/home/alice/" + relative); }
  std::string Write(const std::string& path, const std::string& bytes) { return sandbox_.WriteFile(path, bytes); }

  // Runs the Setup as the one alice started through sudo, English, without
  // a display.
  int Setup(const Files& args, std::string* output, const Files& environment = {}) {
    RunOptions options;
    options.environment = {"LANG=en_US.UTF-8", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "DISPLAY=",
                           "SUDO_UID=1000",    "SUDO_GID=1000", "SUDO_USER=alice"};
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    return RunInSandbox(sandbox_, DemoSetupPath(), args, output, options);
  }

  // Runs the Setup with the test pause at its backup (after the files have
  // been listed, before the first is read); `attack` runs while the Setup
  // waits there. False when the Setup never paused.
  bool SetupPausedAtBackup(const Files& args, std::string* output, int* code, const std::function<void()>& attack) {
    const std::string pipe = scratch_ / "pause";
    EXPECT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> finished{false}, paused{false};
    std::thread attacker([&] {
      while (!finished) {
        const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
          paused = true;
          attack();
          ::close(fd);
          return;
        }
        ::usleep(10 * 1000);
      }
    });
    *code = Setup(args, output, {"ORVI_SETUP_TEST_PAUSE=backup:" + pipe});
    finished = true;
    attacker.join();
    return paused;
  }

  // An installation of 3.60 in /opt/ORVI whose settings are kept per user.
  void WriteVersion3Installation() {
    Write("/opt/ORVI/ORVI3.ini", "[System]\r\nVersion=3600\r\nUserMode=1\r\n");
    Write("/opt/ORVI/ORVI", "#!/bin/sh\necho old player\n");
  }

  std::string NewArchive() const {
    const std::string folder = sandbox_ / "/opt/ORVI/!Backup/";
    for (const std::string& name : TreeOf(folder))
      if (IsNewArchiveName(name)) return folder + name;
    return {};
  }

  // The new archive unpacked by the system's unzip.
  std::unique_ptr<TempDir> Unpacked() const {
    auto folder = std::make_unique<TempDir>();
    const std::string archive = NewArchive();
    EXPECT_FALSE(archive.empty()) << "no new archive";
    std::string output;
    EXPECT_EQ(RunInSandbox(sandbox_, "/usr/bin/unzip", {"-qq", archive, "-d", folder->Path()}, &output), 0) << output;
    return folder;
  }

  Sandbox sandbox_;
  TempDir victim_, scratch_;
  std::map<std::string, std::string> before_;
};

// ~/.config/ORVI3 made a link to another folder: a new installation neither
// packs that folder into its backup nor deletes anything in it; bob's own
// old profile is still backed up and removed.
TEST_F(AttackProfiles, OldProfileLinkedToAnotherFolder) {
  fs::create_directories(Home(".config"));
  fs::create_directory_symlink(victim_.Path(), Home(".config/ORVI3"));
  Write("/home/bob/.config/ORVI3/ORVI3.ini", "bob's settings");

  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;

  EXPECT_EQ(TreeOf(Unpacked()->Path()), (Files{"Profiles/bob/ORVI3.ini"}));
  EXPECT_FALSE(fs::exists(*this / "/home/bob/.config/ORVI3"));
  EXPECT_TRUE(fs::is_symlink(Home(".config/ORVI3"))) << "the link is not used at all";
}

// ~/.config/ORVI made a link to a system folder: the migration of the 3.x
// profile copies nothing there. The update stops before it deletes
// anything, alice's old profile is left as it was.
TEST_F(AttackProfiles, NewProfileLinkedToASystemFolder) {
  WriteVersion3Installation();
  Write("/home/alice/.config/ORVI3/ORVI3.ini", "alice's settings");
  Write("/home/alice/.config/ORVI3/ORVI3-cat.db", "alice's catalogue");
  fs::create_directory_symlink(victim_.Path(), Home(".config/ORVI"));

  std::string output;
  EXPECT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 1) << output;

  EXPECT_NE(output.find("Cannot copy \"" + Home(".config/ORVI3/") + "\" to \"" + Home(".config/ORVI/") + "\""),
            std::string::npos)
      << output;
  EXPECT_EQ(TreeOf(Home(".config/ORVI3")), (Files{"ORVI3-cat.db", "ORVI3.ini"}));
}

// A subfolder of a profile swapped for a link to the victim while the
// backup runs: its files are neither read into the backup nor deleted
// through the link afterwards; they are counted as left out.
TEST_F(AttackProfiles, FolderSwappedForALinkDuringTheBackup) {
  Write("/home/alice/.config/ORVI3/ORVI3.ini", "alice's settings");
  for (const char* name : {"Morning.m3u8", "Evening.m3u8", "Night.m3u8"})
    Write("/home/alice/.config/ORVI3/Playlists/" + std::string(name), "alice's list");

  std::string output;
  int code = -1;
  ASSERT_TRUE(SetupPausedAtBackup({"/AUTO", "/SILENT"}, &output, &code, [&] {
    fs::rename(Home(".config/ORVI3/Playlists"), scratch_ / "Playlists");
    fs::create_directory_symlink(victim_ / "Playlists", Home(".config/ORVI3/Playlists"));
  })) << "the Setup never paused at its backup\n"
      << output;
  ASSERT_EQ(code, 0) << output;

  EXPECT_EQ(TreeOf(Unpacked()->Path()), (Files{"Profiles/alice/ORVI3.ini"}));
  EXPECT_NE(output.find("Files left out of the backup because they could not be read: 3."), std::string::npos)
      << output;
  EXPECT_TRUE(fs::is_symlink(Home(".config/ORVI3/Playlists")));
}

// Links in a profile to someone else's files: a link is stored as a link,
// never read; a hard link to a file of another user is left out. The
// archive is root's alone, in a folder that is root's alone.
TEST_F(AttackProfiles, LinksToOtherUsersFilesAreNotRead) {
  Write("/home/alice/.config/ORVI3/ORVI3.ini", "alice's settings");
  fs::create_symlink(victim_ / "passwd", Home(".config/ORVI3/stolen.txt"));
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown((victim_ / "cron.d/job").c_str(), 4242, 4242), 0);
    fs::create_hard_link(victim_ / "cron.d/job", Home(".config/ORVI3/hard.txt"));
    Remember();
  }

  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;

  const std::unique_ptr<TempDir> unpacked = Unpacked();
  EXPECT_EQ(TreeOf(unpacked->Path()), (Files{"Profiles/alice/ORVI3.ini", "Profiles/alice/stolen.txt@"}));
  EXPECT_EQ(fs::read_symlink(*unpacked / "Profiles/alice/stolen.txt"), victim_ / "passwd");
  const std::string archive = ReadFileBytes(NewArchive());
  EXPECT_EQ(archive.find("root:x:0:0"), std::string::npos);
  EXPECT_EQ(OwnerOf(*this / "/opt/ORVI/!Backup").mode, 0700u);
  EXPECT_EQ(OwnerOf(NewArchive()).mode, 0600u);
  EXPECT_EQ(OwnerOf(NewArchive()).uid, ::geteuid());
  if (root) {
    EXPECT_NE(output.find("Files left out of the backup because they could not be read: 1."), std::string::npos)
        << output;
    EXPECT_EQ(TreeOf(Home(".config/ORVI3")), (Files{"hard.txt"})) << "what was left out stays";
  }
}

// The desktop and the menu folder made links to the victim: no shortcut is
// written there, and no old one is deleted there.
TEST_F(AttackProfiles, DesktopAndMenuLinkedElsewhere) {
  fs::create_directories(Home(".local/share"));
  fs::create_directory_symlink(victim_.Path(), Home("Desktop"));
  fs::create_directory_symlink(victim_ / "local/share/applications", Home(".local/share/applications"));

  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;

  EXPECT_TRUE(fs::exists(*this / "/usr/local/share/applications/ORVI/ORVI.desktop")) << "the machine's menu is made";
}

// After an update from 3.x the migrated profile is alice's, folders and
// files with the modes they had, also where the old one was root's; the
// backup is root's alone.
TEST_F(AttackProfiles, MigratedProfileBelongsToItsUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "files can be given to a user only as root";
  WriteVersion3Installation();
  Write("/home/alice/.config/ORVI3/ORVI3.ini", "alice's settings");
  Write("/home/alice/.config/ORVI3/Playlists/Morning.m3u8", "alice's list");
  GiveTree(Home(""), kAlice);
  ASSERT_EQ(::chown(Home(".config/ORVI3/ORVI3.ini").c_str(), 0, 0), 0) << "left as root's by an older setup";
  fs::permissions(Home(".config/ORVI3"), fs::perms(0700));
  fs::permissions(Home(".config/ORVI3/ORVI3.ini"), fs::perms(0600));
  fs::permissions(Home(".config/ORVI3/Playlists"), fs::perms(0750));
  fs::permissions(Home(".config/ORVI3/Playlists/Morning.m3u8"), fs::perms(0640));

  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;

  const struct {
    const char* path;
    mode_t mode;
  } migrated[] = {{".config/ORVI", 0700},
                  {".config/ORVI/ORVI.ini", 0600},
                  {".config/ORVI/Playlists", 0750},
                  {".config/ORVI/Playlists/Morning.m3u8", 0640}};
  for (const auto& row : migrated) {
    const Owner owner = OwnerOf(Home(row.path));
    EXPECT_EQ(owner.uid, kAlice) << row.path;
    EXPECT_EQ(owner.gid, kAlice) << row.path;
    EXPECT_EQ(owner.mode, row.mode) << row.path;
  }
  EXPECT_EQ(ReadFileBytes(Home(".config/ORVI/ORVI.ini")), "alice's settings");
  const Owner backup = OwnerOf(*this / "/opt/ORVI/!Backup"), archive = OwnerOf(NewArchive());
  EXPECT_EQ(backup.uid, 0u);
  EXPECT_EQ(backup.mode, 0700u);
  EXPECT_EQ(archive.uid, 0u);
  EXPECT_EQ(archive.mode, 0600u);
}

// The desktop folder that a new installation makes for its shortcut, and
// the shortcut, are alice's.
TEST_F(AttackProfiles, CreatedDesktopBelongsToItsUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "files can be given to a user only as root";
  GiveTree(Home(""), kAlice);

  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;

  for (const char* made : {"Desktop", "Desktop/ORVI.desktop"}) {
    const Owner owner = OwnerOf(Home(made));
    EXPECT_EQ(owner.uid, kAlice) << made;
    EXPECT_EQ(owner.gid, kAlice) << made;
  }
  EXPECT_EQ(OwnerOf(Home("Desktop/ORVI.desktop")).mode, 0755u);
}

// A dangling link, a file that vanishes while the backup runs, a file in
// use and a profile too large for the backup: the installation goes on,
// the rest is backed up, what was left out stays where it is, and both the
// status text and the closing summary say so.
TEST_F(AttackProfiles, WhatCannotBeBackedUpDoesNotStopTheInstallation) {
  Write("/home/alice/.config/ORVI3/ORVI3.ini", "alice's settings");
  fs::create_symlink("Gone.m3u8", Home(".config/ORVI3/current.m3u8"));
  Write("/home/alice/.config/ORVI3/Playlists/Morning.m3u8", "alice's list");
  const std::string busy = Write("/home/alice/.config/ORVI3/library.db", "alice's library");
  Write("/home/bob/.config/ORVI3/ORVI3.ini", "bob's settings");
  fs::resize_file(Write("/home/bob/.config/ORVI3/library.db", ""), uint64_t{1} << 31);  // sparse
  const int holder = ::open(busy.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0) << "the player still has it open";

  std::string output;
  int code = -1;
  ASSERT_TRUE(SetupPausedAtBackup({"/AUTO"}, &output, &code,
                                  [&] { fs::remove(Home(".config/ORVI3/Playlists/Morning.m3u8")); }))
      << "the Setup never paused at its backup\n"
      << output;
  ::close(holder);
  ASSERT_EQ(code, 0) << output;

  EXPECT_EQ(TreeOf(Unpacked()->Path()), (Files{"Profiles/alice/ORVI3.ini", "Profiles/alice/current.m3u8@"}));
  EXPECT_EQ(TreeOf(Home(".config/ORVI3")), (Files{"library.db"}));
  EXPECT_EQ(TreeOf(*this / "/home/bob/.config/ORVI3"), (Files{"ORVI3.ini", "library.db"}));
  const std::string skipped =
      "Files left out of the backup because they could not be read: 2. They stay where they are.";
  const std::string tooLarge =
      "The player settings of bob are too large for the backup; they were not backed up and stay where they are.";
  EXPECT_NE(output.find("\n" + skipped + "\n"), std::string::npos) << "the status text\n" << output;
  EXPECT_NE(output.find("Setup: " + skipped + "\n"), std::string::npos) << "the summary\n" << output;
  EXPECT_NE(output.find("Setup: " + tooLarge + "\n"), std::string::npos) << output;
}

}  // namespace
}  // namespace orvi::test
