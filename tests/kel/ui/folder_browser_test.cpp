// The toolkit's folder browser: where it starts, the root it keeps to, new
// folders, and scripted answers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <filesystem>

#include "kel/ui/dialog_answers.h"
#include "kel/ui/folder_browser.h"
#include "rich_viewer_test_support.h"
#include "support/temp_dir.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

class FolderBrowserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { orvi::test::EnsureQtApplication(); }
  void SetUp() override { fs::create_directories(machine_ / "opt/Apps"); }
  void TearDown() override { EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()); }

  TKELFolderBrowserOptions Options(const std::string& start) const {
    return {"Choose", "New Folder", machine_.Path(), start};
  }

  orvi::test::TempDir machine_;
};

TEST_F(FolderBrowserTest, StartsAtTheNearestFolderThatExistsAndKeepsToItsRoot) {
  TKELFolderBrowser dialog(Options(machine_ / "opt/Apps/ORVI/Deeper/"), nullptr);
  EXPECT_EQ(dialog.SelectedFolder(), machine_ / "opt/Apps/");
  EXPECT_EQ(dialog.findChild<QLineEdit*>()->text(), "/opt/Apps/") << "shown as a folder of the machine";
  EXPECT_EQ(dialog.Actual("/opt"), machine_ / "opt/");
  EXPECT_EQ(dialog.Actual("/../../etc"), machine_ / "etc/") << "nothing above the root";

  EXPECT_FALSE(dialog.Select(fs::path(machine_.Path()).parent_path().string()));
  EXPECT_FALSE(dialog.Select(machine_ / "opt/Missing"));
  EXPECT_EQ(dialog.SelectedFolder(), machine_ / "opt/Apps/");
  EXPECT_TRUE(dialog.Select(machine_ / "opt"));
  EXPECT_EQ(dialog.SelectedFolder(), machine_ / "opt/");
}

TEST_F(FolderBrowserTest, NewFolderIsMadeInTheChosenOneUnderAFreeName) {
  TKELFolderBrowser dialog(Options(machine_ / "opt/"), nullptr);
  ASSERT_TRUE(dialog.NewFolder());
  EXPECT_EQ(dialog.SelectedFolder(), machine_ / "opt/New Folder/");
  ASSERT_TRUE(dialog.Select(machine_ / "opt"));
  ASSERT_TRUE(dialog.NewFolder());
  EXPECT_EQ(dialog.SelectedFolder(), machine_ / "opt/New Folder 2/");
  EXPECT_TRUE(fs::is_directory(machine_ / "opt/New Folder 2"));
  // Only a folder it made can be renamed.
  const auto* model = static_cast<const QFileSystemModel*>(dialog.Tree()->model());
  EXPECT_TRUE(model->flags(dialog.Tree()->currentIndex()) & Qt::ItemIsEditable);
  EXPECT_FALSE(model->flags(model->index(QString::fromStdString(machine_ / "opt/Apps"))) & Qt::ItemIsEditable);
}

TEST_F(FolderBrowserTest, ScriptedAnswersNameAFolderOfTheMachineOrCancel) {
  TKELDialogAnswersScope answers;
  const struct {
    const char* answer;  // nullptr: none queued
    std::optional<std::string> chosen;
    const char* recorded;
    bool scripted;
  } rows[] = {
      {"/opt/Apps", machine_ / "opt/Apps/", "/opt/Apps", true},
      {"cancel", std::nullopt, "Cancel", true},
      {"/opt/Missing", std::nullopt, "Cancel", false},
      {nullptr, std::nullopt, "Cancel", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer ? row.answer : "none");
    if (row.answer) TKELDialogAnswers::Push(row.answer);
    EXPECT_EQ(kelBrowseForFolder(nullptr, Options(machine_ / "opt/")), row.chosen);
    const TKELDialogRecord& record = TKELDialogAnswers::Records().back();
    EXPECT_EQ(record.caption, "Choose");
    EXPECT_EQ(record.answer, row.recorded);
    EXPECT_EQ(record.scripted, row.scripted);
  }
}

}  // namespace
}  // namespace kel
