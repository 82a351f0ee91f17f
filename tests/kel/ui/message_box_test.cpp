// The toolkit's message box with scripted answers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "kel/ui/dialog_answers.h"
#include "kel/ui/message_box.h"
#include "rich_viewer_test_support.h"

namespace kel {
namespace {

TKELMessage Question() {
  return {"Caption", "Line one\r\nLine two", TKELMessageIcon::Question,
          {TKELMessageButton::Ok, TKELMessageButton::Cancel}, TKELMessageButton::Cancel};
}

class MessageBoxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { orvi::test::EnsureQtApplication(); }
  void TearDown() override {
    kelSetDialogButtonCaptions("OK", "Cancel");
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
  }
  TKELDialogAnswersScope answers_;
};

TEST_F(MessageBoxTest, ScriptedAnswersChooseTheNamedButtonElseTheDefault) {
  const struct {
    const char* answer;  // nullptr: none queued
    TKELMessageButton chosen;
    bool scripted;
  } rows[] = {{"ok", TKELMessageButton::Ok, true},
              {"Cancel", TKELMessageButton::Cancel, true},
              {"Retry", TKELMessageButton::Cancel, false},  // not a button of this box
              {nullptr, TKELMessageButton::Cancel, false}};
  for (const auto& row : rows) {
    if (row.answer) TKELDialogAnswers::Push(row.answer);
    EXPECT_EQ(kelMessageBox(nullptr, Question()), row.chosen) << (row.answer ? row.answer : "none");
    const TKELDialogRecord& record = TKELDialogAnswers::Records().back();
    EXPECT_EQ(record.caption, "Caption");
    EXPECT_EQ(record.text, "Line one\r\nLine two");
    EXPECT_EQ(record.defaultAnswer, "Cancel");
    EXPECT_EQ(record.scripted, row.scripted);
  }
  EXPECT_EQ(TKELDialogAnswers::Records().size(), 4u);
}

TEST_F(MessageBoxTest, ShowsTheLanguagesCaptionsAndTheDefaultButton) {
  kelSetDialogButtonCaptions("Weiter", "Abbrechen");
  QStringList seen;
  // Looks at the box once it is up (before the scripted answer closes it).
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* button : box->buttons()) seen << button->text();
    seen << "default:" + box->defaultButton()->text() << box->text() << box->windowTitle();
    EXPECT_EQ(box->icon(), QMessageBox::Question);
  });
  TKELDialogAnswers::Push("OK");
  EXPECT_EQ(kelMessageBox(nullptr, Question()), TKELMessageButton::Ok);
  seen.sort();
  EXPECT_EQ(seen.join('|').toStdString(), "Abbrechen|Caption|Line one\nLine two|Weiter|default:Abbrechen");
}

}  // namespace
}  // namespace kel
