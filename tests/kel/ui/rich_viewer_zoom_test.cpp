#include "kel/ui/rich_viewer_zoom.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(RichViewerZoom, RatiosAndLimits) {
  const struct {
    int percent;
    std::optional<int> numerator;
  } rows[] = {
      {100, 64}, {50, 32} /* 32.5, half to even */, {75, 48}, {150, 96}, {200, 128}, {101, 65},
      {1, 2},    {0, std::nullopt},                 {6399, 4095}, {6400, std::nullopt}, {-50, std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(RichViewerZoomNumerator(row.percent), row.numerator) << row.percent;
}

}  // namespace
}  // namespace kel
