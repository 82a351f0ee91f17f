#include "setup/core/front_end.h"

#include <iostream>
#include <string>

#include "kel/base/text.h"
#include "kel/platform/terminal.h"
#include "setup/core/notify.h"
#include "setup/core/session.h"

namespace setup {

namespace {

// Asks on the terminal; without one nobody can answer, and the safe answer
// is to stop.
class TTerminalPrompt : public ISetupUserPrompt {
 public:
  TSetupAnswer AskAbortRetryIgnore(const std::string& text) override {
    if (!kel::platform::IsTerminal(kel::platform::StandardStream::Input)) {
      std::cerr << text << "\n(no terminal to answer on: Abort)\n";
      return TSetupAnswer::Abort;
    }
    for (;;) {
      std::cerr << text << "\n[A]bort, [R]etry or [I]gnore? [R] " << std::flush;
      std::string line;
      if (!std::getline(std::cin, line)) return TSetupAnswer::Abort;
      const std::string_view answer = kel::kelTrim(line);
      if (answer.empty() || kel::kelSameTextAscii(answer, "r") || kel::kelSameTextAscii(answer, "retry"))
        return TSetupAnswer::Retry;
      if (kel::kelSameTextAscii(answer, "a") || kel::kelSameTextAscii(answer, "abort")) return TSetupAnswer::Abort;
      if (kel::kelSameTextAscii(answer, "i") || kel::kelSameTextAscii(answer, "ignore")) return TSetupAnswer::Ignore;
    }
  }

  void ShowError(const std::string& text) override { std::cerr << "Setup: " << text << "\n" << std::flush; }
};

// Prints the status texts and the overall percentage of a run.
class TConsoleProgress : public IInstallerNotify {
 public:
  void Notify(int code, intptr_t value) override {
    if (code == neStatusText) {
      std::cerr << StatusTextOf(value) << "\n";
    } else if (code == neProgress) {
      const int overall = OverallPercentOf(value);
      if (overall != lastPercent_) {
        lastPercent_ = overall;
        std::cerr << "  " << overall << "%\n";
      }
    }
  }

 private:
  int lastPercent_ = -1;
};

}  // namespace

std::unique_ptr<ISetupDispatcher> TSetupConsoleFrontEnd::CreateDispatcher() {
  return std::make_unique<TSetupQueueDispatcher>();
}

std::unique_ptr<ISetupUserPrompt> TSetupConsoleFrontEnd::CreatePrompt() { return std::make_unique<TTerminalPrompt>(); }

void TSetupConsoleFrontEnd::FollowRun(TSetup& session) {
  TConsoleProgress progress;
  session.AddListener(&progress);
  session.Start(true);
  session.RemoveListener(&progress);
}

void TSetupConsoleFrontEnd::ShowError(const std::string& message) {
  // Messages use CR LF between lines (the error list's text); a terminal
  // wants LF.
  std::string text;
  for (char c : kel::kelTrimRight(message))
    if (c != '\r') text += c;
  std::cerr << "Setup: " << text << "\n" << std::flush;
}

}  // namespace setup
