// The page framework: names, language texts, scaled bounds and the page
// list's searches.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "wizard_fixture.h"

namespace orvi::test {
namespace {

// A page that builds the controls of the framework tests.
class TControlsPage : public setup::TSetupPage {
 public:
  using TSetupPage::TSetupPage;
  using TSetupPage::AddControl;
  using TSetupPage::AddLabel;

 protected:
  void CreateControls() override {
    TSetupPage::CreateControls();
    AddCheckBox(QRect(10, 10, 100, 17), "CB1", nullptr);
    AddLabel(QRect(10, 40, 100, 17), "Missing", false);
    AddLabel(QRect(10, 70, 100, 17), "", false)->setText("kept");
    auto* group = AddControl<QGroupBox>(QRect(10, 100, 200, 100), "");
    auto* nested = new QLabel(group);
    nested->setObjectName("L1");
    AddControl<QLineEdit>(QRect(10, 210, 100, 20), "CB1Edit")->setText("typed");
  }
};

inline constexpr setup::TSetupPageClass kControlsPage{"TSetupPageControls"};

class PageTest : public WizardTest {
 protected:
  std::unique_ptr<setup::TSetupCustomPage> MakeControlsPage() {
    OpenSession({}, {});
    Session().Resources().LanguageIni().WriteString("PageControls", "Title", "The title");
    Session().Resources().LanguageIni().WriteString("PageControls", "CB1", "Check box text");
    Session().Resources().LanguageIni().WriteString("PageControls", "L1", "Nested text");
    Session().Resources().LanguageIni().WriteString("PageControls", "CB1Edit", "not a caption");
    setup::TSetupPageRegistry::Register<TControlsPage>(kControlsPage);
    return setup::TSetupPageRegistry::Create(kControlsPage, nullptr);
  }
};

TEST_F(PageTest, NameComesFromTheClassName) {
  const struct {
    std::string_view className;
    std::string pageName;
  } rows[] = {{"TSetupPageReadyToInstall", "PageReadyToInstall"}, {"TSetupPageWelcome", "PageWelcome"},
              {"TSetup", ""}, {"TSet", ""}};
  for (const auto& row : rows) EXPECT_EQ(setup::TSetupPageClass(row.className).PageName(), row.pageName);
  const std::unique_ptr<setup::TSetupCustomPage> page = MakeControlsPage();
  EXPECT_EQ(page->objectName(), "PageControls");
  EXPECT_TRUE(page->isHidden());
}

TEST_F(PageTest, LocalizeGivesNamedControlsTheirTexts) {
  const std::unique_ptr<setup::TSetupCustomPage> page = MakeControlsPage();
  const auto& texts = dynamic_cast<setup::TSetupPage&>(*page);
  EXPECT_EQ(texts.Title, "The title");
  EXPECT_EQ(texts.Description, "") << "missing key";
  EXPECT_EQ(page->findChild<QCheckBox*>("CB1")->text(), "Check box text");
  EXPECT_EQ(page->findChild<QLabel*>("Missing")->text(), "") << "a named control whose key is missing";
  EXPECT_EQ(page->findChild<QLabel*>("L1")->text(), "Nested text") << "controls inside controls too";
  EXPECT_EQ(page->findChild<QLineEdit*>("CB1Edit")->text(), "typed") << "an edit has no caption";
  bool kept = false;
  for (const QLabel* label : page->findChildren<QLabel*>())
    kept = kept || (label->objectName().isEmpty() && label->text() == "kept");
  EXPECT_TRUE(kept) << "an unnamed control keeps its text";
}

TEST_F(PageTest, AddControlScalesBoundsWithThePageDpi) {
  const std::unique_ptr<setup::TSetupCustomPage> page = MakeControlsPage();
  auto& controls = dynamic_cast<TControlsPage&>(*page);
  const struct {
    int dpi;
    QRect expected;
  } rows[] = {{96, QRect(40, 30, 540, 20)}, {144, QRect(60, 45, 810, 30)}, {120, QRect(50, 38, 675, 25)}};
  for (const auto& row : rows) {
    controls.SetDpi(row.dpi);
    QLabel* label = controls.AddLabel(QRect(40, 30, 540, 20), "Scaled", false);
    // Device pixels: the page is shown without further scaling.
    EXPECT_EQ(label->geometry(), row.expected) << row.dpi;
    EXPECT_EQ(label->devicePixelRatio(), 1);
  }
}

TEST_F(PageTest, ListSearchesSkipUnavailablePagesAndKeepPositions) {
  OpenSession({}, {});
  setup::TSetupPageList list;
  setup::TSetupCustomPage* a = list.AddPage(kTestPageA, nullptr);
  auto* b = dynamic_cast<TTestPage*>(list.AddPage(kTestPageB, nullptr));
  setup::TSetupCustomPage* c = list.AddPage(kTestPageC, nullptr);
  EXPECT_EQ(list.AddPage(setup::TSetupPageClass("TSetupPageNobodyRegistered"), nullptr), nullptr);
  ASSERT_EQ(list.Count(), 3);
  b->available = false;

  EXPECT_EQ(list.GetNext(a), c);
  EXPECT_EQ(list.GetPrev(c), a);
  EXPECT_EQ(list.IndexOf(c), 2);
  EXPECT_EQ(list.GetNext(c), nullptr);
  EXPECT_EQ(list.GetPrev(a), nullptr);
  EXPECT_EQ(list.GetNext(nullptr), a) << "a page not in the list stands before the first";
  EXPECT_EQ(list.GetPrev(nullptr), nullptr);
  EXPECT_EQ(list.GetFirst(), a);
  EXPECT_EQ(list.GetLast(), c);
  EXPECT_TRUE(list.CanMoveNext(a));
  EXPECT_FALSE(list.CanMoveNext(c));
  EXPECT_FALSE(list.CanMoveBack(a));
  EXPECT_FALSE(list.CanMoveNext(nullptr));
  dynamic_cast<TTestPage*>(a)->canGoNext = false;
  EXPECT_FALSE(list.CanMoveNext(a));
}

}  // namespace
}  // namespace orvi::test
