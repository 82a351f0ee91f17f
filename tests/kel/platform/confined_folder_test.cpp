#include "kel/platform/confined_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/testlib/environment.h"

namespace kel::platform {
namespace {

namespace fs = std::filesystem;
using orvi::test::ReadFileBytes;
using orvi::test::TempDir;

// Every entry below a folder with what it holds: a file's bytes, a link's
// target, "/" for a folder.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = fs::relative(it->path(), folder).string();
    if (it->is_symlink())
      entries[relative] = "-> " + fs::read_symlink(it->path()).string();
    else if (it->is_directory())
      entries[relative] = "/";
    else
      entries[relative] = ReadFileBytes(it->path());
  }
  return entries;
}

std::unique_ptr<ConfinedFolder> OpenOrFail(const std::string& root) {
  std::string error;
  auto folder = ConfinedFolder::Open(root, std::nullopt, &error);
  EXPECT_TRUE(folder) << error;
  return folder;
}

// A home holding a link to a folder elsewhere and a link to a file
// elsewhere: nothing done through the home reaches or changes what they
// lead to.
TEST(ConfinedFolder, LinksAreNeverFollowed) {
  TempDir home, victim;
  victim.WriteFile("secret.txt", "secret");
  victim.WriteFile("Playlists/Morning.m3u8", "victim's list");
  home.WriteFile(".config/ORVI/ORVI.ini", "settings");
  fs::create_directory_symlink(victim.Path(), home / ".config/ORVI3");
  fs::create_symlink(victim / "secret.txt", home / ".config/ORVI/stolen.txt");
  const auto before = Snapshot(victim.Path());
  const auto folder = OpenOrFail(home.Path());
  ASSERT_TRUE(folder);

  ConfinedEntry entry;
  ASSERT_TRUE(folder->Examine(".config/ORVI3", entry));
  EXPECT_EQ(entry.kind, EntryKind::Link);
  ASSERT_TRUE(folder->Examine(".config/ORVI/stolen.txt", entry));
  EXPECT_EQ(entry.kind, EntryKind::Link);
  EXPECT_EQ(entry.size, (victim / "secret.txt").size());
  std::string target;
  ASSERT_TRUE(folder->ReadLink(".config/ORVI/stolen.txt", target));
  EXPECT_EQ(target, victim / "secret.txt");

  const struct {
    const char* what;
    std::function<bool()> attempt;
  } refused[] = {
      {"examine through", [&] { return folder->Examine(".config/ORVI3/secret.txt", entry); }},
      {"list through",
       [&] {
         std::vector<ConfinedEntry> entries;
         return folder->ReadDirectory(".config/ORVI3", entries);
       }},
      {"read a file link",
       [&] { return folder->OpenFile(".config/ORVI/stolen.txt", FileShare::Read) != kInvalidFile; }},
      {"read through", [&] { return folder->OpenFile(".config/ORVI3/secret.txt", FileShare::Read) != kInvalidFile; }},
      {"delete through", [&] { return folder->DeleteFile(".config/ORVI3/secret.txt"); }},
      {"delete a tree through", [&] { return folder->DeleteTree(".config/ORVI3/Playlists"); }},
      {"remove a folder through", [&] { return folder->RemoveDirectory(".config/ORVI3/Playlists"); }},
      {"remove a linked folder", [&] { return folder->RemoveDirectory(".config/ORVI3"); }},
      {"create through", [&] { return folder->CreateDirectories(".config/ORVI3/new"); }},
      {"write through", [&] { return folder->WriteFile(".config/ORVI3/new.txt", "x", 0644); }},
      {"copy into", [&] { return folder->CopyTree(".config/ORVI", ".config/ORVI3"); }},
      {"copy from", [&] { return folder->CopyTree(".config/ORVI3", ".config/Copy"); }},
      {"move out of", [&] { return folder->MoveFile(".config/ORVI3/secret.txt", ".config/ORVI/taken.txt"); }},
      {"move into", [&] { return folder->MoveFile(".config/ORVI/ORVI.ini", ".config/ORVI3/ORVI.ini"); }},
      {"climb out", [&] { return folder->DeleteFile("../" + fs::path(victim.Path()).filename().string()); }},
  };
  for (const auto& row : refused) {
    EXPECT_FALSE(row.attempt()) << row.what;
    EXPECT_EQ(Snapshot(victim.Path()), before) << row.what;
  }

  // What is done to a link is done to the link itself.
  EXPECT_TRUE(folder->WriteFile(".config/ORVI/stolen.txt", "mine", 0600));
  EXPECT_EQ(ReadFileBytes(home / ".config/ORVI/stolen.txt"), "mine");
  EXPECT_TRUE(folder->DeleteTree(".config/ORVI3"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(home / ".config/ORVI3")));
  EXPECT_EQ(Snapshot(victim.Path()), before);
}

// A folder swapped for a link after it was listed is refused when reached
// again, by every operation.
TEST(ConfinedFolder, AFolderSwappedForALinkIsRefused) {
  TempDir home, victim, aside;
  victim.WriteFile("Playlists/a.m3u8", "victim's");
  home.WriteFile("ORVI3/Playlists/a.m3u8", "alice's");
  const auto before = Snapshot(victim.Path());
  const auto folder = OpenOrFail(home.Path());
  ASSERT_TRUE(folder);
  std::vector<ConfinedEntry> listed;
  ASSERT_TRUE(folder->ReadDirectory("ORVI3/Playlists", listed));
  ASSERT_EQ(listed.size(), 1u);

  fs::rename(home / "ORVI3/Playlists", aside / "Playlists");
  fs::create_directory_symlink(victim / "Playlists", home / "ORVI3/Playlists");

  EXPECT_EQ(folder->OpenFile("ORVI3/Playlists/a.m3u8", FileShare::Read), kInvalidFile);
  EXPECT_FALSE(folder->DeleteFile("ORVI3/Playlists/a.m3u8"));
  EXPECT_FALSE(folder->RemoveDirectory("ORVI3/Playlists"));
  EXPECT_TRUE(folder->DeleteTree("ORVI3"));
  EXPECT_EQ(Snapshot(victim.Path()), before);
  EXPECT_FALSE(fs::exists(home / "ORVI3"));
}

// A profile copied with its folders, files, modes, times and links; files
// of the target are replaced; pipes stay behind.
TEST(ConfinedFolder, CopyTreeKeepsWhatTheFilesAre) {
  TempDir home;
  home.WriteFile("ORVI3/ORVI3.ini", "settings");
  home.WriteFile("ORVI3/Playlists/Morning.m3u8", "list");
  fs::permissions(home / "ORVI3/ORVI3.ini", fs::perms(0600));
  fs::permissions(home / "ORVI3/Playlists", fs::perms(0750));
  fs::permissions(home / "ORVI3", fs::perms(0700));
  fs::create_symlink("Playlists/Morning.m3u8", home / "ORVI3/current.m3u8");
  ASSERT_EQ(::mkfifo((home / "ORVI3/pipe").c_str(), 0600), 0);
  const auto modified = fs::last_write_time(home / "ORVI3/ORVI3.ini") - std::chrono::hours(100);
  fs::last_write_time(home / "ORVI3/ORVI3.ini", modified);
  home.WriteFile("ORVI/ORVI3.ini", "older copy");
  home.WriteFile("ORVI/kept.txt", "kept");
  const auto folder = OpenOrFail(home.Path());
  ASSERT_TRUE(folder);

  ASSERT_TRUE(folder->CopyTree("ORVI3", "ORVI"));
  ASSERT_TRUE(folder->CopyTree("ORVI3", "New/ORVI"));

  for (const char* copy : {"ORVI", "New/ORVI"}) {
    SCOPED_TRACE(copy);
    const std::string to = home / copy;
    EXPECT_EQ(ReadFileBytes(to + "/ORVI3.ini"), "settings");
    EXPECT_EQ(fs::status(to + "/ORVI3.ini").permissions(), fs::perms(0600));
    EXPECT_EQ(fs::last_write_time(to + "/ORVI3.ini"), modified);
    EXPECT_EQ(fs::status(to + "/Playlists").permissions(), fs::perms(0750));
    EXPECT_EQ(fs::read_symlink(to + "/current.m3u8"), "Playlists/Morning.m3u8");
    EXPECT_FALSE(fs::exists(fs::symlink_status(to + "/pipe")));
  }
  EXPECT_EQ(fs::status(home / "New/ORVI").permissions(), fs::perms(0700)) << "a new target is made as the source";
  EXPECT_EQ(ReadFileBytes(home / "ORVI/kept.txt"), "kept");
}

TEST(ConfinedFolder, RootOfAnotherUserIsRefused) {
  TempDir home;
  const uint32_t other = ::geteuid() == 4242 ? 4243 : 4242;
  orvi::test::ScopedEnv noSandbox("ORVI_SETUP_SANDBOX", nullptr);
  std::string error;
  EXPECT_FALSE(ConfinedFolder::Open(home.Path(), FileOwner{other, other}, &error));
  EXPECT_EQ(error, "The folder belongs to another user.");
  EXPECT_TRUE(ConfinedFolder::Open(home.Path(), FileOwner{::geteuid(), ::getegid()}));
  EXPECT_TRUE(ConfinedFolder::Open(home.Path(), std::nullopt));

  orvi::test::Sandbox sandbox;
  EXPECT_TRUE(ConfinedFolder::Open(home.Path(), FileOwner{other, other}))
      << "in the sandbox the person testing owns the machine";
}

// As root: what is made for a user belongs to the user, and another name of
// someone else's file is not the user's file.
TEST(ConfinedFolder, CreatedForTheOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "files can be given away only as root";
  TempDir home, victim;
  constexpr uint32_t kUser = 4242, kGroup = 4343, kStranger = 4444;
  ASSERT_EQ(::chown(home.Path().c_str(), kUser, kGroup), 0);
  home.WriteFile("ORVI3/ORVI3.ini", "settings");
  const std::string secret = victim.WriteFile("shadow", "someone else's");
  ASSERT_EQ(::chown(secret.c_str(), kStranger, kStranger), 0);
  fs::create_hard_link(secret, home / "ORVI3/hard.txt");
  orvi::test::ScopedEnv noSandbox("ORVI_SETUP_SANDBOX", nullptr);
  const auto folder = ConfinedFolder::Open(home.Path(), FileOwner{kUser, kGroup});
  ASSERT_TRUE(folder);

  std::string error;
  EXPECT_EQ(folder->OpenFile("ORVI3/hard.txt", FileShare::Read, &error), kInvalidFile);
  EXPECT_EQ(error, "Operation not permitted");
  ASSERT_TRUE(folder->CopyTree("ORVI3", ".config/ORVI"));
  ASSERT_TRUE(folder->CreateDirectories("Desktop"));
  ASSERT_TRUE(folder->WriteFile("Desktop/ORVI.desktop", "[Desktop Entry]\n", 0755));

  EXPECT_FALSE(fs::exists(home / ".config/ORVI/hard.txt"));
  for (const char* made : {".config", ".config/ORVI", ".config/ORVI/ORVI3.ini", "Desktop", "Desktop/ORVI.desktop"}) {
    struct stat info;
    ASSERT_EQ(::lstat((home / made).c_str(), &info), 0) << made;
    EXPECT_EQ(info.st_uid, kUser) << made;
    EXPECT_EQ(info.st_gid, kGroup) << made;
  }
  struct stat info;
  ASSERT_EQ(::lstat((home / "Desktop/ORVI.desktop").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u) << "giving it away keeps its mode";
}

}  // namespace
}  // namespace kel::platform
