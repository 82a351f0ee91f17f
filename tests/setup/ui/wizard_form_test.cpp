// The wizard window: page flow, buttons, the step strip, the reduced run of
// /AUTO, closing, and the keyboard.
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QWindow>

#include "kel/ui/rich_viewer.h"
#include "wizard_fixture.h"

namespace orvi::test {
namespace {

using setup::TSetupActionClass;

const QColor kAccent(0xDE, 0x8C, 0x33);
const QColor kWindowBackground(0xFF, 0xFF, 0xFF);

TSetupActionClass Counting() { return TSetupActionClass::Of<TCountingAction>("TCountingAction"); }
TSetupActionClass Waiting() { return TSetupActionClass::Of<TWaitingAction>("TWaitingAction"); }
TSetupActionClass Noticing() { return TSetupActionClass::Of<TNoticingAction>("TNoticingAction"); }
TSetupActionClass Failing() { return TSetupActionClass::Of<TFailingAction>("TFailingAction"); }

class WizardFormTest : public WizardTest {
 protected:
  // The colour of the step strip's bar at x.
  QColor StripAt(int x) {
    const QImage image = Wizard().grab().toImage();
    const int y = Wizard().Scale(53 + 5);
    return image.pixelColor(x, y);
  }
  std::vector<std::string> Questions() {
    std::vector<std::string> texts;
    for (const kel::TKELDialogRecord& record : kel::TKELDialogAnswers::Records()) texts.push_back(record.text);
    return texts;
  }
};

TEST_F(WizardFormTest, UnavailablePageIsSkippedBothWaysButKeepsItsStep) {
  OpenSession({kTestPageA, kTestPageB, kTestPageC}, {});
  OpenWizard();
  ASSERT_EQ(Wizard().Pages().Count(), 5) << "the product's pages, then progress and finish";
  TestPage(1).available = false;
  TestPage(2).progress = 50;
  EXPECT_EQ(ActivePageName(), "PageTestA");
  EXPECT_EQ(TestPage(0).prepared, 1);
  EXPECT_TRUE(Wizard().BackButton()->isHidden()) << "nothing before the first page";

  ClickNext();
  EXPECT_EQ(ActivePageName(), "PageTestC");
  EXPECT_EQ(TestPage(1).prepared, 0);
  EXPECT_EQ(TestPage(2).prepared, 1);
  EXPECT_EQ(Wizard().NextButton()->text(), "bInstall");

  // The strip: four segments for five pages; C is the third step, so two
  // segments are full and C's is dashed, filled to its 50 %.
  const int segment = Wizard().width() / 4;  // 160
  const int dashAfterHalf = 2 * segment + 6 * 20;  // dashes start every 6 pixels, 3 wide
  EXPECT_EQ(StripAt(segment + 4), kAccent) << "the steps before are full";
  EXPECT_EQ(StripAt(2 * segment + 4), kAccent) << "between dashes, but filled up to half of the step";
  EXPECT_EQ(StripAt(dashAfterHalf + 1), kAccent) << "a dash";
  EXPECT_EQ(StripAt(dashAfterHalf + 4), kWindowBackground) << "between dashes, beyond the progress";
  EXPECT_EQ(StripAt(3 * segment + 4), kWindowBackground) << "the steps after are empty";

  ClickBack();
  EXPECT_EQ(ActivePageName(), "PageTestA");
  EXPECT_EQ(TestPage(0).prepared, 2) << "Prepare runs at every visit";
}

TEST_F(WizardFormTest, ButtonsAlongAnInstallation) {
  OpenSession({setup::kSetupPageWelcome, setup::kSetupPageLicense, setup::kSetupPageReadyToInstall}, {Counting()});
  OpenWizard();
  QPushButton& back = *Wizard().BackButton();
  QPushButton& next = *Wizard().NextButton();

  EXPECT_EQ(ActivePageName(), "PageWelcome");
  EXPECT_TRUE(back.isHidden());
  EXPECT_EQ(next.text(), "bNext");
  ClickNext();

  EXPECT_EQ(ActivePageName(), "PageLicense");
  EXPECT_TRUE(back.isHidden()) << "the licence page forbids going back";
  EXPECT_FALSE(next.isEnabled()) << "until the licence is accepted";
  auto* accept = Wizard().ActivePage()->findChild<QCheckBox*>("L1");
  ClickBox(accept);
  EXPECT_TRUE(next.isEnabled());
  ClickBox(accept);
  EXPECT_FALSE(next.isEnabled()) << "unticked again";
  ClickBox(accept);
  ClickNext();

  EXPECT_EQ(ActivePageName(), "PageReadyToInstall");
  EXPECT_TRUE(back.isVisible());
  EXPECT_EQ(next.text(), "bInstall");
  ClickNext();

  EXPECT_EQ(ActivePageName(), "PageInstall");
  EXPECT_TRUE(back.isHidden());
  WaitForRun();
  EXPECT_EQ(ActivePageName(), "PageFinish") << "the end of the run moves on";
  EXPECT_TRUE(back.isHidden());
  EXPECT_TRUE(next.isEnabled());
  EXPECT_EQ(next.text(), "bFinish");
  EXPECT_EQ(TestActions::runs, 1);
  ClickNext();
  EXPECT_EQ(closed_, 1);
  EXPECT_TRUE(Wizard().isHidden());
  EXPECT_TRUE(kel::TKELDialogAnswers::Records().empty()) << "closing after the run asks nothing";
}

TEST_F(WizardFormTest, NextSaysUninstallBeforeTheUninstallationsProgressPage) {
  OpenSession({kTestPageA}, {}, "", MinimalInstallXml(""), {{"Uninstall.ini", "[Uninstall]\r\n"}});
  ASSERT_EQ(Session().Mode(), setup::TSetupMode::Uninstall);
  OpenWizard();
  EXPECT_EQ(Wizard().NextButton()->text(), "bUninstall");
  EXPECT_EQ(Wizard().Pages()[1]->objectName(), "PageUninstall");
  EXPECT_EQ(Wizard().Pages()[2]->objectName(), "PageUninstallFinish");
}

TEST_F(WizardFormTest, AutoRunShowsProgressAndFinishOnlyAndClosesWhenAllWentWell) {
  OpenSession({kTestPageA}, {Counting()}, "/AUTO");
  OpenWizard();
  ASSERT_EQ(Wizard().Pages().Count(), 2);
  EXPECT_EQ(ActivePageName(), "PageInstall");
  for (int x : {1, Wizard().width() / 2, Wizard().width() - 2}) EXPECT_EQ(StripAt(x), kWindowBackground) << x;
  WaitForRun();
  EXPECT_EQ(closed_, 1);
  EXPECT_TRUE(Wizard().isHidden());
}

TEST_F(WizardFormTest, NoticesOfTheRunAreShownOnceWhenItEnds) {
  OpenSession({}, {Noticing(), Counting()}, "/AUTO");
  OpenWizard();
  WaitForRun();
  ASSERT_EQ(kel::TKELDialogAnswers::Records().size(), 1u);
  EXPECT_EQ(kel::TKELDialogAnswers::Records()[0].text, "left something out");
  EXPECT_EQ(closed_, 1) << "a notice is no error: the run still closes by itself";
}

TEST_F(WizardFormTest, AutoRunWithAnErrorStaysOnTheFinishPage) {
  OpenSession({}, {Failing(), Counting()}, "/AUTO");
  OpenWizard();
  WaitForRun();
  EXPECT_EQ(closed_, 0);
  EXPECT_TRUE(Wizard().isVisible());
  EXPECT_EQ(ActivePageName(), "PageFinish");
  EXPECT_EQ(Wizard().ActivePage()->findChild<QPlainTextEdit*>()->toPlainText(), "failed on purpose");
  EXPECT_EQ(TestActions::runs, 0);
}

TEST_F(WizardFormTest, CloseQuestionBeforeTheRun) {
  OpenSession({kTestPageA}, {Counting()});
  OpenWizard();
  kel::TKELDialogAnswers::Push("Cancel");
  Wizard().CloseCommand();
  EXPECT_TRUE(Wizard().isVisible());
  EXPECT_EQ(closed_, 0);
  ASSERT_EQ(kel::TKELDialogAnswers::Records().size(), 1u);
  const kel::TKELDialogRecord& question = kel::TKELDialogAnswers::Records()[0];
  EXPECT_EQ(question.caption, "Caption");
  EXPECT_EQ(question.text, "QM question");
  EXPECT_EQ(question.defaultAnswer, "Cancel");

  kel::TKELDialogAnswers::Push("OK");
  Wizard().CloseCommand();
  EXPECT_EQ(closed_, 1);
  EXPECT_TRUE(Wizard().isHidden());
  EXPECT_EQ(Session().State(), setup::TSetupState::Idle) << "no worker was started";
  EXPECT_EQ(TestActions::runs, 0);
}

TEST_F(WizardFormTest, CloseQuestionDuringTheRun) {
  TWatchdog watchdog(60);
  OpenSession({}, {Waiting(), Counting()});
  OpenWizard();
  auto* status = Wizard().ActivePage()->findChild<QLabel*>();
  ASSERT_TRUE(QTest::qWaitFor([&] { return status->text() == "waiting"; }));

  kel::TKELDialogAnswers::Push("Cancel");
  Wizard().CloseCommand();
  EXPECT_TRUE(Wizard().isVisible());
  EXPECT_EQ(Session().State(), setup::TSetupState::Running) << "the worker goes on";

  kel::TKELDialogAnswers::Push("OK");
  Wizard().CloseCommand();  // stops the worker: the waiting action is cancelled
  EXPECT_EQ(closed_, 1);
  EXPECT_TRUE(Wizard().isHidden());
  EXPECT_EQ(Session().State(), setup::TSetupState::Finished);
  EXPECT_EQ(TestActions::runs, 0) << "the action after the stop request never runs";
  ASSERT_TRUE(Session().HasErrors());
  EXPECT_EQ(Session().Errors()[Session().Errors().Count() - 1], "E4 stopped");
  EXPECT_EQ(Questions(), (std::vector<std::string>{"QM question", "QM question"}));
}

// The close question answered while a notification of the worker is being
// delivered (the progress page lets the window react in the middle of it):
// the worker waits for that notification, so stopping it must wait until
// the notification has returned.
TEST_F(WizardFormTest, CloseConfirmedWhileTheWorkerWaitsForANotification) {
  TWatchdog watchdog(60);
  OpenSession({}, {Counting(), Counting()});
  OpenWizard();
  struct TCloser : setup::IInstallerNotify {
    setup::TWizardForm* form;
    bool done = false;
    void Notify(int code, intptr_t) override {
      if (code != setup::neStatusText || done) return;
      done = true;
      kel::TKELDialogAnswers::Push("OK");
      form->CloseCommand();
    }
  } closer;
  closer.form = &Wizard();
  Session().AddListener(&closer);
  ASSERT_TRUE(QTest::qWaitFor([&] { return closed_ == 1; }, 20000));
  Session().RemoveListener(&closer);
  EXPECT_EQ(TestActions::runs, 1) << "the first action ends, the second never starts";
  EXPECT_EQ(Session().State(), setup::TSetupState::Finished);
  EXPECT_TRUE(Session().HasErrors());
}

TEST_F(WizardFormTest, FinishedRunDisablesTheCloseCommand) {
  OpenSession({}, {Counting()});
  OpenWizard();
  EXPECT_TRUE(Wizard().CloseCommandEnabled());
  WaitForRun();
  EXPECT_FALSE(Wizard().CloseCommandEnabled());
  ASSERT_NE(Wizard().windowHandle(), nullptr);
  EXPECT_FALSE(Wizard().windowHandle()->flags() & Qt::WindowCloseButtonHint) << "no close button in the title bar";
  Wizard().CloseCommand();
  QTest::keyClick(&Wizard(), Qt::Key_Escape);
  EXPECT_TRUE(Wizard().isVisible());
  EXPECT_TRUE(kel::TKELDialogAnswers::Records().empty());
  ClickNext();
  EXPECT_EQ(closed_, 1);
}

TEST_F(WizardFormTest, ErrorWhileMovingOnShowsTheErrorBoxAndTheWizardStays) {
  // An uninstallation whose destination was never set cannot start.
  OpenSession({kTestPageA}, {}, "", MinimalInstallXml(""), {{"Uninstall.ini", "[Uninstall]\r\n"}});
  OpenWizard();
  ClickNext();
  ASSERT_EQ(kel::TKELDialogAnswers::Records().size(), 1u);
  EXPECT_EQ(kel::TKELDialogAnswers::Records()[0].caption, "Setup");
  EXPECT_EQ(kel::TKELDialogAnswers::Records()[0].text, "DestPath is empty");
  EXPECT_TRUE(Wizard().isVisible());
  EXPECT_EQ(ActivePageName(), "PageUninstall");
}

TEST_F(WizardFormTest, MissingHeaderPictureFailsTheWindow) {
  OpenSession({kTestPageA}, {}, "", MinimalInstallXml(""), {}, {{"header_dark.png", Png(640, 53, Qt::black)}});
  try {
    setup::TWizardForm form(Session());
    ADD_FAILURE() << "built without header.png";
  } catch (const setup::EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), "Cannot locate \"header.png\" file in setup archive");
  }
}

TEST_F(WizardFormTest, KeyboardAlone) {
  OpenSession({setup::kSetupPageWelcome, setup::kSetupPageLicense, setup::kSetupPageReadyToInstall}, {Counting()});
  OpenWizard();
  QApplication::setActiveWindow(&Wizard());
  // Keys go to the window's focus widget (the window is the active one).
  const auto press = [this](Qt::Key key) {
    QWidget* focused = Wizard().focusWidget();
    ASSERT_NE(focused, nullptr) << "nothing has the focus";
    QTest::keyClick(focused, key);
  };
  EXPECT_EQ(Wizard().focusWidget(), Wizard().NextButton());
  press(Qt::Key_Return);
  ASSERT_EQ(ActivePageName(), "PageLicense");
  EXPECT_NE(dynamic_cast<kel::TKELRichViewer*>(Wizard().focusWidget()), nullptr) << "the licence takes the focus";
  press(Qt::Key_Tab);
  auto* accept = qobject_cast<QCheckBox*>(Wizard().focusWidget());
  ASSERT_NE(accept, nullptr);
  press(Qt::Key_Space);
  EXPECT_TRUE(accept->isChecked());
  press(Qt::Key_Return);  // the default button
  ASSERT_EQ(ActivePageName(), "PageReadyToInstall");

  kel::TKELDialogAnswers::Push("Cancel");
  press(Qt::Key_Escape);
  EXPECT_EQ(Questions(), (std::vector<std::string>{"QM question"}));
  press(Qt::Key_Return);
  EXPECT_EQ(ActivePageName(), "PageInstall");
  WaitForRun();
  press(Qt::Key_Return);
  EXPECT_EQ(closed_, 1);
}

}  // namespace
}  // namespace orvi::test
