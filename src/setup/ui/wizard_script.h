// Scripted runs of the wizard, for tests of the built program: the
// variable ORVI_SETUP_WIZARD_SCRIPT holds steps that the wizard carries out
// as a person would click, one after another, separated by ';':
//
//   answer:X         the next dialog is answered X (a message box button:
//                    OK, Cancel, Abort, Retry, Ignore; the language dialog:
//                    a language's display name; the folder browser: a
//                    folder of the machine, or Cancel)
//   dialog:TITLE     waits until a dialog with that title is up and has the
//                    keyboard focus
//   page:NAME        waits until the page NAME is shown ("PageLicense") and
//                    the wizard has the keyboard focus
//   click:NAME       waits until the button or box NAME of the shown page
//                    or of the window ("bNext", "L1", "CB2", "Browse") can
//                    be clicked, and clicks it
//   expect:NAME=TEXT waits until the label, button, box, edit field or
//                    viewer NAME of the shown page shows TEXT
//   contains:NAME=TEXT
//                    the same, for a text that holds TEXT
//   type:NAME=TEXT   waits until the edit field NAME of the shown page can
//                    be typed in, and replaces its text by TEXT as typed
//   close            the window's Close command (title bar, Escape)
//
// A script with answer steps answers every dialog: those it has no answer
// for take their default answer. Without answer steps, dialogs wait for
// the keyboard and the mouse as usual. Each step and each answered dialog is
// written to standard error. A step that cannot be carried out within two
// minutes ends the program with status 4. The variable is read only in a
// sandboxed run (ORVI_SETUP_SANDBOX).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "kel/platform/sandbox.h"

namespace setup {

class TWizardScript : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kVariable = kel::platform::kWizardScriptVariable;
  static constexpr int kExitTimedOut = 4;

  // The script of the environment; nullptr when there is none (or the run
  // is not sandboxed).
  static std::unique_ptr<TWizardScript> FromEnvironment();

  // Arms the dialog answers and starts carrying out the steps.
  explicit TWizardScript(std::vector<std::string> steps);
  ~TWizardScript() override;

 private:
  // Carries out the current step if it can be; true when it was.
  bool TryStep(const std::string& step);
  void Tick();

  std::vector<std::string> steps_;
  size_t next_ = 0;
  QElapsedTimer stepClock_;  // since the current step began
  QTimer timer_;
};

}  // namespace setup
