#include "kel/graphics/text_import.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_font.h"
#include "kel/base/text.h"

namespace kel {
namespace {

using test::ColorName;
using test::Number;

// The blocks as "|"-separated items: text as it is, "_" a space, "→" a tab,
// "¶" a line break, and the style blocks as <B>, </B>, <COLOR #RRGGBB>,
// <SIZE 14>, <SIZE x1.5>, <URL target> and so on.
class BlockDump : public TKELTextLayoutExporter {
 public:
  bool Visit(TKELTextLayoutBlockText& block) override { return Add(kelUtf16ToUtf8(block.Text)); }
  bool Visit(TKELTextLayoutBlockSpace& block) override { return Add(block.Character == u'\t' ? "→" : "_"); }
  bool Visit(TKELTextLayoutBlockLineBreak&) override { return Add("¶"); }
  bool Visit(TKELTextLayoutBlockFontColor& block) override { return Tag(block, "COLOR", ColorName(block.Color)); }
  bool Visit(TKELTextLayoutBlockFillColor& block) override { return Tag(block, "BACKCOLOR", ColorName(block.Color)); }
  bool Visit(TKELTextLayoutBlockFontSize& block) override {
    return Tag(block, "SIZE", (block.Relative ? "x" : "") + Number(block.Value));
  }
  bool Visit(TKELTextLayoutBlockFontBig& block) override { return Tag(block, "BIG", ""); }
  bool Visit(TKELTextLayoutBlockFontSmall& block) override { return Tag(block, "SMALL", ""); }
  bool Visit(TKELTextLayoutBlockFontStyle& block) override {
    const char* names[] = {"", "B", "I", "", "U", "", "", "", "S"};
    return Tag(block, names[block.Style], "");
  }
  bool Visit(TKELTextLayoutBlockHyperlink& block) override { return Tag(block, "URL", block.Target); }

  std::string text;

 private:
  bool Add(const std::string& item) {
    text += (text.empty() ? "" : "|") + item;
    return true;
  }
  bool Tag(const TKELTextLayoutBlockStyle& block, const std::string& name, const std::string& value) {
    if (!block.Opening) return Add("</" + name + ">");
    return Add("<" + name + (value.empty() && name != "URL" ? "" : " " + value) + ">");
  }
};

std::string Import(std::string_view text, const TKELTextImportSettings& settings = {}) {
  const std::u16string units = kelUtf8ToUtf16(text);
  std::vector<double> advances(units.size());
  TKELTextLayoutBlockList blocks;
  kelImportFormattedText(units, advances.data(), settings, blocks);
  BlockDump dump;
  dump.Walk(blocks);
  return dump.text;
}

struct Case {
  std::string markup;
  std::string blocks;
};

TEST(TextImport, TagsAndLiteralBrackets) {
  const Case cases[] = {
      {"[b]Bold[/B] and [COLOR=red]red[/COLOR]", "<B>|Bold|</B>|_|and|_|<COLOR #FF0000>|red|</COLOR>"},
      {"[i][U][s]x[/S][/u][/I]", "<I>|<U>|<S>|x|</S>|</U>|</I>"},
      {"[B=1]x[/B=1]", "<B>|x|[|/B=1|]"},  // opening style tags ignore a value; closing tags take none
      {"[/COLOR=red]", "[|/COLOR=red|]"},
      {"[X]", "[|X|]"},
      {"a [ b", "a|_|[|_|b"},
      {"[ B]x[BOLD]", "[|_|B|]|x|[|BOLD|]"},
      {"[a [b]x", "[|a|_|<B>|x"},  // a tag ends at the first "]": "[a [b]" is no tag, "[b]" is
      {"[[B]]", "[|<B>|]"},
      {"x]y[", "x|]|y|["},
      {"[COLOR=#FF8000]x[/COLOR][COLOR]y", "<COLOR #FF8000>|x|</COLOR>|<COLOR #000000>|y"},
      {"[BACKCOLOR=clYellow]x[/BACKCOLOR][BACKCOLOR=none]", "<BACKCOLOR #FFFF00>|x|</BACKCOLOR>|<BACKCOLOR none>"},
      {"[SIZE=14]a[SIZE=1.5]b[SIZE=big]c[/SIZE][SIZE=+3][SIZE=-2][SIZE=]", "<SIZE 14>|a|<SIZE x1.5>|b|<SIZE x1>|c|</SIZE>|<SIZE 3>|<SIZE -2>|<SIZE x1>"},
      {"[BIG]a[/big][small]b[/SMALL][BIG=2]", "<BIG>|a|</BIG>|<SMALL>|b|</SMALL>|<BIG>"},
      {"[URL=https://x.org/?a=b]site[/URL][URL]e[/URL]", "<URL https://x.org/?a=b>|site|</URL>|<URL >|e|</URL>"},
      {"a\r\nb\rc\nd\\ne\r", "a|¶|b|¶|c|¶|d|¶|e|¶"},
      {"a \tb  ", "a|_|→|b|_|_"},
      {"(a)\u201Cb\u201D\uFF0Cc\u3001d\\e\u200Bf", "(|a|)|\u201C|b|\u201D|\uFF0C|c|\u3001|d|\\|e|\u200B|f"},
      {std::string("a\0b", 3), "a"},  // the text ends at a NUL
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Import(c.markup), c.blocks) << c.markup;
}

TEST(TextImport, SettingsSwitchMarkupOff) {
  TKELTextImportSettings plain;
  plain.AllowFormatting = false;
  EXPECT_EQ(Import("[B]x[/B]", plain), "[|B|]|x|[|/B|]");
  plain.AllowLineBreakEscape = false;
  EXPECT_EQ(Import("a\\nb\nc", plain), "a|\\|nb|¶|c");
}

TEST(TextImport, DetectedLinks) {
  TKELTextImportSettings all;
  all.AutoDetectEmails = all.AutoDetectTimeCodes = all.AutoDetectURLs = true;
  const Case cases[] = {
      // URLs
      {"see www.example.com now", "see|_|<URL https://www.example.com>|www.example.com|</URL>|_|now"},
      {"www.a.b", "<URL https://www.a.b>|www.a.b|</URL>"},
      {"www.example", "www.example"},
      {"www.", "www."},
      {"ww.example.com", "ww.example.com"},
      {"WWW.example.com", "WWW.example.com"},
      {"https://x.org/a?b=c#d", "<URL https://x.org/a?b=c#d>|https://x.org/a?b=c#d|</URL>"},
      {"x://", "<URL x://>|x://|</URL>"},
      {"a:/b", "a:/b"},
      {"a:b//c", "a:b//c"},
      // e-mail addresses
      {"to some.one+x@mail.example.com now",
       "to|_|<URL mailto:some.one+x@mail.example.com>|some.one+x@mail.example.com|</URL>|_|now"},
      {"a@b", "<URL mailto:a@b>|a@b|</URL>"},
      {"@x.org", "@x.org"},
      {"a@-x.org", "a@-x.org"},
      {"a@x-.org", "a@x-.org"},
      {"a@x..org", "a@x..org"},
      {"a@x.org.", "a@x.org."},
      {"a@b@c", "a@b@c"},
      {"\u00E9@x.org", "\u00E9@x.org"},
      {"a@" + std::string(64, 'x') + ".org", "a@" + std::string(64, 'x') + ".org"},
      // time codes
      {"at 1:23 and (01:02:03)", "at|_|<URL time:83>|1:23|</URL>|_|and|_|(|<URL time:3723>|01:02:03|</URL>|)"},
      {"1:02:03.5", "<URL time:3723>|1:02:03.5|</URL>"},
      {"12:34.567", "<URL time:754>|12:34.567|</URL>"},
      {"a\t1:23", "a|→|<URL time:83>|1:23|</URL>"},
      {"[1:23]", "[|<URL time:83>|1:23|</URL>|]"},
      {"x1:23", "x1:23"},
      {"1:234", "1:234"},
      {"123:45", "123:45"},
      {"1:2", "1:2"},
      {"1:23.", "1:23."},
      {"1:23:45:67", "1:23:45:67"},
      {"[B]1:23", "<B>|1:23"},  // after a tag's "]"
      {"\u201C1:23", "\u201C|1:23"},
      // words inside a link are not detected again
      {"[URL=https://t.org]www.example.com[/URL] www.a.com",
       "<URL https://t.org>|www.example.com|</URL>|_|<URL https://www.a.com>|www.a.com|</URL>"},
      {"[URL=x]a@b.org 1:23[/URL]", "<URL x>|a@b.org|_|1:23|</URL>"},
      {"[/URL][URL=a]www.b.com[/URL]", "</URL>|<URL a>|www.b.com|</URL>"},
  };
  for (const Case& c : cases) EXPECT_EQ(Import(c.markup, all), c.blocks) << c.markup;
}

TEST(TextImport, DetectorsFollowTheirSettings) {
  const std::string text = "www.x.org a@b.org 1:23";
  EXPECT_EQ(Import(text), "<URL https://www.x.org>|www.x.org|</URL>|_|a@b.org|_|1:23") << "defaults: URLs only";
  TKELTextImportSettings none;
  none.AutoDetectURLs = false;
  EXPECT_EQ(Import(text, none), "www.x.org|_|a@b.org|_|1:23");
}

TEST(TextImport, UrlTargets) {
  for (const char* url : {"https://x.org", "file://host/a", "x:\\\\share", "a:b://c"}) EXPECT_TRUE(kelIsUrlTarget(url)) << url;
  for (const char* other : {"mailto:a@b.org", "time:83", "www.x.org", "a:/\\b", ""}) EXPECT_FALSE(kelIsUrlTarget(other)) << other;
}

}  // namespace
}  // namespace kel
