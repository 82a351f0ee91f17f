#include "kel/ui/qt_canvas.h"

#include <QGlyphRun>
#include <QTextLayout>
#include <cmath>
#include <limits>

namespace kel {

namespace {

// Characters that are drawn the same alone as within a word: no shaping, no
// combining, no formatting characters.
bool NeedsNoShaping(char16_t c) {
  return (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c < 0x300 && c != 0xAD) || (c >= 0x370 && c < 0x483) ||
         (c >= 0x48A && c < 0x530) || (c >= 0x1E00 && c < 0x2000) || (c >= 0x2010 && c < 0x2028) ||
         (c >= 0x2030 && c < 0x205F) || (c >= 0x20A0 && c < 0x20D0) || (c >= 0x2100 && c < 0x2800) ||
         (c >= 0x3000 && c < 0x302A) || (c >= 0x3030 && c < 0x3099) || (c >= 0x309B && c < 0x3100) ||
         (c >= 0x4E00 && c < 0xA000) || (c >= 0xAC00 && c < 0xD7A4) || (c >= 0xFF01 && c < 0xFF61);
}

QString ToQString(std::u16string_view run) {
  return QString(reinterpret_cast<const QChar*>(run.data()), static_cast<qsizetype>(run.size()));
}

// A QTextLayout of one run on one line.
void LayOutRun(QTextLayout& layout) {
  QTextOption option;
  option.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
}

constexpr double kFarAway = 1e7;  // stands for an unlimited clip

}  // namespace

// What is kept per face: the QFont and its metrics, its own glyphs, and the
// advance and glyph of each UTF-16 code unit seen so far (NaN: not looked
// up yet; -1: must be shaped), in pages of 256.
struct TKELQtFont::Face {
  struct Page {
    std::array<float, 256> advances;
    std::array<quint32, 256> glyphs;
  };

  bool bold;
  bool italic;
  int pixelSize;
  QFont font;
  QFontMetricsF metrics;
  QRawFont raw;
  std::array<std::unique_ptr<Page>, 256> pages;
};

TKELQtFont::TKELQtFont(const QFont& font, double dpi) : font_(font), dpi_(dpi), size_(0) { SetFont(font, dpi); }

TKELQtFont::~TKELQtFont() = default;

void TKELQtFont::SetFont(const QFont& font, double dpi) {
  font_ = font;
  dpi_ = dpi > 0 ? dpi : 96;
  size_ = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / dpi_;
  faces_.clear();
}

TKELQtFont::Face& TKELQtFont::FaceOf(const TKELFontFace& face) {
  const bool bold = face.Styles & fsBold, italic = face.Styles & fsItalic;
  const int pixelSize = std::max(1, static_cast<int>(std::lround(face.Size * dpi_ / 72)));
  for (const auto& known : faces_)
    if (known->bold == bold && known->italic == italic && known->pixelSize == pixelSize) return *known;
  QFont font = font_;
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  font.setItalic(italic);
  font.setUnderline(false);
  font.setStrikeOut(false);
  faces_.push_back(std::unique_ptr<Face>(
      new Face{bold, italic, pixelSize, font, QFontMetricsF(font), QRawFont::fromFont(font), {}}));
  return *faces_.back();
}

bool TKELQtFont::Simple(Face& face, char16_t c, float& advance, quint32& glyph) {
  std::unique_ptr<Face::Page>& page = face.pages[c >> 8];
  if (!page) {
    page = std::make_unique<Face::Page>();
    page->advances.fill(std::numeric_limits<float>::quiet_NaN());
  }
  float& known = page->advances[c & 0xFF];
  if (std::isnan(known)) {
    known = -1;
    const QChar character(c);
    quint32 index = 0;
    int count = 1;
    if (NeedsNoShaping(c) && face.raw.supportsCharacter(character) &&
        face.raw.glyphIndexesForChars(&character, 1, &index, &count) && count == 1) {
      QPointF glyphAdvance;
      face.raw.advancesForGlyphIndexes(&index, &glyphAdvance, 1);
      known = static_cast<float>(glyphAdvance.x());
      page->glyphs[c & 0xFF] = index;
    }
  }
  advance = known;
  glyph = page->glyphs[c & 0xFF];
  return known >= 0;
}

bool TKELQtFont::SimpleRun(Face& face, std::u16string_view run) {
  float advance;
  quint32 glyph;
  for (const char16_t c : run)
    if (!Simple(face, c, advance, glyph)) return false;
  return true;
}

TKELFontMetrics TKELQtFont::Metrics(const TKELFontFace& face) {
  const QFontMetricsF& metrics = FaceOf(face).metrics;
  return {metrics.ascent() + metrics.descent(), metrics.descent(), std::max(0.0, metrics.leading())};
}

void TKELQtFont::MeasureRun(const TKELFontFace& fontFace, std::u16string_view run, double* advances) {
  Face& face = FaceOf(fontFace);
  float advance;
  quint32 glyph;
  size_t i = 0;
  while (i < run.size() && Simple(face, run[i], advance, glyph)) advances[i++] = advance;
  if (i == run.size()) return;

  // Shaped: each cursor position's x; the units inside a cluster get 0.
  QTextLayout layout(ToQString(run), face.font);
  LayOutRun(layout);
  const QTextLine line = layout.lineAt(0);
  const int length = static_cast<int>(run.size());
  int previous = 0;
  double previousX = line.cursorToX(0);
  for (int position = 1; position <= length; ++position) {
    advances[position - 1] = 0;
    if (position < length && !layout.isValidCursorPosition(position)) continue;
    const double x = line.cursorToX(position);
    advances[previous] = std::abs(x - previousX);
    previous = position;
    previousX = x;
  }
}

// --- Canvas --------------------------------------------------------------------------------

QColor kelToQColor(TKELColor color) { return QColor(kelRed(color), kelGreen(color), kelBlue(color)); }

TKELColor kelFromQColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return kelRGB(static_cast<uint8_t>(rgb.red()), static_cast<uint8_t>(rgb.green()), static_cast<uint8_t>(rgb.blue()));
}

TKELQtCanvas::TKELQtCanvas(QPainter& painter, TKELQtFont& font) : painter_(painter), font_(font) {}

void TKELQtCanvas::SetFont(const TKELFontFace& face) { face_ = face; }

void TKELQtCanvas::SetTextColor(TKELColor color) { color_ = kelToQColor(color); }

void TKELQtCanvas::FillRect(const TKELRectF& rect, TKELColor color) {
  painter_.fillRect(QRectF(rect.Left, rect.Top, rect.Width(), rect.Height()), kelToQColor(color));
}

void TKELQtCanvas::DrawRun(TKELPointF origin, std::u16string_view run, std::span<const double> advances) {
  TKELQtFont::Face& face = font_.FaceOf(face_);
  painter_.setPen(color_);
  double width = 0;
  if (TKELQtFont::SimpleRun(face, run)) {
    QList<quint32> glyphs(static_cast<qsizetype>(run.size()));
    QList<QPointF> positions(static_cast<qsizetype>(run.size()));
    float advance;
    for (size_t i = 0; i < run.size(); ++i) {
      TKELQtFont::Simple(face, run[i], advance, glyphs[static_cast<qsizetype>(i)]);
      positions[static_cast<qsizetype>(i)] = QPointF(width, 0);
      width += advances[i];
    }
    QGlyphRun glyphRun;
    glyphRun.setRawFont(face.raw);
    glyphRun.setGlyphIndexes(glyphs);
    glyphRun.setPositions(positions);
    painter_.drawGlyphRun(QPointF(origin.X, origin.Y), glyphRun);
  } else {
    QTextLayout layout(ToQString(run), face.font);
    LayOutRun(layout);
    const QTextLine line = layout.lineAt(0);
    layout.draw(&painter_, QPointF(origin.X, origin.Y - line.ascent()));
    for (const double advance : advances) width += advance;
  }
  // Lines are drawn here rather than by the font, so that they span the
  // advances the layout gave the run (a space's whole width included).
  const double thickness = std::max(1.0, face.metrics.lineWidth());
  if (face_.Styles & fsUnderline)
    painter_.fillRect(QRectF(origin.X, origin.Y + face.metrics.underlinePos(), width, thickness), color_);
  if (face_.Styles & fsStrikeOut)
    painter_.fillRect(QRectF(origin.X, origin.Y - face.metrics.strikeOutPos(), width, thickness), color_);
}

void TKELQtCanvas::PushClip(const TKELRectF& rect) {
  const auto bound = [](double value) { return std::clamp(value, -kFarAway, kFarAway); };
  painter_.save();
  painter_.setClipRect(QRectF(QPointF(bound(rect.Left), bound(rect.Top)), QPointF(bound(rect.Right), bound(rect.Bottom))),
                       Qt::IntersectClip);
}

void TKELQtCanvas::PopClip() { painter_.restore(); }

}  // namespace kel
