// The special folders and the system's own folders. Portable: built from
// the accounts (users.h), the sandbox mapping, the user's XDG folder
// settings and the file system's answers (filesystem.h).
#include "kel/platform/well_known_folders.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "kel/platform/filesystem.h"
#include "kel/platform/sandbox.h"
#include "kel/platform/users.h"

namespace kel::platform {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// A value as the shell would read it: "..." with backslash escapes, or bare.
std::string Unquote(std::string_view value) {
  if (value.empty() || value.front() != '"') return std::string(value);
  std::string result;
  for (size_t i = 1; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') return result;
    if (c == '\\' && i + 1 < value.size()) {
      result += value[++i];
    } else {
      result += c;
    }
  }
  return {};  // no closing quote
}

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

// The invoking user's XDG folder `key`, else home + "/" + fallback.
std::string UserDir(const std::string& home, std::string_view key, std::string_view fallback) {
  std::ifstream in(home + "/.config/user-dirs.dirs", std::ios::binary);
  if (in) {
    std::string text;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::string value = ParseUserDirs(text, key, home);
    if (!value.empty()) return value;
  }
  return home + "/" + std::string(fallback);
}

// Whether a path of the (sandboxed) machine, absolute and normalised, is
// one of the folders that hold the system as a whole.
bool IsSystemLevel(std::string_view path) {
  if (path.empty() || path.front() != '/') return true;  // not on the machine at all
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.find_last_of('/');
  const std::string_view parent = slash == 0 ? std::string_view("/") : path.substr(0, slash);
  return path == "/" || parent == "/" || parent == "/usr" || parent == "/var" || parent == "/usr/local";
}

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool IsSystemFolder(const std::string& folder) {
  if (folder.empty()) return false;
  std::vector<UserAccount> accounts = LoginAccounts();
  accounts.push_back(InvokingUser());
  std::vector<std::string> homes;
  for (const UserAccount& account : accounts) {
    if (account.home.empty()) continue;
    homes.push_back(WithoutSlash(AbsolutePath(account.home)));
    homes.push_back(WithoutSlash(ResolvedPath(account.home)));
  }
  const bool sandboxed = !SandboxRoot().empty();
  for (const std::string& form : {WithoutSlash(AbsolutePath(folder)), WithoutSlash(ResolvedPath(folder))}) {
    const std::string onMachine = PathOnMachine(form);
    // Outside the sandbox (where a link inside it may lead) is the real
    // machine: never a place for the sandboxed run.
    if ((sandboxed && onMachine == form) || IsSystemLevel(onMachine)) return true;
    for (const std::string& home : homes)
      if (form == home) return true;
  }
  return false;
}

std::string ParseUserDirs(std::string_view text, std::string_view key, std::string_view home) {
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    std::string_view line = Trim(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    const size_t equals = line.find('=');
    if (line.empty() || line.front() == '#' || equals == std::string_view::npos) continue;
    if (Trim(line.substr(0, equals)) != key) continue;
    const std::string value = Unquote(Trim(line.substr(equals + 1)));
    if (value == "$HOME") return std::string(home);
    // ".." never leads out of the home folder (nor out of the sandbox).
    if (value.rfind("$HOME/", 0) == 0) return std::string(home) + NormalizePath(value.substr(5));
    if (!value.empty() && value.front() == '/') return SystemPath(value);
    return {};
  }
  return {};
}

std::string GetSpecialFolder(SpecialFolder folder) {
  switch (folder) {
    case SpecialFolder::CommonPrograms:
    case SpecialFolder::CommonStartMenu: return SystemPath("/usr/local/share/applications/");
    case SpecialFolder::CommonAppData: return SystemPath("/var/lib/");
    case SpecialFolder::ProgramFiles: return SystemPath("/opt/");
    case SpecialFolder::System: return SystemPath("/usr/bin/");
    default: break;
  }
  const std::string home = InvokingUser().home;
  if (home.empty()) return {};
  switch (folder) {
    case SpecialFolder::Desktop:
    case SpecialFolder::CommonDesktop: return WithSlash(UserDir(home, "XDG_DESKTOP_DIR", "Desktop"));
    case SpecialFolder::Documents: return WithSlash(UserDir(home, "XDG_DOCUMENTS_DIR", "Documents"));
    case SpecialFolder::Music: return WithSlash(UserDir(home, "XDG_MUSIC_DIR", "Music"));
    case SpecialFolder::Pictures: return WithSlash(UserDir(home, "XDG_PICTURES_DIR", "Pictures"));
    case SpecialFolder::Videos: return WithSlash(UserDir(home, "XDG_VIDEOS_DIR", "Videos"));
    case SpecialFolder::AppData: return home + "/.config/";
    case SpecialFolder::LocalAppData: return home + "/.local/share/";
    case SpecialFolder::Programs:
    case SpecialFolder::StartMenu: return home + "/.local/share/applications/";
    default: return {};
  }
}

}  // namespace kel::platform
