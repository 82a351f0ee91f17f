#include "kel/platform/file.h"

#include <gtest/gtest.h>

#include "kel/base/error.h"
#include "kel/base/stream.h"
#include "kel/platform/module.h"
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

}  // namespace
}  // namespace kel::platform
