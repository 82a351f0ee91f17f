// Pictures of formatted labels for people to look at: build/screenshots/
// formatted_label_*.png. The test checks only that each picture was written
// and has text on it.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QTest>
#include <functional>

#include "kel/ui/formatted_label.h"
#include "text_layout_qt.h"

namespace kel {
namespace {

TEST(FormattedLabelScreenshots, Markups) {
  test::EnsureApplication();
  TKELFormattedLabelColors light;
  light.Text = QColor(0x20, 0x20, 0x20);
  light.TextDisabled = QColor(0xA0, 0xA0, 0xA0);
  light.Background = QColor(0xFF, 0xFF, 0xFF);
  light.Border1 = QColor(0xBC, 0xBC, 0xBC);
  light.Border2 = QColor(0xFF, 0xFF, 0xFF);

  const std::string longText =
      "[B]ORVI[/B] plays audio and video files of every common format. This label holds more text than fits, "
      "so it [I]scrolls[/I]: a vertical scroll bar appears at its right side when the text is taller than the "
      "label.\\nA second paragraph after an escaped line break, with a link to [URL=https://example.org]the "
      "project's site[/URL] and www.example.com found by itself.\\nA third paragraph, so that there is something "
      "to scroll to. And a fourth sentence to be sure.";
  const struct {
    const char* name;
    std::string caption;
    QSize size;
    std::function<void(TKELFormattedLabel&)> setup;
  } shots[] = {
      {"styles",
       "[B]Bold[/B], [I]italic[/I], [U]underlined[/U], [S]struck out[/S], [B][I]bold italic[/I][/B]; "
       "[COLOR=red]red[/COLOR], [COLOR=#008000]green[/COLOR], [COLOR=clNavy]navy[/COLOR] and "
       "[BACKCOLOR=#FFE080]a marked phrase[/BACKCOLOR]. Literal [brackets] and a [ lone one.",
       {360, 70}, nullptr},
      {"sizes",
       "Base, [BIG]big, [BIG]bigger[/BIG][/BIG], [SMALL]small[/SMALL], [SIZE=16]16 points[/SIZE], "
       "[SIZE=0.8]0.8 times[/SIZE] — all on one baseline.",
       {360, 70}, nullptr},
      {"links",
       "Links: [URL=https://example.org]a tagged link[/URL], https://example.org/page, www.example.com, "
       "support@example.org and the time code 1:02:03 (time codes on).",
       {360, 70}, [](TKELFormattedLabel& label) { label.SetOptions(floAutoDetectEmails | floAutoDetectURLs | floAutoDetectTimeCodes); }},
      {"autoscroll", longText, {300, 90}, nullptr},
      {"ellipsis", longText, {300, 90}, [](TKELFormattedLabel& label) { label.SetAutoScroll(false); }},
      {"nowrap_ellipsis", "One line that is far too long to fit in the label\nand a second one, too long as well",
       {220, 40}, [](TKELFormattedLabel& label) {
         label.SetAutoScroll(false);
         label.SetWordWrap(false);
       }},
      {"right_to_left",
       "English, then Hebrew: \u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD, and Arabic: "
       "\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645 — each read from right to left.",
       {600, 70}, [](TKELFormattedLabel& label) { label.setFont(test::TestFont(16)); }},
      {"centred_borders_padding", "[B]Centred[/B] text inside borders\\nwith a padding of 8 pixels",
       {300, 60}, [](TKELFormattedLabel& label) {
         label.SetAlignment(TKELHorzAlignment::Center);
         label.SetBorders(kbAll);
         label.SetPadding({8, 8, 8, 8});
       }},
      {"disabled", "A [B]disabled[/B] label with [URL=https://example.org]a link[/URL].", {300, 40},
       [](TKELFormattedLabel& label) { label.setEnabled(false); }},
  };
  for (const auto& shot : shots) {
    TKELFormattedLabel label;
    label.setFont(test::TestFont());
    label.SetColors(light);
    label.resize(shot.size);
    if (shot.setup) shot.setup(label);
    label.SetCaption(shot.caption);
    label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
    QApplication::processEvents();
    const QImage image = label.grab().toImage();
    const QString path = test::ScreenshotPath(std::string("formatted_label_") + shot.name);
    ASSERT_TRUE(image.save(path)) << path.toStdString();
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) inked += qGray(image.pixel(x, y)) < 200;
    EXPECT_GT(inked, 50) << shot.name;
  }
}

}  // namespace
}  // namespace kel
