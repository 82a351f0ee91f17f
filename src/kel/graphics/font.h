// What the formatted-text engine needs of fonts and of the surface it paints
// on. The engine measures and paints only through these two interfaces, so it
// runs as well on made-up metrics (tests) as on a GUI toolkit's real fonts.
//
// Text reaches both as UTF-16 code units: the layout keeps its text in UTF-16
// (see text_layout.h), and advances are given per code unit.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "kel/graphics/color.h"
#include "kel/graphics/geometry.h"

namespace kel {

enum TKELFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TKELFontStyles = uint8_t;  // a set of TKELFontStyle

// One variant of a font: its styles and its size in points.
struct TKELFontFace {
  TKELFontStyles Styles = 0;
  double Size = 0;

  bool operator==(const TKELFontFace&) const = default;
};

// Vertical metrics of a face in device pixels.
struct TKELFontMetrics {
  double Height = 0;           // ascent plus descent
  double Descent = 0;
  double ExternalLeading = 0;  // space a font asks for between lines

  double Ascent() const { return Height - Descent; }
  double LineHeight() const { return Height + ExternalLeading; }
};

// A font family at a DPI. Sizes are in points; the font turns them into
// device pixels with its DPI (points × DPI / 72). Underline and strike-out
// change no metric.
class IKELFont {
 public:
  virtual ~IKELFont() = default;

  // The size of the font itself in points: the base of the layout's sizes.
  virtual double Size() const = 0;
  virtual TKELFontMetrics Metrics(const TKELFontFace& face) = 0;
  // Fills advances[i] with the advance of run[i] in device pixels; units
  // that do not start a character (the second half of a surrogate pair, or
  // the later units of a cluster that is drawn as one) get 0. The sum is the
  // width of the run as DrawRun paints it.
  virtual void MeasureRun(const TKELFontFace& face, std::u16string_view run, double* advances) = 0;
};

// A surface to paint text on, in the device pixels of its font.
class IKELCanvas {
 public:
  virtual ~IKELCanvas() = default;

  virtual void SetFont(const TKELFontFace& face) = 0;
  virtual void SetTextColor(TKELColor color) = 0;
  virtual void FillRect(const TKELRectF& rect, TKELColor color) = 0;
  // Paints the run in the current font and text colour from `origin` (its
  // left end on the baseline), advancing by the measured advances, and
  // underlines or strikes it out over their sum when the face says so.
  virtual void DrawRun(TKELPointF origin, std::u16string_view run, std::span<const double> advances) = 0;
  // Paints only inside the rectangle (within any clip pushed before) until
  // the matching PopClip.
  virtual void PushClip(const TKELRectF& rect) = 0;
  virtual void PopClip() = 0;
};

}  // namespace kel
