// The rich viewer: a read-only view of an RTF document or of plain text,
// with margins, a vertical scroll bar, a zoom and links.
//
// - The zoom is a percentage (default 100) shown as the ratio numerator / 64
//   of rich_viewer_zoom.h; a percentage whose numerator falls outside the
//   limits is not applied and the previous zoom stays. The text is laid out
//   at the width the zoom leaves and drawn scaled, so the whole document
//   grows and shrinks, explicit font sizes included.
// - The zoom follows DPI changes: when the viewer's screen changes its DPI,
//   or its window moves to a screen of another DPI, the percentage becomes
//   percentage × new DPI / old DPI (ChangeDpi does the same for callers).
// - The vertical scroll bar, when on, is always shown and disabled while the
//   text fits, so that the text width does not jump.
// - Text without a colour of its own is drawn in the viewer's text colour,
//   on the viewer's background colour; both default to the palette.
// - Links are the HYPERLINK fields of an RTF document and, in any text, the
//   URLs that the text holds (words beginning with a scheme and "://",
//   "mailto:" or "www."). A left-button click (press and release on the same
//   link, without selecting) opens the link's target through the link
//   opener; over a link the cursor is the pointing hand.
// - Text can be selected with the mouse and copied (Ctrl+C, Ctrl+A).
#pragma once

#include <QAbstractScrollArea>
#include <QMargins>
#include <QMetaObject>
#include <QPointer>

#include <functional>
#include <string>
#include <string_view>

#include "kel/graphics/color.h"

class QScreen;
class QTextDocument;
class QWindow;

namespace kel {

class TKELStream;

class TKELRichViewer : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Opens the target of a clicked link; true when it was opened.
  using LinkOpener = std::function<bool(const std::string& target)>;

  explicit TKELRichViewer(QWidget* parent = nullptr);
  ~TKELRichViewer() override;

  // Shows the rest of the stream as an RTF document (data that does not
  // begin with "{\rtf" as plain text, in the encoding its bytes suggest).
  // Nothing happens for no stream.
  void LoadRichText(TKELStream* stream);
  void LoadRichText(std::string_view data);
  // Shows plain text (UTF-8); CR LF, CR and LF end lines.
  void SetPlainText(std::string_view text);

  int Zoom() const { return zoom_; }
  int ZoomNumerator() const { return zoomNumerator_; }
  // True when the zoom was applied.
  bool SetZoom(int percent);
  int Dpi() const { return dpi_; }
  void ChangeDpi(int newDpi);

  const QMargins& Margins() const { return margins_; }
  void SetMargins(const QMargins& margins);
  bool HasVerticalScrollBar() const { return verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff; }
  void SetVerticalScrollBar(bool on);
  // kelColorDefault gives the palette's colour (base and text).
  void SetColors(TKELColor background, TKELColor text);
  QColor BackgroundColor() const;
  QColor TextColor() const;

  // Replaces how links are opened (tests use it so that no browser starts).
  void SetLinkOpener(LinkOpener opener);
  // The default opener: a "mailto:" target as it is, anything else through
  // kelShellExecuteUrl (which puts "http://" before a text without "//"
  // that names no folder).
  static bool OpenLink(const std::string& target);

  const QTextDocument& Document() const { return *document_; }
  // The target of the link at a point of the viewport; empty for none.
  QString LinkAt(const QPoint& point) const;
  // The selected text ("" when nothing is selected).
  QString SelectedText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  qreal Scale() const;
  QPointF ToDocument(const QPoint& point) const;
  int PositionAt(const QPoint& point) const;
  void DocumentLoaded();
  void Relayout();
  void UpdateScrollBar();
  void WatchScreen(QScreen* screen);

  QTextDocument* document_;
  int zoom_ = 100;
  int zoomNumerator_ = 64;
  int dpi_;
  QMargins margins_{4, 4, 4, 4};
  TKELColor background_ = kelColorDefault;
  TKELColor text_ = kelColorDefault;
  LinkOpener linkOpener_;

  QString pressedLink_;
  int selectionAnchor_ = -1;
  int selectionEnd_ = -1;
  bool selecting_ = false;

  QPointer<QWindow> watchedWindow_;
  QMetaObject::Connection screenConnection_;
};

}  // namespace kel
