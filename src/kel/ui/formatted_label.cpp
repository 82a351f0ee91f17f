#include "kel/ui/formatted_label.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <cmath>

#include "kel/base/shell.h"
#include "kel/ui/qt_canvas.h"

namespace kel {

TKELFormattedLabelColors TKELFormattedLabelColors::FromPalette(const QPalette& palette) {
  TKELFormattedLabelColors colors;
  colors.Text = palette.color(QPalette::Active, QPalette::WindowText);
  colors.TextDisabled = palette.color(QPalette::Disabled, QPalette::WindowText);
  colors.Background = palette.color(QPalette::Active, QPalette::Window);
  colors.Border1 = palette.color(QPalette::Active, QPalette::Mid);
  colors.Border2 = palette.color(QPalette::Active, QPalette::Light);
  return colors;
}

TKELFormattedLabel::TKELFormattedLabel(QWidget* parent)
    : QAbstractScrollArea(parent),
      font_(std::make_unique<TKELQtFont>(font(), logicalDpiY())),
      layout_(std::make_unique<TKELTextLayout>(*font_)),
      colors_(TKELFormattedLabelColors::FromPalette(palette())) {
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::NoFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setAutoFillBackground(false);
  viewport()->setMouseTracking(true);
  Import();
  UpdateLayout();
}

TKELFormattedLabel::~TKELFormattedLabel() = default;

void TKELFormattedLabel::SetAlignment(TKELHorzAlignment alignment) {
  alignment_ = alignment;
  UpdateLayout();
}

void TKELFormattedLabel::SetAutoScroll(bool autoScroll) {
  if (autoScroll == autoScroll_) return;
  autoScroll_ = autoScroll;
  setVerticalScrollBarPolicy(autoScroll ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  UpdateLayout();
}

void TKELFormattedLabel::SetBorders(TKELBorders borders) {
  if (borders == borders_) return;
  borders_ = borders;
  UpdateMargins();
  update();
}

void TKELFormattedLabel::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  Import();
  UpdateLayout();
}

void TKELFormattedLabel::SetFocusOnClick(bool focusOnClick) { setFocusPolicy(focusOnClick ? Qt::ClickFocus : Qt::NoFocus); }

void TKELFormattedLabel::SetOptions(TKELFormattedLabelOptions options) {
  if (options == options_) return;
  options_ = options;
  Import();
  UpdateLayout();
}

void TKELFormattedLabel::SetPadding(const TKELPadding& padding) {
  if (padding == padding_) return;
  padding_ = padding;
  UpdateLayout();
}

void TKELFormattedLabel::SetTransparent(bool transparent) {
  transparent_ = transparent;
  update();
  viewport()->update();
}

void TKELFormattedLabel::SetWordWrap(bool wordWrap) {
  if (wordWrap == wordWrap_) return;
  wordWrap_ = wordWrap;
  UpdateLayout();
}

void TKELFormattedLabel::SetColors(const TKELFormattedLabelColors& colors) {
  colors_ = colors;
  paletteColors_ = false;
  update();
  viewport()->update();
}

double TKELFormattedLabel::Scale() const { return logicalDpiX() / 96.0; }

int TKELFormattedLabel::BorderWidth() const { return static_cast<int>(std::lround(2 * Scale())); }

void TKELFormattedLabel::Import() {
  TKELTextImportSettings settings;
  settings.AllowFormatting = true;
  settings.AllowLineBreakEscape = true;
  settings.AutoDetectEmails = options_ & floAutoDetectEmails;
  settings.AutoDetectURLs = options_ & floAutoDetectURLs;
  settings.AutoDetectTimeCodes = options_ & floAutoDetectTimeCodes;
  layout_->SetText(caption_, settings);
  pressedLink_.reset();
}

void TKELFormattedLabel::UpdateMargins() {
  const int border = BorderWidth();
  setViewportMargins(borders_ & kbLeft ? border : 0, borders_ & kbTop ? border : 0, borders_ & kbRight ? border : 0,
                     borders_ & kbBottom ? border : 0);
}

// Lays the text out in the viewport less the padding: at its width with no
// height limit and a scroll bar when AutoScroll, else in its size with "…".
void TKELFormattedLabel::UpdateLayout() {
  const double scale = Scale();
  const QRect client = viewport()->rect();
  layout_->SetBounds({padding_.Left * scale, padding_.Top * scale, client.width() - padding_.Right * scale,
                      client.height() - padding_.Bottom * scale});
  layout_->SetHorzAlignment(alignment_);
  layout_->SetOption(tloWordWrap, wordWrap_);
  layout_->SetOption(tloAutoHeight, autoScroll_);
  layout_->SetOption(tloEndEllipsis, !autoScroll_);
  if (layout_->NeedsLayout()) {
    layout_->Measure();
    if (OnCalculated) OnCalculated();
  }
  viewport()->update();
  if (autoScroll_) {
    const TKELTextLayoutRows& rows = layout_->Rows();
    const double bottom = rows.empty() ? 0 : rows.back().Bounds.Bottom + padding_.Bottom * scale;
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(client.height());
    bar->setSingleStep(std::max(1, QFontMetrics(font()).lineSpacing()));
    // May show or hide the bar, which resizes the viewport and lays out again.
    bar->setRange(0, std::max(0, static_cast<int>(std::ceil(bottom)) - client.height()));
  }
}

void TKELFormattedLabel::UpdateState() {
  if (OnUpdateState) OnUpdateState();
}

QSizeF TKELFormattedLabel::ContentSize() {
  const TKELSizeF size = layout_->Measure();
  return {size.Width, size.Height};
}

bool TKELFormattedLabel::Truncated() { return layout_->Truncated(); }

const TKELTextLayoutBlockHyperlink* TKELFormattedLabel::LinkAtViewport(const QPointF& point) {
  const double scroll = autoScroll_ ? verticalScrollBar()->value() : 0;
  const std::optional<TKELTextLayoutHit> hit = layout_->HitTest({point.x(), point.y() + scroll});
  return hit ? hit->Link : nullptr;
}

std::optional<std::string> TKELFormattedLabel::LinkAt(const QPoint& point) {
  const TKELTextLayoutBlockHyperlink* link = LinkAtViewport(viewport()->mapFrom(this, point));
  return link ? std::optional<std::string>(link->Target) : std::nullopt;
}

void TKELFormattedLabel::ExecuteLink(const std::string& target) {
  bool handled = false;
  if (OnLinkExecute) OnLinkExecute(target, handled);
  if (!handled && kelIsUrlTarget(target)) kelShellExecute(target);
}

// The label's own area: the background behind the borders and the borders.
bool TKELFormattedLabel::event(QEvent* event) {
  const bool result = QAbstractScrollArea::event(event);
  if (event->type() == QEvent::Paint) {
    QPainter painter(this);
    if (!transparent_) painter.fillRect(rect(), colors_.Background);
    const int border = BorderWidth(), line = std::max(1, border / 2);
    const QRect outer = rect();
    const QRect inner = outer.adjusted(line, line, -line, -line);
    for (const auto& [area, color] : {std::pair{outer, colors_.Border1}, std::pair{inner, colors_.Border2}}) {
      if (borders_ & kbLeft) painter.fillRect(area.left(), area.top(), line, area.height(), color);
      if (borders_ & kbTop) painter.fillRect(area.left(), area.top(), area.width(), line, color);
      if (borders_ & kbRight) painter.fillRect(area.right() - line + 1, area.top(), line, area.height(), color);
      if (borders_ & kbBottom) painter.fillRect(area.left(), area.bottom() - line + 1, area.width(), line, color);
    }
  }
  return result;
}

void TKELFormattedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QRect client = viewport()->rect();
  if (!transparent_) painter.fillRect(client, colors_.Background);
  layout_->SetTextColor(kelFromQColor(isEnabled() ? colors_.Text : colors_.TextDisabled));
  layout_->SetLinkColor(colors_.TextHyperlink.isValid() ? kelFromQColor(colors_.TextHyperlink) : kelColorDefault);
  TKELQtCanvas canvas(painter, *font_);
  if (autoScroll_) {
    layout_->Draw(canvas, {0, 0, static_cast<double>(client.width()), static_cast<double>(client.height())},
                  {0, static_cast<double>(verticalScrollBar()->value())});
  } else {
    layout_->Draw(canvas);
  }
}

void TKELFormattedLabel::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateLayout();
}

void TKELFormattedLabel::scrollContentsBy(int, int) { viewport()->update(); }

void TKELFormattedLabel::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  switch (event->type()) {
    case QEvent::FontChange:
      font_->SetFont(font(), logicalDpiY());
      layout_->Refresh();
      UpdateMargins();
      UpdateLayout();
      break;
    case QEvent::PaletteChange:
      if (paletteColors_) colors_ = TKELFormattedLabelColors::FromPalette(palette());
      break;
    case QEvent::EnabledChange:
      viewport()->update();
      UpdateState();
      break;
    default:
      break;
  }
}

void TKELFormattedLabel::mouseMoveEvent(QMouseEvent* event) {
  if (LinkAtViewport(event->position())) {
    viewport()->setCursor(Qt::PointingHandCursor);
  } else {
    viewport()->unsetCursor();
  }
  QAbstractScrollArea::mouseMoveEvent(event);
}

void TKELFormattedLabel::mousePressEvent(QMouseEvent* event) {
  pressedLink_.reset();
  if (event->button() == Qt::LeftButton) {
    if (const TKELTextLayoutBlockHyperlink* link = LinkAtViewport(event->position())) pressedLink_ = link->Target;
  }
  event->accept();
}

// A click is a press and a release on the same link.
void TKELFormattedLabel::mouseReleaseEvent(QMouseEvent* event) {
  std::optional<std::string> pressed;
  pressed.swap(pressedLink_);
  event->accept();
  if (event->button() != Qt::LeftButton || !pressed) return;
  const TKELTextLayoutBlockHyperlink* link = LinkAtViewport(event->position());
  if (link && link->Target == *pressed) ExecuteLink(*pressed);
}

void TKELFormattedLabel::enterEvent(QEnterEvent* event) {
  QAbstractScrollArea::enterEvent(event);
  UpdateState();
}

void TKELFormattedLabel::leaveEvent(QEvent* event) {
  QAbstractScrollArea::leaveEvent(event);
  viewport()->unsetCursor();
  UpdateState();
}

void TKELFormattedLabel::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  UpdateState();
}

void TKELFormattedLabel::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  UpdateState();
}

}  // namespace kel
