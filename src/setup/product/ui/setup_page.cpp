// The destination and options page.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "kel/base/file_system.h"
#include "kel/base/text.h"
#include "kel/platform/sandbox.h"
#include "kel/ui/button_edit.h"
#include "kel/ui/folder_browser.h"
#include "kel/ui/validation_label.h"
#include "setup/core/product_info.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/product/actions.h"
#include "setup/product/ui/product_pages.h"

namespace setup {

void TSetupPageSetup::CreateControls() {
  TSetupPage::CreateControls();
  AddHeaderLabel(QRect(40, 30, 540, 20), "LB1");
  path_ = AddControl<kel::TKELButtonEdit>(QRect(60, 70, 540, 21), "PathEdit");
  // Named after its language key, which gives its caption.
  path_->Button()->setObjectName("Browse");
  path_->SetButtonWidth(Scale(100));
  connect(path_, &QLineEdit::textEdited, this, [this](const QString& text) { PathEdited(text); });
  connect(path_->Button(), &QPushButton::clicked, this, [this] { Browse(); });
  update_ = AddCheckBox(QRect(60, 100, 540, 17), "CB1", [this] { UpdateBoxClicked(); });
  backup_ = AddCheckBox(QRect(60, 120, 540, 17), "CB4", [this] { UpdateBoxClicked(); });
  AddHeaderLabel(QRect(40, 150, 540, 20), "LB2");
  portable_ = AddRadioBox(QRect(60, 190, 540, 16), "CB3", [this] { ModeClicked(); });
  QLabel* hint = AddLabel(QRect(79, 212, 500, 48), "CB3Hint", true);
  hint->setEnabled(false);
  // Two lines above the radio under it.
  hint->setFont(ScaledFont(8));
  normal_ = AddRadioBox(QRect(60, 248, 540, 16), "CB2", [this] { ModeClicked(); });
}

bool TSetupPageSetup::CanGoNext() const { return !Session().DestPath().empty() && !refused_; }

void TSetupPageSetup::Prepare() {
  TSetupPage::Prepare();
  UpdateState();
}

void TSetupPageSetup::UpdateState() {
  TSetup& session = Session();
  TSetupProductInfo& product = session.Product();
  const bool updating = session.HasFlag(sfUPDATE);
  if (!editingPath_) path_->setText(QString::fromStdString(session.DestPath()));

  update_->setChecked(updating);
  update_->setVisible(product.CanUpdate());
  backup_->setChecked(!session.HasFlag(sfNOBACKUP));
  backup_->setVisible(updating);

  // An update keeps the mode of the installation.
  const bool portable = (updating ? product.IsPortableInstallation() : session.HasFlag(sfPORTABLE)) &&
                        !session.InProgramFiles(session.DestPath());
  portable_->setChecked(portable);
  normal_->setChecked(!portable);
  portable_->setEnabled(!updating);
  normal_->setEnabled(!updating);

  UpdateWarnings();
  NotifyChanged();
}

void TSetupPageSetup::UpdateWarnings() {
  for (kel::TKELValidationLabel* warning : warnings_) delete warning;
  warnings_.clear();
  TSetup& session = Session();
  using enum kel::TKELValidationLabelIcon;
  if (session.HasFlag(sfUPDATE)) AddWarning(vliWarning, "W1", GetText("W1"));
  if (NeedsReplaceWarning()) AddWarning(vliWarning, "W3", GetText("W3"));
  if (session.DestPath().empty()) {
    refused_ = false;
    return;
  }
  if (const std::string changed = session.DestinationChangeNotice(); !changed.empty())
    AddWarning(vliWarning, "DestinationChanged", QString::fromStdString(changed));
  // A folder the run would refuse cannot be left for the next page.
  const std::string problem = session.DestinationProblem(session.DestPath());
  refused_ = !problem.empty();
  if (refused_) AddWarning(vliError, "DestinationRefused", QString::fromStdString(problem));
}

void TSetupPageSetup::AddWarning(kel::TKELValidationLabelIcon icon, const QString& name, const QString& text) {
  auto* warning = new kel::TKELValidationLabel(icon, text, this);
  warning->setObjectName(name);
  // The page's width is fixed: the text wraps within its margins.
  warning->setFixedHeight(warning->HeightFor(Scale(640 - 2 * 40)));
  warning->show();
  AlignControl(warning, TAlign::Bottom, QMargins(40, 0, 40, warnings_.empty() ? 20 : 6));
  warnings_.push_back(warning);
}

void TSetupPageSetup::PathEdited(const QString& text) {
  editingPath_ = true;
  SetPath(text.toStdString());
  editingPath_ = false;
}

void TSetupPageSetup::SetPath(const std::string& path) {
  if (path != Session().DestPath()) Session().SetDestination(path);
  UpdateState();
}

void TSetupPageSetup::Browse() {
  TSetupResources& resources = Resources();
  const std::optional<std::string> folder =
      kel::kelBrowseForFolder(window(), {resources.GetText("Common", "lBrowse"), resources.GetText("Common", "lNewFolder"),
                                         kel::platform::SandboxRoot(), Session().DestPath()});
  if (folder) FolderChosen(*folder);
}

void TSetupPageSetup::FolderChosen(std::string folder) {
  folder = kel::kelIncludeTrailingPathDelimiter(folder);
  const std::string name = Session().Product().GetName();
  if (kel::kelSameText(kel::kelExtractFileName(kel::kelExcludeTrailingPathDelimiter(folder)), name))
    SetPath(folder);
  else
    SetPath(folder + name);
}

void TSetupPageSetup::UpdateBoxClicked() {
  TSetup& session = Session();
  uint8_t flags = session.Flags();
  flags = backup_->isChecked() ? flags & ~NOBACKUP : flags | NOBACKUP;
  flags = update_->isChecked() ? flags | UPDATE : flags & ~UPDATE;
  session.SetFlags(flags);
  UpdateState();
}

void TSetupPageSetup::ModeClicked() {
  TSetup& session = Session();
  TSetupProductInfo& product = session.Product();
  if (portable_->isChecked() && session.InProgramFiles(session.DestPath()))
    session.SetDestination(product.GetPortablePath());
  else if (normal_->isChecked() && kel::kelSameText(session.DestPath(), product.GetPortablePath()))
    session.SetDestination(product.GetDefaultPath());
  session.SetFlag(sfPORTABLE, portable_->isChecked());
  UpdateState();
}

}  // namespace setup
