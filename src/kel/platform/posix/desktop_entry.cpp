// POSIX backend: the text of desktop entries, the Linux form of shortcuts.
// Only platform code lives here.
#include "kel/platform/posix/desktop_entry.h"

#include <cstdint>

namespace kel::platform::posix {

namespace {

// Length of the well-formed UTF-8 sequence at `pos`, or 0.
size_t Utf8SequenceLength(std::string_view text, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  if (lead < 0x80) return 1;
  size_t length;
  uint32_t minimum;
  uint32_t value;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, value = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(pos + i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

// A string value as a desktop entry stores it.
std::string EscapeValue(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case ' ':
        out += i == 0 ? "\\s" : " ";  // leading blanks would be dropped
        break;
      default: out += c; break;
    }
  }
  return out;
}

std::string UnescapeValue(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[i + 1]) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default:  // not a string escape: left for the Exec rules
        out += '\\';
        out += value[i + 1];
        break;
    }
    ++i;
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The first argument of an Exec value (already unescaped as a string).
std::string FirstExecArgument(std::string_view exec) {
  size_t i = 0;
  while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t')) ++i;
  std::string raw;
  if (i < exec.size() && exec[i] == '"') {
    for (++i; i < exec.size() && exec[i] != '"'; ++i) {
      if (exec[i] == '\\' && i + 1 < exec.size()) {
        const char next = exec[i + 1];
        if (next == '"' || next == '`' || next == '$' || next == '\\') {
          raw += next;
          ++i;
          continue;
        }
      }
      raw += exec[i];
    }
  } else {
    while (i < exec.size() && exec[i] != ' ' && exec[i] != '\t') raw += exec[i++];
  }
  std::string program;  // "%%" is a literal percent sign
  for (size_t k = 0; k < raw.size(); ++k) {
    program += raw[k];
    if (raw[k] == '%' && k + 1 < raw.size() && raw[k + 1] == '%') ++k;
  }
  return program;
}

}  // namespace

std::optional<std::string> FormatDesktopEntry(std::string_view name, std::string_view target) {
  if (target.empty()) return std::nullopt;
  std::string exec = "\"";
  for (size_t i = 0; i < target.size();) {
    const char c = target[i];
    const auto byte = static_cast<uint8_t>(c);
    if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F) return std::nullopt;
    const size_t length = Utf8SequenceLength(target, i);
    if (length == 0) return std::nullopt;
    if (c == '"' || c == '`' || c == '$' || c == '\\') exec += '\\';
    if (c == '%') exec += '%';
    exec.append(target.substr(i, length));
    i += length;
  }
  exec += '"';

  if (name.empty()) {
    const size_t slash = target.find_last_of('/');
    name = slash == std::string_view::npos ? target : target.substr(slash + 1);
  }
  std::string cleanName;
  for (size_t i = 0; i < name.size();) {
    const auto byte = static_cast<uint8_t>(name[i]);
    const size_t length = Utf8SequenceLength(name, i);
    if (length == 0 || byte < 0x20 || byte == 0x7F) {
      cleanName += byte < 0x20 ? ' ' : '?';
      ++i;
    } else {
      cleanName.append(name.substr(i, length));
      i += length;
    }
  }
  if (Trim(cleanName).empty()) cleanName = "Shortcut";

  return "[Desktop Entry]\nType=Application\nName=" + EscapeValue(cleanName) + "\nExec=" + EscapeValue(exec) +
         "\n";
}

std::string ParseDesktopEntryTarget(std::string_view text) {
  bool inEntry = false;
  std::string type, exec, url;
  bool haveExec = false;
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    const std::string_view line = Trim(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (inEntry) break;  // the entry's group has ended
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry) continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    // The first occurrence of a key counts.
    if (key == "Type" && type.empty()) type = UnescapeValue(value);
    if (key == "Exec" && !haveExec) exec = UnescapeValue(value), haveExec = true;
    if (key == "URL" && url.empty()) url = UnescapeValue(value);
  }
  if (type == "Link") return url;
  return haveExec ? FirstExecArgument(exec) : std::string();
}

}  // namespace kel::platform::posix
