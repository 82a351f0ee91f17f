// The wizard and the desktop's theme switched while it is open (through a
// session bus of the test's own and a portal stand-in), and the wizard at
// another DPI.
#include <QLabel>
#include <QLineEdit>

#include "kel/base/stream.h"
#include "kel/ui/application_skin.h"
#include "kel/platform/process.h"
#include "kel/ui/desktop_theme.h"
#include "setup/package/embedded_resources.h"
#include "setup/ui/color_scheme.h"
#include "support/default_skins.h"
#include "support/session_bus.h"
#include "support/temp_dir.h"
#include "support/testlib/environment.h"
#include "wizard_fixture.h"

namespace orvi::test {
namespace {

// A page with a label and an edit box.
class TEditPage : public setup::TSetupPage {
 public:
  using TSetupPage::TSetupPage;

 protected:
  void CreateControls() override {
    TSetupPage::CreateControls();
    AddLabel(QRect(30, 20, 300, 20), "L1", false);
    AddControl<QLineEdit>(QRect(30, 50, 300, 24), "Edit");
  }
};

constexpr setup::TSetupPageClass kEditPage{"TSetupPageTestEdit"};

class ThemeAndDpiTest : public WizardTest {
 protected:
  static void SetUpTestSuite() {
    WizardTest::SetUpTestSuite();
    setup::TSetupPageRegistry::Register<TEditPage>(kEditPage);
  }
  void SetUp() override {
    WizardTest::SetUp();
    kel::TKELApplicationSkin::Instance().SetResourceReader(DefaultSkinText);
  }
  void TearDown() override {
    WizardTest::TearDown();
    setup::SetDarkThemeQuery(nullptr);
    setup::UpdateColorScheme();
    kel::TKELApplicationSkin::Instance().SetResourceReader(nullptr);
  }

  QColor PixelOf(QWidget& widget, QPoint point) { return widget.grab().toImage().pixelColor(point); }
};

TEST_F(ThemeAndDpiTest, DesktopSwitchedToDarkWhileTheWizardIsOpen) {
  SessionBus bus;
  if (!bus.Running()) GTEST_SKIP() << "dbus-daemon is not available";
  ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str());
  PortalStandIn portal(bus.Address(), 2);  // prefers light
  ASSERT_TRUE(portal.Ready());
  std::unique_ptr<kel::TKELDesktopTheme> desktop(setup::FollowDesktopTheme());
  setup::UpdateColorScheme();
  OpenSession({kEditPage, setup::kSetupPageWelcome}, {});
  setup::TWizardForm& wizard = OpenWizard();
  auto* label = wizard.ActivePage()->findChild<QLabel*>("L1");
  auto* edit = wizard.ActivePage()->findChild<QLineEdit*>("Edit");
  const QPoint strip(1, wizard.Scale(53 + 5));  // the first dash of the first step
  const QPoint footer(wizard.width() / 2, wizard.height() - 2);
  ASSERT_FALSE(setup::IsDarkTheme());
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0x00, 0x00, 0x00));
  EXPECT_EQ(PixelOf(*edit, edit->rect().center()), QColor(0xFA, 0xFA, 0xFA));
  EXPECT_EQ(PixelOf(wizard, strip), QColor(0xDE, 0x8C, 0x33));

  // Repaints are told by paint events: the window is painted again.
  wizard.grab();
  portal.SetColorScheme(1);
  ASSERT_TRUE(QTest::qWaitFor([] { return setup::IsDarkTheme(); }, 10000));
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0xFF));
  EXPECT_EQ(PixelOf(*edit, edit->rect().center()), QColor(0x2F, 0x2F, 0x2F));
  EXPECT_EQ(PixelOf(wizard, strip), QColor(0xAC, 0x67, 0x1C));
  EXPECT_EQ(PixelOf(wizard, footer), QColor(0xAC, 0x67, 0x1C));
  EXPECT_EQ(PixelOf(*wizard.ActivePage(), QPoint(2, 2)), QColor(0x26, 0x26, 0x26)) << "the page background";
  EXPECT_EQ(wizard.findChild<QLabel*>("lbVerInfo")->palette().color(QPalette::WindowText), QColor(0xF0, 0xF0, 0xF0));

  // The side picture keeps the theme the page was made in; fonts keep their
  // sizes.
  ClickNext();
  EXPECT_EQ(ActivePageName(), "PageWelcome");
  EXPECT_EQ(PixelOf(*wizard.ActivePage(), QPoint(10, 10)), QColor(0x80, 0xC0, 0x40)) << "wizard_light.png";
  EXPECT_EQ(wizard.font().pixelSize(), 12);
  EXPECT_EQ(wizard.ActivePage()->findChild<QLabel*>("L1")->font().pixelSize(), 15);

  portal.SetColorScheme(0);
  ASSERT_TRUE(QTest::qWaitFor([] { return !setup::IsDarkTheme(); }, 10000));
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0x00, 0x00, 0x00));
  setup::SetDarkThemeQuery(nullptr);
}

TEST_F(ThemeAndDpiTest, SkinsComeFromTheProgramFileForTheSystemVersion) {
  TempDir folder;
  kel::TKELMemoryStream program("a program"), light(*DefaultSkinText(kel::kelDefaultSkinResource)),
      dark(*DefaultSkinText(kel::kelDefaultSkinDarkResource));
  setup::TEmbeddedResourceWriter writer;
  writer.Add(kel::kelDefaultSkinResource, light);
  writer.Add(kel::kelDefaultSkinDarkResource, dark);
  {
    kel::TKELFileStream file(folder / "Setup", kel::fmCreate);
    writer.Write(program, "Setup", file);
  }
  const struct {
    const char* version;
    bool dark;
    std::optional<kel::TKELSkinMargins> cornerRadius;
  } rows[] = {{"10.0.19045", false, std::nullopt}, {"10.0.22631", true, kel::TKELSkinMargins{7, 7, 7, 7}}};
  for (const auto& row : rows) {
    ScopedEnv version(kel::platform::kOsVersionVariable, row.version);
    setup::UseSkinsOf(folder / "Setup");
    setup::SetDarkThemeQuery([&] { return row.dark; });
    setup::UpdateColorScheme();
    const kel::TKELSkin& skin = kel::TKELApplicationSkin::Instance().Skin();
    EXPECT_EQ(skin.Items().size(), row.dark ? 170u : 158u) << row.version;
    EXPECT_EQ(skin.Margins("Popup.Margins.CornerRadius"), row.cornerRadius) << row.version;
  }
  setup::UseSkinsOf(folder / "Missing");
  setup::UpdateColorScheme();
  EXPECT_TRUE(kel::TKELApplicationSkin::Instance().Skin().Items().empty()) << "no skin: the style's own look";
}

TEST_F(ThemeAndDpiTest, At144DpiEveryLengthScalesAndComesBack) {
  OpenSession({kEditPage, setup::kSetupPageWelcome}, {});
  setup::TWizardForm& wizard = OpenWizard();
  const auto welcome = [&] { return dynamic_cast<setup::TSetupPage*>(wizard.Pages()[1]); };
  const auto bounds = [&] {
    return std::vector<QRect>{wizard.rect(), wizard.BackButton()->geometry(), wizard.NextButton()->geometry(),
                              wizard.ActivePage()->geometry(), welcome()->findChild<QLabel*>("L1")->geometry(),
                              welcome()->findChild<QLabel*>("L2")->geometry()};
  };
  const std::vector<QRect> at96 = bounds();
  EXPECT_EQ(at96[0], QRect(0, 0, 640, 480));

  wizard.SetDpi(144);
  EXPECT_EQ(wizard.devicePixelRatio(), 1) << "the sizes are device pixels";
  EXPECT_EQ(bounds(), (std::vector<QRect>{QRect(0, 0, 960, 720), QRect(576, 671, 182, 38), QRect(767, 671, 182, 38),
                                          QRect(0, 101, 960, 553), QRect(315, 33, 600, 75), QRect(315, 92, 600, 360)}));
  QWidget* heading = welcome()->findChild<QLabel*>("L1");
  EXPECT_EQ(heading->font().pixelSize(), 22) << "11 points at 144 DPI";
  EXPECT_EQ(wizard.font().pixelSize(), 18) << "9 points at 144 DPI";
  // Header 0-80 (53 x 144 / 96 = 79.5, rounded), strip 80-95, footer 654-720.
  QImage image = wizard.grab().toImage();
  const QColor accent(0xDE, 0x8C, 0x33);
  EXPECT_EQ(image.pixelColor(480, 78), accent) << "the header's bottom line";
  EXPECT_EQ(image.pixelColor(480, 79), accent);
  EXPECT_NE(image.pixelColor(480, 77), accent) << "one scaled pixel high (1.5, rounded)";
  EXPECT_EQ(image.pixelColor(1, 80 + 3), accent) << "the strip's bar, 3 pixels in";
  EXPECT_NE(image.pixelColor(1, 80 + 2), accent) << "the bar leaves 3 pixels";
  EXPECT_EQ(image.pixelColor(480, 654), accent) << "the footer";
  EXPECT_NE(image.pixelColor(480, 653), accent);

  ClickNext();  // a full-window page: its picture scaled to 282 x 652
  image = wizard.grab().toImage();
  EXPECT_EQ(wizard.ActivePage()->geometry(), QRect(0, 0, 960, 654));
  EXPECT_EQ(image.pixelColor(10, 10), QColor(0x80, 0xC0, 0x40));
  EXPECT_EQ(image.pixelColor(281, 651), QColor(0x80, 0xC0, 0x40));
  EXPECT_NE(image.pixelColor(283, 600), QColor(0x80, 0xC0, 0x40));

  ClickBack();
  wizard.SetDpi(96);
  EXPECT_EQ(bounds(), at96);
  EXPECT_EQ(heading->font().pixelSize(), 15);
}

}  // namespace
}  // namespace orvi::test
