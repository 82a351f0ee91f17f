#include "kel/graphics/skin.h"

#include <algorithm>
#include <charconv>

#include "kel/base/format.h"
#include "kel/base/text.h"

namespace kel {

namespace {

struct NamedSkinColor {
  std::string_view name;
  TKELSkinColor color;
};

constexpr NamedSkinColor kNamedColors[] = {
    {"claBlack", TKELSkinColor::FromRGB(0x00, 0x00, 0x00)},  {"claWhite", TKELSkinColor::FromRGB(0xFF, 0xFF, 0xFF)},
    {"claGray", TKELSkinColor::FromRGB(0x80, 0x80, 0x80)},   {"claSilver", TKELSkinColor::FromRGB(0xC0, 0xC0, 0xC0)},
    {"claMaroon", TKELSkinColor::FromRGB(0x80, 0x00, 0x00)}, {"claNavy", TKELSkinColor::FromRGB(0x00, 0x00, 0x80)},
    {"claYellow", TKELSkinColor::FromRGB(0xFF, 0xFF, 0x00)}, {"claWhitesmoke", TKELSkinColor::FromRGB(0xF5, 0xF5, 0xF5)},
    {"claNull", TKELSkinColor{0}},
};

struct NamedKind {
  std::string_view name;
  TKELSkinItemKind kind;
};

constexpr NamedKind kKinds[] = {{"color", TKELSkinItemKind::Color},
                                {"font", TKELSkinItemKind::Font},
                                {"integer", TKELSkinItemKind::Integer},
                                {"margins", TKELSkinItemKind::Margins},
                                {"texture", TKELSkinItemKind::Texture}};

// The identifiers that have a variant for Windows 11.
constexpr std::string_view kWindows11Variants[] = {"Buttons.Textures.Button", "Popup.Margins.Borders",
                                                   "Popup.Margins.CornerRadius", "Slider.Textures.Thumb"};

constexpr uint32_t kWindows11Build = 22000;
// Longer chains than this are circles: a skin has far fewer items.
constexpr size_t kMaxChain = 4096;

std::string Key(std::string_view id) {
  std::string key(id);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

std::string_view KindName(TKELSkinItemKind kind) {
  for (const NamedKind& named : kKinds)
    if (named.kind == kind) return named.name;
  return {};
}

// Words separated by single dots, each of letters, digits and '_'.
bool IsIdentifier(std::string_view text) {
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  char previous = 0;
  for (const char c : text) {
    const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!word && (c != '.' || previous == '.')) return false;
    previous = c;
  }
  return true;
}

// Splits at runs of spaces and tabs.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    const size_t start = pos;
    while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t') ++pos;
    if (pos > start) words.push_back(text.substr(start, pos - start));
  }
  return words;
}

template <typename T>
std::optional<T> ValueOf(const TKELSkinItem* item) {
  if (!item) return std::nullopt;
  if (const T* value = std::get_if<T>(&item->Value)) return *value;
  return std::nullopt;
}

class TLineParser {
 public:
  explicit TLineParser(int line) : line_(line) {}

  [[noreturn]] void Fail(std::string_view what) const {
    throw ESkinError(kelFormat("Skin line %d: %s", {line_, what}));
  }

  std::string_view Identifier(std::string_view text) const {
    if (!IsIdentifier(text)) Fail(kelFormat("\"%s\" is not an identifier", {text}));
    return text;
  }

  int Number(std::string_view text) const {
    int value = 0;
    std::string_view digits = text;
    if (digits.starts_with('+')) digits.remove_prefix(1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
      Fail(kelFormat("\"%s\" is not a number", {text}));
    return value;
  }

  TKELSkinColor Color(std::string_view text) const {
    for (const NamedSkinColor& named : kNamedColors)
      if (kelSameTextAscii(text, named.name)) return named.color;
    if (text.size() == 9 && (text[0] == 'x' || text[0] == 'X')) {
      uint32_t argb = 0;
      const auto [end, error] = std::from_chars(text.data() + 1, text.data() + text.size(), argb, 16);
      if (error == std::errc() && end == text.data() + text.size() && text[1] != '+' && text[1] != '-')
        return TKELSkinColor{argb};
    }
    Fail(kelFormat("\"%s\" is not a colour", {text}));
  }

  TKELSkinFont Font(const std::vector<std::string_view>& words) const {
    TKELSkinFont font;
    if (!kelSameTextAscii(words[0], "application")) font.Base = Identifier(words[0]);
    for (size_t i = 1; i < words.size(); ++i) {
      const std::string_view word = words[i];
      if (kelSameTextAscii(word, "color")) {
        if (++i == words.size()) Fail("\"color\" without a colour");
        font.Color = Color(words[i]);
        continue;
      }
      static constexpr struct {
        std::string_view name;
        TKELFontStyles style;
      } kStyles[] = {{"regular", 0}, {"bold", fsBold}, {"italic", fsItalic},
                     {"underline", fsUnderline}, {"strikeout", fsStrikeOut}};
      bool known = false;
      for (const auto& style : kStyles) {
        if (!kelSameTextAscii(word, style.name)) continue;
        font.Styles = static_cast<TKELFontStyles>(font.Styles.value_or(0) | style.style);
        known = true;
      }
      if (!known) Fail(kelFormat("\"%s\" is not a font setting", {word}));
    }
    return font;
  }

  TKELSkinMargins Margins(std::string_view text) const {
    std::string joined;
    for (const char c : text) joined += c == ',' ? ' ' : c;
    const std::vector<std::string_view> parts = Words(joined);
    if (parts.size() != 4 || std::count(text.begin(), text.end(), ',') != 3)
      Fail("margins are four numbers separated by commas");
    return {Number(parts[0]), Number(parts[1]), Number(parts[2]), Number(parts[3])};
  }

  TKELSkinValue Value(TKELSkinItemKind kind, std::string_view text) const {
    text = kelTrim(text);
    const std::vector<std::string_view> words = Words(text);
    if (words.empty()) Fail("\"=\" without a value");
    const auto single = [&] {
      if (words.size() != 1) Fail(kelFormat("\"%s\" is more than one value", {text}));
      return words[0];
    };
    switch (kind) {
      case TKELSkinItemKind::Color:
        return Color(single());
      case TKELSkinItemKind::Font:
        return Font(words);
      case TKELSkinItemKind::Integer:
        return Number(single());
      case TKELSkinItemKind::Margins:
        return Margins(text);
      case TKELSkinItemKind::Texture: {
        const std::string_view word = single();
        if (kelSameTextAscii(word, "scaled")) return TKELSkinTexture{true};
        if (kelSameTextAscii(word, "fixed")) return TKELSkinTexture{false};
        Fail(kelFormat("\"%s\" is not \"scaled\" or \"fixed\"", {word}));
      }
    }
    Fail("unknown kind");
  }

  TKELSkinItem Item(std::string_view text) const {
    const std::vector<std::string_view> head = Words(text.substr(0, text.find_first_of("=-")));
    if (head.size() != 2) Fail("expected KIND IDENTIFIER, then \"= VALUE\" or \"-> IDENTIFIER\" or nothing");
    TKELSkinItem item;
    bool knownKind = false;
    for (const NamedKind& named : kKinds) {
      if (!kelSameTextAscii(head[0], named.name)) continue;
      item.Kind = named.kind;
      knownKind = true;
    }
    if (!knownKind) Fail(kelFormat("\"%s\" is not a kind of item", {head[0]}));
    item.Id = Identifier(head[1]);
    const size_t mark = text.find_first_of("=-");
    if (mark == std::string_view::npos) return item;
    if (text[mark] == '=') {
      item.Value = Value(item.Kind, text.substr(mark + 1));
    } else {
      if (text.substr(mark, 2) != "->") Fail("expected \"->\"");
      const std::vector<std::string_view> target = Words(text.substr(mark + 2));
      if (target.size() != 1) Fail("\"->\" takes one identifier");
      item.Reference = Identifier(target[0]);
    }
    return item;
  }

 private:
  int line_;
};

}  // namespace

TKELSkin TKELSkin::Parse(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!kelIsValidUtf8(text)) throw ESkinError("Skin text is not UTF-8");
  TKELSkin skin;
  int line = 0;
  while (!text.empty()) {
    ++line;
    const size_t end = text.find('\n');
    std::string_view row = kelTrim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (row.empty() || row.starts_with('#')) continue;
    TKELSkinItem item = TLineParser(line).Item(row);
    skin.index_.emplace(Key(item.Id), skin.items_.size());
    skin.items_.push_back(std::move(item));
  }
  return skin;
}

const TKELSkinItem* TKELSkin::Find(std::string_view id) const {
  const auto found = index_.find(Key(id));
  return found == index_.end() ? nullptr : &items_[found->second];
}

void TKELSkin::ApplyWindows11Variants(uint32_t major, uint32_t build) {
  if (major < 10 || build < kWindows11Build) return;
  for (const std::string_view id : kWindows11Variants) {
    const std::string variant = std::string(id) + ".W11";
    if (!Find(id) || !Find(variant)) continue;
    for (TKELSkinItem& item : items_) {
      if (!kelSameTextAscii(item.Id, id)) continue;
      item.Reference = variant;
      item.Value = std::monostate();
    }
  }
}

const TKELSkinItem* TKELSkin::Follow(const TKELSkinItem* item, std::string* problem) const {
  for (size_t step = 0; item && !item->Reference.empty(); ++step) {
    const TKELSkinItem* target = Find(item->Reference);
    if (step == kMaxChain) {
      if (problem) *problem = "its references go round in a circle";
      return nullptr;
    }
    if (!target) {
      if (problem) *problem = kelFormat("\"%s\" does not exist", {item->Reference});
      return nullptr;
    }
    if (target->Kind != item->Kind) {
      if (problem) *problem = kelFormat("\"%s\" is a %s", {item->Reference, KindName(target->Kind)});
      return nullptr;
    }
    item = target;
  }
  return item;
}

const TKELSkinItem* TKELSkin::Resolve(std::string_view id) const {
  const TKELSkinItem* item = Follow(Find(id));
  return item && !std::holds_alternative<std::monostate>(item->Value) ? item : nullptr;
}

std::optional<TKELSkinColor> TKELSkin::Color(std::string_view id) const { return ValueOf<TKELSkinColor>(Resolve(id)); }

std::optional<int> TKELSkin::Integer(std::string_view id) const { return ValueOf<int>(Resolve(id)); }

std::optional<TKELSkinMargins> TKELSkin::Margins(std::string_view id) const {
  return ValueOf<TKELSkinMargins>(Resolve(id));
}

std::optional<TKELSkinTexture> TKELSkin::Texture(std::string_view id) const {
  return ValueOf<TKELSkinTexture>(Resolve(id));
}

std::optional<TKELSkinFontInfo> TKELSkin::Font(std::string_view id) const { return ResolveFont(Find(id), nullptr); }

std::optional<TKELSkinFontInfo> TKELSkin::ResolveFont(const TKELSkinItem* item, std::string* problem) const {
  // The chain of fonts from the item down to the application font; the
  // overrides are applied from the bottom up.
  std::vector<const TKELSkinFont*> chain;
  while (item) {
    item = Follow(item, problem);
    const TKELSkinFont* font = item ? std::get_if<TKELSkinFont>(&item->Value) : nullptr;
    if (!font) return std::nullopt;
    if (chain.size() == kMaxChain) {
      if (problem) *problem = "its base fonts go round in a circle";
      return std::nullopt;
    }
    chain.push_back(font);
    if (font->Base.empty()) break;
    item = Find(font->Base);
    if (!item || item->Kind != TKELSkinItemKind::Font) {
      if (problem) *problem = kelFormat("its base \"%s\" is not a font", {font->Base});
      return std::nullopt;
    }
  }
  if (chain.empty()) return std::nullopt;
  TKELSkinFontInfo info;
  for (auto font = chain.rbegin(); font != chain.rend(); ++font) {
    if ((*font)->Color) info.Color = (*font)->Color;
    if ((*font)->Styles) info.Styles = *(*font)->Styles;
  }
  return info;
}

std::vector<std::string> TKELSkin::Problems() const {
  std::vector<std::string> problems;
  for (size_t i = 0; i < items_.size(); ++i) {
    const TKELSkinItem& item = items_[i];
    const TKELSkinItem& first = *Find(item.Id);
    if (&first != &item) {
      if (first.Kind != item.Kind || first.Reference != item.Reference || first.Value != item.Value)
        problems.push_back(kelFormat("\"%s\" is stored twice with different definitions", {item.Id}));
      continue;
    }
    std::string problem;
    const bool resolves = item.Kind == TKELSkinItemKind::Font
                              ? ResolveFont(&item, &problem).has_value() || problem.empty()
                              : Follow(&item, &problem) != nullptr;
    if (!resolves) problems.push_back(kelFormat("\"%s\": %s", {item.Id, problem}));
  }
  return problems;
}

}  // namespace kel
