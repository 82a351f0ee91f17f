// Environment helpers of the platform tests: a variable set for a scope, and
// a sandbox machine (ORVI_SETUP_SANDBOX) in a temporary folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "support/temp_dir.h"

namespace orvi::test {

// Sets (or, with nullptr, removes) an environment variable and restores the
// old state when it goes away.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A machine in a temporary folder. While it lives ORVI_SETUP_SANDBOX points
// at it, and the identity variables of sudo and pkexec are cleared so that
// the invoking user is the test's own unless a test sets them.
class Sandbox {
 public:
  Sandbox() : env_("ORVI_SETUP_SANDBOX", dir_.Path().c_str()) {}

  const std::string& Root() const { return dir_.Path(); }
  // Root() + path, path being absolute ("/opt/").
  std::string operator/(const std::string& path) const { return dir_.Path() + path; }

  // Writes DIR + path (absolute), making its folders; returns the full path.
  std::string WriteFile(const std::string& path, std::string_view bytes) const {
    return dir_.WriteFile(path.substr(1), bytes);
  }

  // Adds a line to DIR/etc/passwd; with `makeHome` the home folder is made.
  void AddAccount(const std::string& name, unsigned uid, const std::string& home, const std::string& shell,
                  bool makeHome) const {
    const std::string passwd = *this / "/etc/passwd";
    std::filesystem::create_directories(dir_.Path() + "/etc");
    std::string text;
    if (std::filesystem::exists(passwd)) text = ReadFileBytes(passwd);
    text += name + ":x:" + std::to_string(uid) + ":" + std::to_string(uid) + ":" + name + ":" + home + ":" + shell +
            "\n";
    WriteFileBytes(passwd, text);
    if (makeHome) std::filesystem::create_directories(*this / home);
  }

 private:
  TempDir dir_;
  ScopedEnv env_;
  ScopedEnv sudoUid_{"SUDO_UID", nullptr};
  ScopedEnv sudoGid_{"SUDO_GID", nullptr};
  ScopedEnv sudoUser_{"SUDO_USER", nullptr};
  ScopedEnv pkexecUid_{"PKEXEC_UID", nullptr};
};

}  // namespace orvi::test
