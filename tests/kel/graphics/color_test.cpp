#include "kel/graphics/color.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(Color, MarkupValues) {
  const struct {
    const char* value;
    TKELColor color;
  } rows[] = {
      {"red", kelRGB(255, 0, 0)},        {"RED", kelRGB(255, 0, 0)},
      {"clNavy", kelRGB(0, 0, 128)},     {"skyblue", kelRGB(166, 202, 240)},
      {"none", kelColorNone},            {"$0000FF", kelRGB(255, 0, 0)},   // blue-green-red order
      {"255", kelRGB(255, 0, 0)},        {"#FF8000", kelRGB(255, 128, 0)},
      {"ff8000", kelRGB(255, 128, 0)},   {"F80", kelRGB(15, 128, 0)},
      {"#1", kelRGB(1, 0, 0)},           {"12 34 5x6", kelRGB(0x12, 0x34, 0x56)},
      {"zzz", kelRGB(0, 0, 0)},          {"", kelRGB(0, 0, 0)},
      {"$FFFFFFFF", kelRGB(255, 255, 255)},  // no colour constant: its first six digits
      {"-1", kelRGB(1, 0, 0)},            // not a colour number: the digit 1
  };
  for (const auto& row : rows) EXPECT_EQ(kelStringToColor(row.value), row.color) << row.value;
}

TEST(Color, Constants) {
  EXPECT_EQ(kelIdentToColor("clwhite"), kelRGB(255, 255, 255));
  EXPECT_EQ(kelIdentToColor("clDefault"), kelColorDefault);
  EXPECT_EQ(kelIdentToColor("$FF"), kelRGB(255, 0, 0));
  EXPECT_EQ(kelIdentToColor("16777215"), kelRGB(255, 255, 255));
  for (const char* notAColor : {"red", "", "$", "$-1", "16777216", "1.5", "clRedd"})
    EXPECT_EQ(kelIdentToColor(notAColor), std::nullopt) << notAColor;
}

}  // namespace
}  // namespace kel
