// Running the built programs (the demo Setup, installed uninstallers, tools)
// as a user would, inside a sandbox machine, for end-to-end tests.
#pragma once

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

// Reads an INI value the simple way (first "[section]" then "key="), for
// checking files the setup wrote; "" when missing.
std::string IniValue(const std::string& text, const std::string& section, const std::string& key);
// The file's text with UTF-16LE (FF FE) or UTF-8 (EF BB BF) marks decoded.
std::string ReadTextFile(const std::string& path);

// The [Uninstall] section of an installation's log (its Uninstall.dat,
// unpacked with setup-pack), line by line: "0=ORVI", "Count=18", ...
std::vector<std::string> UninstallLog(const Sandbox& sandbox, const std::string& destination);

}  // namespace orvi::test
