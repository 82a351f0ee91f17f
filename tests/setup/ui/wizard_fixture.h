// What the wizard's widget tests share: the Qt application, a session of
// the test product over packages with the wizard's pictures and texts, test
// pages and actions, and the checks every test ends with (no window
// outlives it, no scripted answer is left over).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "kel/ui/dialog_answers.h"
#include "setup/core/action.h"
#include "setup/core/errors.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/ui/page.h"
#include "setup/ui/standard_pages.h"
#include "setup/ui/wizard_dispatcher.h"
#include "setup/ui/wizard_form.h"
#include "setup/ui/wizard_front_end.h"
#include "support/session_fixture.h"
#include "support/watchdog.h"

namespace orvi::test {

inline void EnsureWizardApplication() {
  if (QApplication::instance()) return;
  static int argc = 1;
  static char name[] = "setup_ui_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
  QApplication::setApplicationName("Setup");
  setup::RegisterStandardPages();
}

// A PNG of the size in one colour.
inline std::string Png(int width, int height, QColor color) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(color);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

// The texts of the wizard; each names its key, so that tests recognise it.
inline std::string WizardEnglishLng() {
  return MinimalEnglishLng() +
         "Caption=Caption\r\nbBack=bBack\r\nbNext=bNext\r\nbInstall=bInstall\r\nbUninstall=bUninstall\r\n"
         "bFinish=bFinish\r\nQM=QM question\r\nlOk=lOk\r\nlCancel=lCancel\r\n"
         "[PageWelcome]\r\nTitle=Welcome title\r\nDescription=Welcome description\r\nL1=Welcome L1\r\nL2=Welcome L2\r\n"
         "[PageLicense]\r\nTitle=License title\r\nL1=Accept\r\n"
         "[PageReadyToInstall]\r\nTitle=Ready title\r\n"
         "[PageInstall]\r\nTitle=Install title\r\nL1=Preparing\r\n"
         "[PageUninstall]\r\nTitle=Uninstall title\r\nL1=Preparing removal\r\n"
         "[PageFinish]\r\nL1=Finish L1\r\nL2=Finish L2\r\nE1=Finish E1\r\nE2=Finish E2\r\nL3=Home page\r\n"
         "Start=Start the program\r\nNotes=Show the notes\r\nThird=Third entry\r\n"
         "[PageUninstallFinish]\r\nL1=Removed L1\r\nL2=Removed L2\r\nE1=Removed E1\r\nE2=Removed E2\r\n"
         "[PageTestA]\r\nTitle=A\r\n[PageTestB]\r\nTitle=B\r\n[PageTestC]\r\nTitle=C\r\n";
}

// The pictures the wizard loads.
inline PackageFiles WizardPictures() {
  return {{"header.png", Png(640, 53, QColor(0x20, 0x40, 0x60))},
          {"header_dark.png", Png(640, 53, QColor(0x10, 0x10, 0x10))},
          {"wizard_light.png", Png(188, 435, QColor(0x80, 0xC0, 0x40))},
          {"wizard_dark.png", Png(188, 435, QColor(0x40, 0x60, 0x20))}};
}

// A page whose answers a test sets.
class TTestPage : public setup::TSetupPage {
 public:
  using TSetupPage::TSetupPage;
  bool IsAvailable() const override { return available; }
  bool CanGoNext() const override { return canGoNext; }
  int GetProgress() const override { return progress; }
  void Prepare() override { ++prepared; }

  bool available = true;
  bool canGoNext = true;
  int progress = 0;
  int prepared = 0;
};

inline constexpr setup::TSetupPageClass kTestPageA{"TSetupPageTestA"};
inline constexpr setup::TSetupPageClass kTestPageB{"TSetupPageTestB"};
inline constexpr setup::TSetupPageClass kTestPageC{"TSetupPageTestC"};

inline void RegisterTestPages() {
  for (const setup::TSetupPageClass* pageClass : {&kTestPageA, &kTestPageB, &kTestPageC})
    setup::TSetupPageRegistry::Register<TTestPage>(*pageClass);
}

// A latch the worker's test actions wait on.
class TLatch {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Test actions. TWaitingAction reports its status, then waits until the
// latch opens or it is cancelled; TCountingAction counts its runs;
// TNoticingAction leaves a notice; TFailingAction fails.
struct TestActions {
  static inline TLatch latch;
  static inline std::atomic<int> runs{0};
};

class TWaitingAction : public setup::TSetupAction {
 public:
  void Execute() override {
    ReportStatus("waiting");
    TestActions::latch.Wait();
  }
  void Cancel() override { TestActions::latch.Open(); }
};

class TCountingAction : public setup::TSetupAction {
 public:
  void Execute() override {
    ++TestActions::runs;
    ReportStatus("counting");
    SetProgress(50);
  }
};

class TNoticingAction : public setup::TSetupAction {
 public:
  void Execute() override { Session().AddNotice("left something out"); }
};

class TFailingAction : public setup::TSetupAction {
 public:
  void Execute() override { throw setup::EInstallerInstallError("failed on purpose"); }
};

class WizardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    EnsureWizardApplication();
    RegisterTestPages();
  }

  void SetUp() override { TestActions::latch.Reset(); TestActions::runs = 0; }

  void TearDown() override {
    wizard_.reset();
    fixture_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QStringList windows;
    for (const QWidget* widget : QApplication::topLevelWidgets())
      windows << widget->metaObject()->className() + QString(" ") + widget->objectName();
    EXPECT_TRUE(windows.isEmpty()) << windows.join(", ").toStdString();
    EXPECT_EQ(kel::TKELDialogAnswers::Pending(), 0u) << "scripted answers left over";
  }

  // A session of the test product with the pages and actions given, and the
  // wizard's hand-over and questions.
  setup::TSetup& OpenSession(std::vector<setup::TSetupPageClass> pages, std::vector<setup::TSetupActionClass> actions,
                             const std::string& params = "", std::string installXml = MinimalInstallXml(""),
                             PackageFiles productFiles = {}, PackageFiles pictures = WizardPictures()) {
    wizard_.reset();
    fixture_.reset();  // one session at a time
    TTestProduct::Pages = std::move(pages);
    TTestProduct::Actions = std::move(actions);
    SessionSpec spec;
    spec.params = params;
    spec.installXml = std::move(installXml);
    spec.englishLng = WizardEnglishLng();
    spec.setupFiles = std::move(pictures);
    spec.productFiles = std::move(productFiles);
    spec.setupFiles.push_back({"License_EN.rtf", "{\\rtf1\\ansi The licence text.\\par}"});
    fixture_ = std::make_unique<SessionFixture>(spec);
    Session().SetUserInterface(std::make_unique<setup::TWizardDispatcher>(), std::make_unique<setup::TWizardPrompt>());
    return Session();
  }

  setup::TWizardForm& OpenWizard() {
    wizard_ = std::make_unique<setup::TWizardForm>(Session());
    QObject::connect(wizard_.get(), &setup::TWizardForm::Closed, [this] { ++closed_; });
    wizard_->show();
    return *wizard_;
  }

  setup::TSetup& Session() { return fixture_->Session(); }
  setup::TWizardForm& Wizard() { return *wizard_; }
  const Sandbox& Machine() const { return fixture_->Machine(); }
  QString ActivePageName() { return wizard_->ActivePage() ? wizard_->ActivePage()->objectName() : QString(); }
  template <typename Page>
  Page& ActivePage() {
    auto* page = dynamic_cast<Page*>(wizard_->ActivePage());
    EXPECT_NE(page, nullptr) << ActivePageName().toStdString();
    return *page;
  }
  TTestPage& TestPage(int index) { return dynamic_cast<TTestPage&>(*wizard_->Pages()[index]); }

  // A click on the box's indicator.
  static void ClickBox(QWidget* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2)); }
  void ClickNext() { QTest::mouseClick(wizard_->NextButton(), Qt::LeftButton); }
  void ClickBack() { QTest::mouseClick(wizard_->BackButton(), Qt::LeftButton); }
  // Lets the event loop run until the run has finished.
  void WaitForRun() {
    ASSERT_TRUE(QTest::qWaitFor([this] { return Session().State() == setup::TSetupState::Finished; }, 20000));
    QCoreApplication::processEvents();
  }

  kel::TKELDialogAnswersScope answers_;
  TTestProductScope productScope_;
  std::unique_ptr<SessionFixture> fixture_;
  std::unique_ptr<setup::TWizardForm> wizard_;
  int closed_ = 0;
};

}  // namespace orvi::test

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
