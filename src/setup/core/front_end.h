// What the program's user interface supplies to the entry: the hand-over of
// calls to its thread, its questions and error box, its language dialog and
// its wizard. The console front end serves unattended runs; the wizard's
// front end builds on the same interface.
#pragma once

#include <memory>
#include <string>

#include "setup/core/dispatcher.h"
#include "setup/core/language_choice.h"
#include "setup/core/prompt.h"

namespace setup {

class TSetup;

class ISetupFrontEnd {
 public:
  virtual ~ISetupFrontEnd() = default;
  // The hand-over and the questions the session starts with.
  virtual std::unique_ptr<ISetupDispatcher> CreateDispatcher() = 0;
  virtual std::unique_ptr<ISetupUserPrompt> CreatePrompt() = 0;
  // Called once the session exists and knows its mode and flags, before
  // anything is shown: a front end with windows decides here whether this
  // run shows any (not when it is silent, nor without a display) and then
  // gives the session its own hand-over and questions.
  virtual void SessionCreated(TSetup& /*session*/) {}
  // The language dialog; nullptr takes the preselected language.
  virtual ISetupLanguageDialog* LanguageDialog() = 0;
  // Shows the wizard until it closes; the wizard starts the worker, shows
  // the errors of the run and starts the post-installation programs. False
  // when this front end shows no wizard.
  virtual bool RunWizard(TSetup& session) = 0;
  // Runs the worker of an unattended run that still shows its progress
  // (AUTO without SILENT) and follows it until it has finished.
  virtual void FollowRun(TSetup& session) = 0;
  // The program's error box, captioned "Setup".
  virtual void ShowError(const std::string& message) = 0;
  // Something the user should know before the run starts (the destination
  // was changed); the run goes on.
  virtual void ShowNotice(const std::string& message) = 0;
  // The list of switches that --help asks for; on standard output unless a
  // front end shows it otherwise.
  virtual void ShowHelp(const std::string& text);
};

// The front end of a run without windows: calls are handed to the waiting
// main thread, questions are asked on the terminal when standard input is
// one (else answered Abort), errors, notices and progress go to standard
// error. On a terminal the progress is one line that is redrawn in place
// (the status text, a bar and the overall percentage, fitted to the
// terminal's width); otherwise it is plain lines: one per status text and
// one each time the overall percentage reaches a new tenth.
class TSetupConsoleFrontEnd : public ISetupFrontEnd {
 public:
  std::unique_ptr<ISetupDispatcher> CreateDispatcher() override;
  std::unique_ptr<ISetupUserPrompt> CreatePrompt() override;
  ISetupLanguageDialog* LanguageDialog() override { return nullptr; }
  bool RunWizard(TSetup&) override { return false; }
  void FollowRun(TSetup& session) override;
  void ShowError(const std::string& message) override;
  void ShowNotice(const std::string& message) override { ShowError(message); }
};

}  // namespace setup
