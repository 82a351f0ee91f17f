#include "kel/platform/users.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/fuzz.h"
#include "support/testlib/environment.h"

namespace kel::platform {
namespace {

using orvi::test::ScopedEnv;

TEST(Passwd, Parse) {
  const std::vector<UserAccount> accounts = ParsePasswd(
      "root:x:0:0:root:/root:/bin/bash\n"
      "# a comment\n"
      "\n"
      "+nisuser::::::\n"
      "short:x:1:1\n"
      "toolong:x:1:1:a:b:c:d\n"
      "baduid:x:abc:1::/home/b:/bin/sh\n"
      ":x:5:5::/home/noname:/bin/sh\n"
      "alice:x:1000:1001:Alice,,,:/home/alice:/bin/zsh\r\n"
      "bob:x:1002:1002::/home/bob:");
  ASSERT_EQ(accounts.size(), 3u);
  EXPECT_EQ(accounts[0].name, "root");
  EXPECT_EQ(accounts[1].name, "alice");
  EXPECT_EQ(accounts[1].uid, 1000u);
  EXPECT_EQ(accounts[1].gid, 1001u);
  EXPECT_EQ(accounts[1].home, "/home/alice");
  EXPECT_EQ(accounts[1].shell, "/bin/zsh");
  EXPECT_EQ(accounts[2].shell, "");
}

TEST(Passwd, Fuzz) {
  orvi::test::RunFuzzTarget(
      "ParsePasswd", [](std::string_view text) { ParsePasswd(text); },
      {{"root:x:0:0:root:/root:/bin/bash\nalice:x:1000:1000::/home/alice:/bin/sh\n"}, {":", "\n", "4294967295"}, 512});
}

class AccountsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.AddAccount("root", 0, "/root", "/bin/bash", true);
    sandbox_.AddAccount("daemon", 1, "/usr/sbin", "/usr/sbin/nologin", true);
    sandbox_.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
    sandbox_.AddAccount("service", 1001, "/home/service", "/usr/sbin/nologin", true);
    sandbox_.AddAccount("locked", 1002, "/home/locked", "/bin/false", true);
    sandbox_.AddAccount("gone", 1003, "/home/gone", "/bin/bash", false);
    sandbox_.AddAccount("nobody", 65534, "/nonexistent", "/bin/sh", true);
    sandbox_.AddAccount("bob", 1004, "/home/bob", "", true);
    sandbox_.AddAccount("escaping", 1005, "/../../../../tmp", "/bin/sh", false);  // /tmp exists outside only
  }
  orvi::test::Sandbox sandbox_;
};

TEST_F(AccountsTest, LoginAccountsOfTheSandbox) {
  std::string names;
  for (const UserAccount& account : LoginAccounts()) names += account.name + "=" + account.home + " ";
  EXPECT_EQ(names, "alice=" + (sandbox_ / "/home/alice") + " bob=" + (sandbox_ / "/home/bob") + " ");
}

TEST_F(AccountsTest, InvokingUser) {
  {
    ScopedEnv uid("SUDO_UID", "1000"), gid("SUDO_GID", "27");
    const UserAccount user = InvokingUser();
    EXPECT_EQ(user.name, "alice");
    EXPECT_EQ(user.gid, 27u);
    EXPECT_EQ(user.home, sandbox_ / "/home/alice");
  }
  {
    ScopedEnv uid("PKEXEC_UID", "1004");
    EXPECT_EQ(InvokingUser().name, "bob");
  }
  {
    ScopedEnv uid("SUDO_UID", "4242"), name("SUDO_USER", "carol");
    const UserAccount user = InvokingUser();
    EXPECT_EQ(user.name, "carol") << "an account missing from the sandbox";
    EXPECT_EQ(user.home, sandbox_ / "/home/carol");
  }
  {
    ScopedEnv uid("SUDO_UID", "4242"), name("SUDO_USER", "../../etc");
    EXPECT_EQ(InvokingUser().home, sandbox_ / "/home/user") << "a name cannot lead out of the sandbox";
  }
  {
    ScopedEnv uid("SUDO_UID", "not a number");
    EXPECT_EQ(InvokingUser().uid, getuid());
  }
}

}  // namespace
}  // namespace kel::platform
