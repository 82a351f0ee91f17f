// POSIX implementation of the desktop services: opening with xdg-open or by
// executing, desktop-entry shortcuts, update-desktop-database. Only
// operating-system code lives here.
#include "kel/platform/shell.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

extern char** environ;

#include "kel/platform/confined_folder.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/posix/command_line.h"
#include "kel/platform/posix/desktop_entry.h"
#include "kel/platform/posix/errors.h"
#include "kel/platform/posix/io.h"
#include "kel/platform/process.h"
#include "kel/platform/well_known_folders.h"
#include "kel/platform/users.h"

namespace kel::platform {

namespace {

// How long xdg-open may take to tell whether it could open something.
constexpr int kOpenerWaitMs = 5000;
// Desktop entries larger than this are not shortcuts of ours.
constexpr size_t kMaxEntrySize = 1 << 20;

bool Exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string WithoutExtension(std::string name) {
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace

namespace {

// What opening `target` runs: the program itself with its parameters, or
// xdg-open with the document. An empty command when there is nothing to run.
struct OpenCommand {
  std::vector<std::string> command;  // program first
  bool viaOpener = false;            // xdg-open, which reports failure by its exit code
};

OpenCommand ResolveOpen(const std::string& target, const std::string& parameters, std::string* error) {
  if (target.empty()) {
    if (error) *error = posix::ErrorText(ENOENT);
    return {};
  }
  // A program: an executable file, or a bare name found in $PATH.
  std::string program;
  if (Exists(target)) {
    if (IsExecutableFile(target)) program = target.find('/') == std::string::npos ? "./" + target : target;
  } else if (target.find('/') == std::string::npos && target.find(':') == std::string::npos) {
    program = FindExecutable(target);
  }
  if (!program.empty()) {
    std::vector<std::string> command = posix::SplitWindowsArguments(parameters);
    command.insert(command.begin(), program);
    return {std::move(command), false};
  }
  const std::string opener = FindExecutable("xdg-open");
  if (opener.empty()) {
    if (error) *error = "xdg-open is not installed.";
    return {};
  }
  return {{opener, Exists(target) ? AbsolutePath(target) : target}, true};
}

}  // namespace

bool ShellOpen(const std::string& target, const std::string& parameters, std::string* error) {
  OpenCommand open = ResolveOpen(target, parameters, error);
  if (open.command.empty()) return false;
  std::vector<std::string>& command = open.command;
  const std::string program = command.front();
  command.erase(command.begin());
  if (!open.viaOpener) {
    const StartResult started = StartProgram(program, command);
    if (!started.started && error) *error = started.error;
    return started.started;
  }
  const StartResult opened = StartProgram(program, command, kOpenerWaitMs);
  if (!opened.started) {
    if (error) *error = opened.error;
    return false;
  }
  if (opened.exited && opened.exitCode != 0) {
    if (error) *error = "xdg-open could not open \"" + command.front() + "\".";
    return false;
  }
  return true;
}

bool ShellOpenAsUser(const std::string& target, const std::string& parameters, const UserAccount& user,
                     std::string* error) {
  if (::geteuid() != 0 || user.uid == 0 || user.uid == ::geteuid()) return ShellOpen(target, parameters, error);
  std::vector<std::string> command = ResolveOpen(target, parameters, error).command;
  if (command.empty()) return false;

  // Everything the child needs is prepared here: between fork and exec only
  // async-signal-safe calls are made.
  std::vector<gid_t> groups(64);
  int groupCount = static_cast<int>(groups.size());
  if (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &groupCount) < 0) {
    groups.resize(static_cast<size_t>(groupCount));
    if (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &groupCount) < 0) groupCount = 0;
  }
  groups.resize(static_cast<size_t>(std::max(groupCount, 0)));
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view variable(*entry);
    if (variable.starts_with("HOME=") || variable.starts_with("USER=") || variable.starts_with("LOGNAME=") ||
        variable.starts_with("XDG_RUNTIME_DIR=") || variable.starts_with("SUDO_") || variable.starts_with("PKEXEC_"))
      continue;
    environment.emplace_back(variable);
  }
  environment.push_back("HOME=" + user.home);
  environment.push_back("USER=" + user.name);
  environment.push_back("LOGNAME=" + user.name);
  const std::string runtime = "/run/user/" + std::to_string(user.uid);
  if (IsDirectory(runtime)) environment.push_back("XDG_RUNTIME_DIR=" + runtime);
  std::vector<char*> argv, envp;
  for (std::string& item : command) argv.push_back(item.data());
  argv.push_back(nullptr);
  for (std::string& item : environment) envp.push_back(item.data());
  envp.push_back(nullptr);
  const std::string home = user.home;

  const pid_t child = ::fork();
  if (child < 0) {
    posix::ReportErrno(error);
    return false;
  }
  if (child == 0) {
    // The child starts a grandchild and ends at once, so the opened program
    // is nobody's zombie; the grandchild drops root before it executes.
    if (::fork() != 0) ::_exit(0);
    ::setsid();
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0 ||
        ::setuid(0) == 0)
      ::_exit(127);
    if (::chdir(home.c_str()) != 0 && ::chdir("/") != 0) ::_exit(127);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  int status;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

void NotifyApplicationsChanged() {
  if (FindExecutable("update-desktop-database").empty()) return;
  std::vector<std::string> folders = {GetSpecialFolder(SpecialFolder::CommonPrograms)};
  const UserAccount user = InvokingUser();
  // Only the user's own process works in the user's folder: files of
  // root's would be left there, and a link there could lead root's tool
  // anywhere.
  if (user.uid == ::geteuid()) folders.push_back(GetSpecialFolder(SpecialFolder::Programs));
  for (const std::string& folder : folders) {
    if (!folder.empty() && IsDirectory(folder)) RunProgram("update-desktop-database", {"-q", folder});
  }
}

namespace {

// The desktop entry of a shortcut to `target` named after the link file.
std::optional<std::string> ShortcutText(const std::string& linkFile, const std::string& target) {
  if (linkFile.empty()) return std::nullopt;
  const size_t slash = linkFile.find_last_of('/');
  return posix::FormatDesktopEntry(WithoutExtension(slash == std::string::npos ? linkFile : linkFile.substr(slash + 1)),
                                   target);
}

// The target of the desktop entry an open descriptor reads; closes it.
std::string ShortcutTargetOf(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<size_t>(info.st_size) > kMaxEntrySize) {
    ::close(fd);
    return {};
  }
  std::string text(static_cast<size_t>(info.st_size), '\0');
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  text.resize(done);
  return posix::ParseDesktopEntryTarget(text);
}

}  // namespace

bool WriteShortcut(const std::string& linkFile, const std::string& target, std::string* error) {
  const std::optional<std::string> text = ShortcutText(linkFile, target);
  if (!text) {
    if (error) *error = posix::ErrorText(EINVAL);
    return false;
  }
  // Written beside the link and renamed over it: never half a shortcut.
  const size_t slash = linkFile.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : linkFile.substr(0, slash + 1);
  std::string temporary = (slash == std::string::npos ? "./" : folder) + ".shortcut-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    posix::ReportErrno(error);
    return false;
  }
  bool ok = posix::WriteAll(fd, text->data(), text->size());
  int code = ok ? 0 : errno;
  if (ok && ::fchmod(fd, 0755) != 0) ok = false, code = errno;
  if (::close(fd) != 0 && ok) ok = false, code = errno;
  if (ok && ::rename(temporary.c_str(), linkFile.c_str()) != 0) ok = false, code = errno;
  if (!ok) {
    ::unlink(temporary.c_str());
    if (error) *error = posix::ErrorText(code);
  }
  return ok;
}

bool WriteShortcut(const ConfinedFolder& folder, const std::string& relative, const std::string& target,
                   std::string* error) {
  const std::optional<std::string> text = ShortcutText(relative, target);
  if (!text) {
    if (error) *error = posix::ErrorText(EINVAL);
    return false;
  }
  return folder.WriteFile(relative, *text, 0755, error);
}

std::string ReadShortcutTarget(const std::string& linkFile) {
  if (linkFile.empty()) return {};
  int fd;
  do {
    fd = ::open(linkFile.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? std::string() : ShortcutTargetOf(fd);
}

std::string ReadShortcutTarget(const ConfinedFolder& folder, const std::string& relative) {
  const FileHandle fd = folder.OpenFile(relative, FileShare::ReadWrite);
  return fd == kInvalidFile ? std::string() : ShortcutTargetOf(static_cast<int>(fd));
}

}  // namespace kel::platform
