#include "kel/ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <map>

#include "kel/base/text.h"
#include "kel/ui/dialog_answers.h"

namespace kel {

namespace {

std::string gOkCaption = "OK";
std::string gCancelCaption = "Cancel";

QMessageBox::StandardButton StandardButtonOf(TKELMessageButton button) {
  switch (button) {
    case TKELMessageButton::Ok: return QMessageBox::Ok;
    case TKELMessageButton::Cancel: return QMessageBox::Cancel;
    case TKELMessageButton::Abort: return QMessageBox::Abort;
    case TKELMessageButton::Retry: return QMessageBox::Retry;
    case TKELMessageButton::Ignore: return QMessageBox::Ignore;
  }
  return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(TKELMessageIcon icon) {
  switch (icon) {
    case TKELMessageIcon::None: return QMessageBox::NoIcon;
    case TKELMessageIcon::Information: return QMessageBox::Information;
    case TKELMessageIcon::Warning: return QMessageBox::Warning;
    case TKELMessageIcon::Error: return QMessageBox::Critical;
    case TKELMessageIcon::Question: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QString DisplayText(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return result;
}

}  // namespace

std::string kelMessageButtonName(TKELMessageButton button) {
  switch (button) {
    case TKELMessageButton::Ok: return "OK";
    case TKELMessageButton::Cancel: return "Cancel";
    case TKELMessageButton::Abort: return "Abort";
    case TKELMessageButton::Retry: return "Retry";
    case TKELMessageButton::Ignore: return "Ignore";
  }
  return {};
}

void kelSetDialogButtonCaptions(const std::string& ok, const std::string& cancel) {
  gOkCaption = ok;
  gCancelCaption = cancel;
}
const std::string& kelDialogOkCaption() { return gOkCaption; }
const std::string& kelDialogCancelCaption() { return gCancelCaption; }

TKELMessageButton kelMessageBox(QWidget* parent, const TKELMessage& message) {
  QMessageBox box(IconOf(message.icon), QString::fromStdString(message.caption), DisplayText(message.text),
                  QMessageBox::NoButton, parent ? parent : QApplication::activeWindow());
  std::map<QAbstractButton*, TKELMessageButton> buttons;
  for (const TKELMessageButton button : message.buttons) {
    QPushButton* pushButton = box.addButton(StandardButtonOf(button));
    if (button == TKELMessageButton::Ok) pushButton->setText(QString::fromStdString(gOkCaption));
    if (button == TKELMessageButton::Cancel) pushButton->setText(QString::fromStdString(gCancelCaption));
    if (button == message.defaultButton) box.setDefaultButton(pushButton);
    buttons[pushButton] = button;
  }

  TKELDialogRecord record{message.caption, message.text, kelMessageButtonName(message.defaultButton), {}, false};
  if (TKELDialogAnswers::Armed()) {
    // Answered as soon as the box is up: the named button, else the default.
    QAbstractButton* answer = box.defaultButton();
    if (const std::optional<std::string> scripted = TKELDialogAnswers::Take()) {
      for (const auto& [pushButton, button] : buttons)
        if (kelSameTextAscii(kelMessageButtonName(button), *scripted)) {
          answer = pushButton;
          record.scripted = true;
        }
    }
    QTimer::singleShot(0, &box, [answer] { answer->click(); });
  }
  box.exec();

  const auto chosen = buttons.find(box.clickedButton());
  // Closed without any button: what the box answers on its own.
  const TKELMessageButton result = chosen != buttons.end() ? chosen->second : message.defaultButton;
  if (TKELDialogAnswers::Armed()) {
    record.answer = kelMessageButtonName(result);
    TKELDialogAnswers::Record(std::move(record));
  }
  return result;
}

}  // namespace kel
