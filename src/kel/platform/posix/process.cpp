// POSIX implementation of elevation, of starting programs and of watching
// other processes (Linux: /proc/<id>/stat). Only operating-system code lives
// here.
#include "kel/platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

#include "kel/platform/posix/command_line.h"
#include "kel/platform/posix/errors.h"
#include "kel/platform/sandbox.h"

extern char** environ;

namespace kel::platform {

namespace {

// Arguments as the C library wants them; `storage` keeps the strings.
std::vector<char*> MakeArgv(const std::string& program, const std::vector<std::string>& arguments,
                            std::vector<std::string>& storage) {
  storage.reserve(arguments.size() + 1);
  storage.push_back(program);
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& item : storage) argv.push_back(item.data());
  argv.push_back(nullptr);
  return argv;
}

// What /proc/<id>/stat says of a process: its state letter and the time it
// started (clock ticks after boot).
struct ProcessStat {
  char state = 0;
  uint64_t startTime = 0;
};

// The line is "pid (command) state ..." with the start time as its 22nd
// field; the command may hold spaces and parentheses, so the fields are
// counted from the last ')'.
std::optional<ProcessStat> ReadProcessStat(uint32_t id) {
  if (id == 0) return std::nullopt;
  std::ifstream file("/proc/" + std::to_string(id) + "/stat");
  std::ostringstream content;
  if (!(content << file.rdbuf())) return std::nullopt;
  const std::string text = content.str();
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 1));
  std::string state, field;
  fields >> state;  // field 3
  for (int number = 4; number <= 22; ++number) fields >> field;  // up to the start time
  if (!fields || state.size() != 1) return std::nullopt;
  ProcessStat stat;
  const auto [end, code] = std::from_chars(field.data(), field.data() + field.size(), stat.startTime);
  if (code != std::errc() || end != field.data() + field.size()) return std::nullopt;
  stat.state = state[0];
  return stat;
}

// A zombie (ended, not yet collected by its parent) or a dead process.
bool HasEnded(const ProcessStat& stat) { return stat.state == 'Z' || stat.state == 'X' || stat.state == 'x'; }

}  // namespace

bool IsElevated() {
  if (IsSandboxed()) {
    const char* elevated = std::getenv(kSandboxElevatedVariable);
    return !(elevated && std::string_view(elevated) == "0");
  }
  return ::geteuid() == 0;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::string FindExecutable(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    const std::string candidate = (dir.empty() ? std::string(".") : std::string(dir)) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) return {};
    dirs.remove_prefix(colon + 1);
  }
}

StartResult StartProgram(const std::string& executable, const std::vector<std::string>& arguments,
                         int waitMilliseconds) {
  StartResult result;
  const std::string path = FindExecutable(executable);
  if (path.empty()) {
    result.error = posix::ErrorText(ENOENT);
    return result;
  }
  std::vector<std::string> storage;
  std::vector<char*> argv = MakeArgv(executable, arguments, storage);

  // A session of its own, no blocked signals, default handling of the
  // signals a shell would reset.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  pid_t pid;
  const int code = ::posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (code != 0) {  // the C library reports a failed exec here too
    result.error = posix::ErrorText(code);
    return result;
  }
  result.started = true;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMilliseconds, 0));
  for (;;) {
    int status;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      result.exited = true;
      result.exitCode = posix::ExitCodeOf(status);
      return result;
    }
    if (done < 0 && errno != EINTR) return result;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Still running: a thread collects its exit status whenever it comes.
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return result;
}

int RunProgram(const std::string& executable, const std::vector<std::string>& arguments, std::string* error) {
  std::vector<std::string> storage;
  std::vector<char*> argv = MakeArgv(executable, arguments, storage);
  pid_t pid;
  const int code = ::posix_spawnp(&pid, executable.c_str(), nullptr, nullptr, argv.data(), environ);
  if (code != 0) {
    if (error) *error = posix::ErrorText(code);
    return -1;
  }
  int status;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      posix::ReportErrno(error);
      return -1;
    }
  }
  return posix::ExitCodeOf(status);
}

int RunCommandLine(const std::string& commandLine, std::string* error) {
  std::string_view line = commandLine;
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  std::string program;
  std::string_view rest;
  if (!line.empty() && line.front() == '"') {
    const size_t close = line.find('"', 1);
    program = std::string(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    rest = close == std::string_view::npos ? std::string_view() : line.substr(close + 1);
  } else {
    size_t end = 0;
    for (;;) {
      end = line.find(' ', end);
      const std::string candidate(line.substr(0, end));
      if (!FindExecutable(candidate).empty() || end == std::string_view::npos) {
        program = candidate;
        rest = end == std::string_view::npos ? std::string_view() : line.substr(end + 1);
        break;
      }
      ++end;
    }
  }
  return RunProgram(program, posix::SplitWindowsArguments(rest), error);
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

std::optional<ProcessIdentity> IdentifyProcess(uint32_t id) {
  const std::optional<ProcessStat> stat = ReadProcessStat(id);
  if (!stat || HasEnded(*stat)) return std::nullopt;
  return ProcessIdentity{id, stat->startTime};
}

bool IsProcessRunning(const ProcessIdentity& process) {
  const std::optional<ProcessStat> stat = ReadProcessStat(process.id);
  return stat && !HasEnded(*stat) && stat->startTime == process.startTime;
}

}  // namespace kel::platform
