#include "setup/package/package.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <limits>
#include <random>

#include "allocation_probe.h"
#include "kel/base/text.h"
#include "package_fixtures.h"
#include "support/fuzz.h"
#include "support/temp_dir.h"

namespace setup {
namespace {

using orvi::test::BodyOf;
using orvi::test::BuildPackage;
using orvi::test::OpenError;
using orvi::test::OpenPackage;
using orvi::test::PackageFiles;

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

std::string Text(size_t size) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) text += "Line " + std::to_string(line * 7919 % 1000) + " of the text\n";
  text.resize(size);
  return text;
}

std::string FileContent(const TSetupPackageReader& reader, std::string_view name) {
  std::unique_ptr<kel::TKELMemoryStream> stream;
  EXPECT_TRUE(reader.GetFile(name, stream)) << name;
  if (!stream) return "<missing>";
  EXPECT_EQ(stream->GetPosition(), 0);
  return std::string(stream->View());
}

uint32_t LE32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  return value;
}

// Checks that the reader holds exactly these files: table in order, body
// laid out as files then table, lookups ignoring case with the first match
// winning.
void ExpectHolds(const TSetupPackageReader& reader, const PackageFiles& files) {
  ASSERT_EQ(reader.FileTable().Count(), static_cast<int>(files.size()));
  EXPECT_EQ(reader.Data().View(), BodyOf(files));
  for (size_t i = 0; i < files.size(); ++i) {
    const auto& item = reader.FileTable()[static_cast<int>(i)];
    EXPECT_EQ(item.Name, files[i].first);
    EXPECT_EQ(item.Size, static_cast<int64_t>(files[i].second.size()));
    size_t first = 0;
    while (!kel::kelSameText(files[first].first, files[i].first)) ++first;
    EXPECT_EQ(FileContent(reader, files[i].first), files[first].second) << files[i].first;
    EXPECT_EQ(FileContent(reader, kel::kelUpperCase(files[i].first)), files[first].second);
  }
  EXPECT_FALSE(reader.Contains("no such file"));
  std::unique_ptr<kel::TKELMemoryStream> none;
  EXPECT_FALSE(reader.GetFile("no such file", none));
  EXPECT_EQ(none, nullptr);
}

struct RoundTripCase {
  const char* label;
  PackageFiles files;
  int level = kSetupPackageDefaultLevel;
};

TEST(SetupPackage, RoundTrips) {
  const RoundTripCase cases[] = {
      {"no files", {}},
      {"empty files", {{"empty.txt", ""}, {"also empty", ""}}},
      {"names differing only in case: the first wins",
       {{"Install.xml", "first"}, {"INSTALL.XML", "second"}, {"install.xml", "third"}}},
      {"nested names",
       {{"Plugins\\Audio\\out.dll", RandomBytes(5000, 1)}, {"Skins\\Dark\\panel.png", RandomBytes(300, 2)},
        {"readme.txt", Text(4000)}}},
      {"non-ASCII names", {{"Языки\\Русский.lng", "[File]"}, {"日本語.lng", "x"}, {"emoji \U0001F600.txt", "y"}}},
      {"level 0, incompressible", {{"random.bin", RandomBytes(100000, 3)}}, 0},
      {"level 9, text", {{"a.txt", Text(100000)}, {"b.bin", RandomBytes(1000, 4)}}, 9},
      {"longest name", {{std::string(65535, 'n'), "long"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto reader = OpenPackage(BuildPackage(c.files, c.level));
    ExpectHolds(*reader, c.files);
  }
}

TEST(SetupPackage, LayoutOfHeaderAndStream) {
  const PackageFiles files = {{"a.txt", "hello"}, {"b.txt", Text(3000)}};
  const std::string package = BuildPackage(files);
  const std::string body = BodyOf(files);
  EXPECT_EQ(package.substr(0, 4), "IPK5");
  EXPECT_EQ(LE32(package, 4), orvi::test::Crc(body));
  EXPECT_EQ(LE32(package, 8), body.size());
  // Unscrambled, the stream starts with the level-4 properties: lc 3, lp 0,
  // pb 2, a 4 MiB dictionary.
  EXPECT_EQ(orvi::test::Scramble(package.substr(12, 5)), std::string("\x5D\x00\x00\x40\x00", 5));

  // A package without files is a body of the empty table and its length.
  const std::string empty = BuildPackage({});
  EXPECT_EQ(LE32(empty, 8), 8u);
  EXPECT_EQ(OpenPackage(empty)->Data().View(), std::string("\0\0\0\0\4\0\0\0", 8));

  // Committing leaves the builder as it was: a second commit writes the same.
  TSetupPackageBuilder builder{std::string(kSetupPackageKey)};
  kel::TKELMemoryStream file("content");
  builder.Add(file, "f");
  kel::TKELMemoryStream first, second;
  builder.CommitTo(first, 4);
  builder.CommitTo(second, 4);
  EXPECT_EQ(first.View(), second.View());
  EXPECT_EQ(builder.FileTable().Count(), 1);
}

TEST(SetupPackage, LevelsWriteTheirDictionaryAndOpen) {
  const struct {
    int level;
    uint32_t dictionary;
  } levels[] = {{0, 1u << 14}, {1, 1u << 16}, {3, 1u << 20}, {5, 1u << 24}, {6, 1u << 25}, {9, 1u << 26}};
  const PackageFiles files = {{"t.txt", Text(20000)}};
  for (const auto& l : levels) {
    const std::string package = BuildPackage(files, l.level);
    const std::string properties = orvi::test::Scramble(package.substr(12, 5));
    EXPECT_EQ(LE32(properties, 1), l.dictionary) << l.level;
    ExpectHolds(*OpenPackage(package), files);
  }
  EXPECT_EQ(SetupPackageLzmaSettings(4).MatchFinderCycles, 16u);
  EXPECT_EQ(SetupPackageLzmaSettings(9).FastBytes, 64u);
}

TEST(SetupPackage, BuilderRefusesWhatTheFormatCannotHold) {
  TSetupPackageBuilder builder{std::string(kSetupPackageKey)};
  kel::TKELMemoryStream content("x");
  EXPECT_THROW(builder.Add(content, std::string(65536, 'n')), kel::EArgumentError);
  EXPECT_THROW(builder.Add(content, "bad \xFF name"), kel::EArgumentError);
  EXPECT_EQ(builder.FileTable().Count(), 0);
  EXPECT_EQ(builder.Data().GetSize(), 0);
  kel::TKELMemoryStream out;
  EXPECT_THROW(builder.CommitTo(out, 10), kel::EArgumentError);
  EXPECT_THROW(builder.CommitTo(out, -1), kel::EArgumentError);
  EXPECT_EQ(out.GetSize(), 0);
  EXPECT_THROW(TSetupPackageBuilder(""), kel::EArgumentError);
}

TEST(SetupPackage, ReadsStreamsOfOtherEncoders) {
  // Plain LZMA1 ends with an end marker, which the reader accepts; other
  // properties and dictionaries than the builder's work as well.
  const PackageFiles files = {{"one", Text(50000)}, {"two", RandomBytes(2000, 5)}};
  const std::string body = BodyOf(files);
  const struct {
    uint32_t lc, lp, pb, dictionary;
  } variants[] = {{3, 0, 2, 1u << 22}, {0, 2, 0, 4096}, {1, 1, 4, 1u << 16}};
  for (const auto& v : variants) {
    SCOPED_TRACE(v.dictionary);
    ExpectHolds(*OpenPackage(orvi::test::EncodeWithEndMarker(body, v.lc, v.lp, v.pb, v.dictionary)), files);
  }
}

int RunShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return status < 0 ? -1 : (status >> 8) & 0xFF;  // the wait status: exit code in bits 8-15
}

TEST(SetupPackage, InteroperatesWithXz) {
  if (!orvi::test::HaveXz()) GTEST_SKIP() << "xz is not installed";
  orvi::test::TempDir dir;
  const PackageFiles files = {{"text.txt", Text(300000)}, {"data.bin", RandomBytes(50000, 6)}, {"empty", ""}};
  const std::string body = BodyOf(files);
  const std::string options = orvi::test::XzLzma1Options(SetupPackageLzmaSettings(4));

  // Our package, unscrambled and without its properties, is a raw stream
  // xz decodes. It has no end marker, so xz may complain that the input
  // ended, but only after the whole body.
  const std::string package = BuildPackage(files);
  dir.WriteFile("ours.lzma", orvi::test::Scramble(package.substr(12)).substr(5));
  const int decodeStatus = RunShell("xz -d --format=raw --lzma1=" + options + " -c '" + (dir / "ours.lzma") + "' > '" +
                                    (dir / "decoded") + "' 2> '" + (dir / "decode.err") + "'");
  EXPECT_EQ(dir.ReadFile("decoded"), body);
  if (decodeStatus != 0) {
    EXPECT_NE(dir.ReadFile("decode.err").find("Unexpected end of input"), std::string::npos);
  }

  // A stream xz encodes with the same settings (end marker included), given
  // the properties and our header, opens.
  dir.WriteFile("body", body);
  ASSERT_EQ(RunShell("xz --format=raw --lzma1=" + options + " -c '" + (dir / "body") + "' > '" + (dir / "xz.lzma") + "'"), 0);
  const std::string properties("\x5D\x00\x00\x40\x00", 5);
  const std::string wrapped =
      orvi::test::WrapStream(properties + dir.ReadFile("xz.lzma"), static_cast<uint32_t>(body.size()), orvi::test::Crc(body));
  ExpectHolds(*OpenPackage(wrapped), files);
}

// --- Damaged packages ------------------------------------------------------------------

void SetLE32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Writes an unscrambled byte of the compressed stream (offset 0 is the
// properties byte).
void SetStreamByte(std::string& package, size_t at, uint8_t value) {
  package[12 + at] = static_cast<char>(value ^ kSetupPackageKey[at % kSetupPackageKey.size()]);
}

TEST(SetupPackage, DamagedPackagesFailCleanly) {
  // Random data seen twice at a distance of 8000: decoding needs a window
  // larger than 4 KiB.
  const std::string random = RandomBytes(8000, 7);
  const PackageFiles files = {{"data.bin", random + random}};
  const std::string valid = BuildPackage(files);
  const std::string corrupted = "Package was corrupted";
  const struct {
    const char* label;
    std::function<void(std::string&)> damage;
    std::string message;
  } cases[] = {
      {"magic", [](std::string& p) { p[3] = '4'; }, corrupted},
      {"checksum", [](std::string& p) { p[5] ^= 0x01; }, corrupted},
      {"body size one more", [](std::string& p) { SetLE32(p, 8, LE32(p, 8) + 1); }, corrupted},
      {"body size one less", [](std::string& p) { SetLE32(p, 8, LE32(p, 8) - 1); }, corrupted},
      {"body size 0", [](std::string& p) { SetLE32(p, 8, 0); }, corrupted},
      {"properties byte above 224", [](std::string& p) { SetStreamByte(p, 0, 225); }, "LZMA Error (4)"},
      {"lc + lp above 4", [](std::string& p) { SetStreamByte(p, 0, 4 + 9 * 1); }, "LZMA Error (4)"},
      {"other lc/lp/pb", [](std::string& p) { SetStreamByte(p, 0, 0); }, corrupted},
      {"dictionary too small for the data", [](std::string& p) { SetStreamByte(p, 3, 0); SetStreamByte(p, 2, 0x10); }, corrupted},
      {"dictionary of 4 GiB", [](std::string& p) { for (size_t i = 1; i <= 4; ++i) SetStreamByte(p, i, 0xFF); }, ""},
      {"byte in the middle of the data", [](std::string& p) { p[p.size() / 2] ^= 0x20; }, corrupted},
      {"stream cut after the properties", [](std::string& p) { p.resize(17); }, corrupted},
      {"garbage after the stream", [](std::string& p) { p += "trailing bytes"; }, ""},
      {"only the header", [](std::string& p) { p.resize(12); }, corrupted},
      {"short header", [](std::string& p) { p.resize(11); }, "Stream read error"},
  };
  for (const auto& c : cases) {
    std::string package = valid;
    c.damage(package);
    EXPECT_EQ(OpenError(package), c.message) << c.label;
  }
}

TEST(SetupPackage, TruncationAtEveryLength) {
  const PackageFiles files = {{"a.txt", Text(700)}, {"b\\c.bin", RandomBytes(200, 8)}};
  const std::string package = BuildPackage(files);
  for (size_t length = 0; length < package.size(); ++length) {
    const std::string cut = package.substr(0, length);
    try {
      // A cut into the coder's final flush bytes may still decode every
      // byte; then the checksum vouches for the content.
      ExpectHolds(*OpenPackage(cut), files);
    } catch (const kel::Exception& e) {
      EXPECT_EQ(e.Message(), length < 12 ? "Stream read error" : "Package was corrupted") << length;
    }
  }
}

TEST(SetupPackage, HugeClaimsAllocateOnlyWhatTheInputJustifies) {
  // A header that claims a 4 GiB body (and a 4 GiB dictionary) with a few
  // bytes of input behind it.
  std::string claim = orvi::test::WrapStream(std::string("\x5D\xFF\xFF\xFF\xFF", 5) + RandomBytes(10, 9),
                                             0xFFFFFFFFu, 0);
  // A valid stream of a few KiB whose header claims 4 GiB.
  std::string inflated = BuildPackage({{"x", Text(5000)}});
  SetLE32(inflated, 8, 0xFFFFFFFFu);
  for (const auto& [package, bound] : {std::pair{claim, size_t(2) << 20}, std::pair{inflated, size_t(64) << 20}}) {
    orvi::test::AllocationProbe probe;
    EXPECT_EQ(OpenError(package), "Package was corrupted");
    EXPECT_LT(probe.LargestRequest(), bound);
  }
}

// A body of the content "hello" and a hand-written table.
std::string BodyWithTable(const std::string& table, uint32_t tableSize) {
  std::string body = "hello" + table;
  for (int i = 0; i < 4; ++i) body.push_back(static_cast<char>(tableSize >> (8 * i)));
  return body;
}

std::string Entry(int64_t offset, int64_t size, std::u16string_view name = u"f") {
  std::string entry;
  auto put = [&](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) entry.push_back(static_cast<char>(value >> (8 * i)));
  };
  put(name.size(), 2);
  for (char16_t unit : name) put(unit, 2);
  put(static_cast<uint64_t>(offset), 8);
  put(static_cast<uint64_t>(size), 8);
  return entry;
}

std::string Count(int32_t count) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(static_cast<uint32_t>(count) >> (8 * i)));
  return bytes;
}

TEST(SetupPackage, TablesThatDoNotFitTheBody) {
  // These bodies carry a valid checksum: only the table is wrong. Entries
  // that point outside the body are refused when the package is opened.
  const std::string corrupted = "Package was corrupted";
  const struct {
    const char* label;
    std::string table;
    int64_t tableSizeDelta;
    std::string message;
  } cases[] = {
      // 5 bytes of content, a table of 4 + 20 bytes, its length: 33 bytes.
      {"entry covering the whole body", Count(1) + Entry(0, 33), 0, ""},
      {"offset past the end", Count(1) + Entry(1000, 1), 0, corrupted},
      {"size past the end", Count(1) + Entry(0, 1000), 0, corrupted},
      {"negative offset", Count(1) + Entry(-1, 1), 0, corrupted},
      {"negative size", Count(1) + Entry(0, -5), 0, corrupted},
      {"offset + size overflowing", Count(1) + Entry(2, std::numeric_limits<int64_t>::max()), 0, corrupted},
      {"table longer than the body", Count(1) + Entry(0, 1), 1000, corrupted},
      {"negative count", Count(-1), 0, corrupted},
      {"more entries counted than present", Count(1000) + Entry(0, 1), 0, "Stream read error"},
      {"name running past the table", Count(1) + Entry(0, 1).substr(0, 10), 0, "Stream read error"},
  };
  for (const auto& c : cases) {
    const auto tableSize = static_cast<uint32_t>(static_cast<int64_t>(c.table.size()) + c.tableSizeDelta);
    const std::string body = BodyWithTable(c.table, tableSize);
    EXPECT_EQ(OpenError(orvi::test::EncodeWithEndMarker(body, 3, 0, 2, 1 << 16)), c.message) << c.label;
  }
  EXPECT_EQ(OpenError(orvi::test::EncodeWithEndMarker("ab", 3, 0, 2, 1 << 16)), "Stream read error");

  // The table is open to callers; a changed entry is checked again.
  auto reader = OpenPackage(BuildPackage({{"a", "abc"}}));
  reader->FileTable()[0].Size = 1 << 20;
  std::unique_ptr<kel::TKELMemoryStream> stream;
  EXPECT_THROW(reader->GetFile("a", stream), ESetupPackageReadError);
}

TEST(SetupPackage, FuzzReader) {
  orvi::test::FuzzOptions options;
  options.seeds = {BuildPackage({}), BuildPackage({{"a", "x"}, {"B\\c", Text(300)}}),
                   orvi::test::EncodeWithEndMarker(BodyOf({{"n", "content"}}), 3, 0, 2, 4096)};
  options.dictionary = {"IPK5", std::string("\x5D\x00\x00\x40\x00", 5), std::string("\xFF\xFF\xFF\xFF", 4)};
  orvi::test::RunFuzzTarget(
      "setup package reader",
      [](std::string_view input) {
        try {
          auto reader = OpenPackage(std::string(input));
          for (int i = 0; i < reader->FileTable().Count(); ++i) {
            std::unique_ptr<kel::TKELMemoryStream> stream;
            ASSERT_TRUE(reader->GetFile(reader->FileTable()[i].Name, stream));
          }
        } catch (const kel::Exception&) {
        }
      },
      options);
}

// --- A large file ------------------------------------------------------------------------

// Deterministic, compressible content of any length, made as it is read:
// each 4 KiB block starts with its number in hexadecimal, the rest is
// filler (long runs keep the encoder fast).
uint8_t PatternByte(int64_t position) {
  const int64_t at = position % 4096;
  if (at >= 16) return static_cast<uint8_t>(at == 4095 ? '\n' : ' ');
  static constexpr char kDigits[] = "0123456789abcdef";
  return static_cast<uint8_t>(kDigits[((position / 4096) >> (4 * (15 - at))) & 15]);
}

class PatternStream : public kel::TKELStream {
 public:
  explicit PatternStream(int64_t size) : size_(size) {}
  size_t Read(void* buffer, size_t count) override {
    const auto n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - position_));
    auto* out = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < n; ++i) out[i] = PatternByte(position_ + static_cast<int64_t>(i));
    position_ += static_cast<int64_t>(n);
    return n;
  }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, kel::SeekOrigin origin) override {
    const int64_t base = origin == kel::SeekOrigin::Begin ? 0 : origin == kel::SeekOrigin::Current ? position_ : size_;
    return position_ = std::max<int64_t>(0, base + offset);
  }

 private:
  int64_t size_;
  int64_t position_ = 0;
};

// Compares what is written with the pattern.
class PatternCheck : public kel::TKELStream {
 public:
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void* buffer, size_t count) override {
    const auto* in = static_cast<const uint8_t*>(buffer);
    for (size_t i = 0; i < count; ++i) mismatches_ += in[i] != PatternByte(position_ + static_cast<int64_t>(i));
    position_ += static_cast<int64_t>(count);
    return count;
  }
  int64_t Seek(int64_t, kel::SeekOrigin) override { return position_; }
  int64_t Written() const { return position_; }
  int64_t Mismatches() const { return mismatches_; }

 private:
  int64_t position_ = 0;
  int64_t mismatches_ = 0;
};

// A stream that cannot tell its size (GetSize fails), over another one.
class UnsizedStream : public kel::TKELStream {
 public:
  explicit UnsizedStream(kel::TKELStream& inner) : inner_(inner) {}
  size_t Read(void* buffer, size_t count) override { return inner_.Read(buffer, count); }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, kel::SeekOrigin origin) override {
    return origin == kel::SeekOrigin::End ? -1 : inner_.Seek(offset, origin);
  }

 private:
  kel::TKELStream& inner_;
};

TEST(SetupPackage, FileOf200MB) {
  constexpr int64_t kSize = 200LL << 20;
  orvi::test::TempDir dir;
  const std::string path = dir / "big.dat";
  int64_t committed = 0;
  {
    TSetupPackageBuilder builder{std::string(kSetupPackageKey)};
    PatternStream content(kSize);
    builder.Add(content, "Big\\file.bin");
    kel::TKELMemoryStream small("small");
    builder.Add(small, "small.txt");
    builder.Commit(path, 4, [&](int64_t done, int64_t) { committed = done; });
  }
  kel::TKELFileStream file(path, kel::fmOpenRead | kel::fmShareDenyNone);
  EXPECT_LT(file.GetSize(), kSize / 20);
  int64_t lastDone = 0, total = 0;
  TSetupPackageReader reader(file, [&](int64_t done, int64_t all) { lastDone = done, total = all; });
  EXPECT_EQ(lastDone, total);
  EXPECT_EQ(total, reader.Data().GetSize());
  EXPECT_EQ(committed, total);
  const TSetupPackageFileTableItem* item = nullptr;
  ASSERT_TRUE(reader.FileTable().Find("big\\FILE.bin", item));
  PatternCheck check;
  reader.WriteFileTo(*item, check);
  EXPECT_EQ(check.Written(), kSize);
  EXPECT_EQ(check.Mismatches(), 0);
  std::unique_ptr<kel::TKELMemoryStream> small;
  ASSERT_TRUE(reader.GetFile("SMALL.TXT", small));
  EXPECT_EQ(small->View(), "small");
  reader.Data().Clear();

  // From a source of unknown size the body grows as it is decoded.
  file.SetPosition(0);
  UnsizedStream unsized(file);
  TSetupPackageReader again(unsized);
  EXPECT_EQ(again.Data().GetSize(), total);
}

}  // namespace
}  // namespace setup
