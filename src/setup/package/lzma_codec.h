// Raw LZMA1 coding for setup packages, around liblzma. Internal to the
// package library.
//
// The 5-byte properties header is not liblzma's business here: the callers
// read and write it themselves and hand the decoded values in. Both coders
// take their memory through operator new, so a failed allocation becomes
// error 2 instead of ending the program.
#pragma once

#include <cstddef>
#include <cstdint>

#include "setup/package/package.h"

namespace setup::detail {

inline constexpr size_t kLzmaPropertiesSize = 5;
inline constexpr uint32_t kLzmaMinDictionary = 4096;

// Error numbers of "LZMA Error (n)".
inline constexpr int kLzmaErrorData = 1;
inline constexpr int kLzmaErrorMemory = 2;
inline constexpr int kLzmaErrorUnsupported = 4;
inline constexpr int kLzmaErrorParameter = 5;
inline constexpr int kLzmaErrorWrite = 9;
inline constexpr int kLzmaErrorFail = 11;

struct LzmaProperties {
  uint32_t Lc = 0, Lp = 0, Pb = 0;
  uint32_t DictionarySize = 0;
};

// Throws ESetupPackageLzmaError(4) for a properties byte above 224.
LzmaProperties DecodeLzmaProperties(const uint8_t bytes[kLzmaPropertiesSize]);
void EncodeLzmaProperties(const TSetupPackageLzmaSettings& settings, uint8_t bytes[kLzmaPropertiesSize]);

enum class LzmaStatus : uint8_t {
  Ok,     // progress made; give more input or output room
  End,    // the stream is complete
  Error,  // damaged data, or the input ended inside the stream
};

class LzmaDecoder {
 public:
  // Decodes a stream of `outputSize` bytes, with or without an end marker.
  // The dictionary is the stream's own, but never larger than
  // `dictionaryLimit` (a dictionary larger than the whole output is never
  // used) and never below 4096 bytes. Throws ESetupPackageLzmaError.
  LzmaDecoder(const LzmaProperties& properties, uint64_t outputSize, uint32_t dictionaryLimit);
  ~LzmaDecoder();
  LzmaDecoder(const LzmaDecoder&) = delete;
  LzmaDecoder& operator=(const LzmaDecoder&) = delete;

  // Moves the pointers and counts past what was consumed and produced.
  // `finish` tells that no input follows what is given. Throws
  // ESetupPackageLzmaError(2) when the codec runs out of memory.
  LzmaStatus Decode(const uint8_t*& input, size_t& inputLeft, uint8_t*& output, size_t& outputLeft, bool finish);

 private:
  struct State;
  State* state_;
};

class LzmaEncoder {
 public:
  // Encodes `inputSize` bytes without an end marker. The dictionary used is
  // the settings' one, reduced to the input when the input is smaller (the
  // result is the same; the properties header still names the settings').
  LzmaEncoder(const TSetupPackageLzmaSettings& settings, uint64_t inputSize);
  ~LzmaEncoder();
  LzmaEncoder(const LzmaEncoder&) = delete;
  LzmaEncoder& operator=(const LzmaEncoder&) = delete;

  // As LzmaDecoder::Decode; `finish` once the last input has been given.
  // Throws ESetupPackageLzmaError on any codec failure.
  LzmaStatus Encode(const uint8_t*& input, size_t& inputLeft, uint8_t*& output, size_t& outputLeft, bool finish);

 private:
  struct State;
  State* state_;
};

}  // namespace setup::detail
