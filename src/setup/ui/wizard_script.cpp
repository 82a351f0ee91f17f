#include "setup/ui/wizard_script.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocument>
#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "kel/platform/sandbox.h"
#include "kel/ui/dialog_answers.h"
#include "kel/ui/rich_viewer.h"
#include "setup/ui/wizard_form.h"

namespace setup {

namespace {

constexpr int kTickMilliseconds = 5;
constexpr qint64 kStepTimeoutMilliseconds = 120 * 1000;

TWizardForm* Wizard() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* form = qobject_cast<TWizardForm*>(widget); form && form->isVisible()) return form;
  return nullptr;
}

// The enabled, visible button named `name` on the shown page (also one
// inside a control of the page, such as an edit field's button), else on the
// window itself.
QAbstractButton* ClickableButton(TWizardForm& form, const QString& name) {
  const auto clickable = [&](QWidget* parent, Qt::FindChildOptions options) -> QAbstractButton* {
    if (!parent) return nullptr;
    for (QAbstractButton* button : parent->findChildren<QAbstractButton*>(name, options))
      if (button->isVisible() && button->isEnabled()) return button;
    return nullptr;
  };
  if (QAbstractButton* button = clickable(form.ActivePage(), Qt::FindChildrenRecursively)) return button;
  return clickable(&form, Qt::FindDirectChildrenOnly);
}

// The visible control `name` of the shown page; nullptr when there is none.
QWidget* ShownControl(TWizardForm& form, const QString& name) {
  QWidget* control = form.ActivePage() ? form.ActivePage()->findChild<QWidget*>(name) : nullptr;
  return control && control->isVisible() ? control : nullptr;
}

QString TextOf(const QWidget& control) {
  if (const auto* label = qobject_cast<const QLabel*>(&control)) return label->text();
  if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) return button->text();
  if (const auto* edit = qobject_cast<const QLineEdit*>(&control)) return edit->text();
  if (const auto* viewer = qobject_cast<const kel::TKELRichViewer*>(&control))
    return viewer->Document().toPlainText();
  return {};
}

void Log(const std::string& text) { std::cerr << "wizard script: " << text << std::endl; }

}  // namespace

std::unique_ptr<TWizardScript> TWizardScript::FromEnvironment() {
  if (!kel::platform::IsSandboxed()) return nullptr;
  const QByteArray text = qgetenv(kVariable);
  if (text.isEmpty()) return nullptr;
  std::vector<std::string> steps;
  for (const QString& step : QString::fromUtf8(text).split(QLatin1Char(';'), Qt::SkipEmptyParts))
    if (!step.trimmed().isEmpty()) steps.push_back(step.trimmed().toStdString());
  return std::make_unique<TWizardScript>(std::move(steps));
}

TWizardScript::TWizardScript(std::vector<std::string> steps) : steps_(std::move(steps)) {
  const bool answers =
      std::any_of(steps_.begin(), steps_.end(), [](const std::string& step) { return step.starts_with("answer:"); });
  kel::TKELDialogAnswers::Arm(answers);
  kel::TKELDialogAnswers::SetObserver([](const kel::TKELDialogRecord& record) {
    Log("dialog \"" + record.caption + "\" answered " + record.answer + (record.scripted ? "" : " (unscripted)"));
  });
  stepClock_.start();
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  timer_.start(kTickMilliseconds);
  // The answers at the start are there before the first dialog asks.
  Tick();
}

TWizardScript::~TWizardScript() {
  kel::TKELDialogAnswers::SetObserver(nullptr);
  kel::TKELDialogAnswers::Arm(false);
}

void TWizardScript::Tick() {
  // Several steps at one tick when they can be carried out at once.
  while (next_ < steps_.size()) {
    if (!TryStep(steps_[next_])) {
      if (stepClock_.elapsed() > kStepTimeoutMilliseconds) {
        Log("step " + std::to_string(next_ + 1) + " (" + steps_[next_] + ") timed out");
        std::_Exit(kExitTimedOut);
      }
      return;
    }
    Log(steps_[next_]);
    ++next_;
    stepClock_.restart();
  }
  timer_.stop();
}

bool TWizardScript::TryStep(const std::string& step) {
  const size_t colon = step.find(':');
  const std::string verb = step.substr(0, colon);
  const QString argument = colon == std::string::npos ? QString() : QString::fromStdString(step.substr(colon + 1));
  if (verb == "answer") {
    kel::TKELDialogAnswers::Push(argument.toStdString());
    return true;
  }
  // A window counts as shown once it has the keyboard focus (keys typed
  // after the step reach it).
  const QWidget* dialog = QApplication::activeModalWidget();
  if (verb == "dialog") return dialog && dialog->windowTitle() == argument && dialog->isActiveWindow();
  TWizardForm* form = Wizard();
  // Nothing on the wizard while a dialog is up.
  if (!form || dialog) return false;
  if (verb == "page")
    return form->ActivePage() && form->ActivePage()->objectName() == argument && form->isActiveWindow();
  const qsizetype equals = argument.indexOf(QLatin1Char('='));
  if (verb == "expect") {
    const QWidget* control = ShownControl(*form, argument.left(equals));
    return control && TextOf(*control) == argument.mid(equals + 1);
  }
  if (verb == "contains") {
    const QWidget* control = ShownControl(*form, argument.left(equals));
    return control && TextOf(*control).contains(argument.mid(equals + 1));
  }
  if (verb == "type") {
    auto* edit = qobject_cast<QLineEdit*>(ShownControl(*form, argument.left(equals)));
    if (!edit || !edit->isEnabled()) return false;
    // As typed over the whole text: the field tells of the edit.
    edit->setFocus();
    edit->selectAll();
    edit->insert(argument.mid(equals + 1));
    return true;
  }
  if (verb == "click") {
    QAbstractButton* button = ClickableButton(*form, argument);
    if (!button) return false;
    // A dialog that the click opens answers itself from the queue.
    button->click();
    return true;
  }
  if (verb == "close") {
    form->CloseCommand();
    return true;
  }
  Log("unknown step \"" + step + "\"");
  std::_Exit(kExitTimedOut);
}

}  // namespace setup
