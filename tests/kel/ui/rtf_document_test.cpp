#include "kel/ui/rtf_document.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include "kel/ui/rtf_reader.h"
#include "rich_viewer_test_support.h"
#include "support/fuzz.h"

namespace kel {
namespace {

const QColor kLinkColor(0, 0, 238);

class RtfDocumentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { orvi::test::EnsureQtApplication(); }

  void Read(const std::string& rtf) { ASSERT_TRUE(kelReadRtfDocument(rtf, document_, kLinkColor)); }

  // The texts of the blocks that hold any, trimmed, in document order (the
  // cells of tables row by row).
  QStringList Texts() const {
    QStringList texts;
    for (QTextBlock block = document_.begin(); block.isValid(); block = block.next())
      if (!block.text().trimmed().isEmpty()) texts << block.text().trimmed();
    return texts;
  }

  // The character format inside the first occurrence of `text`.
  QTextCharFormat FormatOf(const QString& text) const {
    const QTextCursor found = document_.find(text, 0, QTextDocument::FindCaseSensitively);
    EXPECT_FALSE(found.isNull()) << text.toStdString();
    QTextCursor at(const_cast<QTextDocument*>(&document_));
    at.setPosition(found.selectionStart() + 1);
    return at.charFormat();
  }

  QTextBlockFormat BlockFormatOf(const QString& text) const {
    return document_.find(text, 0, QTextDocument::FindCaseSensitively).blockFormat();
  }

  QList<QTextTable*> Tables() const {
    QList<QTextTable*> tables;
    for (QTextFrame* frame : document_.rootFrame()->childFrames())
      if (auto* table = qobject_cast<QTextTable*>(frame)) tables << table;
    return tables;
  }

  QStringList CellTexts(QTextTable* table) const {
    QStringList texts;
    for (int row = 0; row < table->rows(); ++row) {
      for (int column = 0; column < table->columns(); ++column) {
        const QTextTableCell cell = table->cellAt(row, column);
        QTextCursor cursor = cell.firstCursorPosition();
        cursor.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
        texts << cursor.selectedText().trimmed();
      }
    }
    return texts;
  }

  QTextDocument document_;
};

TEST_F(RtfDocumentTest, WriterLicence) {
  Read(orvi::test::RtfFixture("licence-writer.rtf"));
  EXPECT_EQ(Texts(), QStringList({
                         "ORVI End-User Licence Agreement",
                         "Please read this agreement carefully before installing ORVI. By installing the software "
                         "you accept all of its terms.",
                         "1. Grant of licence",
                         "You may:",
                         "•\tinstall the software on any number of computers;",
                         "•\tmake backup copies for your own use;",
                         "•\tshow it to friends.",
                         "2. Restrictions",
                         "1.\tYou may not sell the software.",
                         "2.\tYou may not remove alter the copyright notices.",
                         "3.\tYou may not reverse engineer the software except where the law allows it.",
                         "3. Editions",
                         "Edition", "Computers", "Price", "Home", "3", "free", "Business", "unlimited", "on request",
                         "4. No warranty",
                         "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND.",
                         "The latest version of this agreement is at our web site. Questions: write to "
                         "legal@orvi.example or visit www.orvi.example/support.",
                         "© 2024 ORVI Software. All rights reserved.",
                     }));
  EXPECT_EQ(FormatOf("ORVI End").fontWeight(), QFont::Bold);
  EXPECT_DOUBLE_EQ(FormatOf("ORVI End").fontPointSize(), 24);
  EXPECT_EQ(FormatOf("carefully").fontWeight(), QFont::Bold);
  EXPECT_NE(FormatOf("Please").fontWeight(), QFont::Bold);
  EXPECT_TRUE(FormatOf("ORVI. By").fontItalic());
  EXPECT_TRUE(FormatOf("all of its terms").fontItalic());
  EXPECT_EQ(FormatOf("all of its terms").fontWeight(), QFont::Bold);
  EXPECT_TRUE(FormatOf("backup copies").fontUnderline());
  EXPECT_TRUE(FormatOf("remove").fontStrikeOut());
  EXPECT_EQ(FormatOf("THE SOFTWARE").foreground().color(), QColor(0xC0, 0, 0));
  EXPECT_FALSE(FormatOf("Please").foreground().style() != Qt::NoBrush) << "no colour: the viewer's text colour";
  EXPECT_EQ(FormatOf("our web site").anchorHref(), "https://www.orvi.example/licence");
  EXPECT_EQ(FormatOf("legal@orvi").anchorHref(), "mailto:legal@orvi.example");
  EXPECT_FALSE(FormatOf("Questions").isAnchor());
  EXPECT_EQ(FormatOf("© 2024").fontPointSize(), 10);
  EXPECT_EQ(BlockFormatOf("© 2024").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_GT(BlockFormatOf("show it").leftMargin(), 0) << "list items are indented";

  const QList<QTextTable*> tables = Tables();
  ASSERT_EQ(tables.size(), 1);
  EXPECT_EQ(tables[0]->rows(), 3);
  EXPECT_EQ(tables[0]->columns(), 3);
  EXPECT_EQ(CellTexts(tables[0]),
            QStringList({"Edition", "Computers", "Price", "Home", "3", "free", "Business", "unlimited", "on request"}));
  EXPECT_EQ(FormatOf("Computers").fontWeight(), QFont::Bold);
  EXPECT_GT(tables[0]->format().border(), 0);
}

// The Russian licence is written with \uN and Windows-1251 fallbacks; read
// without its \uN (as a writer without Unicode would have written it), the
// fallbacks in the fonts' character set must give the same text.
TEST_F(RtfDocumentTest, RussianLicenceInWindows1251) {
  const std::string rtf = orvi::test::RtfFixture("licence-writer-ru.rtf");
  ASSERT_NE(rtf.find("\\fcharset204"), std::string::npos);
  const QString bytesOnly =
      QString::fromLatin1(rtf.data(), static_cast<qsizetype>(rtf.size())).remove(QRegularExpression(R"(\\u-?[0-9]+)"));
  ASSERT_EQ(bytesOnly.indexOf(QRegularExpression(R"(\\u[0-9])")), -1);
  ASSERT_GT(bytesOnly.count(QStringLiteral("\\'")), 300);

  const QStringList expected = {
      "Лицензионное соглашение ORVI",
      "Внимательно прочитайте это соглашение перед установкой ORVI. Устанавливая программу, вы принимаете все его "
      "условия.",
      "•\tПрограмму можно установить на любое число компьютеров.",
      "•\tРазрешается делать резервные копии.",
      "1.\tЗапрещается продавать программу.",
      "2.\tЗапрещается удалять сведения об авторских правах.",
      "Редакция", "Компьютеры", "Домашняя", "3",
      "ПРОГРАММА ПРЕДОСТАВЛЯЕТСЯ «КАК ЕСТЬ», БЕЗ КАКИХ-ЛИБО ГАРАНТИЙ.",
      "Полный текст: на нашем сайте.",
  };
  for (const std::string& variant : {rtf, bytesOnly.toLatin1().toStdString()}) {
    Read(variant);
    EXPECT_EQ(Texts(), expected);
    EXPECT_EQ(FormatOf("ORVI. Уст").fontWeight(), QFont::Bold);
    EXPECT_TRUE(FormatOf("принимаете").fontItalic());
    EXPECT_TRUE(FormatOf("резервные копии").fontUnderline());
    EXPECT_EQ(FormatOf("ПРОГРАММА").foreground().color(), QColor(0, 0, 0xC0));
    EXPECT_EQ(FormatOf("на нашем сайте").anchorHref(), "https://www.orvi.example/ru/licence");
    ASSERT_EQ(Tables().size(), 1);
    EXPECT_EQ(CellTexts(Tables()[0]), QStringList({"Редакция", "Компьютеры", "Домашняя", "3"}));
  }
}

TEST_F(RtfDocumentTest, PandocLicence) {
  Read(orvi::test::RtfFixture("licence-pandoc.rtf"));
  EXPECT_EQ(Texts(), QStringList({
                         "ORVI Licence for Add-ons",
                         "Terms for add-ons",
                         "These terms apply to the add-ons that the ORVI setup offers. By ticking an add-on you "
                         "accept every term below — “no exceptions”.",
                         "What you may do",
                         "•\tInstall the add-ons with ORVI.",
                         "•\tUse them for personal or commercial work.",
                         "–\tNested points are allowed.",
                         "•\tRemove them at any time.",
                         "What you may not do",
                         "1.\tSell the add-ons on their own.",
                         "2.\tRemove the notices of their authors.",
                         "3.\tClaim that you wrote them.",
                         "Add-on", "Author", "Licence", "Codec pack", "ORVI Team", "free", "Skin set", "Art Studio",
                         "free for personal use",
                         "Read more at https://www.orvi.example/addons or the add-on page. Price: 0 € · Ünïcödé · "
                         "Ωμέγα.",
                         "Quoted note: keep this text with the add-ons.",
                         "Old term has been removed.",
                     }));
  EXPECT_EQ(BlockFormatOf("ORVI Licence").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(FormatOf("add-ons that").fontWeight(), QFont::Bold);
  EXPECT_TRUE(FormatOf("ORVI setup").fontItalic());
  EXPECT_TRUE(FormatOf("every term").fontItalic());
  EXPECT_EQ(FormatOf("every term").fontWeight(), QFont::Bold);
  EXPECT_EQ(FormatOf("personal or").fontFamilies().toStringList(), QStringList{"Courier"});
  EXPECT_TRUE(FormatOf("Old term").fontStrikeOut());
  EXPECT_EQ(FormatOf("https://www.orvi").anchorHref(), "https://www.orvi.example/addons");
  EXPECT_EQ(FormatOf("the add-on page").anchorHref(), "https://www.orvi.example/addons/list");
  EXPECT_EQ(FormatOf("the add-on page").foreground().color(), kLinkColor) << "a link without a colour of its own";
  EXPECT_GT(BlockFormatOf("Quoted note").leftMargin(), 0);

  const QList<QTextTable*> tables = Tables();
  ASSERT_EQ(tables.size(), 1);
  EXPECT_EQ(tables[0]->rows(), 3);
  EXPECT_EQ(tables[0]->columns(), 3);
  // "text\par\cell": each cell holds its one paragraph, no empty one after it.
  EXPECT_EQ(tables[0]->cellAt(0, 0).lastCursorPosition().block(), tables[0]->cellAt(0, 0).firstCursorPosition().block());
}

TEST_F(RtfDocumentTest, TablesGrowAndEnd) {
  // A table first in the document, a row with more cells than the first,
  // and text after the table.
  Read(R"({\rtf1\trowd\cellx1000\intbl a\cell\row\trowd\cellx1000\cellx2000\cellx3000\intbl b\cell c\cell d\cell\row)"
       R"(\pard after\par})");
  ASSERT_EQ(Tables().size(), 1);
  QTextTable* table = Tables()[0];
  EXPECT_EQ(table->rows(), 2);
  EXPECT_EQ(table->columns(), 3);
  EXPECT_EQ(CellTexts(table), QStringList({"a", "", "", "b", "c", "d"}));
  EXPECT_EQ(document_.find("after").currentTable(), nullptr);
  EXPECT_EQ(document_.lastBlock().text(), "after");
}

// However many rows and cells the data asks for, the cells stay within a
// bound proportional to its size.
TEST_F(RtfDocumentTest, CellsStayWithinTheInputsSize) {
  std::string rtf = "{\\rtf1\\trowd";
  for (size_t i = 1; i <= kRtfMaxCells; ++i) rtf += "\\cellx" + std::to_string(i * 100);
  while (rtf.size() < 64 * 1024) rtf += "\\intbl\\cell\\row";
  rtf += "\\pard end}";
  Read(rtf);
  int cells = 0;
  for (QTextTable* table : Tables()) cells += table->rows() * table->columns();
  EXPECT_GT(cells, 0);
  EXPECT_LE(static_cast<size_t>(cells), rtf.size() / 4 + kRtfMaxCells);
  EXPECT_EQ(document_.lastBlock().text(), "end");
}

TEST_F(RtfDocumentTest, NoRtfLeavesTheDocumentAlone) {
  document_.setPlainText("kept");
  EXPECT_FALSE(kelReadRtfDocument("plain text", document_, kLinkColor));
  EXPECT_EQ(document_.toPlainText(), "kept");
}

TEST_F(RtfDocumentTest, Fuzz) {
  orvi::test::FuzzOptions options;
  for (const char* name : {"licence-writer.rtf", "licence-pandoc.rtf"}) {
    const std::string fixture = orvi::test::RtfFixture(name);
    options.seeds.push_back(fixture.substr(fixture.size() / 3, 2000));
  }
  options.seeds.push_back(R"({\rtf1\trowd\cellx100\cellx200\intbl a\cell b\par c\cell\row\intbl\cell\cell\cell\row)"
                          R"(\pard x\par{\field{\*\fldinst HYPERLINK "u"}{\fldrslt r}}\tx100\fi-50\li100 \tab y})");
  options.dictionary = {"{", "}", "\\par", "\\cell", "\\row", "\\trowd", "\\cellx300", "\\intbl", "\\pard", "\\tab",
                        "\\line", "\\fi-900", "\\li900", "\\tx50", "\\sl-20", "\\slmult1", "\\fs2", "\\cf1"};
  options.maxLength = 2048;
  QTextDocument document;
  orvi::test::RunFuzzTarget(
      "RtfDocument",
      [&](std::string_view input) {
        if (kelReadRtfDocument(input, document, kLinkColor)) document.documentLayout()->documentSize();
      },
      options);
}

}  // namespace
}  // namespace kel
