#include "kel/platform/filesystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kel/platform/process.h"
#include "support/testlib/environment.h"

namespace kel::platform {
namespace {

namespace fs = std::filesystem;
using orvi::test::NamesIn;

TEST(DeleteAtRestart, TemporaryFilesAreLeftToTheSystem) {
  orvi::test::TempDir base, elsewhere;
  orvi::test::ScopedEnv tmpdir("TMPDIR", base.Path().c_str());
  orvi::test::ScopedEnv noSandbox("ORVI_SETUP_SANDBOX", nullptr);

  // Only the private folders of runs are left to the system, and asking
  // makes none.
  const std::string installed = base.WriteFile("ORVI/in-use.bin", "x");
  EXPECT_TRUE(DeleteAtRestart(installed));
  EXPECT_FALSE(fs::exists(installed)) << "an installation below the temporary folder is no run's";
  EXPECT_EQ(NamesIn(base.Path()), std::vector<std::string>{"ORVI"});

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

// The relocated uninstaller recognises the private folder it runs from,
// whichever process made it, and nothing else below the temporary folders.
TEST(TemporaryDirectory, RecognisedWithoutBeingMade) {
  orvi::test::TempDir base;
  orvi::test::ScopedEnv tmpdir("TMPDIR", base.Path().c_str());
  orvi::test::ScopedEnv noSandbox("ORVI_SETUP_SANDBOX", nullptr);
  std::string another = base / "orvi-setup-XXXXXX";
  ASSERT_NE(mkdtemp(another.data()), nullptr) << "made by another run";
  fs::create_directories(base / "ORVI/orvi-setup-nested");
  fs::permissions(base / "ORVI/orvi-setup-nested", fs::perms::owner_all);
  fs::create_directories(base / "orvi-setup-opened");
  fs::permissions(base / "orvi-setup-opened", fs::perms(0755));
  fs::create_directory_symlink(another, base / "orvi-setup-linked");
  const std::vector<std::string> before = NamesIn(base.Path());

  const struct {
    std::string folder;
    bool recognised;
  } rows[] = {
      {another + "/", true},
      {another, true},
      {base / "ORVI/", false},
      {base.Path() + "/", false},
      {base / "ORVI/orvi-setup-nested/", false},
      {base / "orvi-setup-opened/", false},
      {base / "orvi-setup-linked/", false},
      {base / "orvi-setup-absent/", false},
      {"", false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsTemporaryDirectory(row.folder), row.recognised) << row.folder;
  EXPECT_EQ(NamesIn(base.Path()), before) << "asking makes nothing";

  const std::string own = TemporaryDirectory();
  EXPECT_TRUE(IsTemporaryDirectory(own)) << own;
}

// The run's folder is made only where nobody else can rename it or put
// another in its place: a temporary folder open to all is refused, unless
// it is sticky (as /tmp).
TEST(TemporaryDirectory, OnlyWhereOthersCannotSwapIt) {
  orvi::test::TempDir dir;
  orvi::test::ScopedEnv noSandbox("ORVI_SETUP_SANDBOX", nullptr);
  const struct {
    const char* base;
    fs::perms mode;
    bool made;
  } rows[] = {{"private", fs::perms(0700), true}, {"sticky", fs::perms(01777), true}, {"open", fs::perms(0777), false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.base);
    fs::create_directories(dir / row.base);
    fs::permissions(dir / row.base, row.mode);
    orvi::test::ScopedEnv tmpdir("TMPDIR", (dir / row.base).c_str());
    std::string error;
    const std::string folder = TemporaryDirectory(&error);
    EXPECT_EQ(!folder.empty(), row.made) << folder;
    EXPECT_EQ(NamesIn(dir / row.base).size(), row.made ? 1u : 0u);
    if (!row.made) {
      EXPECT_EQ(error, "The temporary folder \"" + dir / row.base +
                           "\" can be changed by other users (it, or a folder above it, is theirs or open to their "
                           "writing).");
    }
  }
}

// Links resolved as far as the path exists; the rest as written.
TEST(Paths, Resolved) {
  orvi::test::TempDir dir;
  const std::string real = fs::canonical(dir.Path()).string();
  fs::create_directories(dir / "real/sub");
  fs::create_directory_symlink(dir / "real", dir / "link");
  const struct {
    std::string path, resolved;
  } rows[] = {
      {dir / "link/sub", real + "/real/sub"},
      {dir / "link/new/deeper/", real + "/real/new/deeper"},
      {dir / "link/../link/sub", real + "/real/sub"},  // ".." of the path as written
      {"/", "/"},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(ResolvedPath(row.path), row.resolved) << row.path;
}

// Files compared by content, without waiting for what is no file.
TEST(Files, SameContent) {
  orvi::test::TempDir dir;
  const std::string big(200 * 1024, 'x');
  std::string bigChanged = big;
  bigChanged.back() = 'y';
  const std::string a = dir.WriteFile("a", big), same = dir.WriteFile("same", big);
  const std::string changed = dir.WriteFile("changed", bigChanged), shorter = dir.WriteFile("shorter", "xx");
  const std::string empty = dir.WriteFile("empty", ""), alsoEmpty = dir.WriteFile("also-empty", "");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_TRUE(SameFileContent(a, same));
  EXPECT_TRUE(SameFileContent(empty, alsoEmpty));
  EXPECT_FALSE(SameFileContent(a, changed));
  EXPECT_FALSE(SameFileContent(a, shorter));
  EXPECT_FALSE(SameFileContent(a, dir / "missing"));
  EXPECT_FALSE(SameFileContent(empty, dir / "fifo"));
  EXPECT_FALSE(SameFileContent(dir.Path(), dir.Path()));
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
