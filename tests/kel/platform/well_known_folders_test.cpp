#include "kel/platform/well_known_folders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/testlib/environment.h"

namespace kel::platform {
namespace {

namespace fs = std::filesystem;

// The folders that hold the system or a user's files as a whole, on the
// sandboxed machine: by their place, as homes of users who log in, and
// through links.
TEST(SystemFolders, OfTheSandboxedMachine) {
  orvi::test::Sandbox sandbox;
  orvi::test::ScopedEnv user("SUDO_UID", "1000");
  sandbox.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
  sandbox.AddAccount("carol", 1001, "/srv/people/carol", "/bin/bash", true);
  sandbox.AddAccount("daemon", 1, "/var/lib/daemon/home", "/usr/sbin/nologin", true);
  fs::create_directories(sandbox / "/usr/lib");
  fs::create_directories(sandbox / "/srv/apps");
  fs::create_directory_symlink(sandbox / "/usr/lib", sandbox / "/srv/apps/lib");
  fs::create_directory_symlink(sandbox / "/home/alice", sandbox / "/srv/apps/alice");
  orvi::test::TempDir outside;
  fs::create_directory_symlink(outside.Path(), sandbox / "/srv/apps/outside");

  const struct {
    std::string folder;
    bool system;
  } rows[] = {
      {sandbox.Root(), true},
      {sandbox / "/", true},
      {sandbox / "/opt/", true},
      {sandbox / "/opt", true},
      {sandbox / "/data", true},  // any top-level folder, existing or not
      {sandbox / "/usr/local/", true},
      {sandbox / "/usr/local/share/", true},
      {sandbox / "/var/lib/", true},
      {sandbox / "/home/alice/", true},
      {sandbox / "/srv/people/carol", true},
      {sandbox / "/srv/apps/lib/", true},    // a link to /usr/lib
      {sandbox / "/srv/apps/alice/", true},  // a link to a home
      {sandbox / "/srv/apps/outside/", true},  // a link out of the sandbox
      {sandbox / "/opt/../opt/", true},
      {sandbox / "/opt/ORVI/", false},
      {sandbox / "/usr/local/share/ORVI/", false},
      {sandbox / "/home/alice/ORVI/", false},
      {sandbox / "/srv/people/", false},
      {sandbox / "/var/lib/daemon/home/", false},  // a service's, no login
      {sandbox / "/srv/apps/lib/ORVI/", false},
      {outside.Path(), true},  // not on the sandboxed machine at all
      {"", false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsSystemFolder(row.folder), row.system) << row.folder;
}

}  // namespace
}  // namespace kel::platform
