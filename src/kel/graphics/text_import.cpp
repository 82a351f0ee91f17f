#include "kel/graphics/text_import.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "kel/base/text.h"

namespace kel {

namespace {

enum class TagKind { Bold, Italic, Underline, StrikeOut, Color, BackColor, Big, Small, Size, Url };

struct TagName {
  std::u16string_view name;
  TagKind kind;
};

constexpr TagName kTags[] = {
    {u"B", TagKind::Bold},        {u"I", TagKind::Italic},        {u"U", TagKind::Underline},
    {u"S", TagKind::StrikeOut},   {u"COLOR", TagKind::Color},     {u"BACKCOLOR", TagKind::BackColor},
    {u"BIG", TagKind::Big},       {u"SMALL", TagKind::Small},     {u"SIZE", TagKind::Size},
    {u"URL", TagKind::Url},
};

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

const TagName* FindTag(std::u16string_view name) {
  for (const TagName& tag : kTags) {
    if (tag.name.size() != name.size()) continue;
    size_t i = 0;
    while (i < name.size() && AsciiUpper(name[i]) == tag.name[i]) ++i;
    if (i == name.size()) return &tag;
  }
  return nullptr;
}

bool IsDelimiter(char16_t c) {
  switch (c) {
    case u'[': case u']': case u'(': case u')': case u'\\':
    case 0x200B:                                      // zero-width space
    case 0x201C: case 0x201D: case 0x2018: case 0x2019:  // curly quotes
    case 0xFF08: case 0xFF09: case 0xFF0C: case 0xFF1A: case 0xFF1B: case 0xFF1F:  // full-width punctuation
    case 0x060C:                                      // Arabic comma
    case 0x3000:                                      // ideographic space
    case 0x3001: case 0x3002: case 0x300C: case 0x300D: case 0x300E: case 0x300F:
    case 0x300A: case 0x300B: case 0x3008: case 0x3009: case 0x3014: case 0x3015:  // CJK punctuation
      return true;
    default:
      return false;
  }
}

bool EndsWord(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || IsDelimiter(c); }

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// [SIZE=n]: an integer is a size in points, any other number a factor of the
// current size; what is no number changes nothing (a factor of 1).
std::unique_ptr<TKELTextLayoutBlockFontSize> SizeBlock(std::u16string_view value) {
  std::string text = kelUtf16ToUtf8(value);
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.erase(0, 1);
  const char* first = text.data();
  const char* last = first + text.size();
  int64_t points = 0;
  if (const auto [end, error] = std::from_chars(first, last, points); !text.empty() && error == std::errc() && end == last)
    return std::make_unique<TKELTextLayoutBlockFontSize>(true, static_cast<double>(points), false);
  double factor = 0;
  if (const auto [end, error] = std::from_chars(first, last, factor);
      !text.empty() && error == std::errc() && end == last && std::isfinite(factor))
    return std::make_unique<TKELTextLayoutBlockFontSize>(true, factor, true);
  return std::make_unique<TKELTextLayoutBlockFontSize>(true, 1.0, true);
}

// --- Link detectors ---------------------------------------------------------------

// The e-mail pattern, compiled once; the match limit keeps a hostile word
// from taking long.
class EmailPattern {
 public:
  EmailPattern() {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kPattern.data()), kPattern.size(), 0, &error, &offset, nullptr);
    context_ = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(context_, 100000);
  }
  ~EmailPattern() {
    pcre2_match_context_free(context_);
    pcre2_code_free(code_);
  }
  EmailPattern(const EmailPattern&) = delete;
  EmailPattern& operator=(const EmailPattern&) = delete;

  bool Matches(std::u16string_view word) const {
    if (!code_) return false;
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code_, nullptr);
    const int result = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(word.data()), word.size(), 0, 0, data, context_);
    pcre2_match_data_free(data);
    return result >= 0;
  }

 private:
  static constexpr std::u16string_view kPattern =
      u"^[a-zA-Z0-9.!#$%&'*+/=?^_`{|}~-]+@[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?(?:\\.[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?)*$";

  pcre2_code* code_ = nullptr;
  pcre2_match_context* context_ = nullptr;
};

std::optional<std::string> DetectEmail(std::u16string_view word) {
  static const EmailPattern pattern;
  if (word.find(u'@') == std::u16string_view::npos || !pattern.Matches(word)) return std::nullopt;
  return "mailto:" + kelUtf16ToUtf8(word);
}

template <typename Char>
bool HasUrlSeparator(std::basic_string_view<Char> text) {
  for (size_t colon = text.find(Char(':')); colon != text.npos; colon = text.find(Char(':'), colon + 1)) {
    if (colon + 2 < text.size() && text[colon + 1] == text[colon + 2] &&
        (text[colon + 1] == Char('/') || text[colon + 1] == Char('\\')))
      return true;
  }
  return false;
}

std::optional<std::string> DetectUrl(std::u16string_view word) {
  if (HasUrlSeparator(word)) return kelUtf16ToUtf8(word);
  if (word.size() > 4 && word.starts_with(u"www.") && word.find(u'.', 4) != word.npos)
    return "https://" + kelUtf16ToUtf8(word);
  return std::nullopt;
}

// "m:ss", "h:mm:ss", each optionally with ".fraction": the whole seconds.
std::optional<std::string> DetectTimeCode(std::u16string_view word) {
  size_t pos = 0;
  auto number = [&](size_t minDigits, size_t maxDigits) -> std::optional<int> {
    int value = 0;
    size_t digits = 0;
    while (pos < word.size() && digits < maxDigits && IsDigit(word[pos])) value = value * 10 + (word[pos++] - u'0'), ++digits;
    return digits >= minDigits ? std::optional<int>(value) : std::nullopt;
  };
  int parts[3];
  int count = 0;
  const std::optional<int> first = number(1, 2);
  if (!first) return std::nullopt;
  parts[count++] = *first;
  while (count < 3 && pos < word.size() && word[pos] == u':') {
    ++pos;
    const std::optional<int> next = number(2, 2);
    if (!next) return std::nullopt;
    parts[count++] = *next;
  }
  if (count < 2) return std::nullopt;
  if (pos < word.size() && word[pos] == u'.') {
    ++pos;
    if (pos == word.size()) return std::nullopt;
    while (pos < word.size() && IsDigit(word[pos])) ++pos;
  }
  if (pos != word.size()) return std::nullopt;
  const int seconds = count == 2 ? parts[0] * 60 + parts[1] : parts[0] * 3600 + parts[1] * 60 + parts[2];
  return "time:" + std::to_string(seconds);
}

// --- The tokeniser -------------------------------------------------------------------

class Importer {
 public:
  Importer(std::u16string_view text, double* advances, const TKELTextImportSettings& settings,
           TKELTextLayoutBlockList& blocks)
      : text_(text.substr(0, text.find(u'\0'))),
        advances_(advances),
        settings_(settings),
        blocks_(blocks),
        firstBlock_(blocks.size()) {}

  void Run() {
    while (pos_ < text_.size()) {
      if (settings_.AllowFormatting && Tag()) continue;
      if (LineEnd() || Escape() || Space() || Delimiter()) continue;
      Word();
    }
  }

 private:
  template <typename Block, typename... Args>
  void Add(Args&&... args) {
    blocks_.push_back(std::make_unique<Block>(std::forward<Args>(args)...));
  }

  void AddText(size_t start, size_t length) { Add<TKELTextLayoutBlockText>(text_.substr(start, length), advances_ + start); }

  // The next "]" after `pos_`. The position found is kept for the brackets
  // before it, so that a long text of "[" is read in one pass.
  size_t NextClose() {
    if (!closeFound_ || (close_ != text_.npos && close_ <= pos_)) {
      close_ = text_.find(u']', pos_ + 1);
      closeFound_ = true;
    }
    return close_;
  }

  bool Tag() {
    if (text_[pos_] != u'[') return false;
    const size_t close = NextClose();
    if (close == text_.npos) return false;
    std::u16string_view content = text_.substr(pos_ + 1, close - pos_ - 1);
    const bool opening = !content.starts_with(u'/');
    if (!opening) content.remove_prefix(1);
    const size_t equals = opening ? content.find(u'=') : content.npos;
    const TagName* tag = FindTag(content.substr(0, equals));
    if (!tag) return false;
    const std::u16string_view value = equals == content.npos ? std::u16string_view() : content.substr(equals + 1);
    switch (tag->kind) {
      case TagKind::Bold: Add<TKELTextLayoutBlockFontStyle>(opening, fsBold); break;
      case TagKind::Italic: Add<TKELTextLayoutBlockFontStyle>(opening, fsItalic); break;
      case TagKind::Underline: Add<TKELTextLayoutBlockFontStyle>(opening, fsUnderline); break;
      case TagKind::StrikeOut: Add<TKELTextLayoutBlockFontStyle>(opening, fsStrikeOut); break;
      case TagKind::Color:
        Add<TKELTextLayoutBlockFontColor>(opening, opening ? kelStringToColor(kelUtf16ToUtf8(value)) : 0);
        break;
      case TagKind::BackColor:
        Add<TKELTextLayoutBlockFillColor>(opening, opening ? kelStringToColor(kelUtf16ToUtf8(value)) : 0);
        break;
      case TagKind::Big: Add<TKELTextLayoutBlockFontBig>(opening); break;
      case TagKind::Small: Add<TKELTextLayoutBlockFontSmall>(opening); break;
      case TagKind::Size:
        if (opening) {
          blocks_.push_back(SizeBlock(value));
        } else {
          Add<TKELTextLayoutBlockFontSize>(false, 1.0, true);
        }
        break;
      case TagKind::Url:
        Add<TKELTextLayoutBlockHyperlink>(opening, opening ? kelUtf16ToUtf8(value) : std::string());
        // Never below 0, so that a stray closing tag cannot switch detection
        // on inside a later link.
        linkDepth_ = opening ? linkDepth_ + 1 : std::max(linkDepth_ - 1, 0);
        break;
    }
    pos_ = close + 1;
    return true;
  }

  bool LineEnd() {
    if (text_[pos_] == u'\n') {
      ++pos_;
    } else if (text_[pos_] == u'\r') {
      pos_ += pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\n' ? 2 : 1;
    } else {
      return false;
    }
    Add<TKELTextLayoutBlockLineBreak>();
    return true;
  }

  bool Escape() {
    if (!settings_.AllowLineBreakEscape || text_[pos_] != u'\\' || pos_ + 1 >= text_.size() || text_[pos_ + 1] != u'n')
      return false;
    pos_ += 2;
    Add<TKELTextLayoutBlockLineBreak>();
    return true;
  }

  bool Space() {
    if (text_[pos_] != u' ' && text_[pos_] != u'\t') return false;
    Add<TKELTextLayoutBlockSpace>(text_[pos_++]);
    return true;
  }

  bool Delimiter() {
    if (!IsDelimiter(text_[pos_])) return false;
    AddText(pos_++, 1);
    return true;
  }

  void Word() {
    const size_t start = pos_;
    while (++pos_ < text_.size() && !EndsWord(text_[pos_])) {
    }
    const std::u16string_view word = text_.substr(start, pos_ - start);
    std::optional<std::string> target;
    if (linkDepth_ < 1) {
      if (settings_.AutoDetectEmails) target = DetectEmail(word);
      if (!target && settings_.AutoDetectURLs) target = DetectUrl(word);
      if (!target && settings_.AutoDetectTimeCodes && MayStartTimeCode(start)) target = DetectTimeCode(word);
    }
    if (target) Add<TKELTextLayoutBlockHyperlink>(true, std::move(*target));
    AddText(start, word.size());
    if (target) Add<TKELTextLayoutBlockHyperlink>(false, std::string());
  }

  // A time code stands first, or after a control character, a space, "("
  // or "[".
  bool MayStartTimeCode(size_t start) const {
    if (blocks_.size() == firstBlock_) return true;
    const char16_t before = start > 0 ? text_[start - 1] : u'\0';
    return before < 0x20 || before == u' ' || before == u'(' || before == u'[';
  }

  std::u16string_view text_;
  double* advances_;
  const TKELTextImportSettings& settings_;
  TKELTextLayoutBlockList& blocks_;
  const size_t firstBlock_;
  size_t pos_ = 0;
  size_t close_ = 0;
  bool closeFound_ = false;
  int linkDepth_ = 0;
};

}  // namespace

void kelImportFormattedText(std::u16string_view text, double* advances, const TKELTextImportSettings& settings,
                            TKELTextLayoutBlockList& blocks) {
  Importer(text, advances, settings, blocks).Run();
}

bool kelIsUrlTarget(std::string_view target) { return HasUrlSeparator(target); }

}  // namespace kel
