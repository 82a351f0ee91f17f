// TKELTextLayout: formatted text (see text_import.h for the markup) laid out
// in a rectangle, painted, hit-tested and exported as plain text.
//
// The text is imported once into blocks; a change of the bounds, an
// alignment or an option only marks the layout, and the next measure, draw
// or hit test recomputes the rows. Text blocks keep the advances measured
// for them, so recomputing measures nothing again; Refresh drops them after
// the font changed.
//
// The layout keeps its text in UTF-16 (converted once from the UTF-8 it is
// given): widths are summed, rows are cut and runs are drawn per code unit,
// toolkits measure and shape UTF-16 without converting each run, and the
// e-mail pattern runs on the words in place.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kel/graphics/text_import.h"
#include "kel/graphics/text_layout_passes.h"

namespace kel {

enum TKELTextLayoutOption : uint8_t {
  tloAutoHeight = 1,    // no height limit
  tloAutoWidth = 2,     // no width limit; rows are left-aligned
  tloFullRowsOnly = 4,  // a row that does not fit in the height in full is dropped
  tloEndEllipsis = 8,   // cut text ends in "…"
  tloWordWrap = 16,     // rows break between words
};
using TKELTextLayoutOptions = uint8_t;  // a set of TKELTextLayoutOption

enum class TKELHorzAlignment : uint8_t { Left, Right, Center };
enum class TKELVertAlignment : uint8_t { Top, Bottom, Center };

class TKELTextLayout {
 public:
  // The font is not owned and must outlive the layout.
  explicit TKELTextLayout(IKELFont& font);
  TKELTextLayout(const TKELTextLayout&) = delete;
  TKELTextLayout& operator=(const TKELTextLayout&) = delete;

  // Imports marked-up UTF-8 text (invalid bytes read as U+FFFD).
  void SetText(std::string_view text, const TKELTextImportSettings& settings = {});

  const TKELRectF& Bounds() const { return bounds_; }
  void SetBounds(const TKELRectF& bounds);
  TKELHorzAlignment HorzAlignment() const { return horzAlignment_; }
  void SetHorzAlignment(TKELHorzAlignment alignment);
  TKELVertAlignment VertAlignment() const { return vertAlignment_; }
  void SetVertAlignment(TKELVertAlignment alignment);
  TKELTextLayoutOptions Options() const { return options_; }
  void SetOption(TKELTextLayoutOption option, bool on);

  // The colour of text outside [COLOR] (black unless set), and of links:
  // kelColorDefault (the default) derives it from the text colour.
  TKELColor TextColor() const { return textColor_; }
  void SetTextColor(TKELColor color) { textColor_ = color; }
  TKELColor LinkColor() const;
  void SetLinkColor(TKELColor color) { linkColor_ = color; }

  // Forgets every measurement, after the font (or its DPI) changed.
  void Refresh();
  // Whether a change waits for the next layout.
  bool NeedsLayout() const { return needsLayout_; }

  // The size of all rows together.
  TKELSizeF Measure();
  // Whether the last layout had to cut text.
  bool Truncated();
  const TKELTextLayoutRows& Rows();
  const TKELTextLayoutBlockList& Blocks() const { return blocks_; }

  // Paints within the bounds (unlimited in the directions of AutoWidth and
  // AutoHeight).
  void Draw(IKELCanvas& canvas);
  // Paints within `rect`, every position moved by -scrollOffset.
  void Draw(IKELCanvas& canvas, const TKELRectF& rect, TKELPointF scrollOffset);
  // The block under the point and the link there; nothing between blocks.
  std::optional<TKELTextLayoutHit> HitTest(TKELPointF point);
  // The text without markup (see TKELPlainTextExporter).
  std::string PlainText() const;

 private:
  void Invalidate() { needsLayout_ = true; }
  void Update();
  void Align();

  IKELFont& font_;
  std::u16string text_;
  std::vector<double> advances_;  // of each code unit of text_
  TKELTextLayoutBlockList blocks_;
  TKELTextLayoutRows rows_;
  TKELRectF bounds_;
  TKELHorzAlignment horzAlignment_ = TKELHorzAlignment::Left;
  TKELVertAlignment vertAlignment_ = TKELVertAlignment::Top;
  TKELTextLayoutOptions options_ = 0;
  TKELColor textColor_ = kelRGB(0, 0, 0);
  TKELColor linkColor_ = kelColorDefault;
  bool needsLayout_ = true;
  bool truncated_ = false;
};

// Paints marked-up text in a rectangle with the import defaults.
void kelDrawFormattedText(IKELFont& font, IKELCanvas& canvas, std::string_view text, const TKELRectF& rect,
                          TKELHorzAlignment horzAlignment, TKELVertAlignment vertAlignment, bool wordWrap,
                          TKELColor textColor = kelRGB(0, 0, 0));

}  // namespace kel
