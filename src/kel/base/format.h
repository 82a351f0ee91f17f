// printf-like formatting of message templates.
//
// Templates come from language files, i.e. from outside data, so formatting
// never fails: "%s" takes the next argument as text, "%d" as a decimal
// integer, "%u" unsigned, "%x"/"%X" hexadecimal, "%%" is a percent sign.
// A placeholder without an argument left becomes empty text; any other "%"
// sequence is copied as it stands. An argument of the wrong kind is written
// in its own natural form.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace kel {

class TKELFormatArg {
 public:
  TKELFormatArg(std::string_view text) : value_(text) {}
  TKELFormatArg(const std::string& text) : value_(std::string_view(text)) {}
  TKELFormatArg(const char* text) : value_(std::string_view(text ? text : "")) {}
  TKELFormatArg(int value) : value_(static_cast<int64_t>(value)) {}
  TKELFormatArg(long value) : value_(static_cast<int64_t>(value)) {}
  TKELFormatArg(long long value) : value_(static_cast<int64_t>(value)) {}
  TKELFormatArg(unsigned value) : value_(static_cast<uint64_t>(value)) {}
  TKELFormatArg(unsigned long value) : value_(static_cast<uint64_t>(value)) {}
  TKELFormatArg(unsigned long long value) : value_(static_cast<uint64_t>(value)) {}

  // Appends the argument as a placeholder of the given kind ('s', 'd', 'u',
  // 'x' or 'X') asks for.
  void AppendTo(std::string& out, char kind) const;

 private:
  std::variant<std::string_view, int64_t, uint64_t> value_;
};

std::string kelFormat(std::string_view pattern, std::initializer_list<TKELFormatArg> args);

}  // namespace kel
