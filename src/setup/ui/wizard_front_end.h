// The front end of the Setup program on a desktop: the language dialog, the
// wizard, message boxes for questions and errors. A silent run, and a run
// that finds no display to show windows on, are served by the console front
// end instead (questions on the terminal, errors on standard error); errors
// always go to standard error too.
#pragma once

#include <memory>

#include "setup/core/front_end.h"
#include "setup/ui/language_dialog.h"

class QApplication;

namespace setup {

class TWizardScript;

// Questions of the worker as message boxes.
class TWizardPrompt : public ISetupUserPrompt {
 public:
  // A warning over the active window, Retry the default.
  TSetupAnswer AskAbortRetryIgnore(const std::string& text) override;
  // The "Setup" error box.
  void ShowError(const std::string& text) override;
};

class TWizardFrontEnd : public ISetupFrontEnd {
 public:
  // The arguments are kept for the application object, made when the first
  // window is needed. Registers the standard wizard pages.
  TWizardFrontEnd(int& argc, char** argv);
  ~TWizardFrontEnd() override;

  std::unique_ptr<ISetupDispatcher> CreateDispatcher() override { return console_.CreateDispatcher(); }
  std::unique_ptr<ISetupUserPrompt> CreatePrompt() override { return console_.CreatePrompt(); }
  void SessionCreated(TSetup& session) override;
  ISetupLanguageDialog* LanguageDialog() override;
  bool RunWizard(TSetup& session) override;
  void FollowRun(TSetup& session) override { console_.FollowRun(session); }
  void ShowError(const std::string& message) override;
  // On standard error: a notice comes from the command line of an
  // unattended run, which no box may hold up.
  void ShowNotice(const std::string& message) override { console_.ShowNotice(message); }

  // Whether Qt can show windows here: a display that answers, or a Qt
  // platform chosen explicitly (QT_QPA_PLATFORM, as tests do).
  static bool DisplayAvailable();

 private:
  // The application object (made here unless there is one); false when no
  // display can be reached.
  bool EnsureApplication();

  enum class TWindows { Undecided, Shown, None };
  TWindows windows_ = TWindows::Undecided;
  TSetupConsoleFrontEnd console_;
  TWizardLanguageChoice languageChoice_;
  int& argc_;
  char** argv_;
  std::unique_ptr<QApplication> application_;
  std::unique_ptr<TWizardScript> script_;
};

}  // namespace setup
