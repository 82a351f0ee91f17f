// Answers for the toolkit's modal dialogs, so that tests and scripted runs
// drive a user interface with nobody at the screen.
//
// While armed, a modal dialog does not wait for a person: it is built and
// shown as always, then answered with the next answer of the queue as soon as
// it is up. A dialog that finds the queue empty takes its default answer and
// is recorded as unscripted. Every dialog answered this way is recorded.
// Unarmed (the normal case) nothing here has any effect. User-interface
// thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kel {

struct TKELDialogRecord {
  std::string caption;        // the dialog's title
  std::string text;           // its message (empty for dialogs without one)
  std::string defaultAnswer;  // what it answers on its own (the default button)
  std::string answer;         // what it was answered
  bool scripted = false;      // the answer came from the queue
};

class TKELDialogAnswers {
 public:
  static bool Armed();
  // Arming clears the queue and the records.
  static void Arm(bool on);
  // Appends an answer: the caption of a message box button ("OK", "Cancel",
  // "Abort", "Retry", "Ignore"; case is ignored) or, for a dialog that
  // offers a choice, the entry to choose.
  static void Push(std::string answer);
  static size_t Pending();
  // The next answer, taken from the queue; nothing when unarmed or empty.
  static std::optional<std::string> Take();
  // Called by the dialogs when they have been answered.
  static void Record(TKELDialogRecord record);
  static const std::vector<TKELDialogRecord>& Records();
  // Told about every recorded dialog (the scripted run writes it down).
  static void SetObserver(std::function<void(const TKELDialogRecord&)> observer);
};

// Arms the answers for a scope (a test) and disarms them when it ends.
class TKELDialogAnswersScope {
 public:
  TKELDialogAnswersScope() { TKELDialogAnswers::Arm(true); }
  ~TKELDialogAnswersScope() { TKELDialogAnswers::Arm(false); }
  TKELDialogAnswersScope(const TKELDialogAnswersScope&) = delete;
  TKELDialogAnswersScope& operator=(const TKELDialogAnswersScope&) = delete;
};

}  // namespace kel
