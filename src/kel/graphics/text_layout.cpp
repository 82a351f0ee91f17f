#include "kel/graphics/text_layout.h"

#include <algorithm>

#include "kel/base/text.h"

namespace kel {

TKELTextLayout::TKELTextLayout(IKELFont& font) : font_(font) {}

void TKELTextLayout::SetText(std::string_view text, const TKELTextImportSettings& settings) {
  rows_.clear();
  blocks_.clear();
  text_ = kelUtf8ToUtf16(text);
  advances_.assign(text_.size(), 0.0);
  kelImportFormattedText(text_, advances_.data(), settings, blocks_);
  Invalidate();
}

void TKELTextLayout::SetBounds(const TKELRectF& bounds) {
  if (bounds == bounds_) return;
  bounds_ = bounds;
  Invalidate();
}

void TKELTextLayout::SetHorzAlignment(TKELHorzAlignment alignment) {
  if (alignment == horzAlignment_) return;
  horzAlignment_ = alignment;
  Invalidate();
}

void TKELTextLayout::SetVertAlignment(TKELVertAlignment alignment) {
  if (alignment == vertAlignment_) return;
  vertAlignment_ = alignment;
  Invalidate();
}

void TKELTextLayout::SetOption(TKELTextLayoutOption option, bool on) {
  const TKELTextLayoutOptions options = on ? options_ | option : options_ & ~option;
  if (options == options_) return;
  options_ = options;
  Invalidate();
}

TKELColor TKELTextLayout::LinkColor() const {
  return kelIsRGB(linkColor_) ? linkColor_ : kelLinkColorFor(textColor_);
}

void TKELTextLayout::Refresh() {
  for (const auto& block : blocks_)
    if (auto* text = dynamic_cast<TKELTextLayoutBlockText*>(block.get())) text->Measured = false;
  Invalidate();
}

void TKELTextLayout::Update() {
  if (!needsLayout_) return;
  TKELTextLayoutCalculator::Limits limits;
  limits.Width = options_ & tloAutoWidth ? kelUnlimited : bounds_.Width();
  limits.Height = options_ & tloAutoHeight ? kelUnlimited : bounds_.Height();
  limits.WordWrap = options_ & tloWordWrap;
  limits.EndEllipsis = options_ & tloEndEllipsis;
  limits.FullRowsOnly = options_ & tloFullRowsOnly;
  TKELTextLayoutCalculator calculator(font_, limits, rows_);
  calculator.Run(blocks_);
  truncated_ = calculator.Truncated();
  Align();
  needsLayout_ = false;
}

// Moves the rows to their place in the bounds: vertically as a whole, each
// row horizontally on its own.
void TKELTextLayout::Align() {
  const double height = rows_.empty() ? 0 : rows_.back().Bounds.Bottom;
  const double room = std::max(0.0, bounds_.Height() - height);
  const double dy = vertAlignment_ == TKELVertAlignment::Bottom   ? room
                    : vertAlignment_ == TKELVertAlignment::Center ? room / 2
                                                                  : 0;
  const TKELHorzAlignment horz = options_ & tloAutoWidth ? TKELHorzAlignment::Left : horzAlignment_;
  for (TKELTextLayoutRow& row : rows_) {
    const double space = std::max(0.0, bounds_.Width() - row.Bounds.Width());
    const double dx = bounds_.Left + (horz == TKELHorzAlignment::Right    ? space
                                      : horz == TKELHorzAlignment::Center ? space / 2
                                                                          : 0);
    for (TKELTextLayoutBlock* block : row.Blocks) {
      block->Left += dx;
      block->Top += dy + bounds_.Top;
    }
    row.Bounds = row.Bounds.Translated(dx, dy + bounds_.Top);
    row.Baseline += dy + bounds_.Top;
  }
}

TKELSizeF TKELTextLayout::Measure() {
  Update();
  if (rows_.empty()) return {};
  TKELRectF all = rows_.front().Bounds;
  for (const TKELTextLayoutRow& row : rows_) all = all.United(row.Bounds);
  return {all.Width(), all.Height()};
}

bool TKELTextLayout::Truncated() {
  Update();
  return truncated_;
}

const TKELTextLayoutRows& TKELTextLayout::Rows() {
  Update();
  return rows_;
}

void TKELTextLayout::Draw(IKELCanvas& canvas) {
  TKELRectF clip = bounds_;
  if (options_ & tloAutoWidth) clip.Right = kelUnlimited;
  if (options_ & tloAutoHeight) clip.Bottom = kelUnlimited;
  Draw(canvas, clip, {});
}

void TKELTextLayout::Draw(IKELCanvas& canvas, const TKELRectF& rect, TKELPointF scrollOffset) {
  Update();
  TKELTextLayoutRender(font_, canvas, textColor_, LinkColor(), scrollOffset, rect).Run(rows_);
}

std::optional<TKELTextLayoutHit> TKELTextLayout::HitTest(TKELPointF point) {
  Update();
  return TKELTextLayoutHitTest(point).Run(rows_);
}

std::string TKELTextLayout::PlainText() const { return TKELPlainTextExporter().Run(blocks_); }

void kelDrawFormattedText(IKELFont& font, IKELCanvas& canvas, std::string_view text, const TKELRectF& rect,
                          TKELHorzAlignment horzAlignment, TKELVertAlignment vertAlignment, bool wordWrap,
                          TKELColor textColor) {
  TKELTextLayout layout(font);
  layout.SetText(text);
  layout.SetBounds(rect);
  layout.SetHorzAlignment(horzAlignment);
  layout.SetVertAlignment(vertAlignment);
  layout.SetOption(tloWordWrap, wordWrap);
  layout.SetTextColor(textColor);
  layout.Draw(canvas);
}

}  // namespace kel
