// The language dialog: its window, its entries with their icons, the
// preselection, and the scripted answer.
#include <QBuffer>
#include <QComboBox>
#include <QPushButton>

#include "setup/core/language_choice.h"
#include "setup/core/resources.h"
#include "setup/ui/language_dialog.h"
#include "wizard_fixture.h"

namespace orvi::test {
namespace {

std::string IconFile() {
  QImage image(16, 16, QImage::Format_ARGB32);
  image.fill(Qt::red);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, "ICO"));
  return bytes.toStdString();
}

std::vector<setup::TSetupLanguageEntry> Entries() {
  return {{"Deutsch", IconFile(), 1031, 0}, {"English", "not an icon", 1033, 1}, {"Русский", "", 1049, 2}};
}

class LanguageDialogTest : public WizardTest {};

TEST_F(LanguageDialogTest, WindowAndEntries) {
  setup::TSetupLanguageDialog dialog(Entries(), 1);
  EXPECT_EQ(dialog.windowTitle(), "Select Language");
  EXPECT_EQ(dialog.size(), QSize(220, 75));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "not resizable";
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
  QComboBox& list = *dialog.List();
  ASSERT_EQ(list.count(), 3);
  EXPECT_EQ(list.itemText(2), "Русский");
  EXPECT_EQ(list.itemIcon(0).pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
  EXPECT_TRUE(list.itemIcon(1).isNull()) << "an unreadable icon shows none";
  EXPECT_TRUE(list.itemIcon(2).isNull());
  EXPECT_EQ(dialog.Selected(), 1);
  EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 1) << "OK only";

  dialog.show();
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible()) << "there is no way to cancel";
  QTest::keyClick(&dialog, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(LanguageDialogTest, PreselectsTheUsersLanguageAndTakesTheChoice) {
  OpenSession({}, {});
  // A package with English (1033) and German (1031), on a German system.
  const std::vector<setup::TSetupLanguageEntry> entries = Entries();
  const int preselected = setup::PreselectLanguage(entries, {1031});
  setup::TWizardLanguageChoice choice;

  EXPECT_EQ(choice.Choose(entries, preselected), 0) << "unanswered, the preselected entry";
  ASSERT_EQ(kel::TKELDialogAnswers::Records().size(), 1u);
  EXPECT_EQ(kel::TKELDialogAnswers::Records()[0].caption, "Select Language");
  EXPECT_EQ(kel::TKELDialogAnswers::Records()[0].defaultAnswer, "Deutsch");
  EXPECT_FALSE(kel::TKELDialogAnswers::Records()[0].scripted);

  kel::TKELDialogAnswers::Push("русский");
  EXPECT_EQ(choice.Choose(entries, preselected), 2) << "the answer names an entry, ignoring case";
  EXPECT_EQ(choice.Choose(entries, setup::PreselectLanguage(entries, {1046})), 1) << "no Portuguese: English";
}

TEST_F(LanguageDialogTest, ChosenLanguageIsMergedOverEnglish) {
  OpenSession({}, {});
  kel::TKELDialogAnswers::Push("Deutsch");
  setup::TWizardLanguageChoice choice;
  SessionSpec spec;
  spec.englishLng = WizardEnglishLng();
  spec.setupFiles = {{"Deutsch.lng", "[File]\r\nName=Deutsch\r\nLangId=1031\r\n[Common]\r\nbNext=Weiter\r\n"}};
  spec.initializeLanguages = false;
  fixture_.reset();
  fixture_ = std::make_unique<SessionFixture>(spec);
  Session().Resources().InitializeLanguages(&choice);
  EXPECT_EQ(Session().Resources().LanguageName(), "Deutsch");
  EXPECT_EQ(Session().Resources().GetText("Common", "bNext"), "Weiter");
  EXPECT_EQ(Session().Resources().GetText("Common", "bBack"), "bBack") << "English where German has nothing";
}

}  // namespace
}  // namespace orvi::test
