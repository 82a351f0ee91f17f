#include "kel/platform/file_details.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace kel::platform {
namespace {

namespace fs = std::filesystem;

// Who may change a path: the file and every folder above it must be the
// administrator's (or this process's user's), closed to others' writing
// unless sticky; links are judged where they lead too.
TEST(FileDetails, OnlyTheAdministratorMayChange) {
  orvi::test::TempDir dir;  // this user's, below the sticky temporary folder
  const std::string own = dir.WriteFile("own/lib.so", "x");
  const std::string groupWritable = dir.WriteFile("group/lib.so", "x");
  const std::string inOpenFolder = dir.WriteFile("open/inner/lib.so", "x");
  const std::string inSticky = dir.WriteFile("sticky/lib.so", "x");
  const std::string otherUsers = dir.WriteFile("other/lib.so", "x");
  fs::permissions(groupWritable, fs::perms(0664));
  fs::permissions(dir / "open", fs::perms(0777));
  fs::permissions(dir / "sticky", fs::perms(01777));
  fs::create_symlink(own, dir / "own/link.so");
  fs::create_symlink(inOpenFolder, dir / "own/escape.so");
  fs::create_directory_symlink(dir / "open/inner", dir / "own/folder");
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((dir / "other").c_str(), 65534, 65534), 0);
  }

  const struct {
    std::string path;
    bool trusted;
  } rows[] = {
      {own, true},
      {dir / "own", true},
      {dir / "own/link.so", true},
      {inSticky, true},
      {groupWritable, false},
      {inOpenFolder, false},
      {dir / "own/escape.so", false},  // a link into a folder others may write
      {dir / "own/folder/lib.so", false},
      {dir / "own/missing.so", false},
      {dir / "own/../own/lib.so", false},  // only plain absolute paths
      {"own/lib.so", false},
      {"", false},
      {otherUsers, !root},  // without root, "other" stays this user's
  };
  for (const auto& row : rows) EXPECT_EQ(OnlyAdministratorMayChange(row.path), row.trusted) << row.path;
}

}  // namespace
}  // namespace kel::platform
