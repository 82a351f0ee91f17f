// CRC-32 of the package checksum (polynomial 04C11DB7, most-significant bit
// first, see hashes.h) by folding with carry-less multiplication. Only code
// for the x86-64 PCLMULQDQ instruction lives here; other processors use the
// table routine.
//
// The bytes are read as one long polynomial over GF(2), the first byte's top
// bit being the highest power. Its CRC is M(x) * x^32 mod P(x), and any
// polynomial congruent to M modulo P gives the same CRC. The loop keeps four
// 128-bit accumulators, each a 16-byte block. A block B = H*x^64 + L that
// stands 512 bits before the next block of its lane is replaced by
//     H * (x^576 mod P)  +  L * (x^512 mod P),
// a polynomial of degree below 96 that is congruent to B * x^512, and added
// to that next block. The four lanes are then folded into one the same way
// (x^192, x^128), the remaining whole blocks too, and the last accumulator,
// congruent to everything read so far, is reduced by running its 16 bytes
// through the table routine; the table routine also takes the final bytes.
// A starting CRC c is c * x^|M| + M * x^32, which is the same as adding c to
// the top 32 bits of the first block.
#include "kel/base/crc32_clmul.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KEL_CRC32_CLMUL 1
#endif

namespace kel {

#ifdef KEL_CRC32_CLMUL

namespace {

// x^k mod P for P = x^32 + 04C11DB7 (hexadecimal).
constexpr int64_t XPowerModP(unsigned k) {
  uint32_t r = 1;
  for (unsigned i = 0; i < k; ++i) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
  return r;
}
constexpr int64_t kX128 = XPowerModP(128), kX192 = XPowerModP(192);
constexpr int64_t kX512 = XPowerModP(512), kX576 = XPowerModP(576);

#define KEL_CLMUL_TARGET __attribute__((target("pclmul,ssse3")))

// A 16-byte block as a 128-bit number, first byte most significant.
KEL_CLMUL_TARGET inline __m128i LoadBlock(const uint8_t* p) {
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

// block * x^distance folded to 96 bits, plus next; k holds
// (x^(distance+64) mod P, x^distance mod P) in its (high, low) halves.
KEL_CLMUL_TARGET inline __m128i Fold(__m128i block, __m128i k, __m128i next) {
  const __m128i high = _mm_clmulepi64_si128(block, k, 0x11);
  const __m128i low = _mm_clmulepi64_si128(block, k, 0x00);
  return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

KEL_CLMUL_TARGET uint32_t FoldBlocks(uint32_t crc, const uint8_t* p, size_t count) {
  __m128i x0 = _mm_xor_si128(LoadBlock(p), _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
  __m128i x1 = LoadBlock(p + 16);
  __m128i x2 = LoadBlock(p + 32);
  __m128i x3 = LoadBlock(p + 48);
  p += 64;
  count -= 64;

  const __m128i by512 = _mm_set_epi64x(kX576, kX512);
  while (count >= 64) {
    x0 = Fold(x0, by512, LoadBlock(p));
    x1 = Fold(x1, by512, LoadBlock(p + 16));
    x2 = Fold(x2, by512, LoadBlock(p + 32));
    x3 = Fold(x3, by512, LoadBlock(p + 48));
    p += 64;
    count -= 64;
  }

  const __m128i by128 = _mm_set_epi64x(kX192, kX128);
  __m128i x = Fold(x0, by128, x1);
  x = Fold(x, by128, x2);
  x = Fold(x, by128, x3);
  while (count >= 16) {
    x = Fold(x, by128, LoadBlock(p));
    p += 16;
    count -= 16;
  }

  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  uint8_t bytes[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm_shuffle_epi8(x, reverse));
  return kelCrc32Table(kelCrc32Table(0, bytes, sizeof bytes), p, count);
}

}  // namespace

bool kelCrc32ClmulSupported() {
  static const bool supported = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
  }();
  return supported;
}

uint32_t kelCrc32Clmul(uint32_t crc, const void* data, size_t count) {
  if (count < 64) return kelCrc32Table(crc, data, count);
  return FoldBlocks(crc, static_cast<const uint8_t*>(data), count);
}

#else

bool kelCrc32ClmulSupported() { return false; }

uint32_t kelCrc32Clmul(uint32_t crc, const void* data, size_t count) { return kelCrc32Table(crc, data, count); }

#endif

}  // namespace kel
