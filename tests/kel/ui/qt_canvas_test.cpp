#include "kel/ui/qt_canvas.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <numeric>

#include "kel/graphics/text_layout.h"
#include "support/fuzz.h"
#include "text_layout_qt.h"

namespace kel {
namespace {

using test::TestFont;

class QtCanvasTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureApplication(); }

  static QFontMetricsF PixelMetrics(int pixelSize, bool bold = false) {
    QFont font = TestFont();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return QFontMetricsF(font);
  }

  static std::vector<double> Advances(TKELQtFont& font, std::u16string_view run, TKELFontStyles styles = 0) {
    std::vector<double> advances(run.size(), -1);
    font.MeasureRun({styles, font.Size()}, run, advances.data());
    return advances;
  }

  static double Sum(const std::vector<double>& values) { return std::accumulate(values.begin(), values.end(), 0.0); }
};

TEST_F(QtCanvasTest, SizesFollowTheDpi) {
  TKELQtFont font(TestFont(9), 96);
  EXPECT_EQ(font.Size(), 9);
  // 9 points at 96 DPI are 12 pixels, at 192 DPI 24; [SIZE=18] at 96 DPI as well.
  const QFontMetricsF at12 = PixelMetrics(12), at24 = PixelMetrics(24);
  const TKELFontMetrics metrics = font.Metrics({0, 9});
  EXPECT_DOUBLE_EQ(metrics.Height, at12.ascent() + at12.descent());
  EXPECT_DOUBLE_EQ(metrics.Descent, at12.descent());
  EXPECT_DOUBLE_EQ(font.Metrics({0, 18}).Height, at24.ascent() + at24.descent());
  font.SetFont(TestFont(9), 192);
  EXPECT_DOUBLE_EQ(font.Metrics({0, 9}).Height, at24.ascent() + at24.descent());
  EXPECT_GT(Sum(Advances(font, u"Hello")), 1.9 * at12.horizontalAdvance("Hello"));

  QFont pixels = TestFont();
  pixels.setPixelSize(16);
  font.SetFont(pixels, 96);
  EXPECT_EQ(font.Size(), 12) << "a font sized in pixels";
}

TEST_F(QtCanvasTest, AdvancesOfRealFonts) {
  TKELQtFont font(TestFont(9), 96);
  const QFontMetricsF metrics = PixelMetrics(12), bold = PixelMetrics(12, true);
  // Runs drawn glyph by glyph: each character's own advance.
  const std::vector<double> hello = Advances(font, u"Hello");
  for (size_t i = 0; i < hello.size(); ++i) EXPECT_NEAR(hello[i], metrics.horizontalAdvance(QChar(u"Hello"[i])), 0.01) << i;
  EXPECT_NEAR(Sum(Advances(font, u"WWW", fsBold)), 3 * bold.horizontalAdvance(QChar('W')), 0.01);
  EXPECT_GT(Sum(Advances(font, u"WWW", fsBold)), Sum(Advances(font, u"WWW")));
  EXPECT_NEAR(Sum(Advances(font, u"Привет")), metrics.horizontalAdvance(QString::fromUtf16(u"Привет")), 0.5);

  // Shaped runs: right-to-left and joined scripts, combining marks, surrogate pairs.
  for (const std::u16string_view run : {u"שלום", u"مرحبا", u"e\u0301t\u0301"}) {
    EXPECT_NEAR(Sum(Advances(font, run)), metrics.horizontalAdvance(QString::fromUtf16(run.data(), run.size())), 0.5)
        << QString::fromUtf16(run.data(), run.size()).toStdString();
  }
  const std::vector<double> accent = Advances(font, u"e\u0301t");
  EXPECT_EQ(accent[1], 0) << "a mark joins its letter";
  EXPECT_GT(accent[0], 0);
  const std::vector<double> pair = Advances(font, u"a\U0001F600b");
  EXPECT_EQ(pair[2], 0) << "the second half of a surrogate pair";
  EXPECT_GT(pair[1], 0);
}

// Paints marked-up text on white and finds its colours where the layout put
// the blocks.
TEST_F(QtCanvasTest, PaintsWhereTheLayoutMeasured) {
  TKELQtFont font(TestFont(12), 96);
  TKELTextLayout layout(font);
  layout.SetText("[B]Bold[/B] [COLOR=#FF0000]red[/COLOR] [URL=x]link text[/URL] [BACKCOLOR=#00FF00]fill[/BACKCOLOR]");
  layout.SetBounds({4, 4, 396, 60});
  layout.SetLinkColor(kelRGB(0, 0, 255));
  QImage image(400, 64, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    TKELQtCanvas canvas(painter, font);
    layout.Draw(canvas);
  }
  image.save(test::ScreenshotPath("qt_canvas"));

  std::map<std::string, TKELRectF> where;
  for (const TKELTextLayoutBlock* block : layout.Rows().at(0).Blocks)
    if (const auto* text = dynamic_cast<const TKELTextLayoutBlockText*>(block))
      where[QString::fromUtf16(text->Text.data(), text->Text.size()).toStdString()] = text->Rect();
  const auto count = [&](const TKELRectF& rect, auto match) {
    int found = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (match(image.pixelColor(x, y)) && rect.Contains({x + 0.5, y + 0.5})) ++found;
    return found;
  };
  const TKELRectF everywhere{0, 0, 400, 64};
  const auto red = [](const QColor& c) { return c.red() > 200 && c.green() < 80 && c.blue() < 80; };
  const auto blue = [](const QColor& c) { return c.blue() > 200 && c.red() < 80 && c.green() < 80; };
  const auto green = [](const QColor& c) { return c.green() > 200 && c.red() < 80 && c.blue() < 80; };
  const auto dark = [](const QColor& c) { return c.red() < 80 && c.green() < 80 && c.blue() < 80; };
  EXPECT_GT(count(where.at("red"), red), 10);
  EXPECT_EQ(count(everywhere, red), count(where.at("red"), red)) << "red only where \"red\" is";
  // The link's underline runs on under the space between its words.
  const TKELRectF link = where.at("link").United(where.at("text"));
  EXPECT_EQ(count(everywhere, blue), count(link, blue));
  const TKELRectF gap{where.at("link").Right, link.Top, where.at("text").Left, link.Bottom};
  EXPECT_GT(count(gap, blue), 0);
  const TKELRectF fill = where.at("fill");
  EXPECT_EQ(count(everywhere, green), count(fill, green));
  EXPECT_GT(count(fill, green), fill.Width() * fill.Height() / 2) << "the fill lies behind the text";
  EXPECT_GT(count(where.at("Bold"), dark), count(where.at("fill"), dark)) << "bold is darker";
}

// Arbitrary bytes, lone surrogates and all, measured and painted with a real
// font: nothing crashes, and every advance is a width.
TEST_F(QtCanvasTest, ArbitraryTextOnRealFonts) {
  orvi::test::FuzzOptions options;
  options.seeds = {"[B]Bold[/B] \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 e\xCC\x81",
                   "[U]a\xF0\x9F\x98\x80" "b[/U] [SIZE=3]x[/SIZE] [S]\xE4\xB8\xAD\xE6\x96\x87[/S] \xE0\xB8\x81\xE0\xB8\xB3"};
  options.dictionary = {"\xED\xA0\x80", "\xED\xB0\x80", "\xCC\x81", "\xE2\x80\x8F", "\xE2\x80\xAE", "\xEF\xBF\xBF", "[B]", "[BIG]", " "};
  options.maxLength = 512;
  TKELQtFont font(TestFont(9), 96);
  QImage image(120, 40, QImage::Format_RGB32);
  orvi::test::RunFuzzTarget(
      "qt_canvas",
      [&](std::string_view input) {
        TKELTextLayout layout(font);
        layout.SetText(input);
        layout.SetBounds({0, 0, 120, 40});
        layout.SetOption(tloWordWrap, true);
        layout.SetOption(tloEndEllipsis, true);
        for (const TKELTextLayoutRow& row : layout.Rows()) {
          for (const TKELTextLayoutBlock* block : row.Blocks) {
            if (const auto* text = dynamic_cast<const TKELTextLayoutBlockText*>(block)) {
              for (size_t i = 0; i < text->Text.size(); ++i) {
                EXPECT_TRUE(std::isfinite(text->Advances[i]) && text->Advances[i] >= 0);
              }
            }
          }
        }
        QPainter painter(&image);
        TKELQtCanvas canvas(painter, font);
        layout.Draw(canvas);
      },
      options);
}

}  // namespace
}  // namespace kel
