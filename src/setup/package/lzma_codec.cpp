#include "setup/package/lzma_codec.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace setup::detail {

namespace {

void* AllocateForCodec(void* /*opaque*/, size_t count, size_t size) {
  if (size != 0 && count > std::numeric_limits<size_t>::max() / size) return nullptr;
  return ::operator new(count * size, std::nothrow);
}

void FreeForCodec(void* /*opaque*/, void* block) { ::operator delete(block); }

const lzma_allocator kAllocator = {AllocateForCodec, FreeForCodec, nullptr};

// liblzma's results as the error numbers of "LZMA Error (n)".
int ErrorNumber(lzma_ret result) {
  switch (result) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR: return kLzmaErrorMemory;
    case LZMA_OPTIONS_ERROR:
    case LZMA_FORMAT_ERROR:
    case LZMA_UNSUPPORTED_CHECK: return kLzmaErrorUnsupported;
    case LZMA_DATA_ERROR: return kLzmaErrorData;
    case LZMA_PROG_ERROR: return kLzmaErrorParameter;
    default: return kLzmaErrorFail;
  }
}

// Runs one lzma_code step over the caller's pointers.
lzma_ret Step(lzma_stream& stream, const uint8_t*& input, size_t& inputLeft, uint8_t*& output, size_t& outputLeft,
              bool finish) {
  stream.next_in = input;
  stream.avail_in = inputLeft;
  stream.next_out = output;
  stream.avail_out = outputLeft;
  const lzma_ret result = lzma_code(&stream, finish ? LZMA_FINISH : LZMA_RUN);
  input = stream.next_in;
  inputLeft = stream.avail_in;
  output = stream.next_out;
  outputLeft = stream.avail_out;
  return result;
}

}  // namespace

LzmaProperties DecodeLzmaProperties(const uint8_t bytes[kLzmaPropertiesSize]) {
  if (bytes[0] > (4 * 5 + 4) * 9 + 8) throw ESetupPackageLzmaError(kLzmaErrorUnsupported);
  LzmaProperties properties;
  properties.Lc = bytes[0] % 9;
  properties.Lp = (bytes[0] / 9) % 5;
  properties.Pb = bytes[0] / 45;
  properties.DictionarySize = uint32_t(bytes[1]) | uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]) << 16 |
                              uint32_t(bytes[4]) << 24;
  return properties;
}

void EncodeLzmaProperties(const TSetupPackageLzmaSettings& settings, uint8_t bytes[kLzmaPropertiesSize]) {
  bytes[0] = settings.PropertiesByte();
  for (int i = 0; i < 4; ++i) bytes[1 + i] = static_cast<uint8_t>(settings.DictionarySize >> (8 * i));
}

// --- LzmaDecoder ----------------------------------------------------------------

struct LzmaDecoder::State {
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_options_lzma options{};
};

LzmaDecoder::LzmaDecoder(const LzmaProperties& properties, uint64_t outputSize, uint32_t dictionaryLimit)
    : state_(nullptr) {
  // liblzma codes lc + lp up to 4, what every encoder writes by default.
  if (properties.Lc + properties.Lp > 4) throw ESetupPackageLzmaError(kLzmaErrorUnsupported);
  state_ = new State;
  lzma_options_lzma& options = state_->options;
  options.dict_size = std::max(std::min(properties.DictionarySize, dictionaryLimit), kLzmaMinDictionary);
  options.lc = properties.Lc;
  options.lp = properties.Lp;
  options.pb = properties.Pb;
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  lzma_set_ext_size(options, outputSize);
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  state_->stream.allocator = &kAllocator;
  const lzma_ret result = lzma_raw_decoder(&state_->stream, filters);
  if (result != LZMA_OK) {
    delete state_;
    throw ESetupPackageLzmaError(ErrorNumber(result));
  }
}

LzmaDecoder::~LzmaDecoder() {
  lzma_end(&state_->stream);
  delete state_;
}

LzmaStatus LzmaDecoder::Decode(const uint8_t*& input, size_t& inputLeft, uint8_t*& output, size_t& outputLeft,
                               bool finish) {
  const lzma_ret result = Step(state_->stream, input, inputLeft, output, outputLeft, finish);
  switch (result) {
    case LZMA_OK: return LzmaStatus::Ok;
    case LZMA_STREAM_END: return LzmaStatus::End;
    case LZMA_MEM_ERROR: throw ESetupPackageLzmaError(kLzmaErrorMemory);
    default: return LzmaStatus::Error;
  }
}

// --- LzmaEncoder ----------------------------------------------------------------

struct LzmaEncoder::State {
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_options_lzma options{};
};

LzmaEncoder::LzmaEncoder(const TSetupPackageLzmaSettings& settings, uint64_t inputSize) : state_(new State) {
  lzma_options_lzma& options = state_->options;
  // A dictionary larger than the input finds no more matches: use the
  // smallest power of two that holds the input.
  uint64_t dictionary = kLzmaMinDictionary;
  while (dictionary < inputSize && dictionary < settings.DictionarySize) dictionary *= 2;
  options.dict_size = static_cast<uint32_t>(std::min<uint64_t>(dictionary, settings.DictionarySize));
  options.dict_size = std::max(options.dict_size, kLzmaMinDictionary);
  options.lc = settings.Lc;
  options.lp = settings.Lp;
  options.pb = settings.Pb;
  options.mode = settings.FastMode ? LZMA_MODE_FAST : LZMA_MODE_NORMAL;
  options.mf = settings.FastMode ? LZMA_MF_HC4 : LZMA_MF_BT4;
  options.nice_len = settings.FastBytes;
  options.depth = settings.MatchFinderCycles;
  options.ext_flags = 0;  // no end marker: the size is stored outside the stream
  lzma_set_ext_size(options, inputSize);
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  state_->stream.allocator = &kAllocator;
  const lzma_ret result = lzma_raw_encoder(&state_->stream, filters);
  if (result != LZMA_OK) {
    delete state_;
    throw ESetupPackageLzmaError(ErrorNumber(result));
  }
}

LzmaEncoder::~LzmaEncoder() {
  lzma_end(&state_->stream);
  delete state_;
}

LzmaStatus LzmaEncoder::Encode(const uint8_t*& input, size_t& inputLeft, uint8_t*& output, size_t& outputLeft,
                               bool finish) {
  const lzma_ret result = Step(state_->stream, input, inputLeft, output, outputLeft, finish);
  if (result == LZMA_OK) return LzmaStatus::Ok;
  if (result == LZMA_STREAM_END) return LzmaStatus::End;
  throw ESetupPackageLzmaError(ErrorNumber(result));
}

}  // namespace setup::detail
