#include "kel/base/hashes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kel/base/crc32_clmul.h"
#include "kel/base/error.h"
#include "kel/base/stream.h"
#include "support/temp_dir.h"

namespace kel {
namespace {

uint32_t Crc(std::string_view bytes) { return kelCrc32Update(0, bytes.data(), bytes.size()); }

TEST(Crc32, KnownValues) {
  EXPECT_EQ(Crc(""), 0u);
  EXPECT_EQ(Crc("abc"), 0x2C17398Cu);
  EXPECT_EQ(Crc("123456789"), 0x89A1897Fu);
}

TEST(Crc32, SlicedPathAgreesWithBytewiseAcrossSplits) {
  std::string data(1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + 7);
  uint32_t bytewise = 0;
  for (char c : data) bytewise = kelCrc32Update(bytewise, &c, 1);
  EXPECT_EQ(Crc(data), bytewise);
  for (size_t split : {1u, 15u, 16u, 17u, 999u}) {
    const uint32_t first = kelCrc32Update(0, data.data(), split);
    EXPECT_EQ(kelCrc32Update(first, data.data() + split, data.size() - split), bytewise) << split;
  }
}

TEST(Crc32, ClmulAgreesWithTableOnManyLengthsAndAlignments) {
  if (!kelCrc32ClmulSupported()) GTEST_SKIP() << "this processor has no carry-less multiplication";
  std::mt19937 rng(7);
  std::vector<uint8_t> data(70016);
  for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (size_t n : {1023u, 1024u, 1025u, 4096u, 65549u, 70000u}) lengths.push_back(n);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t length : lengths) {
      for (uint32_t crc : {0u, 0xFFFFFFFFu, static_cast<uint32_t>(rng())}) {
        ASSERT_EQ(kelCrc32Clmul(crc, data.data() + offset, length), kelCrc32Table(crc, data.data() + offset, length))
            << "offset " << offset << " length " << length << " crc " << crc;
      }
    }
  }
}

TEST(ElfHash, CaseInsensitiveNamesHashAlike) {
  EXPECT_EQ(kelElfHash("", true), 0u);
  EXPECT_EQ(kelElfHash("Name", true), kelElfHash("NAME", true));
  EXPECT_EQ(kelElfHash("\u0436", true), kelElfHash("\u0416", false));
  EXPECT_NE(kelElfHash("Name", false), kelElfHash("NAME", false));
  // Over UTF-16 code units: "A" is h = 0x41; "AB" is (0x41 << 4) + 0x42.
  EXPECT_EQ(kelElfHash("A", false), 0x41u);
  EXPECT_EQ(kelElfHash("AB", false), 0x452u);
}

// --- Hash classes ----------------------------------------------------------------

TEST(HashClasses, KnownValues) {
  const TKELEncoding utf8 = TKELEncoding::UTF8();
  EXPECT_EQ(TKELHashCRC32::Calculate("abc", utf8), 0x2C17398Cu);
  EXPECT_EQ(TKELHashCRC32::Calculate("123456789", utf8), 0x89A1897Fu);
  EXPECT_EQ(TKELHashCRC32::Calculate("\xC3\xA9", TKELEncoding::Windows1252()), Crc("\xE9"));
  // Without an encoding: UTF-16LE code units, a surrogate pair for U+1F600.
  EXPECT_EQ(TKELHashCRC32::Calculate("abc"), Crc(std::string("a\0b\0c\0", 6)));
  EXPECT_EQ(TKELHashCRC32::Calculate("\xF0\x9F\x98\x80"), Crc(std::string("\x3D\xD8\x00\xDE", 4)));

  EXPECT_EQ(TKELHashMD5::Calculate("", utf8), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(TKELHashMD5::Calculate("abc", utf8), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(TKELHashMD5::Calculate("message digest", utf8), "f96b697d7cb7938d525a2f31aaf161d0");
  auto state = TKELHashMD5::Initialize();
  TKELHashMD5::Update(state, "a\0b\0c\0", 6);
  EXPECT_EQ(TKELHashMD5::Calculate("abc"), TKELHashMD5::Finalize(state));
}

TEST(HashClasses, BobJenkinsLookup3) {
  const std::string text = "Four score and seven years ago";
  struct Case {
    uint32_t initial;
    std::string bytes;
    uint32_t hash;
  };
  const Case cases[] = {
      {0, "", 0xDEADBEEFu},
      {0xDEADBEEFu, "", 0xBD5B7DDEu},
      {0, text, 0x17770551u},
      {1, text, 0xCD628161u},
  };
  for (const Case& c : cases) {
    uint32_t state = c.initial;
    TKELHashBobJenkins::Update(state, c.bytes.data(), c.bytes.size());
    EXPECT_EQ(state, c.hash) << c.bytes << " from " << c.initial;
  }
  // The result is the state as a signed integer; an empty text adds nothing.
  EXPECT_EQ(TKELHashBobJenkins::Calculate(text, TKELEncoding::UTF8()), static_cast<int32_t>(0x17770551u));
  uint32_t state = 0xDEADBEEFu;
  EXPECT_EQ(TKELHashBobJenkins::Finalize(state), static_cast<int32_t>(0xDEADBEEFu));
  EXPECT_EQ(TKELHashBobJenkins::Calculate(""), 0);
}

// A stream that claims more bytes than it delivers.
class ShortStream : public TKELStream {
 public:
  size_t Read(void* buffer, size_t count) override {
    const size_t n = std::min<size_t>(count, 1000 - static_cast<size_t>(std::min<int64_t>(position_, 1000)));
    std::memset(buffer, 'x', n);
    position_ += static_cast<int64_t>(n);
    return n;
  }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    if (origin == SeekOrigin::Begin) position_ = offset;
    if (origin == SeekOrigin::Current) position_ += offset;
    if (origin == SeekOrigin::End) position_ = 100000 + offset;
    return position_;
  }

 private:
  int64_t position_ = 0;
};

TEST(HashClasses, ErrorsPassThrough) {
  ShortStream stream;
  uint32_t crc = TKELHashCRC32::Initialize();
  EXPECT_THROW(TKELHashCRC32::UpdateFromStream(crc, stream), EReadError);
  orvi::test::TempDir dir;
  EXPECT_THROW(TKELHashCRC32::UpdateFromFile(crc, dir / "missing"), EFOpenError);

  auto state = TKELHashMD5::Initialize();
  TKELHashMD5::Finalize(state);
  EXPECT_THROW(TKELHashMD5::Update(state, "x", 1), EArgumentError);
  EXPECT_THROW(TKELHashMD5::Finalize(state), EArgumentError);
}

// The hashes whose result does not depend on how the bytes are split.
template <class THash>
class StreamingHash : public testing::Test {};
using StreamingHashes = testing::Types<TKELHashCRC32, TKELHashMD5>;
TYPED_TEST_SUITE(StreamingHash, StreamingHashes);

TYPED_TEST(StreamingHash, EverySourceGivesTheSameResult) {
  using THash = TypeParam;
  // Text over several stream blocks, with a non-ASCII character.
  std::string content;
  for (int i = 0; content.size() < 3 * TKELHashBase::kStreamBlockSize + 123; ++i)
    content += "line " + std::to_string(i) + " \xC3\xBC\n";
  const auto hashOf = [](std::string_view bytes) {
    auto state = THash::Initialize();
    THash::Update(state, bytes.data(), bytes.size());
    return THash::Finalize(state);
  };
  const auto expected = hashOf(content);

  EXPECT_EQ(THash::Calculate(content, TKELEncoding::UTF8()), expected);
  EXPECT_EQ(THash::Calculate(content), hashOf(TKELEncoding::UTF16LE().Encode(content)));

  // Split updates, after a Reset.
  auto state = THash::Initialize();
  THash::Update(state, "noise", 5);
  THash::Reset(state);
  THash::Update(state, content.data(), 1000);
  THash::UpdateFromString(state, std::string_view(content).substr(1000), TKELEncoding::UTF8());
  EXPECT_EQ(THash::Finalize(state), expected);

  // A memory stream from its position on, in one piece.
  TKELMemoryStream memory("prefix" + content);
  memory.SetPosition(6);
  std::vector<int64_t> progress;
  const TKELHashProgress record = [&](int64_t position, int64_t size) {
    EXPECT_EQ(size, static_cast<int64_t>(content.size()) + 6);
    progress.push_back(position);
  };
  state = THash::Initialize();
  THash::UpdateFromStream(state, memory, record);
  EXPECT_EQ(THash::Finalize(state), expected);
  EXPECT_EQ(memory.GetPosition(), memory.GetSize());
  EXPECT_EQ(progress, std::vector<int64_t>{memory.GetSize()});

  // A file stream from its position on, block by block.
  orvi::test::TempDir dir;
  const std::string file = dir.WriteFile("content.txt", "prefix" + content);
  progress.clear();
  {
    TKELFileStream stream(file, fmOpenRead | fmShareDenyNone);
    stream.SetPosition(6);
    state = THash::Initialize();
    THash::UpdateFromStream(state, stream, record);
    EXPECT_EQ(THash::Finalize(state), expected);
  }
  ASSERT_EQ(progress.size(), 4u);
  EXPECT_EQ(progress[0], 6 + static_cast<int64_t>(TKELHashBase::kStreamBlockSize));
  EXPECT_EQ(progress.back(), static_cast<int64_t>(content.size()) + 6);

  // A file, and a file holding nothing.
  state = THash::Initialize();
  THash::UpdateFromString(state, "prefix", TKELEncoding::UTF8());
  THash::UpdateFromFile(state, dir.WriteFile("rest.txt", content));
  EXPECT_EQ(THash::Finalize(state), hashOf("prefix" + content));
  state = THash::Initialize();
  THash::UpdateFromFile(state, dir.WriteFile("empty.txt", ""));
  EXPECT_EQ(THash::Finalize(state), hashOf(""));
}

}  // namespace
}  // namespace kel
