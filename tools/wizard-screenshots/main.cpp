// wizard-screenshots: takes a picture of every wizard page of a ready setup
// and of its language dialog, for the documentation and for checking the
// layout by eye.
//
//   wizard-screenshots SETUP FOLDER
//
// Runs the setup's session in a private sandbox on Qt's offscreen platform:
// an installation through every page (the licence ticked, nothing started
// at the end), the setup page over that installation (an update) and over
// one that cannot be updated, the add-ons page of a Russian run, an
// installation that fails (its finish page shows the errors), the
// uninstallation of the first one, and the first pages once more in the
// dark theme. Writes one PNG per picture into FOLDER.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "kel/base/file_system.h"
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

namespace {

using namespace setup;

class TCamera {
 public:
  explicit TCamera(QString folder) : folder_(std::move(folder)) {}

  void Take(QWidget& widget, const QString& name) {
    const QString file = QDir(folder_).filePath(name + ".png");
    if (!widget.grab().save(file)) {
      std::fprintf(stderr, "wizard-screenshots: cannot write %s\n", qPrintable(file));
      std::exit(1);
    }
    std::printf("%s\n", qPrintable(file));
  }

 private:
  QString folder_;
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: wizard-screenshots SETUP FOLDER\n");
    return 2;
  }
  const std::string program = kel::kelExpandFileName(argv[1]);
  const QString folder = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(folder);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName("Setup");
  QTemporaryDir machine;
  qputenv("ORVI_SETUP_SANDBOX", machine.path().toLocal8Bit());
  qputenv("LANGUAGE", "en");
  RegisterProductORVI();
  RegisterStandardPages();
  RegisterProductPagesORVI();
  TCamera camera(folder);

  try {
    {
      std::unique_ptr<TSetup> session = OpenSession(program, "");
      const std::vector<TSetupLanguageEntry> entries = CollectLanguageEntries(session->Resources());
      TSetupLanguageDialog dialog(entries, PreselectLanguage(entries, {1033}));
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
      QFile config(machine.filePath("opt/ORVI/ORVI.ini"));
      config.open(QIODevice::WriteOnly);
      config.write("[System]\r\nVersion=6000\r\n");
      config.close();
      std::unique_ptr<TSetup> session = OpenSession(program, "");
      session->Resources().InitializeLanguages(nullptr);
      TakePage(camera, *session, "PageSetup", "setup_cannot_update");
      config.remove();
    }
    {
      qputenv("LANGUAGE", "ru");
      std::unique_ptr<TSetup> session = OpenSession(program, "");
      session->Resources().InitializeLanguages(nullptr);
      qputenv("LANGUAGE", "en");
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
    {
      SetDarkThemeQuery([] { return true; });
      UpdateColorScheme();
      std::unique_ptr<TSetup> session = OpenSession(program, "");
      session->Resources().InitializeLanguages(nullptr);
      TWizardForm form(*session);
      form.show();
      camera.Take(form, "dark_1_PageWelcome");
      form.NextButton()->click();
      camera.Take(form, "dark_2_PageLicense");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wizard-screenshots: %s\n", e.what());
    return 1;
  }
  return 0;
}
