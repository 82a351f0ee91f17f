// Lengths of the user interface are designed at 96 DPI; these scale them to
// the DPI a window is shown at.
#pragma once

namespace kel {

inline constexpr int kelDesignDpi = 96;

// A length designed at 96 DPI, at `dpi`: multiplied, then divided, halves
// rounded away from zero (53 at 144 DPI is 80); unchanged at exactly 96 DPI.
constexpr int kelScaleByDpi(int length, int dpi) {
  if (dpi == kelDesignDpi) return length;
  const int scaled = length * dpi;
  return scaled >= 0 ? (scaled + kelDesignDpi / 2) / kelDesignDpi : -((-scaled + kelDesignDpi / 2) / kelDesignDpi);
}

// The pixel size of a font of `points` at `dpi` (points × DPI / 72, rounded).
constexpr int kelPointsToPixels(int points, int dpi) { return (points * dpi + 36) / 72; }

}  // namespace kel
