// The toolkit's message box: a modal question or message with a fixed set
// of buttons. It takes scripted answers while the dialog answers are armed
// (dialog_answers.h).
#pragma once

#include <string>
#include <vector>

class QWidget;

namespace kel {

enum class TKELMessageButton { Ok, Cancel, Abort, Retry, Ignore };
enum class TKELMessageIcon { None, Information, Warning, Error, Question };

struct TKELMessage {
  std::string caption;
  std::string text;  // lines separated by LF or CR LF
  TKELMessageIcon icon = TKELMessageIcon::None;
  std::vector<TKELMessageButton> buttons = {TKELMessageButton::Ok};
  TKELMessageButton defaultButton = TKELMessageButton::Ok;
};

// Shows the message modally over `parent` (the active window when nullptr)
// and returns the button chosen. Escape chooses Cancel, or Abort, or the only
// button, when the box has one of them.
TKELMessageButton kelMessageBox(QWidget* parent, const TKELMessage& message);

// The name of a button as scripted answers spell it: "OK", "Cancel",
// "Abort", "Retry", "Ignore".
std::string kelMessageButtonName(TKELMessageButton button);

// The captions of the OK and Cancel buttons of every message box and dialog
// of the toolkit (the language's texts); "OK" and "Cancel" until set.
void kelSetDialogButtonCaptions(const std::string& ok, const std::string& cancel);
const std::string& kelDialogOkCaption();
const std::string& kelDialogCancelCaption();

}  // namespace kel
