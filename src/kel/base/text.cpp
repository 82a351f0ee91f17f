#include "kel/base/text.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <cstring>
#include <memory>

#include "kel/platform/locale.h"

namespace kel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes one code point. `allowSurrogates` accepts the three-byte encodings
// of U+D800..U+DFFF that generalized UTF-8 uses for unpaired surrogates.
// Returns the code point, or kReplacement with `valid` false for a maximal
// invalid subpart; `pos` moves past what was consumed.
char32_t Decode(std::string_view s, size_t& pos, bool allowSurrogates, bool& valid) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  const unsigned char b0 = p[pos];
  valid = true;
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  const TKELUtf8Lead lead = kelUtf8Lead(b0, allowSurrogates);
  if (lead.need == 0) {
    ++pos;
    valid = false;
    return kReplacement;
  }
  char32_t cp = lead.bits;
  size_t i = pos + 1;
  for (size_t k = 0; k < lead.need; ++k, ++i) {
    const bool ok = i < n && (k == 0 ? (p[i] >= lead.lo && p[i] <= lead.hi) : IsContinuation(p[i]));
    if (!ok) {
      pos = i;
      valid = false;
      return kReplacement;
    }
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  pos = i;
  return cp;
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr OpenConverter(const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr converter(ucnv_open(name.c_str(), &status));
  if (U_FAILURE(status)) return nullptr;
  return converter;
}

// Code-page bytes to UTF-16 through ICU; false when a byte sequence is not
// valid in the code page.
bool CodePageToUtf16(const std::string& name, std::string_view bytes, std::u16string& out) {
  ConverterPtr converter = OpenConverter(name);
  if (!converter) return false;
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  out.resize(bytes.size() * 2 + 2);
  status = U_ZERO_ERROR;
  const int32_t length = ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                                       static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return false;
  out.resize(length);
  return true;
}

std::string Utf16ToCodePage(const std::string& name, std::u16string_view text) {
  ConverterPtr converter = OpenConverter(name);
  if (!converter) return {};
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setSubstChars(converter.get(), "?", 1, &status);
  status = U_ZERO_ERROR;
  std::string out(text.size() * ucnv_getMaxCharSize(converter.get()) + 4, '\0');
  const int32_t length = ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), text.data(),
                                         static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return {};
  out.resize(length);
  return out;
}

std::string Utf16BytesToUtf8(std::string_view bytes, bool bigEndian) {
  const size_t units = bytes.size() / 2;
  std::u16string text(units, u'\0');
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < units; ++i) {
    const unsigned a = p[2 * i], b = p[2 * i + 1];
    text[i] = static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  }
  return kelUtf16ToUtf8(text);
}

std::string Utf8ToUtf16Bytes(std::string_view text, bool bigEndian) {
  const std::u16string units = kelUtf8ToUtf16(text);
  std::string out(units.size() * 2, '\0');
  for (size_t i = 0; i < units.size(); ++i) {
    const char hi = static_cast<char>(units[i] >> 8), lo = static_cast<char>(units[i] & 0xFF);
    out[2 * i] = bigEndian ? hi : lo;
    out[2 * i + 1] = bigEndian ? lo : hi;
  }
  return out;
}

}  // namespace

// --- UTF-8 and UTF-16 -------------------------------------------------------

char32_t kelNextCodePoint(std::string_view text, size_t& pos) {
  bool valid;
  return Decode(text, pos, true, valid);
}

void kelAppendCodePoint(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c <= 0x10FFFF) {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    kelAppendCodePoint(out, kReplacement);
  }
}

std::u16string kelUtf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++pos;
    } else {
      AppendUtf16(out, kelNextCodePoint(text, pos));
    }
  }
  return out;
}

std::string kelUtf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      kelAppendCodePoint(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      kelAppendCodePoint(out, c);  // an unpaired surrogate keeps its own sequence
    }
  }
  return out;
}

bool kelIsValidUtf8(std::string_view text) {
  size_t pos = 0;
  const size_t n = text.size();
  while (pos < n) {
    // Skip runs of ASCII eight bytes at a time.
    while (pos + 8 <= n) {
      uint64_t chunk;
      std::memcpy(&chunk, text.data() + pos, 8);
      if (chunk & 0x8080808080808080ull) break;
      pos += 8;
    }
    if (pos >= n) break;
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    bool valid;
    Decode(text, pos, false, valid);
    if (!valid) return false;
  }
  return true;
}

size_t kelUtf16Length(std::string_view text) {
  size_t units = 0, pos = 0;
  while (pos < text.size()) units += kelNextCodePoint(text, pos) >= 0x10000 ? 2 : 1;
  return units;
}

// --- Case ---------------------------------------------------------------------

char32_t kelCaseKey(char32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 32 : c;
  return static_cast<char32_t>(u_toupper(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT)));
}

int kelCompareText(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
    char32_t ka, kb;
    if ((ca | cb) < 0x80) {
      ka = kelCaseKey(ca);
      kb = kelCaseKey(cb);
      ++i;
      ++j;
    } else {
      ka = kelCaseKey(kelNextCodePoint(a, i));
      kb = kelCaseKey(kelNextCodePoint(b, j));
    }
    if (ka != kb) return ka < kb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool kelSameText(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0)) return true;
  return kelCompareText(a, b) == 0;
}

bool kelStartsText(std::string_view prefix, std::string_view text) {
  size_t i = 0, j = 0;
  while (i < prefix.size()) {
    if (j >= text.size()) return false;
    if (kelCaseKey(kelNextCodePoint(prefix, i)) != kelCaseKey(kelNextCodePoint(text, j))) return false;
  }
  return true;
}

bool kelSameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

namespace {

using CaseMapper = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

std::string MapCase(std::string_view text, CaseMapper mapper) {
  const std::u16string source = kelUtf8ToUtf16(text);
  std::u16string target(source.size() + 8, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = mapper(target.data(), static_cast<int32_t>(target.size()), source.data(),
                          static_cast<int32_t>(source.size()), "", &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    target.resize(length);
    status = U_ZERO_ERROR;
    length = mapper(target.data(), length, source.data(), static_cast<int32_t>(source.size()), "", &status);
  }
  if (U_FAILURE(status)) return std::string(text);
  target.resize(length);
  return kelUtf16ToUtf8(target);
}

}  // namespace

std::string kelUpperCase(std::string_view text) { return MapCase(text, u_strToUpper); }
std::string kelLowerCase(std::string_view text) { return MapCase(text, u_strToLower); }

std::string kelUpperCaseKeys(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) kelAppendCodePoint(out, kelCaseKey(kelNextCodePoint(text, pos)));
  return out;
}

// --- Small string routines ------------------------------------------------------

std::string_view kelTrimLeft(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && static_cast<unsigned char>(text[start]) <= 32) ++start;
  return text.substr(start);
}

std::string_view kelTrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(0, end);
}

std::string_view kelTrim(std::string_view text) { return kelTrimRight(kelTrimLeft(text)); }

// --- Encodings ------------------------------------------------------------------

std::optional<TKELEncoding> TKELEncoding::FromName(std::string_view name) {
  const std::string key(name);
  UErrorCode status = U_ZERO_ERROR;
  const char* canonical = ucnv_getCanonicalName(key.c_str(), "", &status);
  if (U_FAILURE(status) || canonical == nullptr) {
    status = U_ZERO_ERROR;
    canonical = ucnv_getAlias(key.c_str(), 0, &status);
    if (U_FAILURE(status) || canonical == nullptr) return std::nullopt;
  }
  const std::string_view c(canonical);
  if (c == "UTF-8") return UTF8();
  if (c == "UTF-16LE" || c == "UTF-16") return UTF16LE();
  if (c == "UTF-16BE") return UTF16BE();
  if (!OpenConverter(key)) return std::nullopt;
  return TKELEncoding(Kind::CodePage, key);
}

TKELEncoding kelLocaleEncoding() {
  static const TKELEncoding encoding = [] {
    const std::string charset = platform::LocaleCharset();
    if (charset.empty() || charset == "ANSI_X3.4-1968" || charset == "ASCII" || charset == "US-ASCII")
      return TKELEncoding::UTF8();
    return TKELEncoding::FromName(charset).value_or(TKELEncoding::UTF8());
  }();
  return encoding;
}

TKELEncoding TKELEncoding::AnsiFor(std::string_view bytes) {
  const TKELEncoding locale = kelLocaleEncoding();
  std::string ignored;
  if (locale.Decode(bytes, ignored)) return locale;
  return Windows1252();
}

std::string_view TKELEncoding::Preamble() const {
  switch (kind_) {
    case Kind::UTF8:
      return "\xEF\xBB\xBF";
    case Kind::UTF16LE:
      return "\xFF\xFE";
    case Kind::UTF16BE:
      return "\xFE\xFF";
    default:
      return "";
  }
}

bool TKELEncoding::Decode(std::string_view bytes, std::string& text) const {
  text.clear();
  switch (kind_) {
    case Kind::Ansi: {
      const TKELEncoding actual = AnsiFor(bytes);
      return actual.Decode(bytes, text);
    }
    case Kind::UTF8:
      if (!kelIsValidUtf8(bytes)) return false;
      text.assign(bytes);
      return true;
    case Kind::UTF16LE:
    case Kind::UTF16BE:
      text = Utf16BytesToUtf8(bytes, kind_ == Kind::UTF16BE);
      return true;
    case Kind::CodePage: {
      std::u16string units;
      if (!CodePageToUtf16(codePage_, bytes, units)) return false;
      text = kelUtf16ToUtf8(units);
      return true;
    }
  }
  return false;
}

std::string TKELEncoding::Encode(std::string_view text) const {
  switch (kind_) {
    case Kind::Ansi:
      return kelLocaleEncoding().Encode(text);
    case Kind::UTF8:
      return std::string(text);
    case Kind::UTF16LE:
    case Kind::UTF16BE:
      return Utf8ToUtf16Bytes(text, kind_ == Kind::UTF16BE);
    case Kind::CodePage:
      return Utf16ToCodePage(codePage_, kelUtf8ToUtf16(text));
  }
  return {};
}

}  // namespace kel
