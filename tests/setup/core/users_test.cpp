#include "setup/core/users.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace setup
