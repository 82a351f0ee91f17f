#include "kel/platform/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "kel/base/error.h"
#include "kel/base/stream.h"
#include "kel/platform/module.h"
#include "kel/platform/users.h"
#include "support/temp_dir.h"

namespace kel::platform {
namespace {

TEST(FileSharing, ShareModesBecomeLocks) {
  orvi::test::TempDir dir;
  const std::string path = dir.WriteFile("shared.bin", "data");
  using A = FileAccess;
  using S = FileShare;
  const struct {
    A firstAccess;
    S firstShare;
    A secondAccess;
    S secondShare;
    bool secondOpens;
  } rows[] = {
      {A::ReadWrite, S::None, A::Read, S::ReadWrite, false},  // exclusive holder
      {A::Read, S::Read, A::Read, S::Read, true},             // readers that deny writing
      {A::Read, S::Read, A::Read, S::ReadWrite, true},
      {A::Read, S::Read, A::ReadWrite, S::ReadWrite, false},  // a writer is denied
      {A::Write, S::Read, A::Read, S::ReadWrite, false},      // denies writers; flock cannot let readers in
      {A::Read, S::ReadWrite, A::Write, S::ReadWrite, true},  // nobody denies anything
      {A::Write, S::ReadWrite, A::Read, S::None, true},
  };
  for (const auto& row : rows) {
    const FileHandle first = OpenFile(path, row.firstAccess, FileDisposition::OpenExisting, row.firstShare);
    ASSERT_NE(first, kInvalidFile);
    std::string error;
    const FileHandle second = OpenFile(path, row.secondAccess, FileDisposition::OpenExisting, row.secondShare, &error);
    EXPECT_EQ(second != kInvalidFile, row.secondOpens)
        << static_cast<int>(row.firstAccess) << "/" << static_cast<int>(row.firstShare) << " then "
        << static_cast<int>(row.secondAccess) << "/" << static_cast<int>(row.secondShare);
    if (second == kInvalidFile) {
      EXPECT_EQ(error, "The file is in use by another process.");
    }
    CloseFile(second);
    CloseFile(first);
  }
}

TEST(FileSharing, CreatingALockedFileLeavesItIntact) {
  orvi::test::TempDir dir;
  const std::string path = dir.WriteFile("locked.bin", "keep me");
  TKELFileStream holder(path, fmOpenRead | fmShareDenyWrite);
  try {
    TKELFileStream creator(path, fmCreate);
    FAIL() << "a file in use was opened for creation";
  } catch (const EFOpenError& error) {
    EXPECT_EQ(error.Message(), "Cannot open file \"" + path + "\". The file is in use by another process.");
  }
  EXPECT_EQ(dir.ReadFile("locked.bin"), "keep me");
  EXPECT_EQ(TKELBufferedFileStream::Create(path), nullptr);
  EXPECT_NE(TKELBufferedFileStream::OpenForRead(path), nullptr) << "readers that share everything still read";
}

TEST(FileSharing, RunningProgramIsInUse) {
  std::string error;
  const FileHandle self = OpenFile(ExecutablePath(), FileAccess::Write, FileDisposition::OpenExisting,
                                   FileShare::ReadWrite, &error);
  EXPECT_EQ(self, kInvalidFile);
  EXPECT_EQ(error, "Text file busy");
  CloseFile(self);
}

// Appends `text` through a new handle of OpenFileToAppend; "" or the error.
std::string Append(const std::string& path, AppendDisposition disposition, const UserAccount& user,
                   const std::string& text) {
  std::string error;
  const FileHandle file = OpenFileToAppend(path, disposition, user, &error);
  if (file == kInvalidFile) return error.empty() ? "no error text" : error;
  if (WriteFile(file, text.data(), text.size(), &error) < 0) error = "write: " + error;
  CloseFile(file);
  return error;
}

UserAccount ThisUser() {
  UserAccount user;
  user.uid = static_cast<uint32_t>(geteuid());
  return user;
}

TEST(OpenFileToAppend, DispositionsAppendAndNeverFollowALink) {
  orvi::test::TempDir dir;
  const std::string log = dir / "run.log";
  using D = AppendDisposition;
  EXPECT_EQ(Append(log, D::CreateNew, ThisUser(), "one\n"), "");
  EXPECT_EQ(Append(log, D::CreateNew, ThisUser(), "two\n"), "File exists");
  EXPECT_EQ(Append(log, D::OpenOrCreate, ThisUser(), "three\n"), "");
  EXPECT_EQ(dir.ReadFile("run.log"), "one\nthree\n");
  EXPECT_EQ(Append(log, D::CreateAlways, ThisUser(), "four\n"), "");
  EXPECT_EQ(dir.ReadFile("run.log"), "four\n");

  // Writes go to the end even after another writer's.
  std::string error;
  const FileHandle first = OpenFileToAppend(log, D::OpenOrCreate, ThisUser(), &error);
  ASSERT_NE(first, kInvalidFile) << error;
  EXPECT_EQ(Append(log, D::OpenOrCreate, ThisUser(), "five\n"), "");
  EXPECT_EQ(WriteFile(first, "six\n", 4), 4);
  CloseFile(first);
  EXPECT_EQ(dir.ReadFile("run.log"), "four\nfive\nsix\n");

  // What is no regular file is refused, a pipe without waiting for a reader.
  const std::string victim = dir.WriteFile("victim", "keep me");
  std::filesystem::create_symlink(victim, dir / "link.log");
  std::filesystem::create_directory(dir / "folder.log");
  ASSERT_EQ(mkfifo((dir / "pipe.log").c_str(), 0644), 0);
  for (const D disposition : {D::CreateNew, D::CreateAlways, D::OpenOrCreate}) {
    EXPECT_EQ(Append(dir / "link.log", disposition, ThisUser(), "x"),
              disposition == D::CreateNew ? "File exists" : "Symbolic link not followed");
    EXPECT_NE(Append(dir / "folder.log", disposition, ThisUser(), "x"), "");
    EXPECT_NE(Append(dir / "pipe.log", disposition, ThisUser(), "x"), "");
  }
  EXPECT_EQ(Append(dir / "pipe.log", D::OpenOrCreate, ThisUser(), "x"), "Not a regular file");
  EXPECT_EQ(dir.ReadFile("victim"), "keep me");
}

// With administrator rights a file is opened for another user only with
// that user's rights, and a new file is the user's.
TEST(OpenFileToAppend, RootOpensWithTheRightsOfTheUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act for another user";
  UserAccount nobody;
  nobody.name = "nobody";
  nobody.uid = 65534;
  nobody.gid = 65534;
  orvi::test::TempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  const std::string theirs = dir / "theirs";
  std::filesystem::create_directory(theirs);
  ASSERT_EQ(chown(theirs.c_str(), nobody.uid, nobody.gid), 0);
  const std::string rootsFile = dir.WriteFile("theirs/root.log", "root's");

  using D = AppendDisposition;
  EXPECT_EQ(Append(theirs + "/run.log", D::CreateAlways, nobody, "x\n"), "");
  struct stat info;
  ASSERT_EQ(stat((theirs + "/run.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, nobody.uid);
  EXPECT_EQ(Append(dir / "run.log", D::CreateAlways, nobody, "x"), "Permission denied") << "root's folder";
  EXPECT_EQ(Append(rootsFile, D::OpenOrCreate, nobody, "x"), "Permission denied") << "root's file";
  EXPECT_EQ(dir.ReadFile("theirs/root.log"), "root's");
  EXPECT_FALSE(std::filesystem::exists(dir / "run.log"));
}

}  // namespace
}  // namespace kel::platform
