#include "kel/ui/rich_viewer.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "kel/base/shell.h"
#include "kel/base/stream.h"
#include "kel/base/text.h"
#include "kel/ui/rich_viewer_zoom.h"
#include "kel/ui/rtf_document.h"

namespace kel {

namespace {

QColor ToQColor(TKELColor color) { return QColor(kelRed(color), kelGreen(color), kelBlue(color)); }

// The length of a URL found in text without the punctuation that follows
// it in a sentence: trailing stops, commas, quotes, and closing brackets
// that the URL does not open.
qsizetype UrlLength(QStringView url) {
  qsizetype length = url.size();
  while (length > 0) {
    const QChar last = url[length - 1];
    if (QStringView(u".,;:!?'\"").contains(last)) {
      --length;
      continue;
    }
    const qsizetype bracket = QStringView(u")]}").indexOf(last);
    if (bracket >= 0 && url.first(length).count(QStringView(u"([{")[bracket]) < url.first(length).count(last)) {
      --length;
      continue;
    }
    break;
  }
  return length;
}

bool OverlapsLink(const QTextBlock& block, int start, int length) {
  for (auto it = block.begin(); !it.atEnd(); ++it) {
    const QTextFragment fragment = it.fragment();
    const int from = fragment.position() - block.position();
    if (from < start + length && from + fragment.length() > start && fragment.charFormat().isAnchor()) return true;
  }
  return false;
}

// Makes the URLs in the text links to themselves, leaving existing links
// alone.
void MarkUrls(QTextDocument& document, const QColor& linkColor) {
  static const QRegularExpression pattern(QStringLiteral(R"((?:\b(?:https?|ftp|file)://|\bmailto:|\bwww\.)[^\s<>"]+)"),
                                          QRegularExpression::CaseInsensitiveOption);
  QTextCursor cursor(&document);
  cursor.beginEditBlock();
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    const QString text = block.text();
    for (auto matches = pattern.globalMatch(text); matches.hasNext();) {
      const QRegularExpressionMatch match = matches.next();
      const int start = static_cast<int>(match.capturedStart());
      const int length = static_cast<int>(UrlLength(match.capturedView()));
      if (length <= 7 || OverlapsLink(block, start, length)) continue;  // no more than the scheme
      QTextCharFormat link;
      link.setAnchor(true);
      link.setAnchorHref(text.mid(start, length));
      link.setFontUnderline(true);
      link.setForeground(linkColor);
      cursor.setPosition(block.position() + start);
      cursor.setPosition(block.position() + start + length, QTextCursor::KeepAnchor);
      cursor.mergeCharFormat(link);
    }
  }
  cursor.endEditBlock();
}

}  // namespace

TKELRichViewer::TKELRichViewer(QWidget* parent)
    : QAbstractScrollArea(parent), document_(new QTextDocument(this)), dpi_(qRound(kelDocumentDpi())) {
  document_->setUndoRedoEnabled(false);
  document_->setDocumentMargin(0);
  document_->setDefaultFont(font());
  linkOpener_ = &TKELRichViewer::OpenLink;
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  viewport()->setCursor(Qt::IBeamCursor);
  connect(document_->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
          &TKELRichViewer::UpdateScrollBar);
  Relayout();
}

TKELRichViewer::~TKELRichViewer() = default;

void TKELRichViewer::LoadRichText(TKELStream* stream) {
  if (!stream) return;
  LoadRichText(stream->ReadRest());
}

void TKELRichViewer::LoadRichText(std::string_view data) {
  document_->setDefaultFont(font());
  if (!kelReadRtfDocument(data, *document_, palette().color(QPalette::Link))) {
    std::string text;
    TKELEncoding::AnsiFor(data).Decode(data, text);
    SetPlainText(text);
    return;
  }
  DocumentLoaded();
}

void TKELRichViewer::SetPlainText(std::string_view text) {
  QString lines = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  document_->setDefaultFont(font());
  document_->setPlainText(lines);
  DocumentLoaded();
}

void TKELRichViewer::DocumentLoaded() {
  MarkUrls(*document_, palette().color(QPalette::Link));
  selectionAnchor_ = selectionEnd_ = -1;
  pressedLink_.clear();
  verticalScrollBar()->setValue(0);
  Relayout();
}

bool TKELRichViewer::SetZoom(int percent) {
  const std::optional<int> numerator = RichViewerZoomNumerator(percent);
  if (!numerator) return false;
  zoom_ = percent;
  if (*numerator != zoomNumerator_) {
    zoomNumerator_ = *numerator;
    Relayout();
  }
  return true;
}

void TKELRichViewer::ChangeDpi(int newDpi) {
  if (newDpi <= 0 || newDpi == dpi_) return;
  // percentage × new / old, rounded to the nearest
  SetZoom(static_cast<int>(std::lround(static_cast<double>(zoom_) * newDpi / dpi_)));
  dpi_ = newDpi;
}

void TKELRichViewer::SetMargins(const QMargins& margins) {
  if (margins == margins_) return;
  margins_ = margins;
  Relayout();
}

void TKELRichViewer::SetVerticalScrollBar(bool on) {
  setVerticalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void TKELRichViewer::SetColors(TKELColor background, TKELColor text) {
  background_ = background;
  text_ = text;
  viewport()->update();
}

QColor TKELRichViewer::BackgroundColor() const {
  return kelIsRGB(background_) ? ToQColor(background_) : palette().color(QPalette::Base);
}

QColor TKELRichViewer::TextColor() const {
  return kelIsRGB(text_) ? ToQColor(text_) : palette().color(QPalette::Text);
}

void TKELRichViewer::SetLinkOpener(LinkOpener opener) { linkOpener_ = std::move(opener); }

bool TKELRichViewer::OpenLink(const std::string& target) {
  // A mail address has no "//": with "http://" in front it would go to a
  // web browser.
  if (kelStartsText("mailto:", target)) return kelShellExecute(target);
  return kelShellExecuteUrl(target);
}

qreal TKELRichViewer::Scale() const { return static_cast<qreal>(zoomNumerator_) / kRichViewerZoomDenominator; }

QPointF TKELRichViewer::ToDocument(const QPoint& point) const {
  return QPointF(point.x() - margins_.left(), point.y() - margins_.top() + verticalScrollBar()->value()) / Scale();
}

QString TKELRichViewer::LinkAt(const QPoint& point) const {
  return document_->documentLayout()->anchorAt(ToDocument(point));
}

int TKELRichViewer::PositionAt(const QPoint& point) const {
  return document_->documentLayout()->hitTest(ToDocument(point), Qt::FuzzyHit);
}

QString TKELRichViewer::SelectedText() const {
  if (selectionAnchor_ < 0 || selectionAnchor_ == selectionEnd_) return {};
  QTextCursor cursor(document_);
  cursor.setPosition(selectionAnchor_);
  cursor.setPosition(selectionEnd_, QTextCursor::KeepAnchor);
  QString text = cursor.selectedText();
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n')).replace(QChar::LineSeparator, QLatin1Char('\n'));
  return text;
}

void TKELRichViewer::Relayout() {
  const int width = std::max(1, viewport()->width() - margins_.left() - margins_.right());
  document_->setTextWidth(width / Scale());
  UpdateScrollBar();
  viewport()->update();
}

void TKELRichViewer::UpdateScrollBar() {
  const int content =
      static_cast<int>(std::ceil(document_->size().height() * Scale())) + margins_.top() + margins_.bottom();
  const int page = viewport()->height();
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, std::max(0, content - page));
  bar->setPageStep(std::max(1, page));
  bar->setSingleStep(std::max(1, qRound(fontMetrics().lineSpacing() * Scale())));
  bar->setEnabled(bar->maximum() > 0);
}

void TKELRichViewer::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.fillRect(event->rect(), BackgroundColor());
  painter.setClipRect(QRect(QPoint(margins_.left(), margins_.top()),
                            viewport()->rect().marginsRemoved(margins_).size()));
  const qreal scale = Scale();
  painter.translate(margins_.left(), margins_.top() - verticalScrollBar()->value());
  painter.scale(scale, scale);

  QAbstractTextDocumentLayout::PaintContext context;
  context.palette = palette();
  context.palette.setColor(QPalette::Text, TextColor());
  context.clip = QRectF(ToDocument(event->rect().topLeft()), ToDocument(event->rect().bottomRight() + QPoint(1, 1)));
  if (selectionAnchor_ >= 0 && selectionAnchor_ != selectionEnd_) {
    QAbstractTextDocumentLayout::Selection selection;
    selection.cursor = QTextCursor(document_);
    selection.cursor.setPosition(selectionAnchor_);
    selection.cursor.setPosition(selectionEnd_, QTextCursor::KeepAnchor);
    selection.format.setBackground(palette().color(QPalette::Highlight));
    selection.format.setForeground(palette().color(QPalette::HighlightedText));
    context.selections.append(selection);
  }
  document_->documentLayout()->draw(&painter, context);
}

void TKELRichViewer::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Relayout();
}

void TKELRichViewer::showEvent(QShowEvent* event) {
  QAbstractScrollArea::showEvent(event);
  QWindow* window = this->window()->windowHandle();
  if (!window || window == watchedWindow_) return;
  watchedWindow_ = window;
  connect(window, &QWindow::screenChanged, this, &TKELRichViewer::WatchScreen);
  WatchScreen(window->screen());
}

// Follows the DPI of the screen the viewer is on.
void TKELRichViewer::WatchScreen(QScreen* screen) {
  disconnect(screenConnection_);
  if (!screen) return;
  screenConnection_ = connect(screen, &QScreen::logicalDotsPerInchChanged, this,
                              [this, screen] { ChangeDpi(qRound(screen->logicalDotsPerInchY())); });
  ChangeDpi(qRound(screen->logicalDotsPerInchY()));
}

void TKELRichViewer::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressedLink_ = LinkAt(event->position().toPoint());
  selectionAnchor_ = selectionEnd_ = PositionAt(event->position().toPoint());
  selecting_ = true;
  viewport()->update();
}

void TKELRichViewer::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (selecting_ && (event->buttons() & Qt::LeftButton)) {
    selectionEnd_ = PositionAt(point);
    viewport()->update();
  }
  viewport()->setCursor(LinkAt(point).isEmpty() ? Qt::IBeamCursor : Qt::PointingHandCursor);
}

void TKELRichViewer::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  selecting_ = false;
  const QString link = LinkAt(event->position().toPoint());
  const bool selected = selectionAnchor_ != selectionEnd_;
  const bool sameLink = !link.isEmpty() && link == pressedLink_;
  pressedLink_.clear();
  if (sameLink && !selected && linkOpener_) linkOpener_(link.toStdString());
}

void TKELRichViewer::keyPressEvent(QKeyEvent* event) {
  QScrollBar* bar = verticalScrollBar();
  if (event->matches(QKeySequence::Copy)) {
    const QString text = SelectedText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
  } else if (event->matches(QKeySequence::SelectAll)) {
    selectionAnchor_ = 0;
    selectionEnd_ = document_->characterCount() - 1;
    viewport()->update();
  } else if (event->key() == Qt::Key_Up) {
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  } else if (event->key() == Qt::Key_Down) {
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  } else if (event->key() == Qt::Key_PageUp) {
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  } else if (event->key() == Qt::Key_PageDown) {
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  } else if (event->key() == Qt::Key_Home) {
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
  } else if (event->key() == Qt::Key_End) {
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

void TKELRichViewer::scrollContentsBy(int, int) { viewport()->update(); }

}  // namespace kel
