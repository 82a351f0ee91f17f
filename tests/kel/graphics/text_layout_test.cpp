#include "kel/graphics/text_layout.h"

#include <gtest/gtest.h>

#include "fake_font.h"
#include "kel/base/text.h"

namespace kel {
namespace {

using test::FakeFont;
using test::Number;
using test::RecordingCanvas;

// The rows as "text@left,top" items separated by spaces, rows by " | ";
// spaces show as "_" and the ellipsis as "…"; what has no width is left out.
std::string Rows(TKELTextLayout& layout) {
  std::string out;
  for (const TKELTextLayoutRow& row : layout.Rows()) {
    if (!out.empty()) out += " | ";
    std::string items;
    for (const TKELTextLayoutBlock* block : row.Blocks) {
      std::string item;
      if (const auto* text = dynamic_cast<const TKELTextLayoutBlockText*>(block)) {
        if (text->ShownLength == 0) continue;
        item = kelUtf16ToUtf8(text->ShownText());
      } else if (dynamic_cast<const TKELTextLayoutBlockSpace*>(block) && block->Width > 0) {
        item = "_";
      } else {
        continue;
      }
      items += (items.empty() ? "" : " ") + item + "@" + Number(block->Left) + "," + Number(block->Top);
    }
    out += items;
  }
  return out;
}

// The face of each text block: "x:B10 y:10".
std::string Faces(TKELTextLayout& layout) {
  layout.Measure();
  std::string out;
  for (const auto& block : layout.Blocks()) {
    if (const auto* text = dynamic_cast<const TKELTextLayoutBlockText*>(block.get())) {
      std::string styles;
      if (text->Face.Styles & fsBold) styles += 'B';
      if (text->Face.Styles & fsItalic) styles += 'I';
      if (text->Face.Styles & fsUnderline) styles += 'U';
      if (text->Face.Styles & fsStrikeOut) styles += 'S';
      out += (out.empty() ? "" : " ") + kelUtf16ToUtf8(text->Text) + ":" + styles + Number(text->Face.Size);
    }
  }
  return out;
}

class TextLayoutTest : public ::testing::Test {
 protected:
  // A layout of the text in a box at the origin.
  TKELTextLayout& Layout(std::string_view text, double width, double height, TKELTextLayoutOptions options = 0) {
    layout_.SetText(text);
    layout_.SetBounds({0, 0, width, height});
    for (const TKELTextLayoutOption option : {tloAutoHeight, tloAutoWidth, tloFullRowsOnly, tloEndEllipsis, tloWordWrap})
      layout_.SetOption(option, options & option);
    return layout_;
  }

  FakeFont font_;
  TKELTextLayout layout_{font_};
};

TEST_F(TextLayoutTest, StyleCountsAndSizeStack) {
  const struct {
    const char* markup;
    const char* faces;
  } cases[] = {
      {"[B][B]x[/B]y[/B]z[/B][B]w", "x:B10 y:B10 z:10 w:B10"},
      {"[b][i][u][s]x[/S]y[URL=a]z[/U]w[/URL]v", "x:BIUS10 y:BIU10 z:BIU10 w:BIU10 v:BI10"},
      {"[SIZE=20]a[BIG]b[/SIZE]c[/BIG]d", "a:20 b:22 c:22 d:10"},
      {"[SIZE=1.5]a[SMALL]b[/SMALL][SIZE=big]c[/SIZE][/SIZE]d[/SIZE]e", "a:15 b:13.5 c:15 d:10 e:10"},
      {"[SIZE=0]a[/SIZE][SIZE=99999]b[SIZE=1e300]c", "a:1 b:1000 c:1000"},
  };
  for (const auto& c : cases) EXPECT_EQ(Faces(Layout(c.markup, 1000, 1000)), c.faces) << c.markup;
}

TEST_F(TextLayoutTest, WordWrap) {
  // Characters and spaces are 5 wide, rows 11 high.
  EXPECT_EQ(Rows(Layout("aaa bbb ccc", 40, 100, tloWordWrap)), "aaa@0,0 _@15,0 bbb@20,0 _@35,0 | ccc@0,11");
  // A space that would cross the limit takes no room.
  EXPECT_EQ(Rows(Layout("aaa bbb", 15, 100, tloWordWrap)), "aaa@0,0 | bbb@0,11");
  // Rows break after delimiters, and at line breaks; an empty row is one line high.
  EXPECT_EQ(Rows(Layout("ab(cd)ef\n\nx", 30, 100, tloWordWrap)), "ab@0,0 (@10,0 cd@15,0 )@25,0 | ef@0,11 |  | x@0,33");
  EXPECT_FALSE(layout_.Truncated());
  EXPECT_EQ(layout_.Measure(), (TKELSizeF{30, 44}));
  // Without word wrap a row runs on past the width.
  EXPECT_EQ(Rows(Layout("aaa bbb", 15, 100)), "aaa@0,0 _@15,0");
  EXPECT_TRUE(layout_.Truncated());
}

TEST_F(TextLayoutTest, RowsShareTheirBaseline) {
  // Size 10: ascent 8, 3 below; size 20: ascent 16, 6 below.
  EXPECT_EQ(Rows(Layout("a[SIZE=20]B[/SIZE]c\nd", 100, 100)), "a@0,8 B@5,0 c@15,8 | d@0,22");
  EXPECT_EQ(layout_.Rows()[0].Baseline, 16);
  EXPECT_EQ(layout_.Rows()[0].Bounds, (TKELRectF{0, 0, 20, 22}));
}

TEST_F(TextLayoutTest, EllipsisWithoutWordWrap) {
  // The line is cut where "…" still fits in 32: five characters and "…".
  EXPECT_EQ(Rows(Layout("abcdefghij klm\nnext", 32, 100, tloEndEllipsis)), "abcde@0,0 …@25,0 | next@0,11");
  EXPECT_TRUE(layout_.Truncated());
  // A line cut at a space: the space shrinks, words before it stay whole.
  EXPECT_EQ(Rows(Layout("abcde fghij", 32, 100, tloEndEllipsis)), "abcde@0,0 _@25,0 …@27,0");
  // "…" in the face of the text it follows (bold: 6 wide).
  EXPECT_EQ(Rows(Layout("x[B]abcdefghij[/B] y", 32, 100, tloEndEllipsis)), "x@0,0 abc@5,0 …@23,0");
  EXPECT_EQ(layout_.Rows()[0].Ellipsis->Face, (TKELFontFace{fsBold, 10}));
  // Without EndEllipsis the row is only cut.
  EXPECT_EQ(Rows(Layout("abcdefghij klm", 32, 100)), "abcdefghij@0,0");
  EXPECT_TRUE(layout_.Truncated());
  // Text that fits is left alone.
  EXPECT_EQ(Rows(Layout("abcdef", 30, 100, tloEndEllipsis)), "abcdef@0,0");
  EXPECT_FALSE(layout_.Truncated());
}

TEST_F(TextLayoutTest, EllipsisWithWordWrap) {
  // A word longer than the width gets a row of its own and is cut.
  EXPECT_EQ(Rows(Layout("ab abcdefghijkl cd", 32, 100, tloWordWrap | tloEndEllipsis)),
            "ab@0,0 _@10,0 | abcde@0,11 …@25,11 | cd@0,22");
  EXPECT_TRUE(layout_.Truncated());
  // Characters are dropped whole: a surrogate pair is one character.
  EXPECT_EQ(Rows(Layout("a\U0001F600\U0001F600\U0001F600b", 17, 100, tloWordWrap | tloEndEllipsis)),
            "a\U0001F600@0,0 …@10,0");
}

TEST_F(TextLayoutTest, HeightLimit) {
  // Rows at 0, 11 and 22, each 11 high.
  EXPECT_EQ(Rows(Layout("a\nb\nc", 50, 25)), "a@0,0 | b@0,11 | c@0,22") << "a row partly inside stays";
  EXPECT_FALSE(layout_.Truncated());
  EXPECT_EQ(Rows(Layout("a\nb\nc", 50, 25, tloFullRowsOnly)), "a@0,0 | b@0,11");
  EXPECT_TRUE(layout_.Truncated());
  EXPECT_EQ(Rows(Layout("a\nb\nc", 50, 25, tloFullRowsOnly | tloEndEllipsis)), "a@0,0 | b@0,11 …@5,11");
  EXPECT_EQ(Rows(Layout("a\nb\nc", 50, 22, tloEndEllipsis)), "a@0,0 | b@0,11 …@5,11") << "no row starts at the limit";
  EXPECT_EQ(Rows(Layout("aaa bbb ccc", 20, 22, tloWordWrap | tloEndEllipsis)), "aaa@0,0 _@15,0 | bbb@0,11 …@15,11");
  EXPECT_TRUE(layout_.Truncated());
  EXPECT_EQ(Rows(Layout("a\nb\nc", 50, 5, tloAutoHeight | tloEndEllipsis)), "a@0,0 | b@0,11 | c@0,22");
  EXPECT_FALSE(layout_.Truncated());
}

TEST_F(TextLayoutTest, Alignment) {
  layout_.SetText("ab\nabcd");
  layout_.SetBounds({100, 50, 140, 90});
  EXPECT_EQ(Rows(layout_), "ab@100,50 | abcd@100,61");
  layout_.SetHorzAlignment(TKELHorzAlignment::Right);
  layout_.SetVertAlignment(TKELVertAlignment::Bottom);
  EXPECT_EQ(Rows(layout_), "ab@130,68 | abcd@120,79");
  layout_.SetHorzAlignment(TKELHorzAlignment::Center);
  layout_.SetVertAlignment(TKELVertAlignment::Center);
  EXPECT_EQ(Rows(layout_), "ab@115,59 | abcd@110,70");
  EXPECT_EQ(layout_.Rows()[1].Baseline, 70 + 8);
  layout_.SetOption(tloAutoWidth, true);
  EXPECT_EQ(Rows(layout_), "ab@100,59 | abcd@100,70") << "AutoWidth aligns left";
}

TEST_F(TextLayoutTest, RightToLeftRunsAreMirrored) {
  // ab _ [אבג _ דה] _ cd: the run from 15 to 45 reads from right to left;
  // the space after it stays between it and "cd".
  EXPECT_EQ(Rows(Layout("ab \u05D0\u05D1\u05D2 \u05D3\u05D4 cd", 200, 100)),
            "ab@0,0 _@10,0 \u05D0\u05D1\u05D2@30,0 _@25,0 \u05D3\u05D4@15,0 _@45,0 cd@50,0");
  // Neutral words (digits, bold: 12 wide) join a run; the run goes on across tags.
  EXPECT_EQ(Rows(Layout("\u05D0 [B]12[/B] \u05D1", 200, 100)), "\u05D0@27,0 _@22,0 12@10,0 _@5,0 \u05D1@0,0");
  // Arabic as well; a run is mirrored within each row it spans.
  EXPECT_EQ(Rows(Layout("\u0627\u0628 \u062C\u062F \u0647\u0648 12 x", 25, 100, tloWordWrap)),
            "\u0627\u0628@15,0 _@10,0 \u062C\u062F@0,0 | \u0647\u0648@15,11 _@10,11 12@0,11 | x@0,22");
}

TEST_F(TextLayoutTest, MeasuresOnceAndLaysOutOnlyAfterChanges) {
  Layout("hello wide world", 200, 100, tloWordWrap);
  layout_.Measure();
  EXPECT_EQ(font_.TimesMeasured(u"hello"), 1u);
  const int metricsCalls = font_.metricsCalls;
  layout_.SetBounds({0, 0, 200, 100});
  layout_.SetOption(tloWordWrap, true);
  layout_.SetHorzAlignment(TKELHorzAlignment::Left);
  layout_.Measure();
  layout_.HitTest({1, 1});
  RecordingCanvas canvas;
  layout_.Draw(canvas);
  EXPECT_EQ(font_.metricsCalls, metricsCalls) << "nothing changed: no new layout";

  layout_.SetBounds({0, 0, 40, 100});
  EXPECT_EQ(Rows(layout_), "hello@0,0 _@25,0 | wide@0,11 _@20,11 | world@0,22");
  EXPECT_EQ(font_.TimesMeasured(u"hello"), 1u) << "advances are kept";
  layout_.SetBounds({0, 0, 200, 100});
  EXPECT_EQ(Rows(layout_), "hello@0,0 _@25,0 wide@30,0 _@50,0 world@55,0") << "a shortened block gets its width back";

  layout_.Refresh();
  layout_.Measure();
  EXPECT_EQ(font_.TimesMeasured(u"hello"), 2u);
}

TEST_F(TextLayoutTest, HitTest) {
  Layout("go [URL=https://x.org]the site[/URL] now", 200, 100);
  layout_.SetBounds({100, 100, 300, 200});
  const struct {
    TKELPointF point;
    const char* block;  // nullptr: nothing there
    const char* link;
  } cases[] = {
      {{140, 105}, "site", "https://x.org"}, {{116, 110}, "the", "https://x.org"},
      {{132, 101}, " ", "https://x.org"},    {{165, 105}, "now", ""},
      {{102, 105}, "go", ""},                {{400, 105}, nullptr, ""},
      {{140, 111}, nullptr, ""},             {{140, 99}, nullptr, ""},
  };
  for (const auto& c : cases) {
    const std::optional<TKELTextLayoutHit> hit = layout_.HitTest(c.point);
    const std::string where = Number(c.point.X) + "," + Number(c.point.Y);
    if (!c.block) {
      EXPECT_FALSE(hit) << where;
      continue;
    }
    ASSERT_TRUE(hit) << where;
    const auto* text = dynamic_cast<const TKELTextLayoutBlockText*>(hit->Block);
    EXPECT_EQ(text ? kelUtf16ToUtf8(text->Text) : " ", c.block) << where;
    EXPECT_EQ(hit->Link ? hit->Link->Target : "", c.link) << where;
  }
  // A link that wraps is a link on both rows: "go the" | "site " | "now".
  Layout("go [URL=a]the site[/URL] now", 30, 100, tloWordWrap);
  std::optional<TKELTextLayoutHit> hit = layout_.HitTest({5, 15});
  ASSERT_TRUE(hit && hit->Link);
  EXPECT_EQ(hit->Link->Target, "a");
  hit = layout_.HitTest({22, 15});
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->Link, nullptr) << "the space after the link";
}

TEST_F(TextLayoutTest, PlainText) {
  layout_.SetText("[b]Bold[/B] and [COLOR=red]red[/COLOR]");
  EXPECT_EQ(layout_.PlainText(), "Bold and red");
  layout_.SetText("a\nb\tc[URL=x]www.d.org[/URL] [X]\\n\u00E9");
  EXPECT_EQ(layout_.PlainText(), "a\r\nb cwww.d.org [X]\r\n\u00E9");
  // The plain text is the text, not what fits.
  Layout("abcdefghij", 20, 100, tloEndEllipsis);
  layout_.Measure();
  EXPECT_EQ(layout_.PlainText(), "abcdefghij");
}

TEST_F(TextLayoutTest, PaintsColoursFillsAndUnderlines) {
  Layout("[COLOR=red]r[COLOR=#00FF00]g[/COLOR]x[/COLOR]d", 200, 100);
  layout_.SetTextColor(kelRGB(1, 2, 3));
  RecordingCanvas canvas;
  layout_.Draw(canvas);
  EXPECT_EQ(canvas.calls.front(), "clip 0,0 200x100");
  EXPECT_EQ(canvas.calls.back(), "unclip");
  EXPECT_EQ(canvas.Calls("run"), (std::vector<std::string>{"r 0,8 w5 #FF0000 10", "g 5,8 w5 #00FF00 10",
                                                           "x 10,8 w5 #FF0000 10", "d 15,8 w5 #010203 10"}));

  // A link pushes the link colour; [/COLOR] removes the red below it.
  Layout("[COLOR=red][URL=x]l[/COLOR]m[/URL]n", 200, 100);
  layout_.SetLinkColor(kelRGB(0, 0, 200));
  canvas.calls.clear();
  layout_.Draw(canvas);
  EXPECT_EQ(canvas.Calls("run"),
            (std::vector<std::string>{"l 0,8 w5 #0000C8 U10", "m 5,8 w5 #0000C8 U10", "n 10,8 w5 #010203 10"}));

  // Fills behind text and spaces; "none" and "default" fill nothing; spaces
  // are drawn only while underlined; [COLOR=none] is the default colour.
  Layout("[BACKCOLOR=yellow]a b[/BACKCOLOR] [BACKCOLOR=none]c[BACKCOLOR=default] [U]d e[/U] [COLOR=none]f", 200, 100);
  canvas.calls.clear();
  layout_.Draw(canvas);
  EXPECT_EQ(canvas.Calls("fill"), (std::vector<std::string>{"0,0 5x11 #FFFF00", "5,0 5x11 #FFFF00", "10,0 5x11 #FFFF00"}));
  EXPECT_EQ(canvas.Calls("run"),
            (std::vector<std::string>{"a 0,8 w5 #010203 10", "b 10,8 w5 #010203 10", "c 20,8 w5 #010203 10",
                                      "d 30,8 w5 #010203 U10", "  35,8 w5 #010203 U10", "e 40,8 w5 #010203 U10",
                                      "f 50,8 w5 #010203 10"}));
  EXPECT_EQ(canvas.Calls("clip"), (std::vector<std::string>{"0,0 200x100", "35,0 5x11"})) << "an underlined space is clipped to itself";
}

TEST_F(TextLayoutTest, PaintsOnlyVisibleRowsWithScrollOffset) {
  Layout("[B]a[/B]\nb\n[B]c", 100, 0, tloAutoHeight);
  RecordingCanvas canvas;
  layout_.Draw(canvas, {0, 0, 100, 11}, {0, 11});
  EXPECT_EQ(canvas.Calls("run"), (std::vector<std::string>{"b 0,8 w5 #000000 10"}));
  canvas.calls.clear();
  layout_.Draw(canvas);
  EXPECT_EQ(canvas.Calls("run").size(), 3u) << "AutoHeight: no clip at the bounds' bottom";
}

TEST_F(TextLayoutTest, ShownPrefixAndEllipsisArePainted) {
  Layout("[U]abcdefghij[/U]", 32, 100, tloEndEllipsis);
  RecordingCanvas canvas;
  layout_.Draw(canvas);
  EXPECT_EQ(canvas.Calls("run"), (std::vector<std::string>{"abcde 0,8 w25 #000000 U10", "… 25,8 w5 #000000 U10"}));
}

TEST(FormattedText, DrawInOneCall) {
  FakeFont font;
  RecordingCanvas canvas;
  kelDrawFormattedText(font, canvas, "[B]ab[/B] cd", {10, 10, 60, 60}, TKELHorzAlignment::Center,
                       TKELVertAlignment::Bottom, false, kelRGB(9, 9, 9));
  // "ab" bold (6 wide each), a space and "cd": 27 wide, centred in 50; one row at the bottom.
  EXPECT_EQ(canvas.Calls("run"), (std::vector<std::string>{"ab 21.5,57 w12 #090909 B10", "cd 38.5,57 w10 #090909 10"}));
}

TEST(LinkColor, DerivedFromTheTextColour) {
  EXPECT_EQ(kelColorToHSL(kelRGB(255, 0, 0)), (TKELHSL{0, 255, 128}));
  EXPECT_EQ(kelColorToHSL(kelRGB(0, 0, 255)), (TKELHSL{170, 255, 128}));
  EXPECT_EQ(kelColorToHSL(kelRGB(128, 128, 128)), (TKELHSL{0, 0, 128}));
  const struct {
    TKELColor text;
    TKELHSL link;
  } cases[] = {
      {kelRGB(0, 0, 0), {154, 154, 100}},       // black text: lightness raised to 100
      {kelRGB(255, 255, 255), {154, 154, 200}},  // white text: lightness lowered to 200
      {kelRGB(255, 0, 0), {154, 255, 128}},      // saturation kept when above 154
      {kelRGB(90, 110, 90), {154, 154, 100}},
  };
  for (const auto& c : cases) {
    const TKELHSL link = kelColorToHSL(kelLinkColorFor(c.text));
    EXPECT_NEAR(link.H, c.link.H, 1);
    EXPECT_NEAR(link.S, c.link.S, 1);
    EXPECT_NEAR(link.L, c.link.L, 1);
  }
  FakeFont font;
  TKELTextLayout layout(font);
  EXPECT_EQ(layout.LinkColor(), kelLinkColorFor(kelRGB(0, 0, 0)));
  layout.SetTextColor(kelRGB(255, 255, 255));
  EXPECT_EQ(layout.LinkColor(), kelLinkColorFor(kelRGB(255, 255, 255)));
}

}  // namespace
}  // namespace kel
