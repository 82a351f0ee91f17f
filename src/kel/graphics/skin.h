// Skins: named collections of the colours, fonts, lengths, margins and state
// images that the toolkit's controls are drawn with.
//
// A skin is an ordered list of items. An item has an identifier (dot-separated
// words: group, kind of resource, name, as in "Labels.Colors.Text"), a kind,
// and either a value of its kind, or a reference to another item (it then
// takes that item's value; references may chain), or neither (undefined: the
// control keeps its own fallback).
//
// Skins are stored as text, one item a line:
//
//   # a comment
//   KIND IDENTIFIER                  undefined
//   KIND IDENTIFIER = VALUE          a value
//   KIND IDENTIFIER -> IDENTIFIER    a reference
//
// with KIND one of color, font, integer, margins, texture, and VALUE:
//
//   color    a named colour ("claBlack", "claWhite", "claGray", "claSilver",
//            "claMaroon", "claNavy", "claYellow", "claWhitesmoke"), "claNull"
//            for none, or "x" and eight hexadecimal digits alpha, red, green,
//            blue ("xFFDE8C33")
//   font     "application" (the application's font) or the identifier of a
//            base font, then optionally "color COLOUR" and the styles "bold",
//            "italic", "underline", "strikeout" or "regular" (none)
//   integer  a decimal number
//   margins  left, top, right, bottom: four numbers separated by commas
//   texture  "scaled" (follows the DPI) or "fixed"
//
// Result contract: parsing accepts arbitrary bytes and either gives a skin or
// throws ESkinError naming the line and what is wrong. Lookups never throw:
// an item that is missing, undefined, of another kind, or whose references
// lead nowhere or in a circle gives nothing, and the control uses its own
// fallback; `Problems` lists what a publisher should fix.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "kel/base/error.h"
#include "kel/graphics/font.h"

namespace kel {

// The resources the default skins are stored in: the light one, and the dark
// one under the same name followed by "_DARK".
inline constexpr std::string_view kelDefaultSkinResource = "KELDEFAULTSKIN";
inline constexpr std::string_view kelDefaultSkinDarkResource = "KELDEFAULTSKIN_DARK";

class ESkinError : public Exception {
  using Exception::Exception;
};

enum class TKELSkinItemKind { Color, Font, Integer, Margins, Texture };

// An opaque or translucent colour, 0xAARRGGBB; alpha 0 paints nothing.
struct TKELSkinColor {
  uint32_t Argb = 0;

  static constexpr TKELSkinColor FromRGB(uint8_t red, uint8_t green, uint8_t blue) {
    return {0xFF000000u | uint32_t{red} << 16 | uint32_t{green} << 8 | blue};
  }
  bool IsNone() const { return (Argb >> 24) == 0; }
  uint8_t Alpha() const { return Argb >> 24; }
  uint8_t Red() const { return (Argb >> 16) & 0xFF; }
  uint8_t Green() const { return (Argb >> 8) & 0xFF; }
  uint8_t Blue() const { return Argb & 0xFF; }
  bool operator==(const TKELSkinColor&) const = default;
};

// A font as stored: a base (empty for the application font) and overrides.
struct TKELSkinFont {
  std::string Base;
  std::optional<TKELSkinColor> Color;
  std::optional<TKELFontStyles> Styles;
  bool operator==(const TKELSkinFont&) const = default;
};

// A font with its base fonts applied: the application font with a colour
// (when any font of the chain sets one) and styles.
struct TKELSkinFontInfo {
  std::optional<TKELSkinColor> Color;
  TKELFontStyles Styles = 0;
  bool operator==(const TKELSkinFontInfo&) const = default;
};

struct TKELSkinMargins {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TKELSkinMargins&) const = default;
};

// The images of a control's states are drawn by the toolkit; the skin keeps
// whether they follow the DPI.
struct TKELSkinTexture {
  bool ScalesWithDpi = true;
  bool operator==(const TKELSkinTexture&) const = default;
};

using TKELSkinValue =
    std::variant<std::monostate, TKELSkinColor, TKELSkinFont, int, TKELSkinMargins, TKELSkinTexture>;

struct TKELSkinItem {
  std::string Id;
  TKELSkinItemKind Kind = TKELSkinItemKind::Color;
  std::string Reference;  // when not empty, the item takes that item's value
  TKELSkinValue Value;    // std::monostate: none of its own

  bool operator==(const TKELSkinItem&) const = default;
};

class TKELSkin {
 public:
  TKELSkin() = default;
  static TKELSkin Parse(std::string_view text);

  const std::vector<TKELSkinItem>& Items() const { return items_; }
  // The first item with the identifier (ignoring ASCII case); nullptr if none.
  const TKELSkinItem* Find(std::string_view id) const;

  // On Windows 11 (major version 10 or later, build 22000 or later) the items
  // that have a ".W11" twin refer to it: the rounded buttons, popups and
  // slider thumbs of that system.
  void ApplyWindows11Variants(uint32_t major, uint32_t build);

  // The item whose value `id` stands for, its references followed; nullptr
  // when there is none (see the result contract).
  const TKELSkinItem* Resolve(std::string_view id) const;
  std::optional<TKELSkinColor> Color(std::string_view id) const;
  std::optional<TKELSkinFontInfo> Font(std::string_view id) const;
  std::optional<int> Integer(std::string_view id) const;
  std::optional<TKELSkinMargins> Margins(std::string_view id) const;
  std::optional<TKELSkinTexture> Texture(std::string_view id) const;

  // What is wrong with the skin, one line each: references to missing items
  // or to items of another kind, circles of references, fonts based on
  // something that is not a font, and identifiers stored twice with
  // different definitions. Empty for a sound skin.
  std::vector<std::string> Problems() const;

 private:
  // Follows references from the item; nullptr on a dead end or a circle.
  const TKELSkinItem* Follow(const TKELSkinItem* item, std::string* problem = nullptr) const;
  std::optional<TKELSkinFontInfo> ResolveFont(const TKELSkinItem* item, std::string* problem) const;

  std::vector<TKELSkinItem> items_;
  std::unordered_map<std::string, size_t> index_;  // lower-case identifier -> first item
};

}  // namespace kel
