// Text helpers used by every part of the system.
//
// Text is UTF-8 in `std::string`. UTF-16 appears only where a format or an
// algorithm is defined over UTF-16 code units. Conversions between the two are
// lossless for any UTF-16 input: an unpaired surrogate is carried in UTF-8 as
// its own three-byte sequence (the "generalized UTF-8" of WTF-8) and comes back
// unchanged, so a UTF-16 file read and written again keeps its exact bytes.
//
// Case-insensitive comparison and upper-casing use ICU. Names are compared
// code point by code point through each code point's case key (simple case
// folding followed by simple upper-casing), which keeps the UTF-16 length of a
// name and makes "equal ignoring case" imply "equal case keys": a hash over
// case keys can never separate two names that compare equal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kel {

// --- UTF-8 and UTF-16 -------------------------------------------------------

// Invalid UTF-8 bytes become U+FFFD, one for each maximal invalid subpart.
std::u16string kelUtf8ToUtf16(std::string_view text);
std::string kelUtf16ToUtf8(std::u16string_view text);
// Strict check: well-formed UTF-8 without surrogate code points.
bool kelIsValidUtf8(std::string_view text);
// Number of UTF-16 code units of the text.
size_t kelUtf16Length(std::string_view text);
// Decodes the code point at `pos` and moves `pos` past it; invalid bytes give
// U+FFFD and move by one maximal invalid subpart.
char32_t kelNextCodePoint(std::string_view text, size_t& pos);
void kelAppendCodePoint(std::string& out, char32_t c);

// What a UTF-8 lead byte of 0x80 or above announces: the number of
// continuation bytes that follow (0 for a byte that cannot start a
// sequence), the code-point bits the lead byte carries, and the range allowed
// for the next byte. The range is narrower after E0, ED, F0 and F4, which
// keeps out overlong forms, surrogates (unless allowed) and code points past
// U+10FFFF; later continuation bytes are 80..BF.
struct TKELUtf8Lead {
  size_t need = 0;
  char32_t bits = 0;
  unsigned char lo = 0x80, hi = 0xBF;
};
constexpr TKELUtf8Lead kelUtf8Lead(unsigned char b0, bool allowSurrogates = false) {
  TKELUtf8Lead lead;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    lead.need = 1;
    lead.bits = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    lead.need = 2;
    lead.bits = b0 & 0x0F;
    if (b0 == 0xE0) lead.lo = 0xA0;
    if (b0 == 0xED && !allowSurrogates) lead.hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    lead.need = 3;
    lead.bits = b0 & 0x07;
    if (b0 == 0xF0) lead.lo = 0x90;
    if (b0 == 0xF4) lead.hi = 0x8F;
  }
  return lead;
}

// --- Case ---------------------------------------------------------------------

// The case key of a code point: two code points are equal ignoring case
// exactly when their keys are equal.
char32_t kelCaseKey(char32_t c);
// Equal ignoring case (Unicode simple case folding).
bool kelSameText(std::string_view a, std::string_view b);
// Orders ignoring case: < 0, 0 or > 0, by case keys in code-point order.
int kelCompareText(std::string_view a, std::string_view b);
// `text` begins with `prefix`, ignoring case.
bool kelStartsText(std::string_view prefix, std::string_view text);
// Equal ignoring the case of the ASCII letters only.
bool kelSameTextAscii(std::string_view a, std::string_view b);
// Full Unicode upper- and lower-casing of the root locale (the text may grow:
// "ß" becomes "SS").
std::string kelUpperCase(std::string_view text);
std::string kelLowerCase(std::string_view text);
// Upper-cases through case keys: one code point for one, length kept.
std::string kelUpperCaseKeys(std::string_view text);

// --- Small string routines ------------------------------------------------------

// Removes the characters with codes up to 32 at both ends.
std::string_view kelTrim(std::string_view text);
std::string_view kelTrimLeft(std::string_view text);
std::string_view kelTrimRight(std::string_view text);

// --- Encodings ------------------------------------------------------------------

// A text encoding of files and streams.
//
// `Ansi` is the system's legacy code page. On Linux that is the charset of the
// user's locale (UTF-8 on current systems; a plain-ASCII "C" locale counts as
// UTF-8 too). Bytes that are not valid in it are read as Windows-1252, the
// code page that legacy files of Western users were written in.
class TKELEncoding {
 public:
  enum class Kind : uint8_t { Ansi, UTF8, UTF16LE, UTF16BE, CodePage };

  static TKELEncoding Ansi() { return TKELEncoding(Kind::Ansi); }
  static TKELEncoding UTF8() { return TKELEncoding(Kind::UTF8); }
  static TKELEncoding UTF16LE() { return TKELEncoding(Kind::UTF16LE); }
  static TKELEncoding UTF16BE() { return TKELEncoding(Kind::UTF16BE); }
  static TKELEncoding Windows1252() { return TKELEncoding(Kind::CodePage, "windows-1252"); }
  // Any encoding ICU knows by this name or alias ("utf-8", "windows-1251",
  // "ISO-8859-5", "koi8-r", ...); nothing for an unknown name.
  static std::optional<TKELEncoding> FromName(std::string_view name);
  // The encoding `Ansi` stands for when reading these bytes: the locale
  // charset when they are valid in it, else Windows-1252.
  static TKELEncoding AnsiFor(std::string_view bytes);

  Kind GetKind() const { return kind_; }
  // ICU's name of a code page; empty for the other kinds.
  const std::string& CodePageName() const { return codePage_; }
  // The byte order mark written before text in this encoding ("" for the
  // code pages).
  std::string_view Preamble() const;

  // Decodes the bytes (without a byte order mark) into UTF-8 text. Returns
  // false and leaves `text` empty when the bytes are not valid in this
  // encoding; `Ansi` never fails (see above). UTF-16 input of odd length
  // drops its last byte.
  bool Decode(std::string_view bytes, std::string& text) const;
  // Encodes UTF-8 text; characters the encoding cannot hold become '?'.
  std::string Encode(std::string_view text) const;

  bool operator==(const TKELEncoding& other) const {
    return kind_ == other.kind_ && codePage_ == other.codePage_;
  }

 private:
  explicit TKELEncoding(Kind kind, std::string codePage = {}) : kind_(kind), codePage_(std::move(codePage)) {}

  Kind kind_;
  std::string codePage_;
};

// The locale's charset as an encoding (UTF-8 for UTF-8 and plain ASCII).
TKELEncoding kelLocaleEncoding();

}  // namespace kel
