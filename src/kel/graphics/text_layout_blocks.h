// The blocks of formatted text and the base of the passes that walk them.
//
// Importing marked-up text (text_import.h) turns it into an ordered list of
// blocks: runs of characters, spaces, line breaks, and the opening and
// closing marks of styles. Text blocks point into the layout's text and into
// its array of advances; nothing is copied. Passes (the calculator, the
// renderer, the hit test, the plain-text exporter) visit blocks through one
// operation per block kind.
//
//   TKELTextLayoutBlock
//     TKELTextLayoutBlockText              (TKELTextLayoutBlockEllipsis)
//     TKELTextLayoutBlockSpace
//     TKELTextLayoutBlockLineBreak
//     TKELTextLayoutBlockStyle             opening or closing
//       TKELTextLayoutBlockFontColor       [COLOR]
//         TKELTextLayoutBlockFillColor     [BACKCOLOR]
//       TKELTextLayoutBlockFontSize        [SIZE]
//         TKELTextLayoutBlockFontBig       [BIG]
//         TKELTextLayoutBlockFontSmall     [SMALL]
//       TKELTextLayoutBlockFontStyle       [B] [I] [U] [S]
//         TKELTextLayoutBlockHyperlink     [URL], underlined
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/graphics/color.h"
#include "kel/graphics/font.h"
#include "kel/graphics/geometry.h"

namespace kel {

class TKELTextLayoutExporter;

class TKELTextLayoutBlock {
 public:
  virtual ~TKELTextLayoutBlock() = default;

  // Calls the exporter's visit operation for this kind of block; false when
  // the exporter stops the walk.
  virtual bool Accept(TKELTextLayoutExporter& exporter) = 0;
  // Text and spaces take room in a row; the other blocks have no extent.
  virtual bool IsVisual() const { return false; }

  TKELRectF Rect() const { return {Left, Top, Left + Width, Top + Height}; }

  // Position and extent once laid out.
  double Left = 0;
  double Top = 0;
  double Width = 0;
  double Height = 0;
  // Text and spaces: the face they were measured in, and whether they are
  // part of a right-to-left run.
  TKELFontFace Face;
  bool RightToLeft = false;
};

using TKELTextLayoutBlockList = std::vector<std::unique_ptr<TKELTextLayoutBlock>>;

// A run of characters. After measuring: the advance of each code unit, the
// face it was measured in and its full width; the layout shows a prefix of
// it (ShownLength units, Width wide) when a row is cut.
class TKELTextLayoutBlockText : public TKELTextLayoutBlock {
 public:
  TKELTextLayoutBlockText(std::u16string_view text, double* advances) : Text(text), Advances(advances) {}
  bool Accept(TKELTextLayoutExporter& exporter) override;
  bool IsVisual() const override { return true; }

  std::u16string_view ShownText() const { return Text.substr(0, ShownLength); }

  std::u16string_view Text;
  double* Advances;
  bool Measured = false;
  double FullWidth = 0;
  size_t ShownLength = 0;
};

// The "…" that ends a cut row: a text block that holds its own text and
// advance. Rows own theirs.
class TKELTextLayoutBlockEllipsis : public TKELTextLayoutBlockText {
 public:
  static constexpr std::u16string_view kText = u"\u2026";
  TKELTextLayoutBlockEllipsis() : TKELTextLayoutBlockText(kText, &advance_) {}

 private:
  double advance_ = 0;
};

// One space or tab.
class TKELTextLayoutBlockSpace : public TKELTextLayoutBlock {
 public:
  explicit TKELTextLayoutBlockSpace(char16_t character) : Character(character) {}
  bool Accept(TKELTextLayoutExporter& exporter) override;
  bool IsVisual() const override { return true; }

  char16_t Character;
};

class TKELTextLayoutBlockLineBreak : public TKELTextLayoutBlock {
 public:
  bool Accept(TKELTextLayoutExporter& exporter) override;
};

class TKELTextLayoutBlockStyle : public TKELTextLayoutBlock {
 public:
  explicit TKELTextLayoutBlockStyle(bool opening) : Opening(opening) {}

  bool Opening;
};

class TKELTextLayoutBlockFontColor : public TKELTextLayoutBlockStyle {
 public:
  TKELTextLayoutBlockFontColor(bool opening, TKELColor color) : TKELTextLayoutBlockStyle(opening), Color(color) {}
  bool Accept(TKELTextLayoutExporter& exporter) override;

  TKELColor Color;
};

class TKELTextLayoutBlockFillColor : public TKELTextLayoutBlockFontColor {
 public:
  using TKELTextLayoutBlockFontColor::TKELTextLayoutBlockFontColor;
  bool Accept(TKELTextLayoutExporter& exporter) override;
};

// A size in points, or with Relative a factor of the current size.
class TKELTextLayoutBlockFontSize : public TKELTextLayoutBlockStyle {
 public:
  TKELTextLayoutBlockFontSize(bool opening, double value, bool relative)
      : TKELTextLayoutBlockStyle(opening), Value(value), Relative(relative) {}
  bool Accept(TKELTextLayoutExporter& exporter) override;

  double Value;
  bool Relative;
};

class TKELTextLayoutBlockFontBig : public TKELTextLayoutBlockFontSize {
 public:
  explicit TKELTextLayoutBlockFontBig(bool opening) : TKELTextLayoutBlockFontSize(opening, 1.1, true) {}
  bool Accept(TKELTextLayoutExporter& exporter) override;
};

class TKELTextLayoutBlockFontSmall : public TKELTextLayoutBlockFontSize {
 public:
  explicit TKELTextLayoutBlockFontSmall(bool opening) : TKELTextLayoutBlockFontSize(opening, 0.9, true) {}
  bool Accept(TKELTextLayoutExporter& exporter) override;
};

class TKELTextLayoutBlockFontStyle : public TKELTextLayoutBlockStyle {
 public:
  TKELTextLayoutBlockFontStyle(bool opening, TKELFontStyle style) : TKELTextLayoutBlockStyle(opening), Style(style) {}
  bool Accept(TKELTextLayoutExporter& exporter) override;

  TKELFontStyle Style;
};

// A link: underlined (sharing the count of [U]) and in the link colour.
class TKELTextLayoutBlockHyperlink : public TKELTextLayoutBlockFontStyle {
 public:
  TKELTextLayoutBlockHyperlink(bool opening, std::string target)
      : TKELTextLayoutBlockFontStyle(opening, fsUnderline), Target(std::move(target)) {}
  bool Accept(TKELTextLayoutExporter& exporter) override;

  std::string Target;  // UTF-8; empty on closing blocks
};

// The base of the passes: one visit operation per block kind, each returning
// false to stop the walk. By default the style kinds go to VisitStyle and
// everything else is passed over.
class TKELTextLayoutExporter {
 public:
  virtual ~TKELTextLayoutExporter() = default;

  virtual bool Visit(TKELTextLayoutBlockText&) { return true; }
  virtual bool Visit(TKELTextLayoutBlockSpace&) { return true; }
  virtual bool Visit(TKELTextLayoutBlockLineBreak&) { return true; }
  virtual bool Visit(TKELTextLayoutBlockFontColor& block) { return VisitStyle(block); }
  virtual bool Visit(TKELTextLayoutBlockFillColor& block) { return VisitStyle(block); }
  virtual bool Visit(TKELTextLayoutBlockFontSize& block) { return VisitStyle(block); }
  virtual bool Visit(TKELTextLayoutBlockFontBig& block) { return VisitStyle(block); }
  virtual bool Visit(TKELTextLayoutBlockFontSmall& block) { return VisitStyle(block); }
  virtual bool Visit(TKELTextLayoutBlockFontStyle& block) { return VisitStyle(block); }
  virtual bool Visit(TKELTextLayoutBlockHyperlink& block) { return VisitStyle(block); }
  virtual bool VisitStyle(TKELTextLayoutBlockStyle&) { return true; }

  // Visits the blocks in order; false when a visit stopped the walk.
  template <typename Blocks>
  bool Walk(const Blocks& blocks) {
    for (const auto& block : blocks)
      if (!block->Accept(*this)) return false;
    return true;
  }
};

}  // namespace kel
