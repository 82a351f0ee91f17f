// End-to-end tests of updating and uninstalling: the built demo Setup (and
// the uninstaller it leaves) run in a sandbox machine that holds earlier
// installations of the player, its users' old profiles, the old shell-menu
// libraries, shortcuts and uninstall entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kel/platform/process.h"
#include "setup/core/app_repo.h"
#include "support/backup_names.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace orvi::test {
namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::string>;

std::string PayloadFile(const std::string& name) {
  return ReadFileBytes(std::string(ORVI_BINARY_DIR) + "/data/demo/payload/" + name);
}

// unzip with the arguments; its exit code.
int Unzip(const Files& arguments) { return kel::platform::RunProgram("unzip", arguments); }

class UpdateUninstall : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(DemoSetupPath())) << "build the target demo_setup first";
    Fresh();
  }

  // A new machine: alice and bob, nothing installed.
  void Fresh() {
    sandbox_.reset();  // first: each sandbox restores the environment it found
    sandbox_ = std::make_unique<Sandbox>();
    sandbox_->AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
    sandbox_->AddAccount("bob", 1001, "/home/bob", "/bin/bash", true);
    destination_ = *sandbox_ / "/opt/ORVI/";
    old_.clear();
  }

  const Sandbox& Machine() const { return *sandbox_; }
  std::string operator/(const std::string& path) const { return *sandbox_ / path; }

  // Runs a program in the sandbox as the setup of alice (through sudo),
  // English, without a display.
  int Run(const std::string& program, const Files& args, std::string* output) {
    RunOptions options;
    options.environment = {"LANG=en_US.UTF-8", "LANGUAGE=",     "LC_ALL=",       "LC_MESSAGES=",
                           "DISPLAY=",         "SUDO_UID=1000", "SUDO_GID=1000", "SUDO_USER=alice",
                           "ORVI_TEST_SHELL_MENU_LOG=" + menuLog_};
    return RunInSandbox(*sandbox_, program, args, output, options);
  }
  int Setup(const Files& args, std::string* output) { return Run(DemoSetupPath(), args, output); }

  // Writes a file of the earlier installation (or of the machine) and
  // remembers its bytes.
  void Old(const std::string& path, const std::string& bytes) { old_[sandbox_->WriteFile(path, bytes)] = bytes; }

  // An installation of the given version in /opt/ORVI, with the users'
  // profiles of that version and the leftovers of older versions.
  void WriteInstallation(int version) {
    const std::string config = version < 4000 ? "ORVI3.ini" : "ORVI.ini";
    Old("/opt/ORVI/" + config, "[System]\r\nVersion=" + std::to_string(version) + "\r\nUserMode=1\r\n");
    Old("/opt/ORVI/ORVI", "#!/bin/sh\necho old player\n");
    Old("/opt/ORVI/Docs/Manual.txt", "the old manual");
    Old("/opt/ORVI/Plugins/equalizer.so", "a plug-in the user added");
    Old("/opt/ORVI/Plugins/Scope/scope.so", "a plug-in of 3.x and 4.00");
    Old("/opt/ORVI/Skins/Mine.orvi-skin", "a skin the user added");
    Old("/opt/ORVI/Skins/Nimbus.orvi-skin", "a skin of versions before 4.50");
    Old("/opt/ORVI/Icons/star.png", "an icon");
    Old("/opt/ORVI/AlbumArts.cache", "a cache");
    const std::string profile = version < 4000 ? "ORVI3" : "ORVI";
    const std::string settings = version < 4000 ? "ORVI3.ini" : "ORVI.ini";
    Old("/home/alice/.config/" + profile + "/" + settings, "alice's settings");
    Old("/home/alice/.config/" + profile + "/Playlists/Morning.m3u8", "alice's playlist");
    Old("/home/bob/.config/" + profile + "/" + settings, "bob's settings");
    if (version < 4000) {
      Old("/home/alice/.config/ORVI3/ORVI3-cat.db", "alice's catalogue");
      Old("/home/alice/.config/ORVI3/ORVI3.bak", "a stale copy");
      // The shell-menu extension, shortcuts and uninstall entry of 3.x.
      for (const char* name : {"orvi_menu32.so", "orvi_menu64.so"})
        Old("/opt/ORVI/System/" + std::string(name), ReadFileBytes(ORVI_SHELL_MENU_TESTLIB_PATH));
      Old("/home/alice/Desktop/ORVI3.desktop", "[Desktop Entry]\nType=Application\nExec=/opt/ORVI/ORVI3\n");
      Old("/usr/local/share/applications/ORVI3/ORVI3.desktop", "[Desktop Entry]\nType=Application\n");
      setup::TSetupAppRepo::Register("ORVI3", destination_ + "Uninstall", "3.60", "", "");
    }
    for (const char* archive : {"z Before install 3.40 [2019.05.01 10-00-00].zip",
                                "z Before install 3.50 [2020.05.01 10-00-00].zip",
                                "z Before install 3.55 [2021.05.01 10-00-00].zip"})
      Old("/opt/ORVI/!Backup/" + std::string(archive), "an older backup");
  }

  std::string NewArchive() const {
    for (const std::string& name : TreeOf(destination_ + "!Backup"))
      if (IsNewArchiveName(name)) return destination_ + "!Backup/" + name;
    return {};
  }

  std::unique_ptr<Sandbox> sandbox_;
  std::string destination_;
  TempDir scratch_;
  const std::string menuLog_ = scratch_ / "menu.log";
  std::map<std::string, std::string> old_;  // full path -> bytes
};

// An update from 3.60: the backup holds the old installation and profiles
// byte for byte; user content survives; the 3.x leftovers are cleaned up;
// the profiles move to the new folder and names; three archives remain.
TEST_F(UpdateUninstall, UpdateFromVersion3) {
  WriteInstallation(3600);
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;

  const std::string archive = NewArchive();
  ASSERT_FALSE(archive.empty()) << ::testing::PrintToString(TreeOf(destination_ + "!Backup"));
  EXPECT_EQ(Unzip({"-t", "-qq", archive}), 0);
  TempDir unpacked;
  ASSERT_EQ(Unzip({"-qq", archive, "-d", unpacked.Path()}), 0);
  Files expected;
  for (const auto& [path, bytes] : old_) {
    std::string entry;
    if (path.starts_with(destination_)) entry = "Program/" + path.substr(destination_.size());
    for (const char* user : {"alice", "bob"}) {
      const std::string profile = *this / ("/home/" + std::string(user) + "/.config/ORVI3/");
      if (path.starts_with(profile)) entry = "Profiles/" + std::string(user) + "/" + path.substr(profile.size());
    }
    if (entry.empty() || entry.starts_with("Program/!Backup/") || entry == "Program/AlbumArts.cache") continue;
    expected.push_back(entry);
    EXPECT_EQ(ReadFileBytes(unpacked / entry), bytes) << entry;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(TreeOf(unpacked.Path()), expected);

  // Only the three newest archives.
  EXPECT_EQ(TreeOf(destination_ + "!Backup"),
            (Files{"z Before install 3.50 [2020.05.01 10-00-00].zip", "z Before install 3.55 [2021.05.01 10-00-00].zip",
                   fs::path(archive).filename().string()}));

  // User content from 3.60 on survives; what the new version brings
  // replaces the old; the rest of the old installation is gone.
  EXPECT_EQ(ReadFileBytes(destination_ + "Plugins/equalizer.so"), "a plug-in the user added");
  EXPECT_EQ(ReadFileBytes(destination_ + "Skins/Mine.orvi-skin"), "a skin the user added");
  EXPECT_EQ(ReadFileBytes(destination_ + "Icons/star.png"), "an icon");
  EXPECT_EQ(ReadFileBytes(destination_ + "ORVI"), PayloadFile("ORVI"));
  for (const char* gone : {"Docs", "Plugins/Scope", "Skins/Nimbus.orvi-skin", "AlbumArts.cache", "ORVI3.ini",
                           "System/orvi_menu32.so", "System/orvi_menu64.so"})
    EXPECT_FALSE(fs::exists(destination_ + gone)) << gone;
  EXPECT_TRUE(fs::exists(destination_ + "ORVI.ini")) << "the configuration under its new name";

  // The 3.x integration: libraries unregistered, shortcuts and entry gone.
  EXPECT_EQ(ReadFileBytes(menuLog_), "DllUnregisterServer\nDllUnregisterServer\n");
  EXPECT_FALSE(fs::exists(*this / "/home/alice/Desktop/ORVI3.desktop"));
  EXPECT_FALSE(fs::exists(*this / "/usr/local/share/applications/ORVI3"));
  std::string folder;
  EXPECT_FALSE(setup::TSetupAppRepo::FindInstallPath("ORVI3", folder));
  ASSERT_TRUE(setup::TSetupAppRepo::FindInstallPath("ORVI", folder));
  EXPECT_EQ(folder, destination_);

  // The profiles moved and were renamed; the old folders are gone.
  EXPECT_EQ(TreeOf(*this / "/home/alice/.config"),
            (Files{"ORVI/ORVI-cat.db", "ORVI/ORVI.ini", "ORVI/Playlists/Morning.m3u8"}));
  EXPECT_EQ(ReadFileBytes(*this / "/home/alice/.config/ORVI/ORVI.ini"), "alice's settings");
  EXPECT_EQ(TreeOf(*this / "/home/bob/.config"), (Files{"ORVI/ORVI.ini"}));
}

// What an update keeps by the version it comes from: plug-ins only from
// 3.60 on; a 4.x profile stays where it is.
TEST_F(UpdateUninstall, KeptContentByVersion) {
  const struct {
    int version;
    bool pluginKept;
    const char* profile;
  } rows[] = {{3550, false, "ORVI3"}, {4800, true, "ORVI"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.version);
    Fresh();
    WriteInstallation(row.version);
    std::string output;
    ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;
    EXPECT_EQ(fs::exists(destination_ + "Plugins/equalizer.so"), row.pluginKept);
    EXPECT_EQ(ReadFileBytes(*this / "/home/alice/.config/ORVI/Playlists/Morning.m3u8"), "alice's playlist");
    TempDir unpacked;
    ASSERT_EQ(Unzip({"-qq", NewArchive(), "-d", unpacked.Path()}), 0);
    EXPECT_EQ(ReadFileBytes(unpacked / "Profiles/alice/Playlists/Morning.m3u8"), "alice's playlist");
    EXPECT_EQ(fs::exists(*this / "/home/alice/.config/ORVI3"), false);
  }
}

// Without a backup only old archives beyond three, obsolete files and the
// files about to be installed are deleted: the rest of the old installation
// and the profiles stay as they were.
TEST_F(UpdateUninstall, NoBackup) {
  WriteInstallation(3600);
  Old("/opt/ORVI/!Backup/z Before install 3.60 [2022.05.01 10-00-00].zip", "the newest older backup");
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT", "/NOBACKUP"}, &output), 0) << output;

  EXPECT_TRUE(NewArchive().empty());
  EXPECT_EQ(ReadFileBytes(destination_ + "ORVI"), PayloadFile("ORVI")) << "installed anew";
  const Files obsolete = {"/opt/ORVI/ORVI3.ini",  // renamed to ORVI.ini
                          "/opt/ORVI/!Backup/z Before install 3.40 [2019.05.01 10-00-00].zip",
                          "/opt/ORVI/Plugins/Scope/scope.so",
                          "/opt/ORVI/Skins/Nimbus.orvi-skin",
                          "/opt/ORVI/System/orvi_menu32.so",
                          "/opt/ORVI/System/orvi_menu64.so",
                          "/home/alice/Desktop/ORVI3.desktop",
                          "/usr/local/share/applications/ORVI3/ORVI3.desktop"};
  for (const auto& [path, bytes] : old_) {
    const std::string machinePath = path.substr(Machine().Root().size());
    if (machinePath == "/opt/ORVI/ORVI") continue;
    if (std::find(obsolete.begin(), obsolete.end(), machinePath) != obsolete.end())
      EXPECT_FALSE(fs::exists(path)) << path;
    else
      EXPECT_TRUE(fs::exists(path) && ReadFileBytes(path) == bytes) << path << " changed or went";
  }
}

// Up to 2 GiB of files can be backed up: exactly 2 GiB stops the update
// before anything is deleted; one byte less is packed.
TEST_F(UpdateUninstall, TooManyFilesForBackup) {
  for (const uint64_t size : {(uint64_t{1} << 31), (uint64_t{1} << 31) - 1}) {
    SCOPED_TRACE(size);
    Fresh();
    Old("/opt/ORVI/ORVI.ini", "[System]\r\nVersion=4800\r\n");
    Old("/opt/ORVI/ORVI", "old player");
    // The rest up to the size in a sparse file.
    const std::string big = Machine().WriteFile("/opt/ORVI/Data/library.bin", "");
    fs::resize_file(big, size - fs::file_size(destination_ + "ORVI.ini") - fs::file_size(destination_ + "ORVI"));

    std::string output;
    const int code = Setup({"/AUTO", "/SILENT"}, &output);
    if (size == uint64_t{1} << 31) {
      EXPECT_EQ(code, 1) << output;
      EXPECT_NE(output.find("Too many files for backup"), std::string::npos) << output;
      EXPECT_EQ(ReadFileBytes(destination_ + "ORVI"), "old player") << "nothing deleted";
      EXPECT_FALSE(fs::exists(destination_ + "!Backup"));
    } else {
      ASSERT_EQ(code, 0) << output;
      const std::string archive = NewArchive();
      ASSERT_FALSE(archive.empty());
      EXPECT_EQ(Unzip({"-t", "-qq", archive}), 0);
    }
  }
}

// The uninstaller removes the logged files, the folders left empty, the
// registry entry and the shortcuts, and (automatic run) the backups; what
// the log does not name stays. The process started in place reports the
// outcome of its relocated copy, which has finished when it returns.
TEST_F(UpdateUninstall, UninstallInPlace) {
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;
  Old("/opt/ORVI/!Backup/z Before install 5.20 [2024.05.01 10-00-00].zip", "a backup");
  Old("/opt/ORVI/Notes/mine.txt", "the user's own file");
  // The helper must be able to run, whatever modes the extraction gave it;
  // the shortcuts are there, whether or not the installation made them.
  fs::permissions(destination_ + "Elevator", fs::perms(0755));
  Old("/home/alice/Desktop/ORVI.desktop", "[Desktop Entry]\nType=Application\nExec=" + destination_ + "ORVI\n");
  Old("/usr/local/share/applications/ORVI/ORVI.desktop",
      "[Desktop Entry]\nType=Application\nExec=" + destination_ + "ORVI\n");

  ASSERT_EQ(Run(destination_ + "Uninstall", {"/AUTO", "/SILENT"}, &output), 0) << output;

  // ORVI.ini and the helper's log were written by the programs, not
  // extracted: the log does not name them.
  for (const std::string& file : TreeOf(destination_))
    EXPECT_TRUE(file == "Notes/mine.txt" || file == "ORVI.ini" || file == "Elevator.log") << file << " stayed";
  EXPECT_TRUE(ReadFileBytes(destination_ + "Elevator.log").ends_with("/REG=U\n"));
  EXPECT_EQ(ReadFileBytes(destination_ + "Notes/mine.txt"), "the user's own file");
  for (const char* gone : {"Plugins", "Skins", "Icons", "System", "!Backup", "Uninstall", "Uninstall.dat"})
    EXPECT_FALSE(fs::exists(destination_ + gone)) << gone;
  EXPECT_FALSE(fs::exists(*this / "/home/alice/Desktop/ORVI.desktop"));
  EXPECT_FALSE(fs::exists(*this / "/usr/local/share/applications/ORVI"));
  std::string folder;
  EXPECT_FALSE(setup::TSetupAppRepo::FindInstallPath("ORVI", folder));
}

// The uninstaller's switches decide about the users' data: kept unless
// /REMOVECONTENT asks for it, then the whole folder goes with the users'
// profiles (the backups go with /AUTO anyway, and with /REMOVEBACKUPS).
TEST_F(UpdateUninstall, UninstallSwitchesRemoveTheUsersData) {
  const struct {
    Files switches;
    bool contentGone;
  } rows[] = {
      {{"/AUTO", "/SILENT"}, false},
      {{"/AUTO", "/SILENT", "/REMOVEBACKUPS", "/REMOVECONTENT"}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.switches.back());
    Fresh();
    std::string output;
    ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;
    Old("/opt/ORVI/!Backup/z Before install 5.20 [2024.05.01 10-00-00].zip", "a backup");
    Old("/opt/ORVI/Notes/mine.txt", "the user's own file");
    Old("/home/alice/.config/ORVI/ORVI.ini", "alice's settings");
    Old("/home/bob/.config/ORVI/Playlists/Evening.m3u8", "bob's playlist");

    ASSERT_EQ(Run(destination_ + "Uninstall", row.switches, &output), 0) << output;

    EXPECT_FALSE(fs::exists(destination_ + "!Backup"));
    EXPECT_EQ(fs::exists(destination_), !row.contentGone);
    for (const char* profile : {"/home/alice/.config/ORVI", "/home/bob/.config/ORVI"})
      EXPECT_EQ(fs::exists(*this / profile), !row.contentGone) << profile;
  }
}

// A portable copy: its files go, its profile stays (the player's data is
// removed only on request), no registry entry to remove.
TEST_F(UpdateUninstall, UninstallPortableCopy) {
  std::string output;
  ASSERT_EQ(Setup({"/AUTO=/media/stick/ORVI", "/PORTABLE", "/SILENT"}, &output), 0) << output;
  const std::string portable = *this / "/media/stick/ORVI/";
  Old("/media/stick/ORVI/Profile/ORVI.ini", "portable settings");

  ASSERT_EQ(Run(portable + "Uninstall", {"/AUTO", "/SILENT"}, &output), 0) << output;

  for (const std::string& file : TreeOf(portable))
    EXPECT_TRUE(file == "Profile/ORVI.ini" || file == "ORVI.ini" || file == "Elevator.log") << file << " stayed";
  EXPECT_FALSE(fs::exists(portable + "ORVI"));
  EXPECT_EQ(ReadFileBytes(portable + "Profile/ORVI.ini"), "portable settings");
}

// An installation below the temporary folders is no relocated uninstaller:
// its uninstaller moves itself to its private folder and removes it.
TEST_F(UpdateUninstall, UninstallBelowTheTemporaryFolder) {
  std::string output;
  ASSERT_EQ(Setup({"/AUTO=/tmp/ORVI", "/SILENT"}, &output), 0) << output;
  const std::string installed = *this / "/tmp/ORVI/";
  ASSERT_TRUE(fs::exists(installed + "Uninstall"));

  ASSERT_EQ(Run(installed + "Uninstall", {"/AUTO", "/SILENT"}, &output), 0) << output;

  for (const char* gone : {"ORVI", "Plugins", "Uninstall", "Uninstall.dat"})
    EXPECT_FALSE(fs::exists(installed + gone)) << gone;
  std::string folder;
  EXPECT_FALSE(setup::TSetupAppRepo::FindInstallPath("ORVI", folder)) << folder;
}

// A tampered log deletes nothing outside the installation: neither through
// "..", nor through an absolute path in a log that others could write.
TEST_F(UpdateUninstall, TamperedLogStaysInside) {
  const struct {
    const char* name;
    bool absolute;
    fs::perms folder;
  } rows[] = {{"climbing out of a log only root could write", false, fs::perms(0755)},
              {"absolute paths in a log anybody could write", true, fs::perms(0777)}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    std::string output;
    ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;
    Old("/srv/data/library.db", "someone's data");
    Old("/etc/hostname", "sandbox");
    const Files outside = row.absolute ? Files{*this / "/srv/data/library.db", *this / "/etc/hostname",
                                               *this / "/etc/passwd"}
                                       : Files{"../../etc/passwd", "../../../etc/hostname",
                                               "Plugins/../../../srv/data/library.db", "../../srv/data"};
    Files entries = {"ORVI"};
    entries.insert(entries.end(), outside.begin(), outside.end());
    WriteUninstallData(destination_ + "Uninstall.dat", entries);
    fs::permissions(destination_, row.folder);

    ASSERT_EQ(Run(destination_ + "Uninstall", {"/AUTO", "/SILENT"}, &output), 0) << output;

    EXPECT_FALSE(fs::exists(destination_ + "ORVI")) << "the entries inside are deleted";
    EXPECT_EQ(ReadFileBytes(*this / "/srv/data/library.db"), "someone's data");
    EXPECT_EQ(ReadFileBytes(*this / "/etc/hostname"), "sandbox");
    EXPECT_TRUE(fs::exists(*this / "/etc/passwd"));
  }
}

}  // namespace
}  // namespace orvi::test
