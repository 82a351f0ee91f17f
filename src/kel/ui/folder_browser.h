// The toolkit's folder browser: a modal dialog with the folder tree below a
// root, a New Folder button, OK and Cancel (the captions of
// kelSetDialogButtonCaptions). It takes scripted answers while the dialog
// answers are armed (dialog_answers.h): the answer names the folder to
// choose as the tree shows it ("/opt/Apps" is that folder below the root),
// or "Cancel". A folder that does not exist, and no answer, cancel.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace kel {

struct TKELFolderBrowserOptions {
  std::string Caption;           // the dialog's title
  std::string NewFolderCaption;  // the New Folder button, also the name of a new folder
  // The top of the tree, an absolute folder; "" is "/". Nothing above it
  // can be chosen, and it is shown as "/".
  std::string Root;
  // The folder chosen at first: the nearest one of it and its parents that
  // exists below the root (the root when none does).
  std::string Start;
};

class TKELFolderBrowser : public QDialog {
  Q_OBJECT

 public:
  TKELFolderBrowser(const TKELFolderBrowserOptions& options, QWidget* parent);

  // The chosen folder, absolute with a trailing '/'.
  std::string SelectedFolder() const;
  // Chooses the folder; false (nothing changes) when it is no folder below
  // the root.
  bool Select(const std::string& folder);
  // A folder as the tree shows it: below the root, beginning with '/'.
  std::string Shown(const std::string& folder) const;
  // The folder a shown path stands for ("/opt" is root + "/opt").
  std::string Actual(const std::string& shown) const;
  // Creates a new folder in the chosen one ("New Folder", else "New Folder
  // 2", ...), chooses it and lets the user name it; false when it cannot be
  // created.
  bool NewFolder();

  QTreeView* Tree() const { return tree_; }

 private:
  void ShowSelected();

  std::string root_;  // without a trailing '/' ("" for "/")
  QFileSystemModel* model_;
  QTreeView* tree_;
  QLineEdit* path_;
  QPushButton* newFolder_;
  QString newFolderName_;
  QPushButton* ok_ = nullptr;
};

// Shows the folder browser modally over `parent` (the active window when
// nullptr): the chosen folder, absolute with a trailing '/', or nothing when
// it was cancelled.
std::optional<std::string> kelBrowseForFolder(QWidget* parent, const TKELFolderBrowserOptions& options);

}  // namespace kel
