#include "kel/base/text.h"

#include <gtest/gtest.h>

#include <random>

#include "support/fuzz.h"

namespace kel {
namespace {

TEST(Utf, Utf16RoundTripKeepsUnpairedSurrogates) {
  const std::u16string samples[] = {
      u"", u"plain", u"\u00e9t\u00e9 \u041f\u0440\u0438\u0432\u0435\u0442", u"\U0001F600 emoji",
      std::u16string(1, char16_t(0xD800)) + u"x", u"x" + std::u16string(1, char16_t(0xDFFF)),
      std::u16string{char16_t(0xDC00), char16_t(0xD800)}};
  for (const std::u16string& s : samples) EXPECT_EQ(kelUtf8ToUtf16(kelUtf16ToUtf8(s)), s);
}

TEST(Utf, InvalidUtf8BecomesReplacementPerMaximalSubpart) {
  // E2 82 is a truncated three-byte sequence: one replacement; C0 and FF are
  // never valid: one each.
  EXPECT_EQ(kelUtf8ToUtf16("a\xE2\x82z"), u"a\uFFFDz");
  EXPECT_EQ(kelUtf8ToUtf16("\xC0\xFF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(kelUtf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(Utf, StrictValidation) {
  struct Case {
    const char* bytes;
    bool valid;
  } cases[] = {
      {"", true},           {"ascii only, long enough for the fast path", true},
      {"\xC3\xA9", true},   {"\xED\x9F\xBF", true},
      {"\xED\xA0\x80", false},  // a surrogate code point
      {"\xC0\xAF", false},      // overlong
      {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
      {"abcdefgh\xE2\x82", false},  // truncated after an ASCII run
  };
  for (const Case& c : cases) EXPECT_EQ(kelIsValidUtf8(c.bytes), c.valid) << c.bytes;
}

TEST(Case, CompareIgnoringCase) {
  EXPECT_TRUE(kelSameText("Program Files", "PROGRAM files"));
  EXPECT_TRUE(kelSameText("\u041f\u0440\u0438\u0432\u0435\u0442", "\u043f\u0420\u0418\u0412\u0415\u0422"));
  EXPECT_TRUE(kelSameText("stra\u00dfe", "STRA\u1E9EE"));  // ß and capital sharp s
  EXPECT_FALSE(kelSameText("strasse", "stra\u00dfe"));     // simple folding keeps lengths
  EXPECT_FALSE(kelSameText("abc", "abcd"));
  EXPECT_LT(kelCompareText("apple", "Banana"), 0);
  EXPECT_GT(kelCompareText("b", "A"), 0);
  EXPECT_TRUE(kelStartsText("/OPT/", "/opt/ORVI/"));
  EXPECT_FALSE(kelStartsText("/opt/ORVI/x", "/opt/ORVI/"));
  EXPECT_TRUE(kelSameTextAscii("Name", "nAME"));
  EXPECT_FALSE(kelSameTextAscii("\u00e9", "\u00c9"));
}

TEST(Case, CaseKeysAgreeWithComparison) {
  // For any two code points, "same ignoring case" must match "same key".
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const char32_t a = rng() % 0x3000, b = (rng() % 2) ? a ^ 0x20 : rng() % 0x3000;
    if (a >= 0xD800 && a <= 0xDFFF) continue;
    if (b >= 0xD800 && b <= 0xDFFF) continue;
    std::string sa, sb;
    kelAppendCodePoint(sa, a);
    kelAppendCodePoint(sb, b);
    EXPECT_EQ(kelSameText(sa, sb), kelCaseKey(a) == kelCaseKey(b));
  }
}

TEST(Case, UpperAndLower) {
  EXPECT_EQ(kelUpperCase("stra\u00dfe \u00e9"), "STRASSE \u00c9");
  EXPECT_EQ(kelLowerCase("\u0416UK"), "\u0436uk");
  EXPECT_EQ(kelUpperCaseKeys("stra\u1E9Ee"), "STRA\u00dfE");  // both sharp s share one key
}

TEST(Trim, CharactersUpToSpace) {
  EXPECT_EQ(kelTrim("\t\r\n a b \x01"), "a b");
  EXPECT_EQ(kelTrim("   "), "");
  EXPECT_EQ(kelTrimLeft("  x "), "x ");
  EXPECT_EQ(kelTrimRight("  x "), "  x");
}

TEST(Encoding, DecodeAndEncode) {
  struct Case {
    TKELEncoding encoding;
    std::string bytes;
    std::string text;
  } cases[] = {
      {TKELEncoding::UTF8(), "\xD0\x96", "\u0416"},
      {TKELEncoding::UTF16LE(), std::string("\x16\x04" "A\0", 4), "\u0416A"},
      {TKELEncoding::UTF16BE(), std::string("\x04\x16\0A", 4), "\u0416A"},
      {TKELEncoding::Windows1252(), "\x80\xE9", "\u20ac\u00e9"},
      {*TKELEncoding::FromName("windows-1251"), "\xC6", "\u0416"},
      {*TKELEncoding::FromName("KOI8-R"), "\xF6", "\u0416"},
  };
  for (const Case& c : cases) {
    std::string text;
    ASSERT_TRUE(c.encoding.Decode(c.bytes, text)) << c.text;
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(c.encoding.Encode(c.text), c.bytes);
  }
}

TEST(Encoding, FailuresAndFallbacks) {
  std::string text;
  EXPECT_FALSE(TKELEncoding::UTF8().Decode("\xFF", text));
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(TKELEncoding::FromName("no-such-charset").has_value());
  EXPECT_EQ(TKELEncoding::FromName("utf-8"), TKELEncoding::UTF8());
  EXPECT_EQ(TKELEncoding::FromName("UTF-16BE"), TKELEncoding::UTF16BE());
  // Text that is not UTF-8 is read as Windows-1252 by the ANSI code page.
  EXPECT_EQ(TKELEncoding::AnsiFor("caf\xE9"), TKELEncoding::Windows1252());
  ASSERT_TRUE(TKELEncoding::Ansi().Decode("caf\xE9", text));
  EXPECT_EQ(text, "caf\u00e9");
  EXPECT_EQ(TKELEncoding::Windows1252().Encode("\u0416"), "?");
  EXPECT_EQ(TKELEncoding::UTF8().Preamble(), "\xEF\xBB\xBF");
  EXPECT_EQ(TKELEncoding::Ansi().Preamble(), "");
}

TEST(Encoding, SurvivesArbitraryBytes) {
  orvi::test::FuzzOptions options;
  options.seeds = {"\xEF\xBB\xBF[a]\r\n", "\xFF\xFE[\0a\0]\0", "caf\xE9"};
  orvi::test::RunFuzzTarget("encodings", [](std::string_view bytes) {
    for (const TKELEncoding& e : {TKELEncoding::Ansi(), TKELEncoding::UTF8(), TKELEncoding::UTF16LE(),
                                  TKELEncoding::UTF16BE(), TKELEncoding::Windows1252()}) {
      std::string text;
      if (e.Decode(bytes, text)) (void)e.Encode(text);
    }
    const std::u16string units = kelUtf8ToUtf16(bytes);
    (void)kelUtf16ToUtf8(units);
    (void)kelUpperCase(bytes);
    (void)kelSameText(bytes, "x");
  }, options);
}

}  // namespace
}  // namespace kel
