// What the end-to-end tests of the wizard share: the built demo Setup run
// in a sandbox machine with its windows on Qt's offscreen platform, driven
// by a script of clicks and answers (ORVI_SETUP_WIZARD_SCRIPT), and readers
// of what it left on the machine.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace orvi::test {

namespace fs = std::filesystem;
using Files = std::vector<std::string>;

// The registry store's entries of installed applications, with the sandbox
// folder written as <machine>.
inline std::string RegistryEntries(const Sandbox& sandbox) {
  std::string output;
  EXPECT_EQ(RunInSandbox(sandbox, BuiltProgram("tools/setup-registry/setup-registry"), {}, &output), 0) << output;
  for (size_t at; (at = output.find(sandbox.Root())) != std::string::npos;)
    output.replace(at, sandbox.Root().size(), "<machine>");
  return output;
}

// From the welcome page to the setup page (the licence accepted).
inline const char kToSetupPage[] =
    "page:PageWelcome; click:bNext; page:PageLicense; click:L1; click:bNext; page:PageSetup;";
// A fresh installation with the choices as they come; at the end only the
// player is started.
inline const std::string kInstallScript = std::string("answer:English;") + kToSetupPage +
                                          "click:bNext; page:PageIntegration; click:bNext; page:PageReadyToInstall;"
                                          "click:bNext; page:PageFinish; click:CB2; click:bNext";

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(DemoSetupPath())) << "build the target demo_setup first";
    sandbox_.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
  }

  // Runs a program of the sandbox with the wizard on the offscreen platform
  // and the script; English.
  int Run(const std::string& program, const Files& args, const std::string& script, std::string* output,
          Files environment = {}) {
    RunOptions options;
    options.environment = {"LANG=en_US.UTF-8", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "DISPLAY=",
                           "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime_.Path(),
                           "ORVI_SETUP_WIZARD_SCRIPT=" + script, "ORVI_DEMO_LOG=" + playerLog_};
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    options.timeoutSeconds = 120;
    return RunInSandbox(sandbox_, program, args, output, options);
  }

  std::string PlayerStarts() const { return fs::exists(playerLog_) ? ReadFileBytes(playerLog_) : ""; }

  TempDir runtime_;
  TempDir tools_;
  const std::string playerLog_ = tools_ / "orvi.log";
  Sandbox sandbox_;
  const std::string destination_ = sandbox_ / "/opt/ORVI/";
};

}  // namespace orvi::test
