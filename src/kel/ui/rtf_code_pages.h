// The legacy code pages of RTF text: which code page a font's character set
// stands for, and decoding bytes in a Windows code page through ICU.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace kel {

inline constexpr int kRtfDefaultCodePage = 1252;

// The Windows code page of an RTF character set (\fcharset): 204 gives 1251,
// 128 gives 932, and so on. 0 for the ANSI and default character sets and for
// unknown ones, which read in the document's code page; 0 for the symbol set
// too (see kelRtfSymbolChar).
int kelRtfCharsetCodePage(int charset);

// The character that a symbol font's code stands for, when it is one of the
// list bullets of the common symbol fonts ("Symbol", "Wingdings"); 0 for
// any other code.
char16_t kelRtfSymbolChar(std::u16string_view fontName, uint8_t code);

// Decoders for code pages, each opened once.
class TKELRtfCodePages {
 public:
  TKELRtfCodePages();
  ~TKELRtfCodePages();
  TKELRtfCodePages(const TKELRtfCodePages&) = delete;
  TKELRtfCodePages& operator=(const TKELRtfCodePages&) = delete;

  // Appends the text of `bytes` in the Windows code page to `out`. Bytes that
  // the code page does not map become U+FFFD; a code page that ICU does not
  // know reads as Windows-1252. Multi-byte code pages decode the bytes as one
  // sequence, so a lead byte must come in the same call as its trail byte.
  void Decode(int codePage, std::string_view bytes, std::u16string& out);

 private:
  struct Decoder;
  Decoder& DecoderFor(int codePage);

  std::map<int, std::unique_ptr<Decoder>> decoders_;
};

}  // namespace kel
