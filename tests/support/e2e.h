// Running the built programs (the demo Setup, installed uninstallers, tools)
// as a user would, inside a sandbox machine, for end-to-end tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "support/testlib/environment.h"

namespace orvi::test {

// The demo Setup the build made (build/demo/Setup).
std::string DemoSetupPath();
// A program of the build tree ("tools/setup-pack/setup-pack").
std::string BuiltProgram(const std::string& relativePath);

struct RunOptions {
  // Extra environment, "NAME=value" ("NAME=" unsets NAME).
  std::vector<std::string> environment;
  // Text for the program's standard input (empty: /dev/null).
  std::string input;
  // The program's current folder (empty: the test's).
  std::string workingDirectory;
  int timeoutSeconds = 300;
};

// A program started in the sandbox (as RunInSandbox does) whose output is
// read while it runs. Its process group is killed when it is dropped
// unfinished.
class RunningProgram {
 public:
  RunningProgram(const Sandbox& sandbox, const std::string& program, const std::vector<std::string>& args,
                 const RunOptions& options = {});
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  // Reads the output until `text` appears after the previous match (or
  // the start), the output ends or the time is up; true when it appeared.
  bool WaitForOutput(const std::string& text, int timeoutSeconds);
  // Reads the output to its end (or the options' timeout, then kills the
  // program) and waits for the program: its exit status (128 + signal when
  // killed, -1 when it could not run).
  int Finish();
  const std::string& Output() const { return output_; }

 private:
  // Reads what is there within the time; false once the output has ended.
  bool ReadSome(int timeoutMilliseconds);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int timeoutSeconds_;
  std::string output_;
  size_t searchFrom_ = 0;
  int status_ = -1;
};

// Runs `program` with `args` and ORVI_SETUP_SANDBOX set to the sandbox and
// waits for it. Standard output and error are collected into `output`.
// Returns the exit status (128 + signal when killed, -1 when it could not
// run).
int RunSetup(const Sandbox& sandbox, const std::vector<std::string>& args, std::string* output = nullptr,
             const RunOptions& options = {});
int RunInSandbox(const Sandbox& sandbox, const std::string& program, const std::vector<std::string>& args,
                 std::string* output = nullptr, const RunOptions& options = {});

// Writes an uninstall package (Uninstall.dat) whose log lists the entries.
void WriteUninstallData(const std::string& path, const std::vector<std::string>& entries);

// Every file (and link) below the folder, relative to it, sorted; empty
// when the folder does not exist.
std::vector<std::string> TreeOf(const std::string& folder);

// Reads an INI value the simple way (first "[section]" then "key="), for
// checking files the setup wrote; "" when missing.
std::string IniValue(const std::string& text, const std::string& section, const std::string& key);
// The file's text with UTF-16LE (FF FE) or UTF-8 (EF BB BF) marks decoded.
std::string ReadTextFile(const std::string& path);

}  // namespace orvi::test
