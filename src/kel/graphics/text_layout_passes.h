// The passes over the blocks of formatted text:
//
//   TKELTextLayoutExporter
//     TKELPlainTextExporter         the text without markup
//     TKELTextLayoutHitTest         the block and link under a point
//     TKELTextLayoutVisualExporter  tracks the current font
//       TKELTextLayoutCalculator    places blocks in rows
//       TKELTextLayoutRender        paints rows on a canvas
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kel/base/error.h"
#include "kel/graphics/text_layout_blocks.h"

namespace kel {

// A row of laid-out blocks (not owned, except its ellipsis), with its bounds
// and the baseline all its blocks share.
class TKELTextLayoutRow {
 public:
  std::vector<TKELTextLayoutBlock*> Blocks;
  TKELRectF Bounds;
  double Baseline = 0;
  std::unique_ptr<TKELTextLayoutBlockEllipsis> Ellipsis;
};

using TKELTextLayoutRows = std::vector<TKELTextLayoutRow>;

// A stack of values, each pushed by a tag; a closing tag removes the most
// recent value its own tag pushed, wherever that lies.
template <typename Tag, typename Value>
class TKELTextLayoutStack {
 public:
  void Push(Tag tag, Value value) { items_.push_back({tag, value}); }
  void Remove(Tag tag) {
    for (size_t i = items_.size(); i-- > 0;) {
      if (items_[i].tag == tag) {
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
  }
  bool Empty() const { return items_.empty(); }
  const Value& Top() const {
    if (items_.empty()) throw Exception("Stack is empty");
    return items_.back().value;
  }
  void Clear() { items_.clear(); }

 private:
  struct Item {
    Tag tag;
    Value value;
  };
  std::vector<Item> items_;
};

// Sizes are kept within these limits, so that no markup asks a font for an
// absurd size.
inline constexpr double kelMinFontSize = 1;
inline constexpr double kelMaxFontSize = 1000;

// Tracks the current face: the count of each style (on while above 0) and
// the stack of sizes, whose bottom is the font's own size. FontChanged runs
// whenever a block changes the face.
class TKELTextLayoutVisualExporter : public TKELTextLayoutExporter {
 public:
  explicit TKELTextLayoutVisualExporter(IKELFont& font);

  bool Visit(TKELTextLayoutBlockFontSize& block) override;
  bool Visit(TKELTextLayoutBlockFontBig& block) override;
  bool Visit(TKELTextLayoutBlockFontSmall& block) override;
  bool Visit(TKELTextLayoutBlockFontStyle& block) override;
  bool Visit(TKELTextLayoutBlockHyperlink& block) override;

  const TKELFontFace& Face() const { return face_; }

 protected:
  virtual void FontChanged() {}

  IKELFont& font_;

 private:
  enum class SizeTag { Base, Size, Big, Small };

  void ChangeSize(SizeTag tag, const TKELTextLayoutBlockFontSize& block);
  void ChangeStyle(TKELFontStyle style, const TKELTextLayoutBlockStyle& block);
  void UpdateFace();

  int counts_[4] = {};  // bold, italic, underline, strike-out
  TKELTextLayoutStack<SizeTag, double> sizes_;
  TKELFontFace face_;
};

// Places the blocks in rows within the width and height limits (either may
// be kelUnlimited): word wrap, rows sharing a baseline, rows cut with "…",
// right-to-left runs mirrored. Rows start at x = 0 and the first at y = 0;
// alignment is the layout's job.
class TKELTextLayoutCalculator : public TKELTextLayoutVisualExporter {
 public:
  struct Limits {
    double Width = kelUnlimited;
    double Height = kelUnlimited;
    bool WordWrap = false;
    bool EndEllipsis = false;
    bool FullRowsOnly = false;
  };

  TKELTextLayoutCalculator(IKELFont& font, const Limits& limits, TKELTextLayoutRows& rows);

  // Lays out the blocks into the rows (which are replaced).
  void Run(const TKELTextLayoutBlockList& blocks);
  // Whether text was cut (at a row's end or below the last row).
  bool Truncated() const { return truncated_; }

  bool Visit(TKELTextLayoutBlockText& block) override;
  bool Visit(TKELTextLayoutBlockSpace& block) override;
  bool Visit(TKELTextLayoutBlockLineBreak& block) override;
  bool VisitStyle(TKELTextLayoutBlockStyle& block) override;

 protected:
  void FontChanged() override;

 private:
  TKELTextLayoutRow& Row() { return rows_.back(); }
  void StartRow(double top);
  void Place(TKELTextLayoutBlock& block, double width, double ascent, double height);
  void Attach(TKELTextLayoutBlock& block);
  void Cut();
  void CutBelow();
  void AddEllipsis(TKELTextLayoutRow& row, bool building);
  bool FinishRow();
  bool NewRow();
  void UpdateBounds(TKELTextLayoutRow& row, double top, double bottom);
  static void MirrorRuns(TKELTextLayoutRow& row);

  const Limits limits_;
  TKELTextLayoutRows& rows_;
  TKELFontMetrics metrics_;
  double spaceWidth_ = 0;
  double x_ = 0;
  double rowTop_ = 0;
  double rowAscent_ = 0;   // of the tallest block placed in the row
  double rowDescent_ = 0;  // below the baseline, leading included
  bool rowClosed_ = false;
  bool inRightToLeftRun_ = false;
  bool truncated_ = false;
};

// Paints rows: the canvas font follows the style blocks, text colours and
// fill colours follow their stacks (links push the link colour), text in
// the text colour on its fill, spaces only while underlined.
class TKELTextLayoutRender : public TKELTextLayoutVisualExporter {
 public:
  // `offset` is subtracted from every position; rows outside `clip` (after
  // the offset) are not painted.
  TKELTextLayoutRender(IKELFont& font, IKELCanvas& canvas, TKELColor textColor, TKELColor linkColor,
                       TKELPointF offset, const TKELRectF& clip);

  void Run(const TKELTextLayoutRows& rows);

  bool Visit(TKELTextLayoutBlockText& block) override;
  bool Visit(TKELTextLayoutBlockSpace& block) override;
  bool Visit(TKELTextLayoutBlockFontColor& block) override;
  bool Visit(TKELTextLayoutBlockFillColor& block) override;
  bool Visit(TKELTextLayoutBlockHyperlink& block) override;

 protected:
  void FontChanged() override;

 private:
  enum class ColorTag { Color, Link };

  TKELRectF Shifted(const TKELRectF& rect) const { return rect.Translated(-offset_.X, -offset_.Y); }
  void Fill(const TKELTextLayoutBlock& block);

  IKELCanvas& canvas_;
  const TKELColor textColor_;
  const TKELColor linkColor_;
  const TKELPointF offset_;
  const TKELRectF clip_;
  TKELTextLayoutStack<ColorTag, TKELColor> textColors_;
  TKELTextLayoutStack<bool, TKELColor> fillColors_;
  const TKELTextLayoutRow* row_ = nullptr;
  bool rowVisible_ = false;
};

// What lies under a point: a text or space block, and the innermost link
// open there (nullptr outside links).
struct TKELTextLayoutHit {
  TKELTextLayoutBlock* Block = nullptr;
  TKELTextLayoutBlockHyperlink* Link = nullptr;
};

class TKELTextLayoutHitTest : public TKELTextLayoutExporter {
 public:
  explicit TKELTextLayoutHitTest(TKELPointF point) : point_(point) {}

  std::optional<TKELTextLayoutHit> Run(const TKELTextLayoutRows& rows);

  bool Visit(TKELTextLayoutBlockText& block) override { return Check(block); }
  bool Visit(TKELTextLayoutBlockSpace& block) override { return Check(block); }
  bool Visit(TKELTextLayoutBlockHyperlink& block) override;

 private:
  bool Check(TKELTextLayoutBlock& block);

  const TKELPointF point_;
  std::vector<TKELTextLayoutBlockHyperlink*> links_;
  std::optional<TKELTextLayoutHit> hit_;
};

// The text without markup: text blocks as they are, one space for each space
// block, CR LF for each line break.
class TKELPlainTextExporter : public TKELTextLayoutExporter {
 public:
  std::string Run(const TKELTextLayoutBlockList& blocks);

  bool Visit(TKELTextLayoutBlockText& block) override;
  bool Visit(TKELTextLayoutBlockSpace& block) override;
  bool Visit(TKELTextLayoutBlockLineBreak& block) override;

 private:
  std::u16string text_;
};

}  // namespace kel
