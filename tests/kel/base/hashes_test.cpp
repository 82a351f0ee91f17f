#include "kel/base/hashes.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(ElfHash, CaseInsensitiveNamesHashAlike) {
  EXPECT_EQ(kelElfHash("", true), 0u);
  EXPECT_EQ(kelElfHash("Name", true), kelElfHash("NAME", true));
  EXPECT_EQ(kelElfHash("\u0436", true), kelElfHash("\u0416", false));
  EXPECT_NE(kelElfHash("Name", false), kelElfHash("NAME", false));
  // Over UTF-16 code units: "A" is h = 0x41; "AB" is (0x41 << 4) + 0x42.
  EXPECT_EQ(kelElfHash("A", false), 0x41u);
  EXPECT_EQ(kelElfHash("AB", false), 0x452u);
}

}  // namespace
}  // namespace kel
