#include "kel/base/hashes.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <vector>

#include "kel/base/crc32_clmul.h"
#include "kel/base/error.h"
#include "kel/base/stream.h"
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

uint32_t kelCrc32Table(uint32_t crc, const void* data, size_t count) {
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

uint32_t kelCrc32Update(uint32_t crc, const void* data, size_t count) {
  // Below four blocks folding has nothing to gain.
  if (count >= 64 && kelCrc32ClmulSupported()) return kelCrc32Clmul(crc, data, count);
  return kelCrc32Table(crc, data, count);
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

// --- Byte sources of the hash classes ----------------------------------------------

std::string TKELHashBase::Utf16LEBytes(std::string_view text) {
  const std::u16string units = kelUtf8ToUtf16(text);
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (const char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

void TKELHashBase::ReadStream(TKELStream& stream, const TKELHashProgress& progress, const TSink& sink) {
  if (auto* memory = dynamic_cast<TKELMemoryStream*>(&stream)) {
    const int64_t size = memory->GetSize();
    const int64_t position = memory->GetPosition();
    if (position >= size) return;
    sink(memory->Memory() + position, static_cast<size_t>(size - position));
    memory->SetPosition(size);
    if (progress) progress(size, size);
    return;
  }
  const int64_t size = stream.GetSize();
  int64_t position = stream.GetPosition();
  if (position >= size) return;
  std::vector<uint8_t> block(static_cast<size_t>(std::min<int64_t>(size - position, kStreamBlockSize)));
  while (position < size) {
    const size_t count = static_cast<size_t>(std::min<int64_t>(size - position, kStreamBlockSize));
    stream.ReadBuffer(block.data(), count);
    sink(block.data(), count);
    position += static_cast<int64_t>(count);
    if (progress) progress(position, size);
  }
}

void TKELHashBase::ReadFile(const std::string& fileName, const TKELHashProgress& progress, const TSink& sink) {
  TKELFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
  ReadStream(stream, progress, sink);
}

// --- Bob Jenkins' lookup3 -----------------------------------------------------------

namespace {

inline uint32_t Rotate(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

// Mixes three 32-bit values reversibly.
inline void Mix(uint32_t& a, uint32_t& b, uint32_t& c) {
  a -= c, a ^= Rotate(c, 4), c += b;
  b -= a, b ^= Rotate(a, 6), a += c;
  c -= b, c ^= Rotate(b, 8), b += a;
  a -= c, a ^= Rotate(c, 16), c += b;
  b -= a, b ^= Rotate(a, 19), a += c;
  c -= b, c ^= Rotate(b, 4), b += a;
}

// Final mixing of three values into c.
inline void FinalMix(uint32_t& a, uint32_t& b, uint32_t& c) {
  c ^= b, c -= Rotate(b, 14);
  a ^= c, a -= Rotate(c, 11);
  b ^= a, b -= Rotate(a, 25);
  c ^= b, c -= Rotate(b, 16);
  a ^= c, a -= Rotate(c, 4);
  b ^= a, b -= Rotate(a, 14);
  c ^= b, c -= Rotate(b, 24);
}

inline uint32_t ReadLittleEndian32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// lookup3's hashlittle: the bytes are read as little-endian 32-bit words,
// twelve bytes at a time; the last one to twelve bytes are added with zeros
// after them and go through the final mix. No bytes give the start value.
uint32_t HashLittle(const uint8_t* p, uint32_t length, uint32_t initialValue) {
  uint32_t a = 0xDEADBEEFu + length + initialValue;
  uint32_t b = a, c = a;
  while (length > 12) {
    a += ReadLittleEndian32(p);
    b += ReadLittleEndian32(p + 4);
    c += ReadLittleEndian32(p + 8);
    Mix(a, b, c);
    p += 12;
    length -= 12;
  }
  if (length == 0) return c;
  uint32_t last[3] = {0, 0, 0};
  for (uint32_t i = 0; i < length; ++i) last[i / 4] |= uint32_t(p[i]) << (8 * (i % 4));
  a += last[0];
  b += last[1];
  c += last[2];
  FinalMix(a, b, c);
  return c;
}

}  // namespace

void TKELHashBobJenkins::Update(uint32_t& state, const void* data, size_t count) {
  // The length is a 32-bit value of the algorithm: larger blocks go in
  // pieces of 40000000 (hexadecimal) bytes, each from the previous result.
  constexpr size_t kPiece = 0x40000000;
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > kPiece) {
    state = HashLittle(p, static_cast<uint32_t>(kPiece), state);
    p += kPiece;
    count -= kPiece;
  }
  state = HashLittle(p, static_cast<uint32_t>(count), state);
}

// --- OpenSSL digests ---------------------------------------------------------------------

struct TKELDigestContext {
  EVP_MD_CTX* context = nullptr;
  std::string algorithm;
};

void TKELDigestContextFree::operator()(TKELDigestContext* context) const noexcept {
  EVP_MD_CTX_free(context->context);
  delete context;
}

namespace {

[[noreturn]] void RaiseDigestError(const std::string& algorithm) {
  const unsigned long code = ERR_get_error();
  char text[256] = "unknown OpenSSL error";
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  throw EOSError(algorithm + " digest failed: " + text);
}

EVP_MD_CTX* ContextOf(const TKELDigestState& state) {
  if (!state) throw EArgumentError("The digest state has been finalized");
  return state->context;
}

}  // namespace

TKELDigestState kelDigestInitialize(const char* algorithm) {
  TKELDigestState state(new TKELDigestContext{nullptr, algorithm});
  const EVP_MD* digest = EVP_get_digestbyname(algorithm);
  if (digest == nullptr) RaiseDigestError(state->algorithm);
  state->context = EVP_MD_CTX_new();
  if (state->context == nullptr || EVP_DigestInit_ex(state->context, digest, nullptr) != 1)
    RaiseDigestError(state->algorithm);
  return state;
}

void kelDigestUpdate(TKELDigestState& state, const void* data, size_t count) {
  EVP_MD_CTX* context = ContextOf(state);
  if (count != 0 && EVP_DigestUpdate(context, data, count) != 1) RaiseDigestError(state->algorithm);
}

std::string kelDigestFinalize(TKELDigestState& state) {
  EVP_MD_CTX* context = ContextOf(state);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool done = EVP_DigestFinal_ex(context, digest, &length) == 1;
  const std::string algorithm = std::move(state->algorithm);
  state.reset();
  if (!done) RaiseDigestError(algorithm);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 0xF];
  }
  return text;
}

}  // namespace kel
