// Hash functions: CRC-32 (the package checksum), MD5, Bob Jenkins' lookup3
// and the ELF string hash.
//
// The hash classes are never instantiated: every operation is static and
// works on a state value the caller keeps between calls:
//
//     TKELHashMD5::TState state = TKELHashMD5::Initialize();
//     TKELHashMD5::UpdateFromFile(state, fileName, progress);
//     std::string digest = TKELHashMD5::Finalize(state);
//
// Each class defines its own `Initialize`, `Update` and `Finalize` and gets
// the rest from TKELHash: `Reset`, `Calculate`, `UpdateFromString`,
// `UpdateFromStream` and `UpdateFromFile`.
//
// Result contract: the CRC-32, Bob Jenkins and ELF hashes cannot fail. The
// digest classes (MD5) raise `EOSError` with OpenSSL's error text when
// OpenSSL fails. Stream and file errors pass through unchanged
// (`EReadError`, `EFOpenError`); the state is then left as it was after the
// last whole block, to be finalized or dropped by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "kel/base/text.h"

namespace kel {

class TKELStream;

// Feeds bytes into the package checksum: CRC-32 with the polynomial
// 04C11DB7 processed most-significant bit first, neither input nor output
// reflected, initial value 0 and no final XOR ("abc" gives 2C17398C). This is
// not the common reflected CRC-32 of ZIP files. Uses carry-less
// multiplication where the processor has it (crc32_clmul.h).
uint32_t kelCrc32Update(uint32_t crc, const void* data, size_t count);

// The ELF hash over the UTF-16 code units of the text; with ignoreCase over
// the case keys of its characters (see kelCaseKey), so that names equal
// ignoring case hash alike.
uint32_t kelElfHash(std::string_view text, bool ignoreCase);

// --- Hash classes ----------------------------------------------------------------

// Progress of UpdateFromStream and UpdateFromFile: called after each block
// with the stream position and the stream size.
using TKELHashProgress = std::function<void(int64_t position, int64_t size)>;

// The byte sources shared by every hash class.
class TKELHashBase {
 public:
  // Streams other than memory streams are read in blocks of this size.
  static constexpr size_t kStreamBlockSize = 65536;

 protected:
  using TSink = std::function<void(const void* data, size_t count)>;

  // The UTF-16LE code units of the text, two bytes each.
  static std::string Utf16LEBytes(std::string_view text);
  // Hands the bytes from the stream's position to its end to `sink`: a memory
  // stream in one piece, any other stream block by block with `progress`
  // after each. Leaves the stream at its end.
  static void ReadStream(TKELStream& stream, const TKELHashProgress& progress, const TSink& sink);
  // The same for a file opened for reading, others allowed to read and write.
  static void ReadFile(const std::string& fileName, const TKELHashProgress& progress, const TSink& sink);
};

// The operations of every hash class THash, built on its
//   static TState Initialize();
//   static void Update(TState& state, const void* data, size_t count);
//   static TResult Finalize(TState& state);
template <class THash, class TStateType, class TResultType>
class TKELHash : public TKELHashBase {
 public:
  using TState = TStateType;
  using TResult = TResultType;

  // Finalizes into a discarded result and starts again.
  static void Reset(TState& state) {
    (void)THash::Finalize(state);
    state = THash::Initialize();
  }

  // The hash of a text: of its UTF-16LE code units, or of its bytes in
  // `encoding`.
  static TResult Calculate(std::string_view text) {
    TState state = THash::Initialize();
    UpdateFromString(state, text);
    return THash::Finalize(state);
  }
  static TResult Calculate(std::string_view text, const TKELEncoding& encoding) {
    TState state = THash::Initialize();
    UpdateFromString(state, text, encoding);
    return THash::Finalize(state);
  }

  // Adds a text: its UTF-16LE code units (two bytes each), or its bytes in
  // `encoding`. An empty text adds nothing.
  static void UpdateFromString(TState& state, std::string_view text) {
    if (text.empty()) return;
    const std::string bytes = Utf16LEBytes(text);
    THash::Update(state, bytes.data(), bytes.size());
  }
  static void UpdateFromString(TState& state, std::string_view text, const TKELEncoding& encoding) {
    if (text.empty()) return;
    const std::string bytes = encoding.Encode(text);
    THash::Update(state, bytes.data(), bytes.size());
  }

  // Adds the bytes from the stream's position to its end (see ReadStream).
  static void UpdateFromStream(TState& state, TKELStream& stream, const TKELHashProgress& progress = {}) {
    ReadStream(stream, progress, [&state](const void* data, size_t count) { THash::Update(state, data, count); });
  }

  // Adds a file's bytes; a file that cannot be opened raises EFOpenError.
  static void UpdateFromFile(TState& state, const std::string& fileName, const TKELHashProgress& progress = {}) {
    ReadFile(fileName, progress, [&state](const void* data, size_t count) { THash::Update(state, data, count); });
  }
};

// 32-bit hashes whose state is the hash value itself, 0 at the start. The
// result is that value as a signed 32-bit integer.
template <class THash>
class TKELHash32Bit : public TKELHash<THash, uint32_t, int32_t> {
 public:
  static uint32_t Initialize() { return 0; }
  static int32_t Finalize(uint32_t& state) { return static_cast<int32_t>(state); }
};

// Bob Jenkins' lookup3 hash ("hashlittle"): each Update hashes its bytes with
// the state as the initial value and keeps the result. The result therefore
// depends on how the bytes are split into Updates (a memory stream is one
// Update, other streams one per block). The hash of no bytes from initial
// value 0 is DEADBEEF (hexadecimal).
class TKELHashBobJenkins : public TKELHash32Bit<TKELHashBobJenkins> {
 public:
  static void Update(uint32_t& state, const void* data, size_t count);
};

// The package checksum (kelCrc32Update) as a hash class; the result is the
// CRC as an unsigned 32-bit integer.
class TKELHashCRC32 : public TKELHash<TKELHashCRC32, uint32_t, uint32_t> {
 public:
  static uint32_t Initialize() { return 0; }
  static void Update(uint32_t& state, const void* data, size_t count) { state = kelCrc32Update(state, data, count); }
  static uint32_t Finalize(uint32_t& state) { return state; }
};

// The state of a digest computed by OpenSSL: owns OpenSSL's digest context.
// Finalize releases it (so does the state going away); using a released
// state raises EArgumentError.
struct TKELDigestContext;
struct TKELDigestContextFree {
  void operator()(TKELDigestContext* context) const noexcept;
};
using TKELDigestState = std::unique_ptr<TKELDigestContext, TKELDigestContextFree>;

// The digest engine: `algorithm` is OpenSSL's digest name ("MD5"). A failing
// OpenSSL call raises EOSError with OpenSSL's error text.
TKELDigestState kelDigestInitialize(const char* algorithm);
void kelDigestUpdate(TKELDigestState& state, const void* data, size_t count);
// The digest as lower-case hexadecimal text, two digits per byte; releases
// the state even when OpenSSL fails.
std::string kelDigestFinalize(TKELDigestState& state);

// Hashes that are OpenSSL digests; THash names its digest in kAlgorithm.
template <class THash>
class TKELHashDigestBased : public TKELHash<THash, TKELDigestState, std::string> {
 public:
  static TKELDigestState Initialize() { return kelDigestInitialize(THash::kAlgorithm); }
  static void Update(TKELDigestState& state, const void* data, size_t count) { kelDigestUpdate(state, data, count); }
  static std::string Finalize(TKELDigestState& state) { return kelDigestFinalize(state); }
};

// MD5; the result is 32 lower-case hexadecimal digits.
class TKELHashMD5 : public TKELHashDigestBased<TKELHashMD5> {
 public:
  static constexpr const char* kAlgorithm = "MD5";
};

}  // namespace kel
