// The application's skin on real controls: colours of the theme's skin,
// popup margins and corners of the system version, the style's own look
// without a skin.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QStyle>

#include "kel/ui/application_skin.h"
#include "rich_viewer_test_support.h"
#include "support/default_skins.h"

namespace kel {
namespace {

class SkinStyleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { orvi::test::EnsureQtApplication(); }
  void SetUp() override { Skin().SetResourceReader(orvi::test::DefaultSkinText); }
  void TearDown() override {
    Skin().SetResourceReader(nullptr);
    Skin().SetOsVersion(0, 0);
    Skin().Load(false);
  }
  static TKELApplicationSkin& Skin() { return TKELApplicationSkin::Instance(); }
  static QColor PixelAt(QWidget& widget, QPoint point) { return widget.grab().toImage().pixelColor(point); }
};

TEST_F(SkinStyleTest, ControlsTakeTheColoursOfTheThemesSkin) {
  const struct {
    bool dark;
    QColor text, edit, done;
  } rows[] = {{false, QColor(0x00, 0x00, 0x00), QColor(0xFA, 0xFA, 0xFA), QColor(0xDE, 0x8C, 0x33)},
              {true, QColor(0xFF, 0xFF, 0xFF), QColor(0x2F, 0x2F, 0x2F), QColor(0xAC, 0x67, 0x1C)}};
  QWidget window;
  auto* label = new QLabel("Label", &window);
  auto* edit = new QLineEdit(&window);
  edit->setGeometry(0, 30, 200, 24);
  auto* bar = new QProgressBar(&window);
  bar->setGeometry(0, 60, 200, 20);
  bar->setTextVisible(false);
  bar->setValue(100);
  window.resize(220, 100);
  int changes = 0;
  QObject::connect(&Skin(), &TKELApplicationSkin::Changed, &window, [&] { ++changes; });
  for (const auto& row : rows) {
    SCOPED_TRACE(row.dark ? "dark" : "light");
    Skin().Load(row.dark);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), row.text);
    EXPECT_EQ(PixelAt(*edit, QPoint(100, 12)), row.edit);
    EXPECT_EQ(PixelAt(*bar, QPoint(100, 10)), row.done);
  }
  EXPECT_EQ(changes, 2);
}

TEST_F(SkinStyleTest, PopupMarginsAndCornersFollowTheSystemVersion) {
  const QColor border(0xBC, 0xBC, 0xBC);
  const struct {
    uint32_t major, build;
    int itemOffset;  // the 1-pixel border and the popup's margin
    bool rounded;
  } rows[] = {{10, 19045, 1 + 2, false}, {10, 22631, 1 + 6, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.build);
    Skin().SetOsVersion(row.major, row.build);
    Skin().Load(false);
    QMenu menu;
    QAction* action = menu.addAction("Item");
    menu.ensurePolished();
    menu.adjustSize();
    EXPECT_EQ(menu.actionGeometry(action).topLeft(), QPoint(row.itemOffset, row.itemOffset));
    EXPECT_EQ(PixelAt(menu, QPoint(0, 0)) != border, row.rounded) << "the corner";
    EXPECT_EQ(PixelAt(menu, QPoint(menu.width() / 2, 0)), border) << "the top border";
  }
}

TEST_F(SkinStyleTest, WithoutSkinTheStylesOwnLook) {
  for (const char* text : {static_cast<const char*>(nullptr), "color Labels.Colors.Text = red\n"}) {
    Skin().SetResourceReader([text](std::string_view) -> std::optional<std::string> {
      if (text) return text;
      return std::nullopt;
    });
    Skin().Load(true);
    EXPECT_TRUE(Skin().Skin().Items().empty()) << (text ? "damaged" : "missing");
    EXPECT_EQ(QApplication::palette(), QApplication::style()->standardPalette());
  }
}

}  // namespace
}  // namespace kel
