// Shortcuts on Linux are freedesktop desktop entries (`.desktop` files).
// This is their text: written for a program, and read back to its program.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kel::platform::posix {

// The text of a desktop entry that starts `target`:
//   [Desktop Entry] / Type=Application / Name=<name> / Exec=<target>
// The target is quoted as one argument of Exec (with ", `, $ and \ escaped and
// % doubled) and the values escaped as strings, so that reading the entry
// back gives exactly `target`. Nothing when the target is empty, is not
// UTF-8 or holds control characters other than tab, CR and LF (an entry
// cannot hold them). Bytes of `name` that are not UTF-8 become '?'; an empty
// name becomes the target's file name.
std::optional<std::string> FormatDesktopEntry(std::string_view name, std::string_view target);

// The program of the Exec line of the entry's [Desktop Entry] group (its
// first argument, unquoted and unescaped), or the URL of a Type=Link entry.
// "" when there is none. Any bytes are accepted.
std::string ParseDesktopEntryTarget(std::string_view text);

}  // namespace kel::platform::posix
