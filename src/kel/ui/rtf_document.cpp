#include "kel/ui/rtf_document.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

#include <algorithm>

#include "kel/ui/rtf_reader.h"

namespace kel {

namespace {

qreal PixelsPerTwip() { return kelDocumentDpi() / 1440; }

QColor ToQColor(TKELColor color) { return QColor(kelRed(color), kelGreen(color), kelBlue(color)); }

Qt::Alignment ToQtAlignment(TKELRtfAlignment alignment) {
  switch (alignment) {
    case TKELRtfAlignment::Right: return Qt::AlignRight;
    case TKELRtfAlignment::Center: return Qt::AlignHCenter;
    case TKELRtfAlignment::Justify: return Qt::AlignJustify;
    default: return Qt::AlignLeft;
  }
}

QFont::StyleHint ToStyleHint(TKELRtfFontFamily family) {
  switch (family) {
    case TKELRtfFontFamily::Roman: return QFont::Serif;
    case TKELRtfFontFamily::Swiss: return QFont::SansSerif;
    case TKELRtfFontFamily::Modern: return QFont::Monospace;
    case TKELRtfFontFamily::Script: return QFont::Cursive;
    case TKELRtfFontFamily::Decor: return QFont::Decorative;
    default: return QFont::AnyStyle;
  }
}

// Writes the reader's paragraphs into a document through one cursor.
class DocumentSink final : public IKELRtfSink {
 public:
  DocumentSink(QTextDocument& document, const QColor& linkColor, size_t dataSize)
      : cursor_(&document), linkColor_(linkColor), pixelsPerTwip_(PixelsPerTwip()),
        cellBudget_(dataSize / 4 + kRtfMaxCells) {}

  void Paragraph(const TKELRtfParagraph& paragraph) override {
    if (paragraph.Format.InTable || paragraph.EndsCell) {
      EnterCell(*paragraph.Row);
      // "text\par\cell": the cell ends with its last paragraph, not with an empty one.
      if (paragraph.EndsCell && paragraph.Text.empty() && blockUsed_) {
        EndCell();
        return;
      }
    } else {
      LeaveTable();
    }
    if (blockUsed_) cursor_.insertBlock();
    cursor_.setBlockFormat(BlockFormat(paragraph.Format));
    cursor_.setBlockCharFormat(CharFormat(paragraph.MarkFormat));
    for (const TKELRtfRun& run : paragraph.Runs) {
      cursor_.insertText(QString(reinterpret_cast<const QChar*>(paragraph.Text.data() + run.Start),
                                 static_cast<qsizetype>(run.Length)),
                         CharFormat(run.Format));
    }
    blockUsed_ = true;
    if (paragraph.EndsCell) EndCell();
  }

  void EndRow(const TKELRtfRowFormat&) override { rowOpen_ = false; }

 private:
  int Pixels(int twips) const { return static_cast<int>(twips * pixelsPerTwip_ + (twips >= 0 ? 0.5 : -0.5)); }

  QTextBlockFormat BlockFormat(const TKELRtfParagraphFormat& format) const {
    QTextBlockFormat block;
    block.setAlignment(ToQtAlignment(format.Alignment));
    const int left = std::max(0, Pixels(format.LeftIndent));
    block.setLeftMargin(left);
    block.setRightMargin(std::max(0, Pixels(format.RightIndent)));
    block.setTextIndent(std::max(-left, Pixels(format.FirstLineIndent)));
    block.setTopMargin(Pixels(format.SpaceBefore));
    block.setBottomMargin(Pixels(format.SpaceAfter));
    if (format.LineSpacingMultiple && format.LineSpacing > 0)
      block.setLineHeight(format.LineSpacing * 100.0 / 240, QTextBlockFormat::ProportionalHeight);
    else if (format.LineSpacing > 0)
      block.setLineHeight(Pixels(format.LineSpacing), QTextBlockFormat::MinimumHeight);
    else if (format.LineSpacing < 0)
      block.setLineHeight(Pixels(-format.LineSpacing), QTextBlockFormat::FixedHeight);
    if (format.RightToLeft) block.setLayoutDirection(Qt::RightToLeft);
    // Qt measures tab stops from where the line starts, RTF from the left
    // edge of the text: the stops are moved by the first line's indent (the
    // line that lists tab after their number). A hanging indent is a stop
    // too, as word processors have it.
    const int firstLine = left + static_cast<int>(block.textIndent());
    QList<QTextOption::Tab> tabs;
    if (firstLine < left) tabs.append(QTextOption::Tab(left - firstLine, QTextOption::LeftTab));
    for (const TKELRtfTabStop& stop : format.TabStops) {
      QTextOption::TabType type = QTextOption::LeftTab;
      QChar delimiter;
      if (stop.Kind == TKELRtfTabKind::Right) type = QTextOption::RightTab;
      if (stop.Kind == TKELRtfTabKind::Center) type = QTextOption::CenterTab;
      if (stop.Kind == TKELRtfTabKind::Decimal) {
        type = QTextOption::DelimiterTab;
        delimiter = QLatin1Char('.');
      }
      const int position = Pixels(stop.Position) - firstLine;
      if (position > 0) tabs.append(QTextOption::Tab(position, type, delimiter));
    }
    if (!tabs.isEmpty()) {
      std::sort(tabs.begin(), tabs.end(), [](const QTextOption::Tab& a, const QTextOption::Tab& b) {
        return a.position < b.position;
      });
      block.setTabPositions(tabs);
    }
    return block;
  }

  QTextCharFormat CharFormat(const TKELRtfCharFormat& format) {
    if (haveLastFormat_ && format == lastFormat_) return lastCharFormat_;
    QTextCharFormat chars;
    if (format.Font && !format.Font->Symbol && !format.Font->Name.empty()) {
      chars.setFontFamilies(QStringList{QString::fromStdU16String(format.Font->Name)});
      chars.setFontStyleHint(ToStyleHint(format.Font->Family));
    }
    chars.setFontPointSize(format.FontSize / 2.0);
    if (format.Bold) chars.setFontWeight(QFont::Bold);
    if (format.Italic) chars.setFontItalic(true);
    if (format.Underline) chars.setFontUnderline(true);
    if (format.StrikeOut) chars.setFontStrikeOut(true);
    if (format.Script == TKELRtfScript::Superscript) chars.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    if (format.Script == TKELRtfScript::Subscript) chars.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    if (format.Caps == TKELRtfCaps::AllCaps) chars.setFontCapitalization(QFont::AllUppercase);
    if (format.Caps == TKELRtfCaps::SmallCaps) chars.setFontCapitalization(QFont::SmallCaps);
    if (kelIsRGB(format.Color)) chars.setForeground(ToQColor(format.Color));
    if (kelIsRGB(format.Background)) chars.setBackground(ToQColor(format.Background));
    if (format.Link) {
      chars.setAnchor(true);
      chars.setAnchorHref(QString::fromStdString(*format.Link));
      if (!kelIsRGB(format.Color)) {
        chars.setForeground(linkColor_);
        chars.setFontUnderline(true);
      }
    }
    lastFormat_ = format;
    lastCharFormat_ = chars;
    haveLastFormat_ = true;
    return chars;
  }

  // Puts the cursor where the next paragraph of a table goes: a new table,
  // a new row, or the next cell.
  void EnterCell(const TKELRtfRowFormat& row) {
    if (!table_) {
      // The table follows the paragraph before it (an unused block would
      // stay as an empty line above it).
      const int columns = static_cast<int>(std::clamp<size_t>(row.Cells.size(), 1, kRtfMaxCells));
      table_ = cursor_.insertTable(1, columns, TableFormat(row));
      cellBudget_ -= std::min<size_t>(cellBudget_, static_cast<size_t>(columns));
      row_ = 0;
      cell_ = 0;
      rowOpen_ = true;
      cellPending_ = false;
      blockUsed_ = false;
      return;
    }
    if (!rowOpen_) {
      rowOpen_ = true;
      const size_t columns = static_cast<size_t>(table_->columns());
      if (cellBudget_ < columns) return;  // the table grows no further: the rest goes into its last cell
      cellBudget_ -= columns;
      table_->appendRows(1);
      ++row_;
      cell_ = 0;
      MoveToCell();
      return;
    }
    if (cellPending_) {
      if (cell_ >= table_->columns()) {
        if (table_->columns() >= static_cast<int>(kRtfMaxCells) || cellBudget_ < static_cast<size_t>(table_->rows())) {
          cell_ = table_->columns() - 1;
          cellPending_ = false;
          return;
        }
        cellBudget_ -= static_cast<size_t>(table_->rows());
        table_->appendColumns(1);
      }
      MoveToCell();
    }
  }

  void EndCell() {
    if (!table_) return;
    ++cell_;
    cellPending_ = true;
  }

  void MoveToCell() {
    cursor_ = table_->cellAt(row_, cell_).firstCursorPosition();
    cellPending_ = false;
    blockUsed_ = false;
  }

  void LeaveTable() {
    if (!table_) return;
    cursor_ = table_->lastCursorPosition();
    cursor_.movePosition(QTextCursor::NextBlock);
    table_ = nullptr;
    blockUsed_ = false;
  }

  QTextTableFormat TableFormat(const TKELRtfRowFormat& row) const {
    QTextTableFormat format;
    format.setCellSpacing(0);
    format.setCellPadding(std::max(2, Pixels(row.CellGap)));
    format.setBorderCollapse(true);
    // Qt's tables have borders all round or none: a grid when the first row
    // has borders.
    const bool borders =
        std::any_of(row.Cells.begin(), row.Cells.end(), [](const TKELRtfCell& cell) { return cell.Border; });
    format.setBorder(borders ? 1 : 0);
    format.setBorderBrush(QColor(Qt::gray));
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setAlignment(ToQtAlignment(row.Alignment));
    if (row.Left > 0) format.setLeftMargin(Pixels(row.Left));
    QList<QTextLength> widths;
    int left = row.Left;
    for (const TKELRtfCell& cell : row.Cells) {
      if (cell.RightEdge <= left) {
        widths.clear();
        break;
      }
      widths.append(QTextLength(QTextLength::FixedLength, Pixels(cell.RightEdge - left)));
      left = cell.RightEdge;
    }
    if (!widths.isEmpty()) format.setColumnWidthConstraints(widths);
    return format;
  }

  QTextCursor cursor_;
  QColor linkColor_;
  qreal pixelsPerTwip_;
  bool blockUsed_ = false;  // the cursor's block holds a paragraph already

  QTextTable* table_ = nullptr;
  int row_ = 0;
  int cell_ = 0;
  bool rowOpen_ = false;
  bool cellPending_ = false;  // the last paragraph ended a cell: the next one goes to the next cell
  size_t cellBudget_;

  bool haveLastFormat_ = false;
  TKELRtfCharFormat lastFormat_;
  QTextCharFormat lastCharFormat_;
};

}  // namespace

qreal kelDocumentDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen && !QCoreApplication::testAttribute(Qt::AA_Use96Dpi) ? screen->logicalDotsPerInchY() : 96;
}

bool kelReadRtfDocument(std::string_view rtf, QTextDocument& document, const QColor& linkColor) {
  if (!TKELRtfReader::IsRtf(rtf)) return false;
  document.clear();
  QTextCursor edit(&document);
  edit.beginEditBlock();  // the layout hears of the changes once, at the end
  DocumentSink sink(document, linkColor, rtf.size());
  TKELRtfReader reader(sink);
  reader.Read(rtf);
  QTextOption option = document.defaultTextOption();
  option.setTabStopDistance(reader.DefaultTabWidth() * PixelsPerTwip());
  document.setDefaultTextOption(option);
  edit.endEditBlock();
  return true;
}

}  // namespace kel
