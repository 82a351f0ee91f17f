// Helper programs that report, as the first line written to a descriptor of
// theirs, where they can be reached (Xvfb its display number, dbus-daemon
// its address).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace orvi::test {

// The descriptor number the program gets the pipe as; name it in `argv`.
inline constexpr int kReportFd = 100;

// Starts argv[0] (searched in PATH) with its output and errors going to
// /dev/null and the writing end of a pipe as kReportFd, and returns the
// first line it writes there (without the line break), or "" when none
// comes within 20 seconds. `pid` is the process, -1 when it did not start.
std::string StartReportingProcess(const std::vector<std::string>& argv, pid_t& pid);

// Ends a process started so (SIGTERM) and waits for it; nothing for -1.
void StopReportingProcess(pid_t pid);

}  // namespace orvi::test
