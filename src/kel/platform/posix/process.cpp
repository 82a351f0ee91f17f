// POSIX implementation of elevation and of starting programs. Only
// operating-system code lives here.
#include "kel/platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "kel/platform/posix/errors.h"
#include "kel/platform/sandbox.h"

extern char** environ;

namespace kel::platform {

namespace {

// What the monitor process reports to the caller of StartProgram.
struct Report {
  int execError;  // errno of a failed fork or exec, 0 when the program runs
  int exited;     // 1 when it ended within the wait
  int status;     // its wait status
};

void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

bool ReadAll(int fd, void* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Only async-signal-safe calls from here on: the forked children of a
// threaded program may not take locks or allocate.
void WriteAll(int fd, const void* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

int CodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

[[noreturn]] void RunMonitor(const char* path, char* const* argv, int execPipe[2], int reportPipe, int waitMs) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  Report report{0, 0, 0};
  const pid_t program = ::fork();
  const int forkError = errno;
  if (program == 0) {
    ::close(execPipe[0]);
    ::setsid();
    ::execv(path, argv);
    const int code = errno;
    WriteAll(execPipe[1], &code, sizeof code);
    ::_exit(127);
  }
  ::close(execPipe[1]);
  if (program < 0) {
    report.execError = forkError;
  } else {
    int code = 0;
    ssize_t n;
    do {
      n = ::read(execPipe[0], &code, sizeof code);
    } while (n < 0 && errno == EINTR);
    if (n > 0) report.execError = code != 0 ? code : ENOEXEC;
    if (report.execError != 0) {
      int status;
      ::waitpid(program, &status, 0);
    } else {
      // The exec pipe closed: the program runs. Watch it for the wait.
      const struct timespec slice = {0, 10 * 1000 * 1000};
      for (int waited = 0; waited < waitMs; waited += 10) {
        int status;
        if (::waitpid(program, &status, WNOHANG) == program) {
          report.exited = 1;
          report.status = status;
          break;
        }
        ::nanosleep(&slice, nullptr);
      }
    }
  }
  WriteAll(reportPipe, &report, sizeof report);
  ::_exit(0);
}

}  // namespace

bool IsElevated() { return IsSandboxed() || ::geteuid() == 0; }

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
  // Everything the children need is prepared before forking.
  std::vector<std::string> storage;
  storage.reserve(arguments.size() + 1);
  storage.push_back(executable);
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& item : storage) argv.push_back(item.data());
  argv.push_back(nullptr);

  int execPipe[2], reportPipe[2];
  if (::pipe2(execPipe, O_CLOEXEC) != 0) {
    result.error = posix::ErrorText(errno);
    return result;
  }
  if (::pipe2(reportPipe, O_CLOEXEC) != 0) {
    result.error = posix::ErrorText(errno);
    CloseQuietly(execPipe[0]);
    CloseQuietly(execPipe[1]);
    return result;
  }
  const pid_t monitor = ::fork();
  if (monitor == 0) {
    ::close(reportPipe[0]);
    RunMonitor(path.c_str(), argv.data(), execPipe, reportPipe[1], waitMilliseconds);
  }
  const int forkError = errno;
  CloseQuietly(execPipe[0]);
  CloseQuietly(execPipe[1]);
  CloseQuietly(reportPipe[1]);
  if (monitor < 0) {
    CloseQuietly(reportPipe[0]);
    result.error = posix::ErrorText(forkError);
    return result;
  }
  Report report{};
  const bool reported = ReadAll(reportPipe[0], &report, sizeof report);
  CloseQuietly(reportPipe[0]);
  int status;
  while (::waitpid(monitor, &status, 0) < 0 && errno == EINTR) {
  }
  if (!reported) {
    result.error = posix::ErrorText(ECHILD);
  } else if (report.execError != 0) {
    result.error = posix::ErrorText(report.execError);
  } else {
    result.started = true;
    result.exited = report.exited != 0;
    if (result.exited) result.exitCode = CodeOf(report.status);
  }
  return result;
}

int RunProgram(const std::string& executable, const std::vector<std::string>& arguments, std::string* error) {
  std::vector<std::string> storage;
  storage.reserve(arguments.size() + 1);
  storage.push_back(executable);
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& item : storage) argv.push_back(item.data());
  argv.push_back(nullptr);
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
  return CodeOf(status);
}

}  // namespace kel::platform
