#include "kel/graphics/color.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "kel/base/text.h"

namespace kel {

namespace {

struct NamedColor {
  const char* name;
  TKELColor color;
};

constexpr NamedColor kNamedColors[] = {
    {"clBlack", kelRGB(0, 0, 0)},          {"clMaroon", kelRGB(128, 0, 0)},
    {"clGreen", kelRGB(0, 128, 0)},        {"clOlive", kelRGB(128, 128, 0)},
    {"clNavy", kelRGB(0, 0, 128)},         {"clPurple", kelRGB(128, 0, 128)},
    {"clTeal", kelRGB(0, 128, 128)},       {"clGray", kelRGB(128, 128, 128)},
    {"clSilver", kelRGB(192, 192, 192)},   {"clRed", kelRGB(255, 0, 0)},
    {"clLime", kelRGB(0, 255, 0)},         {"clYellow", kelRGB(255, 255, 0)},
    {"clBlue", kelRGB(0, 0, 255)},         {"clFuchsia", kelRGB(255, 0, 255)},
    {"clAqua", kelRGB(0, 255, 255)},       {"clWhite", kelRGB(255, 255, 255)},
    {"clMoneyGreen", kelRGB(192, 220, 192)}, {"clSkyBlue", kelRGB(166, 202, 240)},
    {"clCream", kelRGB(255, 251, 240)},    {"clMedGray", kelRGB(160, 160, 164)},
    {"clNone", kelColorNone},              {"clDefault", kelColorDefault},
};

std::optional<TKELColor> ColorOfNumber(int64_t number) {
  if (number < 0) return std::nullopt;
  const auto color = static_cast<TKELColor>(number);
  if (kelIsRGB(color) || color == kelColorNone || color == kelColorDefault) return color;
  return std::nullopt;
}

// The whole text as a number in the given base; nothing when any character
// is not a digit of it.
std::optional<int64_t> ParseNumber(std::string_view text, int base) {
  int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return number;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<TKELColor> kelIdentToColor(std::string_view text) {
  for (const NamedColor& named : kNamedColors)
    if (kelSameTextAscii(text, named.name)) return named.color;
  std::optional<int64_t> number;
  if (text.starts_with('$')) {
    if (text.size() > 1 && text[1] != '-' && text[1] != '+') number = ParseNumber(text.substr(1), 16);
  } else {
    number = ParseNumber(text, 10);
  }
  return number ? ColorOfNumber(*number) : std::nullopt;
}

TKELColor kelStringToColor(std::string_view value) {
  if (const std::optional<TKELColor> named = kelIdentToColor("cl" + std::string(value))) return *named;
  if (const std::optional<TKELColor> constant = kelIdentToColor(value)) return *constant;
  std::string digits;
  for (const char c : value) {
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (HexDigit(lower) >= 0) digits += lower;
  }
  if (digits.size() % 2 != 0) digits.insert(digits.begin(), '0');
  digits.resize(std::max<size_t>(digits.size(), 6), '0');
  const auto pair = [&](size_t at) { return static_cast<uint8_t>(HexDigit(digits[at]) * 16 + HexDigit(digits[at + 1])); };
  return kelRGB(pair(0), pair(2), pair(4));
}

TKELHSL kelColorToHSL(TKELColor color) {
  const double r = kelRed(color) / 255.0, g = kelGreen(color) / 255.0, b = kelBlue(color) / 255.0;
  const double high = std::max({r, g, b}), low = std::min({r, g, b});
  const double lightness = (high + low) / 2;
  double hue = 0, saturation = 0;
  if (high > low) {
    const double range = high - low;
    saturation = lightness <= 0.5 ? range / (high + low) : range / (2 - high - low);
    if (high == r) {
      hue = (g - b) / range + (g < b ? 6 : 0);
    } else if (high == g) {
      hue = (b - r) / range + 2;
    } else {
      hue = (r - g) / range + 4;
    }
    hue /= 6;
  }
  const auto scale = [](double value) { return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255)); };
  return {static_cast<uint8_t>(scale(hue) % 255), scale(saturation), scale(lightness)};
}

TKELColor kelHSLToColor(TKELHSL hsl) {
  const double hue = hsl.H / 255.0, saturation = hsl.S / 255.0, lightness = hsl.L / 255.0;
  const double q = lightness < 0.5 ? lightness * (1 + saturation) : lightness + saturation - lightness * saturation;
  const double p = 2 * lightness - q;
  const auto channel = [&](double t) {
    t -= std::floor(t);
    double value = p;
    if (t < 1.0 / 6) {
      value = p + (q - p) * 6 * t;
    } else if (t < 0.5) {
      value = q;
    } else if (t < 2.0 / 3) {
      value = p + (q - p) * (2.0 / 3 - t) * 6;
    }
    return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
  };
  return kelRGB(channel(hue + 1.0 / 3), channel(hue), channel(hue - 1.0 / 3));
}

TKELColor kelLinkColorFor(TKELColor textColor) {
  TKELHSL hsl = kelColorToHSL(textColor);
  hsl.H = 154;
  hsl.S = std::max<uint8_t>(hsl.S, 154);
  hsl.L = std::clamp<uint8_t>(hsl.L, 100, 200);
  return kelHSLToColor(hsl);
}

}  // namespace kel
