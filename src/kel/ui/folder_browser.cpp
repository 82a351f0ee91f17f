#include "kel/ui/folder_browser.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "kel/base/text.h"
#include "kel/platform/sandbox.h"
#include "kel/ui/dialog_answers.h"
#include "kel/ui/dpi.h"
#include "kel/ui/message_box.h"

namespace kel {

namespace {

// Folders only; a folder can be renamed only while it is one this dialog
// created (the user names a new folder), never one that was there before.
class TFolderModel : public QFileSystemModel {
 public:
  using QFileSystemModel::QFileSystemModel;

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    Qt::ItemFlags result = QFileSystemModel::flags(index) & ~(Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled);
    if (!created_.contains(filePath(index))) result &= ~Qt::ItemIsEditable;
    return result;
  }
  // The new folder's name changes with its renaming.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    const QString before = filePath(index);
    if (!QFileSystemModel::setData(index, value, role)) return false;
    created_.remove(before);
    created_.insert(QFileInfo(before).path() + QLatin1Char('/') + value.toString());
    return true;
  }
  void MarkCreated(const QString& path) { created_.insert(path); }

 private:
  QSet<QString> created_;
};

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

TKELFolderBrowser::TKELFolderBrowser(const TKELFolderBrowserOptions& options, QWidget* parent)
    : QDialog(parent),
      root_(platform::NormalizePath(options.Root.empty() ? "/" : options.Root)),
      model_(new TFolderModel(this)),
      tree_(new QTreeView(this)),
      path_(new QLineEdit(this)),
      newFolder_(new QPushButton(QString::fromStdString(options.NewFolderCaption), this)),
      newFolderName_(QString::fromStdString(options.NewFolderCaption).remove(QLatin1Char('&'))) {
  if (!root_.empty() && root_.back() == '/') root_.pop_back();
  if (newFolderName_.isEmpty()) newFolderName_ = "New Folder";
  setObjectName("TKELFolderBrowser");
  setWindowTitle(QString::fromStdString(options.Caption));
  const auto scale = [this](int length) { return kelScaleByDpi(length, logicalDpiX()); };
  resize(scale(420), scale(460));

  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
  model_->setReadOnly(false);
  model_->setRootPath(QString::fromStdString(root_.empty() ? "/" : root_));
  tree_->setModel(model_);
  tree_->setRootIndex(model_->index(QString::fromStdString(root_.empty() ? "/" : root_)));
  for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
  tree_->header()->hide();
  tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  path_->setReadOnly(true);

  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QString::fromStdString(kelDialogOkCaption()), QDialogButtonBox::AcceptRole);
  buttons->addButton(QString::fromStdString(kelDialogCancelCaption()), QDialogButtonBox::RejectRole);
  buttons->addButton(newFolder_, QDialogButtonBox::ActionRole);
  ok_->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(newFolder_, &QPushButton::clicked, this, [this] { NewFolder(); });
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { ShowSelected(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(path_);
  layout->addWidget(tree_, 1);
  layout->addWidget(buttons);

  // The start folder, else the nearest of its parents that exists.
  std::string start = platform::NormalizePath(options.Start);
  while (start.size() > 1 && !Select(start)) start = WithSlash(start.substr(0, start.find_last_of('/', start.size() - 2)));
  ShowSelected();
}

std::string TKELFolderBrowser::Shown(const std::string& folder) const {
  return folder.size() > root_.size() ? folder.substr(root_.size()) : "/";
}

std::string TKELFolderBrowser::Actual(const std::string& shown) const {
  return WithSlash(root_ + platform::NormalizePath("/" + shown));
}

std::string TKELFolderBrowser::SelectedFolder() const {
  const QModelIndex current = tree_->currentIndex();
  return WithSlash(current.isValid() ? model_->filePath(current).toStdString() : root_);
}

bool TKELFolderBrowser::Select(const std::string& folder) {
  std::string path = platform::NormalizePath(folder);
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!path.starts_with(root_ + "/") || !QFileInfo(QString::fromStdString(path)).isDir()) return false;
  const QModelIndex index = model_->index(QString::fromStdString(path));
  if (!index.isValid()) return false;
  for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) tree_->expand(parent);
  tree_->setCurrentIndex(index);
  tree_->scrollTo(index);
  return true;
}

bool TKELFolderBrowser::NewFolder() {
  std::string selected = SelectedFolder();
  if (selected.size() > 1) selected.pop_back();
  const QString parentPath = QString::fromStdString(selected);
  QString name = newFolderName_;
  for (int number = 2; QFileInfo::exists(parentPath + QLatin1Char('/') + name); ++number)
    name = newFolderName_ + QString(" %1").arg(number);
  const QModelIndex parent = model_->index(parentPath);
  const QModelIndex created = model_->mkdir(parent, name);
  if (!created.isValid()) return false;
  static_cast<TFolderModel*>(model_)->MarkCreated(model_->filePath(created));
  tree_->expand(parent);
  tree_->setCurrentIndex(created);
  tree_->scrollTo(created);
  tree_->edit(created);
  return true;
}

void TKELFolderBrowser::ShowSelected() {
  path_->setText(QString::fromStdString(Shown(SelectedFolder())));
  ok_->setEnabled(tree_->currentIndex().isValid());
}

std::optional<std::string> kelBrowseForFolder(QWidget* parent, const TKELFolderBrowserOptions& options) {
  TKELFolderBrowser dialog(options, parent ? parent : QApplication::activeWindow());
  TKELDialogRecord record{options.Caption, {}, "Cancel", {}, false};
  const bool armed = TKELDialogAnswers::Armed();
  if (armed) {
    const std::optional<std::string> answer = TKELDialogAnswers::Take();
    QTimer::singleShot(0, &dialog, [&, answer] {
      if (answer && kelSameTextAscii(*answer, "Cancel")) {
        record.scripted = true;
      } else if (answer && dialog.Select(dialog.Actual(*answer))) {
        record.scripted = true;
        dialog.accept();
        return;
      }
      dialog.reject();
    });
  }
  const bool chosen = dialog.exec() == QDialog::Accepted;
  std::optional<std::string> result;
  if (chosen) result = dialog.SelectedFolder();
  if (armed) {
    // Written as answers are: "/opt/Apps".
    record.answer = result ? dialog.Shown(result->substr(0, result->size() - 1)) : "Cancel";
    TKELDialogAnswers::Record(std::move(record));
  }
  return result;
}

}  // namespace kel
