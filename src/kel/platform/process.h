// This process and the programs it starts: elevation, the version of the
// system in Windows terms, starting programs, and whether another process
// still runs.
//
// Result contract: none of these routines throws; failures are reported by
// the result and, where an `error` is taken, by the system's error text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kel::platform {

// Administrator rights: the effective user is root. In the sandbox the
// process counts as elevated unless ORVI_SETUP_SANDBOX_ELEVATED is "0", which
// lets tests walk the elevated relaunch: a stand-in for the elevation program
// then sets it to "1" for the program it starts.
inline constexpr const char* kSandboxElevatedVariable = "ORVI_SETUP_SANDBOX_ELEVATED";
bool IsElevated();

// The Windows version this system stands for. Linux answers Windows 10
// (10.0.19045), never 11. ORVI_SETUP_OS_VERSION ("6.1", "10.0.22631", ...)
// overrides the answer so that tests can exercise older-version behaviour;
// a value that is not a version is ignored.
struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
};
inline constexpr const char* kOsVersionVariable = "ORVI_SETUP_OS_VERSION";
OsVersion GetOsVersion();

// The full path of an executable file: `name` itself when it contains a '/'
// (and is an executable file), else the first match in $PATH; "" when there
// is none.
std::string FindExecutable(const std::string& name);

// True when `path` is a regular file that this process may execute.
bool IsExecutableFile(const std::string& path);

// Starts a program detached from this process: it gets its own session,
// outlives this process and never stays behind as a zombie. `arguments` do
// not include the program name. When `waitMilliseconds` is above 0 the call
// waits that long for the program to end and reports its exit code.
struct StartResult {
  bool started = false;  // the program was executed
  bool exited = false;   // ... and ended within the wait
  int exitCode = 0;      // its exit code (128 + signal when killed)
  std::string error;     // why it could not be started
};
StartResult StartProgram(const std::string& executable, const std::vector<std::string>& arguments,
                         int waitMilliseconds = 0);

// Runs a program and waits for it; its exit code, or -1 when it could not be
// started (128 + signal when it was killed). The executable is searched in
// $PATH when it has no '/'.
int RunProgram(const std::string& executable, const std::vector<std::string>& arguments,
               std::string* error = nullptr);

// Runs a command line written the Windows way and waits for it to end. The
// program is a leading quoted path, or else the shortest prefix of the line
// ending before a space that names an executable file, directly or through
// $PATH (so a program path with spaces needs no quotes); the rest are its parameters, split as Windows
// programs split them. Its exit code, or -1 when no program could be started.
int RunCommandLine(const std::string& commandLine, std::string* error = nullptr);

// The id of this process.
uint32_t CurrentProcessId();

// A process of this machine. The time it started tells it apart from a
// later process that is given the same id once it has ended.
struct ProcessIdentity {
  uint32_t id = 0;
  uint64_t startTime = 0;  // as the system counts it; compared, never shown
  bool operator==(const ProcessIdentity&) const = default;
};

// The process that runs under this id now; nullopt when none does (or the
// system cannot tell).
std::optional<ProcessIdentity> IdentifyProcess(uint32_t id);

// Whether the process still runs. One that has ended but has not been
// collected by its parent yet has ended.
bool IsProcessRunning(const ProcessIdentity& process);

}  // namespace kel::platform
