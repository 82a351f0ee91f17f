// POSIX implementation of the elevated start. Only operating-system code
// lives here.
#include "kel/platform/elevation.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "kel/platform/posix/errors.h"
#include "kel/platform/process.h"

extern char** environ;

namespace kel::platform {

namespace {

bool HandedOn(std::string_view name) {
  static constexpr std::string_view kExact[] = {"DISPLAY",         "XAUTHORITY", "WAYLAND_DISPLAY",
                                                "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS",
                                                "LANG",            "LANGUAGE",   "TMPDIR"};
  for (std::string_view exact : kExact)
    if (name == exact) return true;
  // The sandbox's elevation switch describes this process, not the elevated
  // one: the elevation program decides it for the child.
  if (name == kSandboxElevatedVariable) return false;
  return name.starts_with("LC_") || name.starts_with("ORVI_SETUP_");
}

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
  command.push_back(FindExecutable("env").empty() ? "/usr/bin/env" : FindExecutable("env"));
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view variable(*entry);
    const size_t equals = variable.find('=');
    if (equals != std::string_view::npos && HandedOn(variable.substr(0, equals))) command.emplace_back(variable);
  }
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

}  // namespace kel::platform
