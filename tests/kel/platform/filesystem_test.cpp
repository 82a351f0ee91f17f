#include "kel/platform/filesystem.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "kel/platform/process.h"
#include "support/testlib/environment.h"

namespace kel::platform {
namespace {

namespace fs = std::filesystem;

TEST(DeleteAtRestart, TemporaryFilesAreLeftToTheSystem) {
  orvi::test::TempDir base, elsewhere;
  orvi::test::ScopedEnv tmpdir("TMPDIR", base.Path().c_str());
  orvi::test::ScopedEnv noSandbox("ORVI_SETUP_SANDBOX", nullptr);

  const std::string temporary = CreateTemporaryFile(TemporaryDirectory(), "delete");
  ASSERT_FALSE(temporary.empty());
  EXPECT_TRUE(DeleteAtRestart(temporary));
  EXPECT_TRUE(fs::exists(temporary)) << "still needed until the system starts again";

  const std::string other = elsewhere.WriteFile("in-use.bin", "x");
  EXPECT_TRUE(DeleteAtRestart(other));
  EXPECT_FALSE(fs::exists(other)) << "Linux deletes it at once";
  EXPECT_FALSE(DeleteAtRestart(other)) << "nothing to delete";
  EXPECT_FALSE(DeleteAtRestart(base / "missing"));
}

TEST(Directories, CreateAndRead) {
  orvi::test::TempDir dir;
  EXPECT_TRUE(CreateDirectories(dir / "a/b/c"));
  EXPECT_TRUE(CreateDirectories(dir / "a/b/c/")) << "existing counts";
  std::string error;
  EXPECT_FALSE(CreateDirectories(dir.WriteFile("f", "") + "/x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(CreateDirectories(""));

  std::vector<DirectoryEntry> entries;
  EXPECT_TRUE(ReadDirectory(dir / "a", entries));
  ASSERT_EQ(entries.size(), 1u) << "no '.' or '..'";
  EXPECT_EQ(entries[0].name, "b");
  EXPECT_EQ(entries[0].status.kind, FileKind::Directory);
  EXPECT_FALSE(ReadDirectory(dir / "missing", entries, &error));
  EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace kel::platform

namespace kel::platform {
namespace {

TEST(ReplaceFile, RenamesOverARunningProgram) {
  orvi::test::TempDir dir;
  const std::string target = dir.WriteFile("prog", "#!/bin/sh\nsleep 5\n");
  ASSERT_TRUE(SetExecutable(target, true));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  const StartResult running = StartProgram(target, {});
  ASSERT_TRUE(running.started);
  const std::string fresh = dir.WriteFile("prog.new", "new");
  EXPECT_TRUE(ReplaceFile(fresh, target));
  EXPECT_EQ(dir.ReadFile("prog"), "new");
  EXPECT_FALSE(fs::exists(fresh));
  std::string error;
  EXPECT_FALSE(ReplaceFile(dir / "missing", target, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(SetExecutable(target, false));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_FALSE(SetExecutable(dir / "missing", true));
}

}  // namespace
}  // namespace kel::platform
