// POSIX implementation of the elevated start. Only operating-system code
// lives here.
#include "kel/platform/elevation.h"

#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "kel/platform/file_details.h"
#include "kel/platform/posix/errors.h"
#include "kel/platform/process.h"
#include "kel/platform/sandbox.h"

extern char** environ;

namespace kel::platform {

namespace {

// What an elevated program needs of the user's session to show its windows
// in it and to open programs there, in the user's language.
bool IsSessionVariable(std::string_view name) {
  static constexpr std::string_view kExact[] = {"DISPLAY",         "XAUTHORITY", "WAYLAND_DISPLAY",
                                                "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS",
                                                "LANG",            "LANGUAGE",   "QT_QPA_PLATFORM"};
  for (std::string_view exact : kExact)
    if (name == exact) return true;
  return name.starts_with("LC_");
}

// Who asked for the rights, as pkexec or sudo tell it.
bool IsInvokerVariable(std::string_view name) {
  return name == "PKEXEC_UID" || name == "SUDO_UID" || name == "SUDO_GID" || name == "SUDO_USER";
}

std::string_view VariableName(std::string_view entry) { return entry.substr(0, entry.find('=')); }

// A sandboxed run is a test's: the script of its wizard's answers goes on
// to the elevated copy.
bool IsTestHookVariable(std::string_view name) { return IsSandboxed() && name == kWizardScriptVariable; }

// The sandbox as the elevated program is told it: absolute, so that its
// own current folder plays no part.
std::string SandboxFolder() { return SandboxRoot().empty() ? "/" : SandboxRoot(); }

// The elevation program and its own arguments, or empty when there is none.
std::vector<std::string> ElevationCommand() {
  if (const char* named = std::getenv(kElevatorVariable); named && *named) return {named};
  if (std::string pkexec = FindExecutable("pkexec"); !pkexec.empty()) return {pkexec};
  if (std::string sudo = FindExecutable("sudo"); !sudo.empty()) {
    if (const char* askpass = std::getenv("SUDO_ASKPASS"); askpass && *askpass) return {sudo, "-A"};
    if (::isatty(STDIN_FILENO)) return {sudo};
  }
  return {};
}

}  // namespace

ElevatedRun RunElevated(const std::string& program, const std::vector<std::string>& arguments,
                        const std::function<void()>& whileWaiting) {
  ElevatedRun run;
  std::vector<std::string> command = ElevationCommand();
  if (command.empty()) {
    run.error = "No way to ask for administrator rights: neither pkexec nor sudo is available.";
    return run;
  }
  // pkexec and a stand-in named for tests report a refusal by their exit
  // code; sudo cannot tell it apart from the program's own failure.
  const bool reportsRefusal = command.size() == 1;
  // The system's env: one found through the user's PATH would be what the
  // administrator is asked to run as root.
  command.push_back("/usr/bin/env");
  for (char** entry = environ; *entry; ++entry)
    if (IsSessionVariable(VariableName(*entry)) || IsTestHookVariable(VariableName(*entry)))
      command.emplace_back(*entry);
  if (IsSandboxed()) command.push_back(std::string(kSandboxVariable) + "=" + SandboxFolder());
  if (!std::getenv("XAUTHORITY") && std::getenv("DISPLAY") && std::getenv("HOME")) {
    const std::string cookie = std::string(std::getenv("HOME")) + "/.Xauthority";
    if (::access(cookie.c_str(), R_OK) == 0) command.push_back("XAUTHORITY=" + cookie);
  }
  command.push_back(program);
  command.insert(command.end(), arguments.begin(), arguments.end());

  std::vector<char*> argv;
  for (std::string& item : command) argv.push_back(item.data());
  argv.push_back(nullptr);
  pid_t pid;
  const int code = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (code != 0) {
    run.error = posix::ErrorText(code);
    return run;
  }
  for (;;) {
    int status;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      run.exitCode = posix::ExitCodeOf(status);
      break;
    }
    if (done < 0 && errno != EINTR) {
      run.error = posix::ErrorText(errno);
      return run;
    }
    if (whileWaiting) whileWaiting();
    else ::usleep(100 * 1000);
  }
  if (reportsRefusal && (run.exitCode == 126 || run.exitCode == 127)) {
    run.refused = true;
    return run;
  }
  run.started = true;
  return run;
}

bool BuildElevatedEnvironment(std::string* problem) {
  std::vector<std::string> kept;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view name = VariableName(*entry);
    if (IsSessionVariable(name) || IsInvokerVariable(name) || IsTestHookVariable(name)) kept.emplace_back(*entry);
  }
  if (IsSandboxed()) {
    const std::string root = SandboxFolder();
    // Not even a sticky one: others could make the machine's folders in it.
    FileDetails details;
    if (::geteuid() == 0 && (!OnlyAdministratorMayChange(root) || !GetFileDetails(root, details) ||
                             (details.permissions & (S_IWGRP | S_IWOTH)) != 0)) {
      if (problem)
        *problem = "The sandbox \"" + root +
                   "\" cannot be used with administrator rights: it, or a folder above it, does not belong to the "
                   "administrator or can be changed by other users.";
      return false;
    }
    kept.push_back(std::string(kSandboxVariable) + "=" + root);
  }
  const struct passwd* account = ::getpwuid(::geteuid());
  const std::string home = account && account->pw_dir ? account->pw_dir : "/";
  const std::string name = account && account->pw_name ? account->pw_name : "";

  ::clearenv();
  ::setenv("PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", 1);
  ::setenv("HOME", home.c_str(), 1);
  if (!name.empty()) {
    ::setenv("USER", name.c_str(), 1);
    ::setenv("LOGNAME", name.c_str(), 1);
  }
  for (const std::string& variable : kept) {
    const size_t equals = variable.find('=');
    if (equals != std::string::npos)
      ::setenv(variable.substr(0, equals).c_str(), variable.c_str() + equals + 1, 1);
  }
  return true;
}

}  // namespace kel::platform
