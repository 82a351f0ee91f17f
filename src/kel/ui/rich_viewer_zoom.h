// The zoom of the rich viewer, kept as a ratio numerator / 64.
#pragma once

#include <optional>

namespace kel {

inline constexpr int kRichViewerZoomDenominator = 64;

// The numerator for a zoom percentage: percent × 0.63 + 1 up to 100 %, else
// percent × 0.64, rounded half to even (100 % gives 64, 50 % gives 32,
// 150 % gives 96). Nothing when it falls outside 2..4095: such a zoom is not
// applied and the viewer keeps its previous one.
std::optional<int> RichViewerZoomNumerator(int percent);

}  // namespace kel
