#include "setup/ui/wizard_front_end.h"

#include <QApplication>
#include <QEventLoop>

#include "kel/base/command_line.h"
#include "kel/platform/module.h"
#include "kel/platform/windows.h"
#include "kel/ui/message_box.h"
#include "setup/core/session.h"
#include "setup/ui/color_scheme.h"
#include "setup/ui/standard_pages.h"
#include "setup/ui/wizard_dispatcher.h"
#include "setup/ui/wizard_form.h"
#include "setup/ui/wizard_script.h"

namespace setup {

namespace {

void ShowErrorBox(const std::string& text) {
  kel::kelMessageBox(nullptr,
                     {"Setup", text, kel::TKELMessageIcon::Error, {kel::TKELMessageButton::Ok}, kel::TKELMessageButton::Ok});
}

}  // namespace

TSetupAnswer TWizardPrompt::AskAbortRetryIgnore(const std::string& text) {
  const QWidget* window = QApplication::activeWindow();
  const kel::TKELMessageButton answer = kel::kelMessageBox(
      nullptr, {window ? window->windowTitle().toStdString() : std::string("Setup"), text,
                kel::TKELMessageIcon::Warning,
                {kel::TKELMessageButton::Abort, kel::TKELMessageButton::Retry, kel::TKELMessageButton::Ignore},
                kel::TKELMessageButton::Retry});
  switch (answer) {
    case kel::TKELMessageButton::Abort: return TSetupAnswer::Abort;
    case kel::TKELMessageButton::Ignore: return TSetupAnswer::Ignore;
    default: return TSetupAnswer::Retry;
  }
}

void TWizardPrompt::ShowError(const std::string& text) { ShowErrorBox(text); }

TWizardFrontEnd::TWizardFrontEnd(int& argc, char** argv) : argc_(argc), argv_(argv) { RegisterStandardPages(); }

TWizardFrontEnd::~TWizardFrontEnd() {
  script_.reset();
  application_.reset();
}

bool TWizardFrontEnd::DisplayAvailable() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (!platform.isEmpty() && !platform.startsWith("xcb")) return true;
  return kel::platform::DisplayReachable();
}

bool TWizardFrontEnd::EnsureApplication() {
  if (QApplication::instance()) return true;
  if (!DisplayAvailable()) return false;
  // The wizard scales its lengths, fonts and pictures with the screen's DPI
  // itself: Qt is not to scale them once more.
  if (!qEnvironmentVariableIsSet("QT_ENABLE_HIGHDPI_SCALING")) qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  application_ = std::make_unique<QApplication>(argc_, argv_);
  QApplication::setApplicationName("Setup");
  QApplication::setQuitOnLastWindowClosed(false);
  UseSkinsOf(kel::platform::ExecutablePath());
  FollowDesktopTheme();
  UpdateColorScheme();
  script_ = TWizardScript::FromEnvironment();
  return true;
}

void TWizardFrontEnd::SessionCreated(TSetup& session) {
  if (session.HasFlag(sfSILENT) || !DisplayAvailable()) {
    windows_ = TWindows::None;
    return;
  }
  windows_ = TWindows::Shown;
  session.SetUserInterface(std::make_unique<TWizardDispatcher>(), std::make_unique<TWizardPrompt>());
}

ISetupLanguageDialog* TWizardFrontEnd::LanguageDialog() {
  if (windows_ != TWindows::Shown || !EnsureApplication()) return nullptr;
  return &languageChoice_;
}

bool TWizardFrontEnd::RunWizard(TSetup& session) {
  if (windows_ != TWindows::Shown || !EnsureApplication()) return false;
  TWizardForm form(session);
  QEventLoop loop;
  bool closed = false;
  QObject::connect(&form, &TWizardForm::Closed, &loop, [&] {
    closed = true;
    loop.quit();
  });
  form.show();
  form.activateWindow();
  if (!closed) loop.exec();
  return true;
}

void TWizardFrontEnd::ShowError(const std::string& message) {
  console_.ShowError(message);
  if (windows_ == TWindows::None) return;
  // Before the session exists, a run asked to be silent shows no window.
  if (windows_ == TWindows::Undecided && kel::HasSwitch(kel::GetCommandLineParams(), "SILENT")) return;
  if (EnsureApplication()) ShowErrorBox(message);
}

}  // namespace setup
