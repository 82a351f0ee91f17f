#include "kel/ui/rtf_code_pages.h"

#include <unicode/ucnv.h>

#include <array>
#include <string>

namespace kel {

int kelRtfCharsetCodePage(int charset) {
  switch (charset) {
    case 77: return 10000;  // Mac Roman
    case 128: return 932;   // Shift JIS
    case 129: return 949;   // Hangul
    case 134: return 936;   // GB 2312
    case 136: return 950;   // Big5
    case 161: return 1253;  // Greek
    case 162: return 1254;  // Turkish
    case 163: return 1258;  // Vietnamese
    case 177: return 1255;  // Hebrew
    case 178: return 1256;  // Arabic
    case 186: return 1257;  // Baltic
    case 204: return 1251;  // Cyrillic
    case 222: return 874;   // Thai
    case 238: return 1250;  // Eastern European
    case 254: return 437;   // PC 437
    case 255: return 850;   // OEM
    default: return 0;
  }
}

char16_t kelRtfSymbolChar(std::u16string_view fontName, uint8_t code) {
  if (fontName == u"Symbol") return code == 0xB7 ? u'\u2022' : 0;
  if (fontName.substr(0, 9) != u"Wingdings") return 0;
  switch (code) {
    case 0x6C: return u'\u25CF';  // black circle
    case 0x6E: return u'\u25A0';  // black square
    case 0x71: return u'\u2751';  // shadowed white square
    case 0x75: return u'\u25C6';  // black diamond
    case 0x76: return u'\u2756';  // diamond minus white X
    case 0xA7: return u'\u25AA';  // small black square
    case 0xD8: return u'\u27A2';  // arrowhead
    case 0xFC: return u'\u2714';  // check mark
    default: return 0;
  }
}

// A single-byte code page decodes through a table made once; a multi-byte
// one through its ICU converter.
struct TKELRtfCodePages::Decoder {
  UConverter* converter = nullptr;
  bool singleByte = false;
  std::array<char16_t, 256> table{};

  ~Decoder() {
    if (converter) ucnv_close(converter);
  }
};

TKELRtfCodePages::TKELRtfCodePages() = default;
TKELRtfCodePages::~TKELRtfCodePages() = default;

TKELRtfCodePages::Decoder& TKELRtfCodePages::DecoderFor(int codePage) {
  std::unique_ptr<Decoder>& slot = decoders_[codePage];
  if (slot) return *slot;
  slot = std::make_unique<Decoder>();
  Decoder& decoder = *slot;
  const std::string number = std::to_string(codePage);
  for (const char* prefix : {"windows-", "cp", "ibm-"}) {
    UErrorCode error = U_ZERO_ERROR;
    decoder.converter = ucnv_open((prefix + number).c_str(), &error);
    if (U_SUCCESS(error) && decoder.converter) break;
    if (decoder.converter) ucnv_close(decoder.converter);
    decoder.converter = nullptr;
  }
  if (!decoder.converter) {
    // Unknown to ICU: read as Windows-1252 (as Latin-1 when even that is missing).
    if (codePage == kRtfDefaultCodePage) return decoder;
    const Decoder& fallback = DecoderFor(kRtfDefaultCodePage);
    decoder.singleByte = fallback.singleByte;
    decoder.table = fallback.table;
    return decoder;
  }
  if (ucnv_getMaxCharSize(decoder.converter) == 1) {
    decoder.singleByte = true;
    for (int byte = 0; byte < 256; ++byte) {
      const char in = static_cast<char>(byte);
      UChar outChar[4];
      UErrorCode error = U_ZERO_ERROR;
      const int32_t length = ucnv_toUChars(decoder.converter, outChar, 4, &in, 1, &error);
      decoder.table[byte] = U_SUCCESS(error) && length == 1 ? outChar[0] : u'\uFFFD';
    }
  }
  return decoder;
}

void TKELRtfCodePages::Decode(int codePage, std::string_view bytes, std::u16string& out) {
  Decoder& decoder = DecoderFor(codePage);
  if (decoder.singleByte) {
    for (const char byte : bytes) out += decoder.table[static_cast<uint8_t>(byte)];
    return;
  }
  if (!decoder.converter) {
    for (const char byte : bytes) out += static_cast<char16_t>(static_cast<uint8_t>(byte));
    return;
  }
  // At most one UTF-16 unit per byte, or a surrogate pair per four bytes.
  const size_t start = out.size();
  out.resize(start + bytes.size() + 1);
  UChar* target = reinterpret_cast<UChar*>(out.data() + start);
  UChar* const targetEnd = reinterpret_cast<UChar*>(out.data() + out.size());
  const char* source = bytes.data();
  UErrorCode error = U_ZERO_ERROR;
  ucnv_resetToUnicode(decoder.converter);
  ucnv_toUnicode(decoder.converter, &target, targetEnd, &source, bytes.data() + bytes.size(), nullptr, true, &error);
  out.resize(static_cast<size_t>(reinterpret_cast<char16_t*>(target) - out.data()));
}

}  // namespace kel
