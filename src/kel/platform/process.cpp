// The portable part of the process answers: the Windows version this system
// stands for.
#include "kel/platform/process.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace kel::platform {

namespace {

// "major.minor[.build]" with decimal numbers; false for anything else.
bool ParseVersion(std::string_view text, OsVersion& version) {
  uint32_t parts[3] = {0, 0, 0};
  int count = 0;
  while (count < 3) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    const auto [next, code] = std::from_chars(begin, end, parts[count]);
    if (code != std::errc() || next == begin) return false;
    ++count;
    text.remove_prefix(static_cast<size_t>(next - begin));
    if (text.empty()) break;
    if (text.front() != '.') return false;
    text.remove_prefix(1);
  }
  if (!text.empty() || count < 2) return false;
  version = {parts[0], parts[1], parts[2]};
  return true;
}

}  // namespace

OsVersion GetOsVersion() {
  OsVersion version{10, 0, 19045};
  if (const char* value = std::getenv(kOsVersionVariable)) ParseVersion(value, version);
  return version;
}

}  // namespace kel::platform
