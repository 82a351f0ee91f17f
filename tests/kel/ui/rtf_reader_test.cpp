#include "kel/ui/rtf_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kel/base/text.h"
#include "rich_viewer_test_support.h"
#include "support/fuzz.h"

namespace kel {
namespace {

// Keeps what the reader hands over. The transcript shows the structure: a
// paragraph's text ends with "\n", a cell's with "|", and a row ends with
// "/".
class Recorder : public IKELRtfSink {
 public:
  void Paragraph(const TKELRtfParagraph& paragraph) override {
    EXPECT_EQ(paragraph.Text.empty(), paragraph.Runs.empty());
    size_t end = 0;
    for (const TKELRtfRun& run : paragraph.Runs) {
      EXPECT_EQ(run.Start, end) << "runs cover the text in order";
      EXPECT_GT(run.Length, 0u);
      end = run.Start + run.Length;
    }
    EXPECT_EQ(end, paragraph.Text.size());
    paragraphs.push_back(paragraph);
    transcript += kelUtf16ToUtf8(paragraph.Text) + (paragraph.EndsCell ? "|" : "\n");
  }
  void EndRow(const TKELRtfRowFormat& row) override {
    rows.push_back(row);
    transcript += "/";
  }

  // The format of the run that holds `text`.
  const TKELRtfCharFormat& FormatOf(std::string_view text) const {
    const std::u16string wanted = kelUtf8ToUtf16(text);
    for (const TKELRtfParagraph& paragraph : paragraphs) {
      const size_t at = paragraph.Text.find(wanted);
      if (at == std::u16string::npos) continue;
      for (const TKELRtfRun& run : paragraph.Runs)
        if (at >= run.Start && at < run.Start + run.Length) return run.Format;
    }
    ADD_FAILURE() << "no run holds " << text;
    static const TKELRtfCharFormat none;
    return none;
  }

  std::vector<TKELRtfParagraph> paragraphs;
  std::vector<TKELRtfRowFormat> rows;
  std::string transcript;
};

// Reads the document and keeps what came out (the reader too, so that the
// fonts and links the formats point to stay).
struct Reading {
  explicit Reading(std::string_view rtf) : reader(recorder) { isRtf = reader.Read(rtf); }
  Recorder recorder;
  TKELRtfReader reader;
  bool isRtf = false;
};

std::string Transcript(std::string_view rtf) { return Reading(rtf).recorder.transcript; }

TEST(RtfReader, DecodesTextInTheRightCodePage) {
  const struct {
    const char* rtf;
    const char* text;
  } cases[] = {
      {R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8\'e2\'e5\'f2})", "Привет\n"},
      {R"({\rtf1\ansi \'e9\'80})", "é€\n"},
      // A font's character set wins over the document's code page.
      {R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0 Arial;}{\f1\fcharset204 Arial Cyr;}}\f0 \'e9 \f1 \'e9})", "é й\n"},
      {R"({\rtf1\ansi\ansicpg1251{\fonttbl{\f0\fcharset0 Arial;}}\f0 \'e9})", "й\n"},
      {R"({\rtf1\ansi{\fonttbl{\f0\fcharset161\cpg1253 Greek;}}\f0\'e1})", "α\n"},
      {R"({\rtf1\ansi\deff1{\fonttbl{\f0 A;}{\f1\fcharset204 B;}}\'e9{\f0\'e9}})", "йé\n"},
      {R"({\rtf1\ansi{\fonttbl{\f0\fcharset128 MS Mincho;}}\f0\'82\'a0\'82\'a2})", "あい\n"},
      {R"({\rtf1\mac \'8a})", "ä\n"},
      {R"({\rtf1\ansi\ansicpg99999 \'e9})", "é\n"},  // unknown code page: Windows-1252
      // \uN and the fallbacks after it
      {R"({\rtf1 \u1055?\u1088?x})", "Прx\n"},
      {R"({\rtf1 \uc2\u1055\'cf\'f0x})", "Пx\n"},
      {R"({\rtf1 \uc0\u1055 x})", "Пx\n"},
      {R"({\rtf1 \u1055\'cfx\uc1\u1088 ?y})", "Пxрy\n"},
      {R"({\rtf1 \uc2\u1055\b xy})", "Пy\n"},
      {R"({\rtf1 \uc3\u1055{a}b})", "Пab\n"},
      {R"({\rtf1 \u-10179?\u-8704?!})", "😀!\n"},
      {R"({\rtf1 \u-10179?x\u-8704?})", "\uFFFDx\uFFFD\n"},
      {R"({\rtf1{\fonttbl{\f1\fcharset2 Symbol;}{\f2\fcharset2 Wingdings;}}{\f1\'b7\u-3913?}{\f2\'a7}})", "••▪\n"},
      // special characters
      {R"({\rtf1 a\tab b\line c\~d\emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote\-\_})",
       "a\tb\u2028c\u00A0d—–•‘’“”\u00AD\u2011\n"},
      {R"({\rtf1 \\\{\}x\
y})", "\\{}x\ny\n"},
      {"{\\rtf1 a\r\nb\tc}", "ab\tc\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Transcript(c.rtf), c.text) << c.rtf;
}

TEST(RtfReader, SkipsWhatIsNoTextOfTheDocument) {
  const struct {
    const char* rtf;
    const char* text;
  } cases[] = {
      {R"({\rtf1 a{\*\unknown hidden {nested}}b})", "ab\n"},
      {R"({\rtf1 a{\unknownword shown}b})", "ashownb\n"},
      {R"({\rtf1{\info{\title T}{\author A}}{\stylesheet{\s1 Heading;}}x})", "x\n"},
      {R"({\rtf1{\header H}{\footer F}x{\footnote N}y})", "xy\n"},
      {R"({\rtf1 a{\pict\pngblip 89504e47}{\*\shppict{\pict\bin4 }}{}}}b{\object{\*\objdata 00}{\result R}}c})", "abc\n"},
      {R"({\rtf1 a\bin3 xyzb})", "ab\n"},
      {R"({\rtf1 a\v hidden\v0 b})", "ab\n"},
      {R"({\rtf1 a{\*\fldinst HYPERLINK "x"}b})", "ab\n"},
      {R"({\rtf1 a}trailing)", "a\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Transcript(c.rtf), c.text) << c.rtf;
}

TEST(RtfReader, CharacterFormatting) {
  Reading reading(R"({\rtf1{\fonttbl{\f0\froman Times;}{\f1\fmodern Courier;}})"
                  R"({\colortbl;\red255\green0\blue0;\red0\green0\blue255;})"
                  R"(plain \b bold\b0  \i italic\i0  \ul under\ulnone  \uldb double\ul0  \strike struck\strike0 )"
                  R"(\fs40 big\fs24  {\f1 mono} \cf1 red\cf0  \cf9 nine\cf0  \highlight2 marked\highlight0 )"
                  R"(\super sup\nosupersub  \caps caps\caps0  {\b\i both}\plain after})");
  const Recorder& r = reading.recorder;
  EXPECT_FALSE(r.FormatOf("plain").Bold);
  EXPECT_TRUE(r.FormatOf("bold").Bold);
  EXPECT_TRUE(r.FormatOf("italic").Italic);
  EXPECT_TRUE(r.FormatOf("under").Underline);
  EXPECT_TRUE(r.FormatOf("double").Underline);
  EXPECT_TRUE(r.FormatOf("struck").StrikeOut);
  EXPECT_EQ(r.FormatOf("big").FontSize, 40);
  EXPECT_EQ(r.FormatOf("plain").FontSize, 24);
  ASSERT_NE(r.FormatOf("mono").Font, nullptr);
  EXPECT_EQ(r.FormatOf("mono").Font->Name, u"Courier");
  EXPECT_EQ(r.FormatOf("mono").Font->Family, TKELRtfFontFamily::Modern);
  EXPECT_EQ(r.FormatOf("plain").Font->Name, u"Times") << "the default font \\deff0";
  EXPECT_EQ(r.FormatOf("red").Color, kelRGB(255, 0, 0));
  EXPECT_EQ(r.FormatOf("plain").Color, kelColorDefault);
  EXPECT_EQ(r.FormatOf("nine").Color, kelColorDefault) << "beyond the colour table";
  EXPECT_EQ(r.FormatOf("marked").Background, kelRGB(0, 0, 255));
  EXPECT_EQ(r.FormatOf("plain").Background, kelColorNone);
  EXPECT_EQ(r.FormatOf("sup").Script, TKELRtfScript::Superscript);
  EXPECT_EQ(r.FormatOf("caps").Caps, TKELRtfCaps::AllCaps);
  EXPECT_TRUE(r.FormatOf("both").Bold && r.FormatOf("both").Italic);
  EXPECT_FALSE(r.FormatOf("after").Bold) << "the group's end restores the formatting";
}

TEST(RtfReader, ParagraphFormattingIsTakenAtTheParagraphMark) {
  Reading reading(R"({\rtf1\deftab360 \pard\qc\li720\ri360\fi-360\sb120\sa240\sl360\slmult1\tqr\tx2000\tx3000 one\par)"
                  R"(\pard two\qj\par {\qr three\par}\pard\sl-300 four\par\pard\intbl five\par})");
  const std::vector<TKELRtfParagraph>& p = reading.recorder.paragraphs;
  ASSERT_EQ(p.size(), 5u);
  const TKELRtfParagraphFormat& one = p[0].Format;
  EXPECT_EQ(one.Alignment, TKELRtfAlignment::Center);
  EXPECT_EQ(one.LeftIndent, 720);
  EXPECT_EQ(one.RightIndent, 360);
  EXPECT_EQ(one.FirstLineIndent, -360);
  EXPECT_EQ(one.SpaceBefore, 120);
  EXPECT_EQ(one.SpaceAfter, 240);
  EXPECT_EQ(one.LineSpacing, 360);
  EXPECT_TRUE(one.LineSpacingMultiple);
  EXPECT_EQ(one.TabStops, (std::vector<TKELRtfTabStop>{{2000, TKELRtfTabKind::Right}, {3000, TKELRtfTabKind::Left}}));
  EXPECT_EQ(p[1].Format.Alignment, TKELRtfAlignment::Justify) << "\\pard reset, then \\qj before the mark";
  EXPECT_EQ(p[1].Format.LeftIndent, 0);
  EXPECT_EQ(p[2].Format.Alignment, TKELRtfAlignment::Right);
  EXPECT_EQ(p[3].Format.LineSpacing, -300);
  EXPECT_FALSE(p[3].Format.LineSpacingMultiple);
  EXPECT_TRUE(p[4].Format.InTable);
  EXPECT_EQ(reading.reader.DefaultTabWidth(), 360);
}

TEST(RtfReader, TablesAreRowsOfCells) {
  // Rows as Word and LibreOffice write them, and as pandoc does (each cell a
  // group ending with \par).
  Reading reading(R"({\rtf1 before\par\trowd\trgaph108\trleft-108\clbrdrb\brdrs\cellx1000\clbrdrb\brdrnone\cellx2500 )"
                  R"(\pard\intbl a\cell b1\par b2\cell\row)"
                  R"(\trowd\cellx1000\cellx2500\pard\intbl c\cell\cell\row\pard after\par)"
                  R"({\trowd\cellx3000\intbl{{\pard\intbl x\par}\cell}\intbl\row}})");
  EXPECT_EQ(reading.recorder.transcript, "before\na|b1\nb2|/c||/after\nx\n|/");
  const std::vector<TKELRtfRowFormat>& rows = reading.recorder.rows;
  ASSERT_EQ(rows.size(), 3u);
  ASSERT_EQ(rows[0].Cells.size(), 2u);
  EXPECT_EQ(rows[0].Cells[0].RightEdge, 1000);
  EXPECT_EQ(rows[0].Cells[1].RightEdge, 2500);
  EXPECT_TRUE(rows[0].Cells[0].Border);
  EXPECT_FALSE(rows[0].Cells[1].Border);
  EXPECT_EQ(rows[0].Left, -108);
  EXPECT_EQ(rows[0].CellGap, 108);
  EXPECT_FALSE(rows[1].Cells[0].Border) << "\\trowd starts a new definition";
  for (const TKELRtfParagraph& paragraph : reading.recorder.paragraphs) {
    const bool outside = paragraph.Text == u"before" || paragraph.Text == u"after";
    EXPECT_EQ(paragraph.Format.InTable || paragraph.EndsCell, !outside) << kelUtf16ToUtf8(paragraph.Text);
  }
}

TEST(RtfReader, HyperlinkFieldsBecomeLinks) {
  Reading reading(R"({\rtf1 {\field{\*\fldinst HYPERLINK "https://orvi.example/a b" \\o "tip"}{\fldrslt {\ul site}}} )"
                  R"({\field{\*\fldinst {\b HYPER}{LINK mailto:x@orvi.example}}{\fldrslt mail {\plain kept}}} )"
                  R"({\field{\*\fldinst HYPERLINK "page.htm" \\l "part"}{\fldrslt part}} )"
                  R"({\field{\*\fldinst HYPERLINK \\l "top"}{\fldrslt inner}} )"
                  R"({\field{\*\fldinst PAGE}{\fldrslt 3}} after})");
  const Recorder& r = reading.recorder;
  EXPECT_EQ(r.transcript, "site mail kept part inner 3 after\n");
  const auto link = [&](std::string_view text) {
    const std::string* target = r.FormatOf(text).Link;
    return target ? *target : std::string("<none>");
  };
  EXPECT_EQ(link("site"), "https://orvi.example/a b");
  EXPECT_TRUE(r.FormatOf("site").Underline);
  EXPECT_EQ(link("mail"), "mailto:x@orvi.example");
  EXPECT_EQ(link("kept"), "mailto:x@orvi.example") << "\\plain keeps the link";
  EXPECT_EQ(link("part"), "page.htm#part");
  EXPECT_EQ(link("inner"), "<none>") << "a place in the document only";
  EXPECT_EQ(link("3"), "<none>");
  EXPECT_EQ(link("after"), "<none>");
}

TEST(RtfReader, ListsAsWritten) {
  // The list text is shown; the list definitions do not add numbers.
  EXPECT_EQ(Transcript(R"({\rtf1{\fonttbl{\f0 Arial;}{\f1\fcharset2 Symbol;}}{\*\listtable{\list{\listlevel{\leveltext \'01\u-3913 ?;}}}})"
                       R"({\listoverridetable{\listoverride\ls1}})"
                       R"({\listtext\pard\plain\f1 \'b7\tab}\pard\ls1\fi-360\li720 one\par)"
                       R"({\pntext\f0 2.\tab}{\*\pn\pnlvlbody\pndec{\pntxta .}}two\par)"
                       R"({\pntext 3.\tab}{\pn\pnlvlbody{\pntxta .}}three\par})"),
            "•\tone\n2.\ttwo\n3.\tthree\n");
}

TEST(RtfReader, SurvivesBadInput) {
  const std::string deep = "{\\rtf1 a" + std::string(100000, '{') + "x" + std::string(100000, '}') + "b}";
  const struct {
    std::string rtf;
    std::string text;
  } cases[] = {
      {"{\\rtf1 {\\b a", "a\n"},
      {"{\\rtf1 a\\'4", "a\n"},  // a control character: dropped
      {"{\\rtf1 a\\'", "a\n"},
      {"{\\rtf1 a\\", "a\n"},
      {"{\\rtf1 a\\u", "a\n"},
      {"{\\rtf1 a\\bin999999999999 xyz}", "a\n"},
      // \uN out of range: no character, but its fallback is still skipped
      {"{\\rtf1 \\fs99999999999999 a\\u99999999999 ?b\\cf-5 c\\f-3 d}", "abcd\n"},
      {"{\\rtf1 \\*", ""},
      {"{\\rtf1 }}}}}x", ""},
      {deep, "ab\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Transcript(c.rtf), c.text) << c.rtf.substr(0, 40);

  Recorder none;
  TKELRtfReader reader(none);
  EXPECT_FALSE(reader.Read("plain text {\\rtf1 x}"));
  EXPECT_FALSE(reader.Read(""));
  EXPECT_TRUE(none.paragraphs.empty());

  // Lists that the input could make long are capped.
  std::string many = "{\\rtf1 \\trowd";
  for (int i = 1; i <= 1000; ++i) many += "\\cellx" + std::to_string(i * 10) + "\\tx" + std::to_string(i * 10);
  Reading capped(many + " \\intbl x\\cell\\row}");
  ASSERT_EQ(capped.recorder.rows.size(), 1u);
  EXPECT_EQ(capped.recorder.rows[0].Cells.size(), kRtfMaxCells);
  EXPECT_EQ(capped.recorder.paragraphs[0].Format.TabStops.size(), kRtfMaxTabStops);
}

TEST(RtfReader, Fuzz) {
  orvi::test::FuzzOptions options;
  for (const char* name : {"licence-writer.rtf", "licence-writer-ru.rtf", "licence-pandoc.rtf"}) {
    const std::string fixture = orvi::test::RtfFixture(name);
    options.seeds.push_back(fixture.substr(0, 3000));
    options.seeds.push_back(fixture.substr(fixture.size() - std::min<size_t>(fixture.size(), 3000)));
  }
  options.seeds.push_back(R"({\rtf1\ansi\ansicpg1251{\fonttbl{\f0\fcharset128 M;}{\f1\fcharset2 Symbol;}}\f0\'82\'a0)"
                          R"(\uc2\u-10179\'82\'a0\u-8704 ?{\f1\'b7}\trowd\cellx100\intbl a\cell\row)"
                          R"({\field{\*\fldinst HYPERLINK "u" \\l "x"}{\fldrslt r}}\bin2 {}})");
  options.dictionary = {"{", "}", "\\", "\\'", "\\*", "\\u-", "\\uc2", "\\bin", "\\par", "\\cell", "\\row", "\\trowd",
                        "\\cellx", "\\intbl", "\\fonttbl", "\\colortbl", "\\field", "\\fldinst", "\\fldrslt",
                        "HYPERLINK ", "\\f", "\\fcharset128", "\\fcharset2", "\\ansicpg932", "\\pict", "\\tx",
                        "\\plain", "\\pard", "\\listtext", ";"};
  orvi::test::RunFuzzTarget("RtfReader", [](std::string_view input) { Reading reading(input); }, options);
}

}  // namespace
}  // namespace kel
