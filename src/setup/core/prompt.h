// Questions and messages that need the user: the wizard shows them as
// dialogs, a run without a window asks on the terminal or answers on its own.
// All of them are called on the user-interface thread.
#pragma once

#include <string>

namespace setup {

enum class TSetupAnswer { Abort, Retry, Ignore };

class ISetupUserPrompt {
 public:
  virtual ~ISetupUserPrompt() = default;
  // A warning with the buttons Abort, Retry and Ignore, Retry the default.
  virtual TSetupAnswer AskAbortRetryIgnore(const std::string& text) = 0;
  // The error box of the program, captioned "Setup".
  virtual void ShowError(const std::string& text) = 0;
};

}  // namespace setup
