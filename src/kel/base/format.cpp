#include "kel/base/format.h"

#include <charconv>

namespace kel {

namespace {

template <typename Int>
void AppendInteger(std::string& out, Int value, int base, bool upper) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value, base);
  (void)ec;
  for (char* p = digits; p != end; ++p) out += upper && *p >= 'a' ? static_cast<char>(*p - 32) : *p;
}

}  // namespace

void TKELFormatArg::AppendTo(std::string& out, char kind) const {
  const int base = kind == 'x' || kind == 'X' ? 16 : 10;
  const bool upper = kind == 'X';
  if (const auto* text = std::get_if<std::string_view>(&value_)) {
    out += *text;
  } else if (const auto* signedValue = std::get_if<int64_t>(&value_)) {
    if (base == 16 || kind == 'u')
      AppendInteger(out, static_cast<uint64_t>(*signedValue) & (*signedValue < 0 && base == 16 ? 0xFFFFFFFFu : ~0ull), base, upper);
    else
      AppendInteger(out, *signedValue, base, upper);
  } else {
    AppendInteger(out, std::get<uint64_t>(value_), base, upper);
  }
}

std::string kelFormat(std::string_view pattern, std::initializer_list<TKELFormatArg> args) {
  std::string out;
  out.reserve(pattern.size() + 16 * args.size());
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 == pattern.size()) {
      out += c;
      continue;
    }
    const char kind = pattern[i + 1];
    switch (kind) {
      case '%':
        out += '%';
        ++i;
        break;
      case 's':
      case 'd':
      case 'u':
      case 'x':
      case 'X':
        if (next != args.end()) (next++)->AppendTo(out, kind);
        ++i;
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

}  // namespace kel
