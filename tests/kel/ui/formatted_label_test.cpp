#include "kel/ui/formatted_label.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QScrollBar>
#include <QTest>
#include <filesystem>

#include "support/temp_dir.h"
#include "support/testlib/environment.h"
#include "text_layout_qt.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

class FormattedLabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    label_ = std::make_unique<TKELFormattedLabel>();
    label_->setFont(test::TestFont());
    label_->resize(300, 100);
    label_->OnCalculated = [this] { ++calculated_; };
    label_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(label_.get()));
  }
  void TearDown() override {
    label_.reset();
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()) << "a window was left behind";
  }

  // A point over the link to `target` on the first row, or (-1, -1).
  QPoint FindLink(const std::string& target) {
    for (int x = 0; x < label_->width(); ++x) {
      const QPoint point(x, 8);
      if (label_->LinkAt(point) == target) return point;
    }
    return {-1, -1};
  }

  QWidget* Viewport() { return label_->viewport(); }

  std::unique_ptr<TKELFormattedLabel> label_;
  int calculated_ = 0;
};

TEST_F(FormattedLabelTest, ClickOnALinkCallsTheHandler) {
  label_->SetCaption("Visit [URL=https://example.org/x]our site[/URL] or mail me@example.org.");
  std::vector<std::string> clicked;
  label_->OnLinkExecute = [&](const std::string& target, bool& handled) {
    clicked.push_back(target);
    handled = true;
  };
  const QPoint site = FindLink("https://example.org/x");
  ASSERT_GE(site.x(), 0);
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, site);
  EXPECT_EQ(clicked, std::vector<std::string>{"https://example.org/x"});

  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, QPoint(1, 8));
  QTest::mouseClick(Viewport(), Qt::RightButton, {}, site);
  EXPECT_EQ(clicked.size(), 1u) << "only left clicks on links count";
  // A press on the link and a release elsewhere is no click.
  QTest::mousePress(Viewport(), Qt::LeftButton, {}, site);
  QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(1, 8));
  EXPECT_EQ(clicked.size(), 1u);
}

// The shell's opener is a fake xdg-open on PATH that writes down what it got.
TEST_F(FormattedLabelTest, UnhandledUrlsOpenThroughTheShell) {
  orvi::test::TempDir dir;
  const std::string received = dir / "received";
  const std::string opener = dir.WriteFile("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + received + "'\n");
  chmod(opener.c_str(), 0755);
  orvi::test::ScopedEnv path("PATH", (dir / "bin").c_str());

  label_->SetCaption("[URL=https://example.org/x]site[/URL] [URL=mailto:me@example.org]mail[/URL] www.example.com");
  bool handledByHandler = false;
  label_->OnLinkExecute = [&](const std::string&, bool& handled) { handled = handledByHandler; };
  for (const char* target : {"https://example.org/x", "mailto:me@example.org", "https://www.example.com"})
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, FindLink(target));
  handledByHandler = true;
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, FindLink("https://example.org/x"));
  EXPECT_EQ(dir.ReadFile("received"), "https://example.org/x\nhttps://www.example.com\n")
      << "URLs open unless handled; mailto: is left to the handler";
}

TEST_F(FormattedLabelTest, HandCursorOverLinks) {
  label_->SetCaption("plain [URL=https://example.org]link[/URL]");
  const QPoint link = FindLink("https://example.org");
  ASSERT_GE(link.x(), 0);
  QTest::mouseMove(Viewport(), link);
  EXPECT_EQ(Viewport()->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseMove(Viewport(), QPoint(2, 8));
  EXPECT_EQ(Viewport()->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(FormattedLabelTest, CaptionAndOptions) {
  label_->SetCaption("mail me@example.org at 1:23");
  const int calculated = calculated_;
  label_->SetCaption("mail me@example.org at 1:23");
  EXPECT_EQ(calculated_, calculated) << "the same caption does nothing";

  EXPECT_GE(FindLink("mailto:me@example.org").x(), 0) << "e-mails and URLs by default";
  EXPECT_LT(FindLink("time:83").x(), 0);
  label_->SetOptions(floAutoDetectURLs | floAutoDetectTimeCodes);
  EXPECT_EQ(calculated_, calculated + 1);
  EXPECT_LT(FindLink("mailto:me@example.org").x(), 0) << "the caption is imported again";
  EXPECT_GE(FindLink("time:83").x(), 0);
  EXPECT_EQ(label_->Caption(), "mail me@example.org at 1:23");
}

TEST_F(FormattedLabelTest, AutoScrollOrEllipsis) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "Line " + std::to_string(i) + " of a text that is longer than the label. ";
  label_->SetCaption(text);
  QApplication::processEvents();  // the area shows its bar on the next turn of the event loop
  QScrollBar* bar = label_->verticalScrollBar();
  EXPECT_TRUE(bar->isVisible());
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_FALSE(label_->Truncated());
  EXPECT_LE(label_->ContentSize().width(), Viewport()->width()) << "wrapped at the width beside the bar";
  EXPECT_NEAR(bar->maximum() + Viewport()->height(), label_->ContentSize().height(), 1.0);

  // Scrolled to the end, the link on the last row is under the point where it is shown.
  label_->SetCaption(text + "[URL=https://end.example]end[/URL]");
  bar->setValue(bar->maximum());
  bool found = false;
  for (int y = Viewport()->height() - 1; y >= 0 && !found; --y)
    for (int x = 0; x < Viewport()->width() && !found; x += 2) found = label_->LinkAt(Viewport()->mapTo(label_.get(), QPoint(x, y))) == "https://end.example";
  EXPECT_TRUE(found);

  // Without AutoScroll: no bar, rows down to the label's bottom (the last one
  // may show in part) and "…".
  label_->SetAutoScroll(false);
  QApplication::processEvents();
  EXPECT_FALSE(bar->isVisible());
  EXPECT_TRUE(label_->Truncated());
  EXPECT_EQ(Viewport()->width(), label_->width());
  EXPECT_GT(label_->ContentSize().height(), Viewport()->height() - 20);
  EXPECT_LT(label_->ContentSize().height(), Viewport()->height() + 20);
}

TEST_F(FormattedLabelTest, PaddingAndBordersMoveTheText) {
  label_->SetCaption("[URL=x]link[/URL]");
  const QPoint before = FindLink("x");
  label_->SetPadding({10, 0, 0, 0});
  label_->SetBorders(kbAll);
  EXPECT_EQ(FindLink("x").x(), before.x() + 10 + 2);
  EXPECT_EQ(label_->Borders(), kbAll);
}

TEST_F(FormattedLabelTest, StateChanges) {
  int updates = 0;
  label_->OnUpdateState = [&] { ++updates; };
  label_->setEnabled(false);
  EXPECT_EQ(updates, 1);
  label_->SetFocusOnClick(true);
  EXPECT_EQ(label_->focusPolicy(), Qt::ClickFocus);
  label_->setEnabled(true);
  label_->setFocus();
  EXPECT_GE(updates, 2);
}

}  // namespace
}  // namespace kel
