// Reading RTF documents: a tokenizer and an interpreter of groups,
// destinations and formatting that hands the document to a sink paragraph by
// paragraph. It knows no GUI toolkit: a sink turns the paragraphs into a
// document of its own (see rtf_document.h).
//
// What is read, as word processors write it:
// - groups with their formatting state; the font table (names, families,
//   \fcharset and \cpg), the colour table; \ansicpg, \ansi, \mac, \pc, \pca;
// - text: raw bytes and \'hh decoded in the code page of the current font's
//   character set, else the document's (double-byte code pages too), \uN with
//   \ucN (the fallback characters after it are skipped, \'hh counting as
//   one), the named special characters;
// - characters: bold, italic, underline, strike-out, hidden, caps, super- and
//   subscript, font, size, colour, background and highlight;
// - paragraphs: alignment, indents, spacing before and after, line spacing,
//   tab stops, direction; \line and \tab inside them;
// - tables as rows of cells (\trowd, \cellx, \intbl, \cell, \row); nested
//   tables are flattened into paragraphs of the outer cell;
// - lists as written: the text of \listtext and \pntext is ordinary text,
//   while the list definitions (\listtable, \pn) are skipped;
// - fields: the result is shown; a HYPERLINK field makes its result a link.
// Everything else is left out: unknown control words are ignored, unknown
// destinations marked with \* are skipped with everything in them, and so are
// pictures, objects, shapes, headers, footers, footnotes, the style sheet and
// the document information.
//
// Bad input never fails the reader. Unbalanced groups end with the data;
// groups nested deeper than kRtfMaxGroupDepth are skipped; numbers saturate;
// tab stops and cells per row are capped; \bin skips at most what remains.
// Time is linear in the input and memory proportional to it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kel/graphics/color.h"
#include "kel/ui/rtf_code_pages.h"

namespace kel {

inline constexpr int kRtfMaxGroupDepth = 500;
inline constexpr size_t kRtfMaxTabStops = 64;
inline constexpr size_t kRtfMaxCells = 64;

enum class TKELRtfFontFamily : uint8_t { Nil, Roman, Swiss, Modern, Script, Decor, Tech, Bidi };

struct TKELRtfFont {
  std::u16string Name;
  TKELRtfFontFamily Family = TKELRtfFontFamily::Nil;
  int CodePage = 0;     // 0: the document's code page
  bool Symbol = false;  // a symbol character set: the name tells which glyphs, not a text font
};

enum class TKELRtfScript : uint8_t { Normal, Superscript, Subscript };
enum class TKELRtfCaps : uint8_t { Normal, AllCaps, SmallCaps };

struct TKELRtfCharFormat {
  const TKELRtfFont* Font = nullptr;    // nullptr: the default font of the reader's owner
  int FontSize = 24;                    // half points
  TKELColor Color = kelColorDefault;    // kelColorDefault: the owner's text colour
  TKELColor Background = kelColorNone;  // kelColorNone: no background
  const std::string* Link = nullptr;    // target of a HYPERLINK field (UTF-8)
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  bool Hidden = false;
  TKELRtfScript Script = TKELRtfScript::Normal;
  TKELRtfCaps Caps = TKELRtfCaps::Normal;

  bool operator==(const TKELRtfCharFormat&) const = default;
};

enum class TKELRtfAlignment : uint8_t { Left, Right, Center, Justify };
enum class TKELRtfTabKind : uint8_t { Left, Right, Center, Decimal };

struct TKELRtfTabStop {
  int Position = 0;  // twips from the left edge of the text
  TKELRtfTabKind Kind = TKELRtfTabKind::Left;
  bool operator==(const TKELRtfTabStop&) const = default;
};

// Lengths in twips (1/1440 inch).
struct TKELRtfParagraphFormat {
  TKELRtfAlignment Alignment = TKELRtfAlignment::Left;
  int LeftIndent = 0;
  int RightIndent = 0;
  int FirstLineIndent = 0;  // relative to LeftIndent; negative for a hanging indent
  int SpaceBefore = 0;
  int SpaceAfter = 0;
  // 0: single. With LineSpacingMultiple, LineSpacing / 240 lines; else at
  // least LineSpacing twips when positive, exactly -LineSpacing when negative.
  int LineSpacing = 0;
  bool LineSpacingMultiple = false;
  bool RightToLeft = false;
  bool InTable = false;
  std::vector<TKELRtfTabStop> TabStops;
};

struct TKELRtfCell {
  int RightEdge = 0;     // twips (\cellx)
  bool Border = false;  // some side of the cell has a visible border
};

// A table row's layout, as the last \trowd and the \cellx after it define it.
struct TKELRtfRowFormat {
  std::vector<TKELRtfCell> Cells;  // at most kRtfMaxCells
  int Left = 0;                    // \trleft
  int CellGap = 0;                 // \trgaph: half the space between cells
  TKELRtfAlignment Alignment = TKELRtfAlignment::Left;
};

struct TKELRtfRun {
  size_t Start = 0;
  size_t Length = 0;
  TKELRtfCharFormat Format;
};

struct TKELRtfParagraph {
  std::u16string Text;  // tabs as '\t', line breaks as U+2028
  std::vector<TKELRtfRun> Runs;
  TKELRtfParagraphFormat Format;
  TKELRtfCharFormat MarkFormat;  // the paragraph mark's (an empty paragraph's height)
  const TKELRtfRowFormat* Row = nullptr;  // the current row layout, for paragraphs in a table
  bool EndsCell = false;                  // the last paragraph of a table cell (\cell)
};

class IKELRtfSink {
 public:
  virtual ~IKELRtfSink() = default;
  // Each paragraph in document order; a paragraph in a table has
  // Format.InTable or EndsCell set.
  virtual void Paragraph(const TKELRtfParagraph& paragraph) = 0;
  // The end of a table row (\row).
  virtual void EndRow(const TKELRtfRowFormat& row) = 0;
};

class TKELRtfReader {
 public:
  explicit TKELRtfReader(IKELRtfSink& sink);
  ~TKELRtfReader();
  TKELRtfReader(const TKELRtfReader&) = delete;
  TKELRtfReader& operator=(const TKELRtfReader&) = delete;

  // Reads a whole document. False, and nothing handed to the sink, when the
  // data does not begin with "{\rtf" (after white space). The fonts and link
  // targets that formats point to stay valid until the reader goes away.
  bool Read(std::string_view data);
  // The data begins with "{\rtf" (after white space).
  static bool IsRtf(std::string_view data);

  // \deftab: the distance of the default tab stops, in twips.
  int DefaultTabWidth() const { return defaultTabWidth_; }

 private:
  class Parser;
  friend class Parser;

  IKELRtfSink& sink_;
  std::map<int, TKELRtfFont> fonts_;
  std::deque<std::string> links_;
  TKELRtfCodePages codePages_;
  int defaultTabWidth_ = 720;
};

}  // namespace kel
