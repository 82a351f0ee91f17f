// Points, sizes and rectangles of the formatted-text engine, in device
// pixels with fractions (advances of real fonts are not whole pixels).
#pragma once

#include <algorithm>
#include <limits>

namespace kel {

// A width or height that sets no limit.
inline constexpr double kelUnlimited = std::numeric_limits<double>::infinity();

struct TKELPointF {
  double X = 0;
  double Y = 0;

  bool operator==(const TKELPointF&) const = default;
};

struct TKELSizeF {
  double Width = 0;
  double Height = 0;

  bool operator==(const TKELSizeF&) const = default;
};

// Left and top are inside, right and bottom outside.
struct TKELRectF {
  double Left = 0;
  double Top = 0;
  double Right = 0;
  double Bottom = 0;

  double Width() const { return Right - Left; }
  double Height() const { return Bottom - Top; }
  bool Contains(TKELPointF point) const {
    return point.X >= Left && point.X < Right && point.Y >= Top && point.Y < Bottom;
  }
  TKELRectF Translated(double dx, double dy) const { return {Left + dx, Top + dy, Right + dx, Bottom + dy}; }
  // The smallest rectangle holding both.
  TKELRectF United(const TKELRectF& other) const {
    return {std::min(Left, other.Left), std::min(Top, other.Top), std::max(Right, other.Right),
            std::max(Bottom, other.Bottom)};
  }

  bool operator==(const TKELRectF&) const = default;
};

}  // namespace kel
