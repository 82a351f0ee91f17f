#include "kel/graphics/text_layout_passes.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <numeric>

#include "kel/base/text.h"

namespace kel {

// --- Current font ----------------------------------------------------------------------

namespace {

int StyleIndex(TKELFontStyle style) {
  switch (style) {
    case fsBold: return 0;
    case fsItalic: return 1;
    case fsUnderline: return 2;
    default: return 3;
  }
}

double ClampSize(double size) { return std::clamp(size, kelMinFontSize, kelMaxFontSize); }

}  // namespace

TKELTextLayoutVisualExporter::TKELTextLayoutVisualExporter(IKELFont& font) : font_(font) {
  sizes_.Push(SizeTag::Base, ClampSize(font.Size()));
  face_.Size = sizes_.Top();
}

// Takes the face from the counts and the sizes, and tells FontChanged when
// it is another.
void TKELTextLayoutVisualExporter::UpdateFace() {
  TKELFontFace face{0, sizes_.Top()};
  for (const TKELFontStyle style : {fsBold, fsItalic, fsUnderline, fsStrikeOut})
    if (counts_[StyleIndex(style)] > 0) face.Styles |= style;
  if (face == face_) return;
  face_ = face;
  FontChanged();
}

void TKELTextLayoutVisualExporter::ChangeSize(SizeTag tag, const TKELTextLayoutBlockFontSize& block) {
  if (block.Opening) {
    sizes_.Push(tag, ClampSize(block.Relative ? sizes_.Top() * block.Value : block.Value));
  } else {
    sizes_.Remove(tag);
  }
  UpdateFace();
}

void TKELTextLayoutVisualExporter::ChangeStyle(TKELFontStyle style, const TKELTextLayoutBlockStyle& block) {
  int& count = counts_[StyleIndex(style)];
  count = block.Opening ? count + 1 : std::max(count - 1, 0);
  UpdateFace();
}

bool TKELTextLayoutVisualExporter::Visit(TKELTextLayoutBlockFontSize& block) {
  ChangeSize(SizeTag::Size, block);
  return VisitStyle(block);
}
bool TKELTextLayoutVisualExporter::Visit(TKELTextLayoutBlockFontBig& block) {
  ChangeSize(SizeTag::Big, block);
  return VisitStyle(block);
}
bool TKELTextLayoutVisualExporter::Visit(TKELTextLayoutBlockFontSmall& block) {
  ChangeSize(SizeTag::Small, block);
  return VisitStyle(block);
}
bool TKELTextLayoutVisualExporter::Visit(TKELTextLayoutBlockFontStyle& block) {
  ChangeStyle(block.Style, block);
  return VisitStyle(block);
}
bool TKELTextLayoutVisualExporter::Visit(TKELTextLayoutBlockHyperlink& block) {
  ChangeStyle(fsUnderline, block);
  return VisitStyle(block);
}

// --- Calculator ----------------------------------------------------------------------------

namespace {

// The bidirectional class of the first character decides: strong
// right-to-left starts a run, strong left-to-right ends it, anything else
// continues what is going on.
void FollowDirection(std::u16string_view text, bool& inRightToLeftRun) {
  if (text.empty()) return;
  UChar32 c;
  size_t i = 0;
  U16_NEXT(text.data(), i, text.size(), c);
  switch (u_charDirection(c)) {
    case U_RIGHT_TO_LEFT:
    case U_RIGHT_TO_LEFT_ARABIC:
    case U_RIGHT_TO_LEFT_EMBEDDING:
    case U_RIGHT_TO_LEFT_OVERRIDE:
      inRightToLeftRun = true;
      break;
    case U_LEFT_TO_RIGHT:
    case U_LEFT_TO_RIGHT_EMBEDDING:
    case U_LEFT_TO_RIGHT_OVERRIDE:
      inRightToLeftRun = false;
      break;
    default:
      break;
  }
}

// Drops characters from the end of a text block, or narrows a space, until
// its right edge is at most `right`.
void Shorten(TKELTextLayoutBlock& block, double right) {
  if (auto* text = dynamic_cast<TKELTextLayoutBlockText*>(&block)) {
    while (text->ShownLength > 0 && text->Left + text->Width > right) text->Width -= text->Advances[--text->ShownLength];
    if (text->ShownLength == 0) text->Width = 0;
  } else if (block.Left + block.Width > right) {
    block.Width = std::max(0.0, right - block.Left);
  }
}

}  // namespace

TKELTextLayoutCalculator::TKELTextLayoutCalculator(IKELFont& font, const Limits& limits, TKELTextLayoutRows& rows)
    : TKELTextLayoutVisualExporter(font), limits_(limits), rows_(rows) {}

void TKELTextLayoutCalculator::Run(const TKELTextLayoutBlockList& blocks) {
  rows_.clear();
  FontChanged();
  StartRow(0);
  if (Walk(blocks)) FinishRow();
}

void TKELTextLayoutCalculator::FontChanged() {
  metrics_ = font_.Metrics(Face());
  font_.MeasureRun(Face(), u" ", &spaceWidth_);
}

void TKELTextLayoutCalculator::StartRow(double top) {
  rows_.emplace_back();
  Row().Baseline = top;
  rowTop_ = top;
  x_ = 0;
  rowAscent_ = 0;
  rowDescent_ = 0;
  rowClosed_ = false;
}

// Puts the block at x with its baseline on the row's. A block that reaches
// higher than those placed before moves the baseline down; until the row is
// finished, tops are kept relative to the baseline, so that such a move
// touches no block.
void TKELTextLayoutCalculator::Place(TKELTextLayoutBlock& block, double width, double ascent, double height) {
  TKELTextLayoutRow& row = Row();
  rowAscent_ = std::max(rowAscent_, ascent);
  rowDescent_ = std::max(rowDescent_, height - ascent);
  row.Baseline = rowTop_ + rowAscent_;
  block.Left = x_;
  block.Top = -ascent;
  block.Width = width;
  block.Height = height;
  row.Blocks.push_back(&block);
}

bool TKELTextLayoutCalculator::Visit(TKELTextLayoutBlockText& block) {
  if (!block.Measured || block.Face != Face()) {
    font_.MeasureRun(Face(), block.Text, block.Advances);
    block.Face = Face();
    block.FullWidth = std::accumulate(block.Advances, block.Advances + block.Text.size(), 0.0);
    block.Measured = true;
  }
  block.ShownLength = block.Text.size();
  FollowDirection(block.Text, inRightToLeftRun_);
  block.RightToLeft = inRightToLeftRun_;
  if (limits_.WordWrap) {
    if ((rowClosed_ || (x_ > 0 && x_ + block.FullWidth > limits_.Width)) && !NewRow()) return false;
  } else if (rowClosed_) {
    return true;
  } else if (x_ >= limits_.Width) {
    Cut();
    return true;
  }
  Place(block, block.FullWidth, metrics_.Ascent(), metrics_.LineHeight());
  x_ += block.FullWidth;
  if (x_ > limits_.Width) Cut();
  return true;
}

bool TKELTextLayoutCalculator::Visit(TKELTextLayoutBlockSpace& block) {
  if (rowClosed_) return true;
  const double width = limits_.WordWrap && x_ + spaceWidth_ > limits_.Width ? 0 : spaceWidth_;
  block.Face = Face();
  block.RightToLeft = inRightToLeftRun_;
  Place(block, width, metrics_.Ascent(), metrics_.LineHeight());
  x_ += width;
  return true;
}

bool TKELTextLayoutCalculator::Visit(TKELTextLayoutBlockLineBreak& block) {
  Attach(block);
  return NewRow();
}

bool TKELTextLayoutCalculator::VisitStyle(TKELTextLayoutBlockStyle& block) {
  Attach(block);
  return true;
}

// Blocks without extent still belong to a row, so that passes over the rows
// see every change of style.
void TKELTextLayoutCalculator::Attach(TKELTextLayoutBlock& block) {
  block.Left = x_;
  block.Top = 0;
  block.Width = block.Height = 0;
  Row().Blocks.push_back(&block);
}

void TKELTextLayoutCalculator::Cut() {
  truncated_ = true;
  if (limits_.EndEllipsis) AddEllipsis(Row(), true);
  rowClosed_ = true;
}

// Shortens the row from its end until "…" fits after its last block within
// the width limit, and puts it there, in the face of that block. `building`:
// the row is the one being built, not a finished one.
void TKELTextLayoutCalculator::AddEllipsis(TKELTextLayoutRow& row, bool building) {
  if (row.Ellipsis) return;
  auto& blocks = row.Blocks;
  const auto lastVisual =
      std::find_if(blocks.rbegin(), blocks.rend(), [](const TKELTextLayoutBlock* block) { return block->IsVisual(); });
  auto ellipsis = std::make_unique<TKELTextLayoutBlockEllipsis>();
  ellipsis->Face = lastVisual != blocks.rend() ? (*lastVisual)->Face : Face();
  font_.MeasureRun(ellipsis->Face, ellipsis->Text, ellipsis->Advances);
  ellipsis->Measured = true;
  ellipsis->FullWidth = ellipsis->Advances[0];
  ellipsis->ShownLength = 1;
  const TKELFontMetrics metrics = font_.Metrics(ellipsis->Face);

  if (lastVisual == blocks.rend() && building) {
    // Nothing shown in the row being built: the ellipsis is its first block.
    x_ = 0;
    Place(*ellipsis, ellipsis->FullWidth, metrics.Ascent(), metrics.LineHeight());
    row.Ellipsis = std::move(ellipsis);
    return;
  }
  const double limit = limits_.Width - ellipsis->FullWidth;
  size_t insertAt = 0;
  double left = 0;
  for (size_t i = blocks.size(); i-- > 0;) {
    TKELTextLayoutBlock& block = *blocks[i];
    if (!block.IsVisual()) continue;
    Shorten(block, limit);
    insertAt = i;
    if (block.Width > 0) {
      left = block.Left + block.Width;
      insertAt = i + 1;
      break;
    }
  }
  ellipsis->Left = left;
  ellipsis->Top = (building ? 0 : row.Baseline) - metrics.Ascent();
  ellipsis->Width = ellipsis->FullWidth;
  ellipsis->Height = metrics.LineHeight();
  blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(insertAt), ellipsis.get());
  row.Ellipsis = std::move(ellipsis);
}

// Text was cut below the last row: with EndEllipsis, that row ends in "…".
void TKELTextLayoutCalculator::CutBelow() {
  truncated_ = true;
  if (!limits_.EndEllipsis || rows_.empty()) return;
  TKELTextLayoutRow& last = rows_.back();
  AddEllipsis(last, false);
  UpdateBounds(last, last.Bounds.Top, last.Bounds.Bottom);
}

void TKELTextLayoutCalculator::UpdateBounds(TKELTextLayoutRow& row, double top, double bottom) {
  double right = 0;
  for (const TKELTextLayoutBlock* block : row.Blocks)
    if (block->IsVisual()) right = std::max(right, block->Left + block->Width);
  row.Bounds = {0, top, right, bottom};
}

// Ends the row being built. A row that starts below the height limit (or,
// with FullRowsOnly, ends below it) is dropped, and the walk ends.
bool TKELTextLayoutCalculator::FinishRow() {
  TKELTextLayoutRow& row = Row();
  const bool empty = std::none_of(row.Blocks.begin(), row.Blocks.end(),
                                  [](const TKELTextLayoutBlock* block) { return block->IsVisual(); });
  if (empty) row.Baseline = rowTop_ + metrics_.Ascent();
  const double bottom = empty ? rowTop_ + metrics_.LineHeight() : row.Baseline + rowDescent_;
  if (rowTop_ >= limits_.Height || (limits_.FullRowsOnly && bottom > limits_.Height)) {
    rows_.pop_back();
    CutBelow();
    return false;
  }
  for (TKELTextLayoutBlock* block : row.Blocks) block->Top += row.Baseline;
  MirrorRuns(row);
  UpdateBounds(row, rowTop_, bottom);
  return true;
}

// Finishes the row and starts the next under it; false when there is no
// room left (the walk ends).
bool TKELTextLayoutCalculator::NewRow() {
  if (!FinishRow()) return false;
  const double top = Row().Bounds.Bottom;
  if (top >= limits_.Height) {
    CutBelow();
    return false;
  }
  StartRow(top);
  return true;
}

// Each right-to-left run of the row is mirrored within its extent, so that
// its blocks read from right to left. Spaces at the end of a run stay where
// they are: they separate the run from the text that follows.
void TKELTextLayoutCalculator::MirrorRuns(TKELTextLayoutRow& row) {
  std::vector<TKELTextLayoutBlock*> run;
  auto mirror = [&run] {
    while (!run.empty() && dynamic_cast<TKELTextLayoutBlockSpace*>(run.back())) run.pop_back();
    if (run.empty()) return;
    const double left = run.front()->Left;
    const double right = run.back()->Left + run.back()->Width;
    for (TKELTextLayoutBlock* block : run) block->Left = left + right - (block->Left + block->Width);
    run.clear();
  };
  for (TKELTextLayoutBlock* block : row.Blocks) {
    if (!block->IsVisual()) continue;
    if (block->RightToLeft) {
      run.push_back(block);
    } else {
      mirror();
    }
  }
  mirror();
}

// --- Render ------------------------------------------------------------------------------

TKELTextLayoutRender::TKELTextLayoutRender(IKELFont& font, IKELCanvas& canvas, TKELColor textColor,
                                           TKELColor linkColor, TKELPointF offset, const TKELRectF& clip)
    : TKELTextLayoutVisualExporter(font),
      canvas_(canvas),
      textColor_(textColor),
      linkColor_(linkColor),
      offset_(offset),
      clip_(clip) {}

void TKELTextLayoutRender::Run(const TKELTextLayoutRows& rows) {
  canvas_.PushClip(clip_);
  FontChanged();
  for (const TKELTextLayoutRow& row : rows) {
    row_ = &row;
    const TKELRectF bounds = Shifted(row.Bounds);
    rowVisible_ = bounds.Bottom > clip_.Top && bounds.Top < clip_.Bottom;
    Walk(row.Blocks);
  }
  canvas_.PopClip();
}

void TKELTextLayoutRender::FontChanged() { canvas_.SetFont(Face()); }

void TKELTextLayoutRender::Fill(const TKELTextLayoutBlock& block) {
  if (!fillColors_.Empty() && kelIsRGB(fillColors_.Top())) canvas_.FillRect(Shifted(block.Rect()), fillColors_.Top());
}

bool TKELTextLayoutRender::Visit(TKELTextLayoutBlockText& block) {
  if (!rowVisible_) return true;
  Fill(block);
  const TKELColor color = textColors_.Empty() ? textColor_ : textColors_.Top();
  canvas_.SetTextColor(kelIsRGB(color) ? color : textColor_);
  canvas_.DrawRun({block.Left - offset_.X, row_->Baseline - offset_.Y}, block.ShownText(),
                  {block.Advances, block.ShownLength});
  return true;
}

// A space is painted only for its underline, which so runs on from word to
// word.
bool TKELTextLayoutRender::Visit(TKELTextLayoutBlockSpace& block) {
  if (!rowVisible_) return true;
  Fill(block);
  if ((Face().Styles & fsUnderline) && block.Width > 0) {
    const TKELColor color = textColors_.Empty() ? textColor_ : textColors_.Top();
    canvas_.SetTextColor(kelIsRGB(color) ? color : textColor_);
    canvas_.PushClip(Shifted(block.Rect()));
    const double advance = block.Width;
    canvas_.DrawRun({block.Left - offset_.X, row_->Baseline - offset_.Y}, u" ", {&advance, 1});
    canvas_.PopClip();
  }
  return true;
}

bool TKELTextLayoutRender::Visit(TKELTextLayoutBlockFontColor& block) {
  if (block.Opening) {
    textColors_.Push(ColorTag::Color, block.Color);
  } else {
    textColors_.Remove(ColorTag::Color);
  }
  return true;
}

bool TKELTextLayoutRender::Visit(TKELTextLayoutBlockFillColor& block) {
  if (block.Opening) {
    fillColors_.Push(true, block.Color);
  } else {
    fillColors_.Remove(true);
  }
  return true;
}

bool TKELTextLayoutRender::Visit(TKELTextLayoutBlockHyperlink& block) {
  if (block.Opening) {
    textColors_.Push(ColorTag::Link, linkColor_);
  } else {
    textColors_.Remove(ColorTag::Link);
  }
  return TKELTextLayoutVisualExporter::Visit(block);
}

// --- Hit test ---------------------------------------------------------------------------------

std::optional<TKELTextLayoutHit> TKELTextLayoutHitTest::Run(const TKELTextLayoutRows& rows) {
  for (const TKELTextLayoutRow& row : rows)
    if (!Walk(row.Blocks)) break;
  return hit_;
}

bool TKELTextLayoutHitTest::Visit(TKELTextLayoutBlockHyperlink& block) {
  if (block.Opening) {
    links_.push_back(&block);
  } else if (!links_.empty()) {
    links_.pop_back();
  }
  return true;
}

bool TKELTextLayoutHitTest::Check(TKELTextLayoutBlock& block) {
  if (!block.Rect().Contains(point_)) return true;
  hit_ = TKELTextLayoutHit{&block, links_.empty() ? nullptr : links_.back()};
  return false;
}

// --- Plain text ----------------------------------------------------------------------------------

std::string TKELPlainTextExporter::Run(const TKELTextLayoutBlockList& blocks) {
  text_.clear();
  Walk(blocks);
  return kelUtf16ToUtf8(text_);
}

bool TKELPlainTextExporter::Visit(TKELTextLayoutBlockText& block) {
  text_ += block.Text;
  return true;
}

bool TKELPlainTextExporter::Visit(TKELTextLayoutBlockSpace&) {
  text_ += u' ';
  return true;
}

bool TKELPlainTextExporter::Visit(TKELTextLayoutBlockLineBreak&) {
  text_ += u"\r\n";
  return true;
}

}  // namespace kel
