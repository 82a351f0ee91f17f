// POSIX implementation of the account answers: the passwd database (through
// the C library, or DIR/etc/passwd in the sandbox) and the identity of the
// user behind sudo or pkexec. Only operating-system code lives here.
#include "kel/platform/users.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>

#include "kel/platform/sandbox.h"

namespace kel::platform {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::optional<uint32_t> EnvId(const char* name) {
  const std::string text = Env(name);
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFEu) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::vector<UserAccount> SandboxAccounts() {
  std::ifstream in(SystemPath("/etc/passwd"), std::ios::binary);
  if (!in) return {};
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParsePasswd(text);
}

UserAccount FromPasswd(const struct passwd& entry) {
  UserAccount account;
  account.name = entry.pw_name ? entry.pw_name : "";
  account.uid = entry.pw_uid;
  account.gid = entry.pw_gid;
  account.home = entry.pw_dir ? entry.pw_dir : "";
  account.shell = entry.pw_shell ? entry.pw_shell : "";
  return account;
}

std::optional<UserAccount> SystemAccount(uint32_t uid) {
  std::string buffer(16384, '\0');
  struct passwd entry;
  struct passwd* found = nullptr;
  while (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  if (!found) return std::nullopt;
  return FromPasswd(entry);
}

// A name that can stand in a path: no '/', not "." or "..".
std::string SafeName(std::string name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return "user";
  return name;
}

// Home folders as system paths.
std::string MappedHome(const std::string& home) {
  if (home.empty()) return {};
  std::string mapped = SystemPath(home.front() == '/' ? home : "/" + home);
  while (mapped.size() > 1 && mapped.back() == '/') mapped.pop_back();
  return mapped;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool HasLoginShell(const std::string& shell) {
  if (shell.empty()) return true;  // the database's default, /bin/sh
  const size_t slash = shell.find_last_of('/');
  const std::string name = slash == std::string::npos ? shell : shell.substr(slash + 1);
  return name != "nologin" && name != "false";
}

}  // namespace

UserAccount InvokingUser() {
  const bool elevated = IsSandboxed() || ::geteuid() == 0;
  uint32_t uid = ::getuid();
  std::optional<uint32_t> gid;
  std::string fallbackName;
  if (elevated && EnvId("SUDO_UID")) {
    uid = *EnvId("SUDO_UID");
    gid = EnvId("SUDO_GID");
    fallbackName = Env("SUDO_USER");
  } else if (elevated && EnvId("PKEXEC_UID")) {
    uid = *EnvId("PKEXEC_UID");
  }

  UserAccount account;
  std::optional<UserAccount> found;
  if (IsSandboxed()) {
    for (UserAccount& candidate : SandboxAccounts()) {
      if (candidate.uid == uid) {
        found = std::move(candidate);
        break;
      }
    }
  } else {
    found = SystemAccount(uid);
  }
  if (found) {
    account = std::move(*found);
  } else {
    if (fallbackName.empty()) fallbackName = Env("USER");
    if (fallbackName.empty()) fallbackName = Env("LOGNAME");
    account.name = SafeName(fallbackName);
    account.uid = uid;
    account.gid = uid;
    account.home = uid == 0 ? "/root" : "/home/" + account.name;
    if (!IsSandboxed() && uid == ::getuid() && !Env("HOME").empty()) account.home = Env("HOME");
  }
  if (gid) account.gid = *gid;
  account.home = MappedHome(account.home);
  return account;
}

std::vector<UserAccount> LoginAccounts() {
  std::vector<UserAccount> all;
  if (IsSandboxed()) {
    all = SandboxAccounts();
  } else {
    // getpwent keeps its position in the C library: one walk at a time.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    ::setpwent();
    while (const struct passwd* entry = ::getpwent()) all.push_back(FromPasswd(*entry));
    ::endpwent();
  }
  std::vector<UserAccount> accounts;
  for (UserAccount& account : all) {
    if (account.uid < 1000 || account.uid == 65534 || !HasLoginShell(account.shell)) continue;
    account.home = MappedHome(account.home);
    if (!IsDirectory(account.home)) continue;
    accounts.push_back(std::move(account));
  }
  return accounts;
}

}  // namespace kel::platform
