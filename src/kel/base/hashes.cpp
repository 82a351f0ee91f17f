#include "kel/base/hashes.h"

#include "kel/base/text.h"

namespace kel {

namespace {

// Slicing-by-16 tables: kCrcTables[0][b] is the CRC of the single byte b;
// kCrcTables[k][b] is that CRC carried through k more zero bytes.
struct CrcTables {
  uint32_t t[16][256];
  constexpr CrcTables() : t{} {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t crc = b << 24;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
      t[0][b] = crc;
    }
    for (int k = 1; k < 16; ++k)
      for (uint32_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 24];
  }
};
constexpr CrcTables kCrcTables;

inline uint32_t ElfStep(uint32_t h, uint32_t unit) {
  h = (h << 4) + unit;
  const uint32_t g = h & 0xF0000000u;
  h ^= g >> 24;
  return h & ~g;
}

}  // namespace

uint32_t kelCrc32Update(uint32_t crc, const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  const auto& t = kCrcTables.t;
  while (count >= 16) {
    crc ^= uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    crc = t[15][crc >> 24] ^ t[14][(crc >> 16) & 0xFF] ^ t[13][(crc >> 8) & 0xFF] ^ t[12][crc & 0xFF] ^
          t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^
          t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
    p += 16;
    count -= 16;
  }
  while (count--) crc = (crc << 8) ^ t[0][(crc >> 24) ^ *p++];
  return crc;
}

uint32_t kelElfHash(std::string_view text, bool ignoreCase) {
  uint32_t h = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const auto b = static_cast<unsigned char>(text[pos]);
    char32_t c;
    if (b < 0x80) {
      c = b;
      ++pos;
    } else {
      c = kelNextCodePoint(text, pos);
    }
    if (ignoreCase) c = kelCaseKey(c);
    if (c >= 0x10000) {
      c -= 0x10000;
      h = ElfStep(h, 0xD800 + (c >> 10));
      h = ElfStep(h, 0xDC00 + (c & 0x3FF));
    } else {
      h = ElfStep(h, c);
    }
  }
  return h;
}

}  // namespace kel
