// Colours of the formatted-text engine and the skins.
//
// A colour is a 32-bit value in the blue-green-red byte order of the
// platform colour type: 0x00BBGGRR, so $0000FF is red. Two values above that
// range are not colours but instructions: kelColorNone (paint nothing) and
// kelColorDefault (the owner's default colour).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kel {

using TKELColor = uint32_t;

inline constexpr TKELColor kelColorNone = 0x1FFFFFFF;
inline constexpr TKELColor kelColorDefault = 0x20000000;

constexpr TKELColor kelRGB(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<TKELColor>(red) | static_cast<TKELColor>(green) << 8 | static_cast<TKELColor>(blue) << 16;
}
constexpr uint8_t kelRed(TKELColor color) { return color & 0xFF; }
constexpr uint8_t kelGreen(TKELColor color) { return (color >> 8) & 0xFF; }
constexpr uint8_t kelBlue(TKELColor color) { return (color >> 16) & 0xFF; }
// A real colour, not kelColorNone or kelColorDefault.
constexpr bool kelIsRGB(TKELColor color) { return color <= 0xFFFFFF; }

// A colour constant: a name of the standard colours with its "cl" prefix
// ("clRed", "clNone", ignoring case), a decimal number, or a hexadecimal
// number after "$" ("$0000FF"). Nothing for anything else, and for numbers
// that are neither a colour nor one of the two instructions.
std::optional<TKELColor> kelIdentToColor(std::string_view text);

// The colour a markup value names: "red" (a standard colour without its
// prefix), a colour constant as above, or else hexadecimal digits read as red,
// green and blue ("#FF8000", "ff8000" and "F80" give (255,128,0), (255,128,0)
// and (15,128,0)); a value without any hexadecimal digit gives black.
TKELColor kelStringToColor(std::string_view value);

// Hue, saturation and lightness, each on the 0-255 scale.
struct TKELHSL {
  uint8_t H = 0;
  uint8_t S = 0;
  uint8_t L = 0;

  bool operator==(const TKELHSL&) const = default;
};
TKELHSL kelColorToHSL(TKELColor color);
TKELColor kelHSLToColor(TKELHSL hsl);

// The colour of links among text of the given colour: hue 154 (a blue),
// saturation at least 154, lightness within 100-200, so that links stand out
// on dark and on light text alike.
TKELColor kelLinkColorFor(TKELColor textColor);

}  // namespace kel
