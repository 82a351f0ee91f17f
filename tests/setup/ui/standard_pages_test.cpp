// The standard pages: the progress page's reactions, the finish pages with
// and without errors, the post-installation choices, the licence, the
// summary and the side picture.
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextDocument>
#include <QTimer>

#include "kel/ui/rich_viewer.h"
#include "setup/core/summary.h"
#include "setup/ui/color_scheme.h"
#include "wizard_fixture.h"

namespace orvi::test {
namespace {

// Summarises the option [Test] Choice.
class TChoiceAction : public setup::TSetupAction {
 public:
  void Execute() override {}
  void Summarize(setup::TSetupSummaryBuilder& builder) override {
    builder.SetHeading("Choice");
    builder.AddItem("choice " + Settings().ReadString("Test", "Choice", "none"));
  }
};

std::string ThreeActionsXml() {
  return MinimalInstallXml(
      "<Actions><File name=\"$DESTa\">Start</File><File name=\"$DESTb\">Notes</File>"
      "<File name=\"$DESTc\">Third</File></Actions>",
      "<license><File name=\"License_EN.rtf\"/></license>");
}

class StandardPagesTest : public WizardTest {
 protected:
  template <typename Page>
  std::unique_ptr<Page> Make(const setup::TSetupPageClass& pageClass) {
    std::unique_ptr<setup::TSetupCustomPage> page = setup::TSetupPageRegistry::Create(pageClass, nullptr);
    page->resize(640, 436);
    page->show();  // lays it out
    return std::unique_ptr<Page>(dynamic_cast<Page*>(page.release()));
  }
  static QString Text(const QWidget& page, const char* name) {
    const auto* label = page.findChild<QLabel*>(name);
    return label ? label->text() : page.findChild<QAbstractButton*>(name)->text();
  }
};

TEST_F(StandardPagesTest, ProgressPageFollowsTheWorkerAndIgnoresRepeatedPositions) {
  OpenSession({}, {});
  auto page = Make<setup::TSetupPageInstall>(setup::kSetupPageInstall);
  const QList<QProgressBar*> bars = page->findChildren<QProgressBar*>();
  ASSERT_EQ(bars.size(), 2);
  EXPECT_EQ(page->findChild<QLabel*>()->text(), "Preparing");
  EXPECT_FALSE(page->CanGoNext());
  EXPECT_FALSE(page->CanGoBack());

  bool processed = false;
  QTimer::singleShot(0, [&] { processed = true; });
  page->Notify(setup::neProgress, 30 * 65536 + 50);
  EXPECT_EQ(bars[0]->value(), 50) << "the current action";
  EXPECT_EQ(bars[1]->value(), 30) << "the whole run";
  EXPECT_EQ(page->GetProgress(), 30);
  EXPECT_TRUE(processed) << "the window reacts after a visible change";

  processed = false;
  QTimer::singleShot(0, [&] { processed = true; });
  page->Notify(setup::neProgress, 30 * 65536 + 50);
  EXPECT_FALSE(processed) << "the same positions again change nothing and process nothing";
  page->Notify(setup::neProgress, 30 * 65536 + 51);
  EXPECT_TRUE(processed);

  const std::string status = "Copying files...";
  page->Notify(setup::neStatusText, reinterpret_cast<intptr_t>(&status));
  EXPECT_EQ(page->findChild<QLabel*>()->text(), "Copying files...");
  page->Notify(setup::neFinished, 0);
  EXPECT_TRUE(page->CanGoNext());
}

TEST_F(StandardPagesTest, FinishPageOffersThePostInstallationPrograms) {
  OpenSession({}, {}, "", ThreeActionsXml());
  auto page = Make<setup::TSetupPageFinish>(setup::kSetupPageFinish);
  page->Prepare();
  const struct {
    const char* name;
    int y;
    const char* caption;
    const char* key;
  } rows[] = {{"CB1", 120, "Start the program", "$DESTa"},
              {"CB2", 144, "Show the notes", "$DESTb"},
              {"CB3", 168, "Third entry", "$DESTc"}};
  for (const auto& row : rows) {
    const auto* box = page->findChild<QCheckBox*>(row.name);
    ASSERT_NE(box, nullptr) << row.name;
    EXPECT_EQ(box->geometry(), QRect(210, row.y, 320, 17)) << row.name;
    EXPECT_EQ(box->text(), row.caption);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(box->isHidden());
    EXPECT_TRUE(Session().Settings().ReadBool("Actions", row.key, false)) << "stored when the page is shown";
  }
  ClickBox(page->findChild<QCheckBox*>("CB2"));
  EXPECT_EQ(Session().Settings().ReadString("Actions", "$DESTb", ""), "0");
  EXPECT_EQ(Session().Settings().ReadString("Actions", "$DESTa", ""), "1");

  EXPECT_EQ(Text(*page, "L1"), "Finish L1");
  const auto* link = page->findChild<QLabel*>("L3");
  EXPECT_EQ(link->text(), "Home page");
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0x00, 0x66, 0xCC));
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(link->geometry().bottom(), 436 - 4 - 1) << "at the bottom of the page";
  EXPECT_TRUE(page->findChild<QPlainTextEdit*>()->isHidden()) << "no errors, no error list";
}

TEST_F(StandardPagesTest, FinishPagesShowTheErrorsInstead) {
  OpenSession({}, {}, "", ThreeActionsXml());
  Session().LogError("first error");
  Session().LogError("second error");
  const struct {
    setup::TSetupPageClass pageClass;
    const char* heading;
    const char* text;
    bool checkBoxes;
  } rows[] = {{setup::kSetupPageFinish, "Finish E1", "Finish E2", true},
              {setup::kSetupPageUninstallFinish, "Removed E1", "Removed E2", false}};
  for (const auto& row : rows) {
    auto page = Make<setup::TSetupPageCustomFinish>(row.pageClass);
    page->Prepare();
    EXPECT_EQ(Text(*page, "L1"), row.heading);
    EXPECT_EQ(page->findChild<QLabel*>("L1")->palette().color(QPalette::WindowText), QColor(0xFF, 0x00, 0x00));
    EXPECT_EQ(Text(*page, "L2"), row.text);
    const auto* errors = page->findChild<QPlainTextEdit*>();
    EXPECT_FALSE(errors->isHidden());
    EXPECT_EQ(errors->toPlainText(), "first error\nsecond error");
    EXPECT_EQ(errors->geometry(), QRect(210, 120, 640 - 210 - 20, errors->geometry().height()));
    EXPECT_EQ(page->findChildren<QCheckBox*>().size(), row.checkBoxes ? 3 : 0);
    for (const QCheckBox* box : page->findChildren<QCheckBox*>()) EXPECT_TRUE(box->isHidden());
    EXPECT_EQ(page->findChild<QLabel*>("L3") != nullptr, row.checkBoxes) << "the link is the installation's";
  }
}

TEST_F(StandardPagesTest, LicencePageShowsTheLanguagesLicence) {
  OpenSession({setup::kSetupPageLicense}, {}, "", ThreeActionsXml());
  OpenWizard();
  const auto* viewer = Wizard().ActivePage()->findChild<kel::TKELRichViewer*>();
  EXPECT_EQ(viewer->Document().toPlainText().trimmed(), "The licence text.");
  EXPECT_TRUE(viewer->HasVerticalScrollBar());

  // Without a licence for the language the viewer stays empty, and the box
  // must still be ticked.
  OpenSession({setup::kSetupPageLicense}, {});
  OpenWizard();
  EXPECT_TRUE(Wizard().ActivePage()->findChild<kel::TKELRichViewer*>()->Document().isEmpty());
  EXPECT_FALSE(Wizard().NextButton()->isEnabled());
}

TEST_F(StandardPagesTest, SummaryIsRebuiltAtEveryVisit) {
  OpenSession({kTestPageA, setup::kSetupPageReadyToInstall},
              {setup::TSetupActionClass::Of<TChoiceAction>("TChoiceAction")});
  OpenWizard();
  const auto summary = [this] {
    return Wizard().ActivePage()->findChild<kel::TKELRichViewer*>()->Document().toPlainText().trimmed();
  };
  ClickNext();
  EXPECT_EQ(summary(), "Choice\nchoice none");
  EXPECT_FALSE(Wizard().ActivePage()->findChild<kel::TKELRichViewer*>()->isEnabled());
  ClickBack();
  Session().Settings().WriteString("Test", "Choice", "two");
  ClickNext();
  EXPECT_EQ(summary(), "Choice\nchoice two");
}

TEST_F(StandardPagesTest, FullWindowPagesShowTheSidePictureOfTheTheme) {
  OpenSession({}, {});
  const struct {
    bool dark;
    QColor picture;
  } rows[] = {{false, QColor(0x80, 0xC0, 0x40)}, {true, QColor(0x40, 0x60, 0x20)}};
  for (const auto& row : rows) {
    setup::SetDarkThemeQuery([&] { return row.dark; });
    setup::UpdateColorScheme();
    auto page = Make<setup::TSetupPageWelcome>(setup::kSetupPageWelcome);
    const QImage image = page->grab().toImage();
    EXPECT_EQ(image.pixelColor(10, 10), row.picture) << row.dark;
    EXPECT_EQ(image.pixelColor(187, 434), row.picture) << row.dark;
    EXPECT_EQ(image.pixelColor(188, 10), setup::WizardColors().PageBackground) << row.dark;
    EXPECT_EQ(Text(*page, "L1"), "Welcome L1");
    EXPECT_EQ(Text(*page, "L2"), "Welcome L2");
  }
  setup::SetDarkThemeQuery(nullptr);
  setup::UpdateColorScheme();
}

}  // namespace
}  // namespace orvi::test
