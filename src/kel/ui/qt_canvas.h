// The formatted-text engine's font and canvas on Qt: TKELQtFont measures
// with a QFont at a DPI, TKELQtCanvas paints with a QPainter.
//
// Sizes in points become pixel sizes of the font (points × DPI / 72, whole
// pixels), so the layout follows the DPI it is given whatever device it
// paints on. Runs of characters that need no shaping and that the font's own
// glyphs cover (Latin, Greek, Cyrillic, CJK and common symbols) are measured
// character by character from the glyph advances, kept per face, and drawn
// as glyph runs at exactly those advances: fast, and what is measured is
// what is painted. Every other run (complex scripts, combining marks,
// characters from fallback fonts) is shaped by QTextLayout, which both
// measures and paints it.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QRawFont>
#include <array>
#include <memory>
#include <vector>

#include "kel/graphics/font.h"

namespace kel {

class TKELQtFont : public IKELFont {
 public:
  TKELQtFont(const QFont& font, double dpi);
  ~TKELQtFont() override;

  // Another font or DPI; what was measured before is forgotten (a layout
  // that uses this font needs its Refresh).
  void SetFont(const QFont& font, double dpi);
  const QFont& Font() const { return font_; }
  double Dpi() const { return dpi_; }

  double Size() const override { return size_; }
  TKELFontMetrics Metrics(const TKELFontFace& face) override;
  void MeasureRun(const TKELFontFace& face, std::u16string_view run, double* advances) override;

 private:
  friend class TKELQtCanvas;
  struct Face;

  Face& FaceOf(const TKELFontFace& face);
  // The glyph of a character that is drawn on its own, or nothing (-1 in
  // `advance`) when its run must be shaped.
  static bool Simple(Face& face, char16_t c, float& advance, quint32& glyph);
  static bool SimpleRun(Face& face, std::u16string_view run);

  QFont font_;
  double dpi_;
  double size_;
  std::vector<std::unique_ptr<Face>> faces_;
};

class TKELQtCanvas : public IKELCanvas {
 public:
  // Both must outlive the canvas.
  TKELQtCanvas(QPainter& painter, TKELQtFont& font);

  void SetFont(const TKELFontFace& face) override;
  void SetTextColor(TKELColor color) override;
  void FillRect(const TKELRectF& rect, TKELColor color) override;
  void DrawRun(TKELPointF origin, std::u16string_view run, std::span<const double> advances) override;
  void PushClip(const TKELRectF& rect) override;
  void PopClip() override;

 private:
  QPainter& painter_;
  TKELQtFont& font_;
  TKELFontFace face_;
  QColor color_;
};

QColor kelToQColor(TKELColor color);
TKELColor kelFromQColor(const QColor& color);

}  // namespace kel
