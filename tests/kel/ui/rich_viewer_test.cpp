#include "kel/ui/rich_viewer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QImage>
#include <QScrollBar>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "kel/base/stream.h"
#include "rich_viewer_test_support.h"
#include "support/temp_dir.h"
#include "support/testlib/environment.h"

namespace kel {
namespace {

class RichViewerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { orvi::test::EnsureQtApplication(); }

  void SetUp() override {
    viewer_.resize(400, 300);
    viewer_.SetLinkOpener([this](const std::string& target) {
      opened_.push_back(target);
      return true;
    });
    viewer_.show();
  }

  // The middle of the first occurrence of `text`, in viewport coordinates.
  QPoint PointOf(const QString& text) {
    const QTextCursor found = viewer_.Document().find(text, 0, QTextDocument::FindCaseSensitively);
    EXPECT_FALSE(found.isNull()) << text.toStdString();
    return PointBetween(found.selectionStart(), found.selectionEnd());
  }

  // The middle between two positions on one line of the document.
  QPoint PointBetween(int from, int to) {
    const QTextBlock block = viewer_.Document().findBlock(from);
    const QRectF blockRect = viewer_.Document().documentLayout()->blockBoundingRect(block);
    const QTextLine line = block.layout()->lineForTextPosition(from - block.position());
    const qreal x = (line.cursorToX(from - block.position()) + line.cursorToX(to - block.position())) / 2;
    const QPointF inDocument(blockRect.left() + x, blockRect.top() + line.y() + line.height() / 2);
    const qreal scale = viewer_.ZoomNumerator() / 64.0;
    return QPoint(qRound(inDocument.x() * scale) + viewer_.Margins().left(),
                  qRound(inDocument.y() * scale) + viewer_.Margins().top() - viewer_.verticalScrollBar()->value());
  }

  void Mouse(QEvent::Type type, const QPoint& point, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, point, viewer_.viewport()->mapToGlobal(point), type == QEvent::MouseMove ? Qt::NoButton : button,
                      held, Qt::NoModifier);
    QApplication::sendEvent(viewer_.viewport(), &event);
  }

  void Click(const QPoint& point, Qt::MouseButton button = Qt::LeftButton) {
    Mouse(QEvent::MouseButtonPress, point, button);
    Mouse(QEvent::MouseButtonRelease, point, button);
  }

  TKELRichViewer viewer_;
  std::vector<std::string> opened_;
};

TEST_F(RichViewerTest, ZoomRatiosLimitsAndDpi) {
  EXPECT_EQ(viewer_.Zoom(), 100);
  EXPECT_EQ(viewer_.ZoomNumerator(), 64);
  viewer_.SetPlainText("some text");
  const qreal fullWidth = viewer_.Document().textWidth();

  EXPECT_TRUE(viewer_.SetZoom(200));
  EXPECT_EQ(viewer_.ZoomNumerator(), 128);
  EXPECT_NEAR(viewer_.Document().textWidth(), fullWidth / 2, 1) << "the text is laid out for the zoomed width";
  EXPECT_FALSE(viewer_.SetZoom(0));
  EXPECT_FALSE(viewer_.SetZoom(6400));
  EXPECT_EQ(viewer_.Zoom(), 200) << "a rejected zoom keeps the previous one";
  EXPECT_EQ(viewer_.ZoomNumerator(), 128);

  viewer_.LoadRichText(std::string(R"({\rtf1 loaded})"));
  EXPECT_EQ(viewer_.ZoomNumerator(), 128) << "loading keeps the zoom";

  ASSERT_TRUE(viewer_.SetZoom(100));
  const int dpi = viewer_.Dpi();
  viewer_.ChangeDpi(dpi * 3 / 2);
  EXPECT_EQ(viewer_.Zoom(), 150);
  EXPECT_EQ(viewer_.ZoomNumerator(), 96);
  viewer_.ChangeDpi(dpi * 3 / 4);
  EXPECT_EQ(viewer_.Zoom(), 75);
  EXPECT_EQ(viewer_.Dpi(), dpi * 3 / 4);

  ASSERT_TRUE(viewer_.SetZoom(6000));
  viewer_.ChangeDpi(viewer_.Dpi() * 2);
  EXPECT_EQ(viewer_.Zoom(), 6000) << "12000 % is beyond the limits";
}

TEST_F(RichViewerTest, LinksOpenOnALeftClick) {
  viewer_.LoadRichText(std::string(
      R"({\rtf1 See {\field{\*\fldinst HYPERLINK "https://www.orvi.example/licence"}{\fldrslt our site}} or )"
      R"(www.orvi.example/faq, plain words.\par mailto:legal@orvi.example\par})"));
  Click(PointOf("our site"));
  Click(PointOf("orvi.example/faq"));
  Click(PointOf("legal@"));
  EXPECT_EQ(opened_, (std::vector<std::string>{"https://www.orvi.example/licence", "www.orvi.example/faq",
                                                "mailto:legal@orvi.example"}));
  opened_.clear();
  Click(PointOf("plain words"));
  Click(PointOf("our site"), Qt::RightButton);
  EXPECT_TRUE(opened_.empty()) << "text and other buttons open nothing";

  // A press that selects text and ends on a link opens nothing.
  Mouse(QEvent::MouseButtonPress, PointOf("See"));
  Mouse(QEvent::MouseMove, PointOf("our site"));
  Mouse(QEvent::MouseButtonRelease, PointOf("our site"));
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(viewer_.SelectedText().startsWith("ee our"));

  viewer_.SetPlainText("Plain text with https://orvi.example/a_(b). and more");
  Click(PointOf("orvi.example"));
  EXPECT_EQ(opened_, std::vector<std::string>{"https://orvi.example/a_(b)"});
}

// The default opener goes through the shell: a fake xdg-open on PATH records
// what it gets.
TEST_F(RichViewerTest, DefaultOpenerUsesTheShell) {
  orvi::test::TempDir dir;
  const std::string opener = dir.WriteFile("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + dir / "opened" +
                                                               ".tmp\"\n/bin/mv \"" + dir / "opened.tmp" + "\" \"" +
                                                               dir / "opened" + "\"\n");
  chmod(opener.c_str(), 0755);
  orvi::test::ScopedEnv path("PATH", (dir / "bin").c_str());
  const auto opened = [&] {
    for (int i = 0; i < 500 && !std::filesystem::exists(dir / "opened"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string text = std::filesystem::exists(dir / "opened") ? dir.ReadFile("opened") : "<none>";
    std::filesystem::remove(dir / "opened");
    return text;
  };
  EXPECT_TRUE(TKELRichViewer::OpenLink("www.orvi.example"));
  EXPECT_EQ(opened(), "http://www.orvi.example\n");
  EXPECT_TRUE(TKELRichViewer::OpenLink("https://orvi.example/x"));
  EXPECT_EQ(opened(), "https://orvi.example/x\n");
  EXPECT_TRUE(TKELRichViewer::OpenLink("mailto:legal@orvi.example"));
  EXPECT_EQ(opened(), "mailto:legal@orvi.example\n") << "no http:// before a mail address";
}

TEST_F(RichViewerTest, LoadingStreamsAndPlainText) {
  TKELMemoryStream stream;
  const std::string rtf = R"(ignored{\rtf1 from the stream})";
  stream.WriteBuffer(rtf.data(), rtf.size());
  stream.SetPosition(7);
  viewer_.LoadRichText(&stream);
  EXPECT_EQ(viewer_.Document().toPlainText(), "from the stream");
  viewer_.LoadRichText(nullptr);
  EXPECT_EQ(viewer_.Document().toPlainText(), "from the stream") << "no stream: nothing happens";

  viewer_.LoadRichText(std::string("not RTF\r\nin Windows-1252: caf\xe9"));
  EXPECT_EQ(viewer_.Document().toPlainText(), "not RTF\nin Windows-1252: café");
  viewer_.SetPlainText("one\r\ntwo\rthree\nfour");
  EXPECT_EQ(viewer_.Document().blockCount(), 4);
}

TEST_F(RichViewerTest, ColoursAndScrollBar) {
  // Full blocks show the text colour; a run with a colour of its own keeps it.
  viewer_.LoadRichText(std::string(R"({\rtf1{\colortbl;\red0\green128\blue0;}\fs48 )"
                                   "\\u9608?\\u9608?\\u9608? {\\cf1 \\u9608?\\u9608?\\u9608?}}"));
  viewer_.SetColors(kelRGB(10, 20, 30), kelRGB(250, 240, 0));
  const QImage image = viewer_.viewport()->grab().toImage();
  EXPECT_EQ(image.pixelColor(1, 1), QColor(10, 20, 30));
  EXPECT_EQ(image.pixelColor(PointBetween(0, 1)), QColor(250, 240, 0));
  EXPECT_EQ(image.pixelColor(PointBetween(4, 5)), QColor(0, 128, 0));

  viewer_.SetColors(kelColorDefault, kelColorDefault);
  EXPECT_EQ(viewer_.BackgroundColor(), viewer_.palette().color(QPalette::Base));
  EXPECT_EQ(viewer_.TextColor(), viewer_.palette().color(QPalette::Text));

  // The scroll bar is there, disabled while the text fits.
  viewer_.SetPlainText("short");
  EXPECT_TRUE(viewer_.verticalScrollBar()->isVisible());
  EXPECT_FALSE(viewer_.verticalScrollBar()->isEnabled());
  viewer_.SetPlainText(QString("line\n").repeated(200).toStdString());
  EXPECT_TRUE(viewer_.verticalScrollBar()->isEnabled());
  const int range = viewer_.verticalScrollBar()->maximum();
  EXPECT_GT(range, 0);
  viewer_.SetZoom(200);
  EXPECT_GT(viewer_.verticalScrollBar()->maximum(), range * 3 / 2) << "the zoomed text is taller";
  viewer_.SetVerticalScrollBar(false);
  EXPECT_FALSE(viewer_.verticalScrollBar()->isVisible());
}

// PNGs of the viewer with each fixture, for people to look at:
// build/screenshots/rich-viewer-*.png.
TEST_F(RichViewerTest, Screenshots) {
  const QString folder = QStringLiteral(ORVI_BINARY_DIR "/screenshots");
  ASSERT_TRUE(QDir().mkpath(folder));
  viewer_.resize(600, 900);
  for (const char* name : {"licence-writer", "licence-writer-ru", "licence-pandoc"}) {
    viewer_.LoadRichText(orvi::test::RtfFixture(std::string(name) + ".rtf"));
    const QImage image = viewer_.grab().toImage();
    EXPECT_TRUE(image.save(folder + "/rich-viewer-" + name + ".png")) << name;
  }
  viewer_.SetZoom(150);
  EXPECT_TRUE(viewer_.grab().save(folder + "/rich-viewer-licence-pandoc-150.png"));
}

}  // namespace
}  // namespace kel
