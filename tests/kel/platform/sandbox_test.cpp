#include "kel/platform/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "kel/platform/process.h"
#include "support/testlib/environment.h"

namespace kel::platform {
namespace {

using orvi::test::ScopedEnv;

TEST(Sandbox, NormalizePath) {
  const struct {
    const char* in;
    const char* out;
  } rows[] = {
      {"/a//b/./c/", "/a/b/c/"}, {"/a/../../b", "/b"}, {"a/../../b", "../b"}, {"/..", "/"},
      {"./", "./"},             {".", "."},            {"", ""},               {"a/b/..", "a"},
  };
  for (const auto& row : rows) EXPECT_EQ(NormalizePath(row.in), row.out) << row.in;
}

TEST(Sandbox, SystemPathsAreMappedIntoTheSandbox) {
  {
    ScopedEnv none("ORVI_SETUP_SANDBOX", nullptr);
    EXPECT_FALSE(IsSandboxed());
    EXPECT_EQ(SandboxRoot(), "");
    EXPECT_EQ(SystemPath("/opt/"), "/opt/");
  }
  orvi::test::Sandbox sandbox;
  EXPECT_TRUE(IsSandboxed());
  EXPECT_TRUE(IsElevated()) << "the sandbox counts as elevated";
  EXPECT_EQ(SandboxRoot(), sandbox.Root());
  EXPECT_EQ(SystemPath("/opt/"), sandbox.Root() + "/opt/");
  EXPECT_EQ(SystemPath("/var/lib/../../../etc/passwd"), sandbox.Root() + "/etc/passwd") << "'..' stays inside";
  EXPECT_EQ(SystemPath("relative"), sandbox.Root() + "/relative");
}

TEST(Sandbox, RelativeFolderIsFixedWhenFirstSeen) {
  orvi::test::TempDir dir;
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  ScopedEnv sandbox("ORVI_SETUP_SANDBOX", "machine/");
  const std::string root = SandboxRoot();
  std::filesystem::current_path(before);
  EXPECT_EQ(root, std::filesystem::canonical(dir.Path()).string() + "/machine");
  EXPECT_EQ(SandboxRoot(), root) << "a later change of the current folder does not move it";
}

}  // namespace
}  // namespace kel::platform

namespace kel::platform {
namespace {

TEST(Sandbox, PathsTheUserGivesLandInsideIt) {
  orvi::test::ScopedEnv none(kSandboxVariable, nullptr);
  EXPECT_EQ(MachinePath("/opt/ORVI"), "/opt/ORVI");
  orvi::test::Sandbox sandbox;
  const std::string root = sandbox.Root();
  const struct {
    std::string given, machine;
  } rows[] = {
      {"/opt/My Apps/ORVI", root + "/opt/My Apps/ORVI"},
      {root + "/opt/ORVI/", root + "/opt/ORVI/"},  // already inside
      {root, root},
      {"/../etc", root + "/etc"},
      {"relative/dir", "relative/dir"},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(MachinePath(row.given), row.machine) << row.given;
}

TEST(Sandbox, SystemPathsAsTheMachineSeesThem) {
  orvi::test::Sandbox sandbox;
  const std::string root = sandbox.Root();
  const struct {
    std::string system, onMachine;
  } rows[] = {
      {root + "/opt/ORVI/", "/opt/ORVI/"}, {root, "/"}, {root + "/", "/"}, {root + "/a/../b", "/b"},
      {root + "x/opt", root + "x/opt"},  // beside the sandbox, not in it
      {"/etc/passwd", "/etc/passwd"},    {"relative", "relative"},
  };
  for (const auto& row : rows) EXPECT_EQ(PathOnMachine(row.system), row.onMachine) << row.system;
  orvi::test::ScopedEnv none(kSandboxVariable, nullptr);
  EXPECT_EQ(PathOnMachine(root + "/opt/"), root + "/opt/");
}

}  // namespace
}  // namespace kel::platform
