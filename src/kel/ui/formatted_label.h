// TKELFormattedLabel: a label that shows formatted text (markup of
// kel/graphics/text_import.h) with live links.
//
// With AutoScroll (the default) the text wraps at the label's width and a
// vertical scroll bar appears when it is taller than the label; without it
// the text is laid out in the label's size and cut with "…". Links are drawn
// in the link colour; over them the mouse cursor is the hand. A click on a
// link calls OnLinkExecute; unless the handler marks it handled, a target
// that is a URL ("://" or ":\\") is opened through the shell. Other targets
// ("mailto:", "time:") are left to the handler.
//
// The caption is imported with tags and the "\n" escape; Options choose the
// automatic links. Lengths (Padding) are at 96 DPI and scale with the
// label's DPI.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kel/graphics/text_layout.h"

namespace kel {

class TKELQtFont;

enum TKELFormattedLabelOption : uint8_t {
  floAutoDetectEmails = 1,
  floAutoDetectURLs = 2,
  floAutoDetectTimeCodes = 4,
};
using TKELFormattedLabelOptions = uint8_t;  // a set of TKELFormattedLabelOption

enum TKELBorder : uint8_t { kbLeft = 1, kbTop = 2, kbRight = 4, kbBottom = 8 };
using TKELBorders = uint8_t;  // a set of TKELBorder
inline constexpr TKELBorders kbAll = kbLeft | kbTop | kbRight | kbBottom;

struct TKELPadding {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  bool operator==(const TKELPadding&) const = default;
};

// The label's colours. A border side is two lines: Border1 outside, Border2
// inside. An invalid TextHyperlink derives the link colour from the text
// colour.
struct TKELFormattedLabelColors {
  QColor Text;
  QColor TextDisabled;
  QColor TextHyperlink;
  QColor Background;
  QColor Border1;
  QColor Border2;

  // Window text, its disabled form, the window background, and the mid and
  // light shades for the borders.
  static TKELFormattedLabelColors FromPalette(const QPalette& palette);
  bool operator==(const TKELFormattedLabelColors&) const = default;
};

class TKELFormattedLabel : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TKELFormattedLabel(QWidget* parent = nullptr);
  ~TKELFormattedLabel() override;

  TKELHorzAlignment Alignment() const { return alignment_; }
  void SetAlignment(TKELHorzAlignment alignment);
  bool AutoScroll() const { return autoScroll_; }
  void SetAutoScroll(bool autoScroll);
  TKELBorders Borders() const { return borders_; }
  void SetBorders(TKELBorders borders);
  // The marked-up text (UTF-8). Setting the text the label has does nothing.
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  // Whether a click gives the label the keyboard focus.
  bool FocusOnClick() const { return focusPolicy() == Qt::ClickFocus; }
  void SetFocusOnClick(bool focusOnClick);
  TKELFormattedLabelOptions Options() const { return options_; }
  // Imports the caption again with the new detections.
  void SetOptions(TKELFormattedLabelOptions options);
  const TKELPadding& Padding() const { return padding_; }
  void SetPadding(const TKELPadding& padding);
  // Whether the background shows through (nothing is filled behind the text).
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool wordWrap);
  // The colours in use: the palette's until SetColors sets others.
  const TKELFormattedLabelColors& Colors() const { return colors_; }
  void SetColors(const TKELFormattedLabelColors& colors);

  // The target of the link under a point of the label's area, if any.
  std::optional<std::string> LinkAt(const QPoint& point);
  // The size the text takes as laid out now, and whether some was cut.
  QSizeF ContentSize();
  bool Truncated();

  // After each new layout of the text.
  std::function<void()> OnCalculated;
  // A link was clicked: its target; set `handled` to keep the shell out.
  std::function<void(const std::string& target, bool& handled)> OnLinkExecute;
  // The label's state (enabled, focused, under the mouse) changed.
  std::function<void()> OnUpdateState;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void changeEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  double Scale() const;
  int BorderWidth() const;
  void Import();
  void UpdateMargins();
  void UpdateLayout();
  void UpdateState();
  // The link under a point of the viewport.
  const TKELTextLayoutBlockHyperlink* LinkAtViewport(const QPointF& point);
  void ExecuteLink(const std::string& target);

  std::unique_ptr<TKELQtFont> font_;
  std::unique_ptr<TKELTextLayout> layout_;
  std::string caption_;
  TKELHorzAlignment alignment_ = TKELHorzAlignment::Left;
  bool autoScroll_ = true;
  TKELBorders borders_ = 0;
  TKELFormattedLabelOptions options_ = floAutoDetectEmails | floAutoDetectURLs;
  TKELPadding padding_;
  bool transparent_ = false;
  bool wordWrap_ = true;
  TKELFormattedLabelColors colors_;
  bool paletteColors_ = true;
  std::optional<std::string> pressedLink_;
};

}  // namespace kel
