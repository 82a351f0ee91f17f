#include "kel/ui/rich_viewer_zoom.h"

#include <cmath>

namespace kel {

std::optional<int> RichViewerZoomNumerator(int percent) {
  const double exact = percent <= 100 ? percent * 0.63 + 1 : percent * 0.64;
  // nearbyint rounds in the current mode, which is to nearest, ties to even.
  const double numerator = std::nearbyint(exact);
  if (numerator < 2 || numerator > 4095) return std::nullopt;
  return static_cast<int>(numerator);
}

}  // namespace kel
