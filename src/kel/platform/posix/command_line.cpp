// POSIX backend: Windows parameter strings as argument lists. Only platform
// code lives here.
#include "kel/platform/posix/command_line.h"

namespace kel::platform::posix {

std::vector<std::string> SplitWindowsArguments(std::string_view text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  const auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
  while (true) {
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i >= text.size()) return arguments;
    std::string argument;
    bool quoted = false;
    while (i < text.size() && (quoted || !isSpace(text[i]))) {
      if (text[i] == '\\') {
        size_t count = 0;
        while (i < text.size() && text[i] == '\\') ++count, ++i;
        if (i < text.size() && text[i] == '"') {
          argument.append(count / 2, '\\');
          if (count % 2 == 1) {
            argument += '"';
            ++i;
          }
        } else {
          argument.append(count, '\\');
        }
      } else if (text[i] == '"') {
        if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
          argument += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += text[i++];
      }
    }
    arguments.push_back(std::move(argument));
  }
}

}  // namespace kel::platform::posix
