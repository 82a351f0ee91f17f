// wizard-screenshots: takes a picture of every wizard page of a ready setup
// and of its language dialog, in the light and the dark theme, for the
// documentation and for checking the layout by eye.
//
//   wizard-screenshots [--dpi N] [--language CODE] [--check] SETUP FOLDER
//
// Runs the setup's session in a private sandbox, for each theme: an
// installation through every page (the licence ticked, nothing started at
// the end), the setup page over that installation (an update) and over one
// that cannot be updated, the add-ons page of a Russian run, an installation
// that fails (its finish page shows the errors) and the uninstallation of
// the first one. Writes one PNG per picture into FOLDER/light-N and
// FOLDER/dark-N (N the DPI, 96 unless given). The language is the one of
// CODE ("de"), else English. With --check it also checks on every picture
// that each text fits its control, lists those that do not and exits with 1
// if there is any. Qt's offscreen platform is used unless QT_QPA_PLATFORM
// names another.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kel/base/file_system.h"
#include "kel/platform/locale.h"
#include "setup/core/language_choice.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/product/product_info_orvi.h"
#include "setup/product/ui/product_pages.h"
#include "setup/ui/color_scheme.h"
#include "setup/ui/language_dialog.h"
#include "setup/ui/standard_pages.h"
#include "setup/ui/wizard_dispatcher.h"
#include "setup/ui/wizard_form.h"
#include "setup/ui/wizard_front_end.h"
#include "text_fit.h"

namespace {

using namespace setup;

struct TOptions {
  int dpi = 96;
  std::string language = "en";
  bool check = false;
  std::string program;
  QString folder;
};

// Takes the pictures into one folder and, when asked, checks that the texts
// of each wizard picture fit.
class TCamera {
 public:
  TCamera(QString folder, bool check) : folder_(std::move(folder)), check_(check) { QDir().mkpath(folder_); }

  void Take(QWidget& widget, const QString& name) {
    const QString file = QDir(folder_).filePath(name + ".png");
    if (!widget.grab().save(file)) {
      std::fprintf(stderr, "wizard-screenshots: cannot write %s\n", qPrintable(file));
      std::exit(1);
    }
    std::printf("%s\n", qPrintable(file));
    const auto* form = dynamic_cast<const TWizardForm*>(&widget);
    if (!check_ || !form) return;
    for (const std::string& text : CutOffTexts(*form)) {
      std::fprintf(stderr, "cut off in %s: %s\n", qPrintable(file), text.c_str());
      ++cutOff_;
    }
  }

  int CutOff() const { return cutOff_; }

 private:
  QString folder_;
  bool check_;
  int cutOff_ = 0;
};

std::unique_ptr<TSetup> OpenSession(const std::string& program, const std::string& params) {
  auto session = std::make_unique<TSetup>(params, TSetupResources::OpenProgram(program),
                                          std::make_unique<TWizardDispatcher>(), std::make_unique<TWizardPrompt>());
  return session;
}

QAbstractButton* Button(TWizardForm& form, const char* name) {
  return form.ActivePage()->findChild<QAbstractButton*>(name, Qt::FindDirectChildrenOnly);
}

// Next, with the licence accepted on its page.
void Next(TWizardForm& form) {
  if (QAbstractButton* accept = Button(form, "L1"); accept && dynamic_cast<TSetupPageLicense*>(form.ActivePage()))
    accept->click();
  form.NextButton()->click();
}

// Keeps the event loop going until the condition holds.
void WaitFor(const std::function<bool()>& condition) {
  while (!condition()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The picture of the progress page once its run is half done.
class TProgressShot : public IInstallerNotify {
 public:
  TProgressShot(TCamera& camera, TWizardForm& form, QString name) : camera_(camera), form_(form), name_(std::move(name)) {}
  void Notify(int code, intptr_t) override {
    if (code != neRepaint || taken_ || form_.ActivePage()->GetProgress() < 50) return;
    taken_ = true;
    camera_.Take(form_, name_);
  }

 private:
  TCamera& camera_;
  TWizardForm& form_;
  QString name_;
  bool taken_ = false;
};

// Shows the wizard of the session and takes every page: those before the
// run by clicking Next (ticking the licence), the progress page half way
// and the page the run ends on. Nothing is started when it closes.
void TakeWizard(TCamera& camera, TSetup& session, const QString& prefix) {
  TWizardForm form(session);
  form.show();
  TProgressShot progress(camera, form, prefix + "progress");
  session.AddListener(&progress);
  int step = 1;
  while (!dynamic_cast<TSetupPageInstall*>(form.ActivePage())) {
    camera.Take(form, QString("%1%2_%3").arg(prefix).arg(step++).arg(form.ActivePage()->objectName()));
    Next(form);
  }
  WaitFor([&] { return session.State() == TSetupState::Finished && !form.isHidden(); });
  camera.Take(form, prefix + form.ActivePage()->objectName());
  session.RemoveListener(&progress);
  session.Settings().WriteSection("Actions", {});
  for (const char* name : {"CB1", "CB2", "CB3"})
    if (QAbstractButton* box = Button(form, name); box && box->isChecked()) box->click();
}

// Shows the wizard of the session and takes the page `page`, clicking Next
// (ticking the licence) until it is shown.
void TakePage(TCamera& camera, TSetup& session, const QString& page, const QString& name) {
  TWizardForm form(session);
  form.show();
  while (form.ActivePage()->objectName() != page) Next(form);
  camera.Take(form, name);
}

// Every picture of one theme, in a machine of its own: the language dialog,
// an installation, a failed installation and the uninstallation.
void TakeTheme(TCamera& camera, const std::string& program, bool dark) {
  QTemporaryDir machine;
  qputenv("ORVI_SETUP_SANDBOX", machine.path().toLocal8Bit());
  SetDarkThemeQuery([dark] { return dark; });
  UpdateColorScheme();
  {
    std::unique_ptr<TSetup> session = OpenSession(program, "");
    const std::vector<TSetupLanguageEntry> entries = CollectLanguageEntries(session->Resources());
    TSetupLanguageDialog dialog(entries, PreselectLanguage(entries, kel::platform::UserUiLanguageIds()));
    dialog.show();
    camera.Take(dialog, "language_dialog");
    session->Resources().InitializeLanguages(nullptr);
    TakeWizard(camera, *session, "install_");
  }
  {
    // The installation just made is found and can be updated.
    std::unique_ptr<TSetup> session = OpenSession(program, "");
    session->Resources().InitializeLanguages(nullptr);
    TakePage(camera, *session, "PageSetup", "setup_update");
  }
  {
    // A newer version than this setup can update.
    const QString config = machine.filePath("opt/ORVI/ORVI.ini"), saved = config + ".saved";
    QFile::rename(config, saved);
    QFile newer(config);
    newer.open(QIODevice::WriteOnly);
    newer.write("[System]\r\nVersion=6000\r\n");
    newer.close();
    std::unique_ptr<TSetup> session = OpenSession(program, "");
    session->Resources().InitializeLanguages(nullptr);
    TakePage(camera, *session, "PageSetup", "setup_cannot_update");
    QFile::remove(config);
    QFile::rename(saved, config);
  }
  {
    const QByteArray language = qgetenv("LANGUAGE");
    qputenv("LANGUAGE", "ru");
    std::unique_ptr<TSetup> session = OpenSession(program, "");
    session->Resources().InitializeLanguages(nullptr);
    qputenv("LANGUAGE", language);
    TakePage(camera, *session, "PageAddons", "russian_PageAddons");
  }
  {
    // A file where the destination's parent folder should be.
    QDir(machine.path()).mkpath("srv");
    QFile blocker(machine.filePath("srv/blocker"));
    blocker.open(QIODevice::WriteOnly);
    std::unique_ptr<TSetup> session = OpenSession(program, "/AUTO=/srv/blocker/ORVI");
    session->Resources().InitializeLanguages(nullptr);
    TakeWizard(camera, *session, "failed_");
  }
  {
    const std::string destination = machine.path().toStdString() + "/opt/ORVI/";
    // The uninstaller the run wrote is a copy of this program: the setup's
    // own takes its place.
    QFile::remove(QString::fromStdString(destination + "Uninstall"));
    QFile::copy(QString::fromStdString(program), QString::fromStdString(destination + "Uninstall"));
    std::unique_ptr<TSetup> session = OpenSession(destination + "Uninstall", "");
    session->SetDestination(destination);
    session->Resources().InitializeLanguages(nullptr);
    TakeWizard(camera, *session, "uninstall_");
  }
}

bool ParseArguments(int argc, char** argv, TOptions& options) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--check") {
      options.check = true;
    } else if ((arg == "--dpi" || arg == "--language") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--language") {
        options.language = value;
      } else if ((options.dpi = std::atoi(value.c_str())) < 48 || options.dpi > 480) {
        return false;
      }
    } else if (arg.starts_with("--")) {
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return false;
  options.program = kel::kelExpandFileName(positional[0]);
  options.folder = QString::fromLocal8Bit(positional[1].c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseArguments(argc, argv, options)) {
    std::fprintf(stderr, "usage: wizard-screenshots [--dpi N] [--language CODE] [--check] SETUP FOLDER\n");
    return 2;
  }
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The wizard scales itself (as the setup has it); the screen's DPI is the
  // one asked for.
  qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  qputenv("QT_FONT_DPI", QByteArray::number(options.dpi));
  qputenv("LANGUAGE", options.language.c_str());
  QApplication application(argc, argv);
  QApplication::setApplicationName("Setup");
  // The font family the bootstrap installs, so that the pictures are the
  // same on every machine.
  QApplication::setFont(QFont("DejaVu Sans", 9));
  UseSkinsOf(options.program);
  RegisterProductORVI();
  RegisterStandardPages();
  RegisterProductPagesORVI();

  int cutOff = 0;
  try {
    for (const bool dark : {false, true}) {
      TCamera camera(QDir(options.folder).filePath(QString("%1-%2").arg(dark ? "dark" : "light").arg(options.dpi)),
                     options.check);
      TakeTheme(camera, options.program, dark);
      cutOff += camera.CutOff();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wizard-screenshots: %s\n", e.what());
    return 1;
  }
  if (cutOff > 0) std::fprintf(stderr, "wizard-screenshots: %d texts do not fit\n", cutOff);
  return cutOff > 0 ? 1 : 0;
}
