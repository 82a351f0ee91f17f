#include "kel/base/stream.h"

#include <gtest/gtest.h>

#include <random>

#include "kel/base/error.h"
#include "support/temp_dir.h"

namespace kel {
namespace {

TEST(MemoryStream, ReadWriteSeek) {
  TKELMemoryStream s;
  s.WriteString("hello world");
  EXPECT_EQ(s.GetSize(), 11);
  s.SetPosition(6);
  EXPECT_EQ(s.ReadRest(), "world");
  s.Seek(-5, SeekOrigin::End);
  s.WriteString("there!");
  EXPECT_EQ(s.View(), "hello there!");
  char buffer[4];
  s.SetPosition(10);
  EXPECT_THROW(s.ReadBuffer(buffer, 4), EReadError);
  s.SetSize(5);
  EXPECT_EQ(s.View(), "hello");
}

TEST(FileStream, OpenErrorNamesTheFile) {
  orvi::test::TempDir dir;
  const std::string missing = dir / "missing.txt";
  try {
    TKELFileStream stream(missing, fmOpenRead | fmShareDenyNone);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + missing + "\". No such file or directory");
  }
  EXPECT_EQ(TKELBufferedFileStream::OpenForRead(missing), nullptr);
  EXPECT_EQ(TKELBufferedFileStream::Create(dir / "no/such/folder/x"), nullptr);
}

TEST(BufferedFileStream, MatchesAMemoryStreamUnderRandomOperations) {
  // The same random reads, writes and seeks on a small-buffered file stream
  // and on a memory stream must give the same bytes.
  orvi::test::TempDir dir;
  std::mt19937 rng(1);
  TKELMemoryStream model;
  {
    TKELBufferedFileStream file(dir / "f.bin", fmCreate, 1024);
    for (int step = 0; step < 3000; ++step) {
      const int64_t size = model.GetSize();
      switch (rng() % 4) {
        case 0: {
          std::string bytes(rng() % 3000, '\0');
          for (char& c : bytes) c = static_cast<char>(rng());
          model.WriteString(bytes);
          file.WriteString(bytes);
          break;
        }
        case 1: {
          std::string a(rng() % 3000, '\0'), b(a.size(), '\0');
          ASSERT_EQ(model.Read(a.data(), a.size()), file.Read(b.data(), b.size()));
          ASSERT_EQ(a, b);
          break;
        }
        case 2: {
          const int64_t to = size ? static_cast<int64_t>(rng() % size) : 0;
          ASSERT_EQ(model.Seek(to, SeekOrigin::Begin), file.Seek(to, SeekOrigin::Begin));
          break;
        }
        default:
          ASSERT_EQ(model.GetPosition(), file.GetPosition());
          ASSERT_EQ(model.GetSize(), file.GetSize());
      }
    }
    file.Flush();
  }
  EXPECT_EQ(orvi::test::ReadFileBytes(dir / "f.bin"), std::string(model.View()));
}

TEST(Stream, CopyFromWholeSource) {
  TKELMemoryStream source("abcdef"), target;
  source.SetPosition(3);
  EXPECT_EQ(target.CopyFrom(source, 0), 6);
  EXPECT_EQ(target.View(), "abcdef");
  source.SetPosition(1);
  target.Clear();
  target.CopyFrom(source, 2);
  EXPECT_EQ(target.View(), "bc");
  EXPECT_THROW(target.CopyFrom(source, 100), EReadError);
}

}  // namespace
}  // namespace kel
