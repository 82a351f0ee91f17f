#include "setup/core/users.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/testlib/environment.h"

namespace setup {
namespace {

TEST(SetupUsers, ProfilesOfTheSandbox) {
  orvi::test::Sandbox sandbox;
  orvi::test::ScopedEnv sudo("SUDO_UID", "1001");
  sandbox.AddAccount("root", 0, "/root", "/bin/bash", true);
  sandbox.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
  sandbox.AddAccount("bob", 1001, "/home/bob", "/bin/zsh", true);
  sandbox.AddAccount("svc", 1002, "/home/svc", "/usr/sbin/nologin", true);
  sandbox.AddAccount("gone", 1003, "/home/gone", "/bin/bash", false);

  std::string profiles;
  TSetupUsers::Populate([&](const std::string& user, const std::string& appData) {
    profiles += user + "=" + appData.substr(sandbox.Root().size()) + " ";
  });
  EXPECT_EQ(profiles, "bob=/home/bob/.config/ alice=/home/alice/.config/ bob=/home/bob/.config/ ")
      << "the current user first (and again in the list); no service or homeless accounts";
}

// Where a path lies decides how it is worked on: below a home through that
// home; a home that is not its user's, and a desktop set to lie outside
// the home, are not touched at all; anything else as usual.
TEST(SetupUserFiles, WhereUsersFilesLie) {
  orvi::test::Sandbox sandbox;
  orvi::test::ScopedEnv sudo("SUDO_UID", "1000");
  sandbox.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
  sandbox.AddAccount("bob", 1001, "/home/bob", "/bin/bash", true);
  sandbox.AddAccount("carol", 1002, "/home/carol", "/bin/bash", true);
  sandbox.WriteFile("/home/alice/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/srv/desktop\"\n");
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown((sandbox / "/home/carol").c_str(), 4242, 4242), 0) << "someone else's";
  }

  const TSetupUserFiles files;
  const struct {
    std::string path;
    const char* place;  // the home's relative path, "refused" or "elsewhere"
  } rows[] = {
      {sandbox / "/home/alice/.config/ORVI3/", ".config/ORVI3/"},
      {sandbox / "/home/bob/.config/ORVI/ORVI.ini", ".config/ORVI/ORVI.ini"},
      {sandbox / "/home/bob", ""},
      {sandbox / "/home/bobby/x", "elsewhere"},
      {sandbox / "/srv/desktop/ORVI.desktop", "refused"},
      {sandbox / "/srv/desktop", "refused"},
      {sandbox / "/opt/ORVI/ORVI", "elsewhere"},
      {sandbox / "/home/carol/.config/ORVI/", root ? "refused" : ".config/ORVI/"},
  };
  for (const auto& row : rows) {
    const TSetupUserFiles::TPlace place = files.Locate(row.path);
    EXPECT_EQ(place.Refused ? "refused" : place.Home ? place.Relative : "elsewhere", row.place) << row.path;
  }

  sandbox.WriteFile("/srv/desktop/ORVI.desktop", "[Desktop Entry]\n");
  files.DeleteFile(sandbox / "/srv/desktop/ORVI.desktop");
  EXPECT_TRUE(std::filesystem::exists(sandbox / "/srv/desktop/ORVI.desktop")) << "not the user's to have deleted";
  EXPECT_FALSE(files.ForceFolders(sandbox / "/srv/desktop/New/"));
}

}  // namespace
}  // namespace setup
