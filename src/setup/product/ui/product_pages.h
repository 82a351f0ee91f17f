// The ORVI product's own wizard pages: the destination with the update,
// backup and installation-mode choices; the add-on offered in a Russian run;
// the shortcuts and the integration; what an uninstallation removes besides
// the program. Each reads the session when it becomes active and writes the
// user's choices back at once, so that the summary and the actions see them.
#pragma once

#include <QImage>
#include <memory>
#include <vector>

#include "kel/base/string_list.h"
#include "setup/ui/page.h"

class QCheckBox;
class QRadioButton;

namespace kel {
class TKELButtonEdit;
class TKELFormattedLabel;
class TKELValidationLabel;
enum class TKELValidationLabelIcon;
}  // namespace kel

namespace setup {

// The destination folder, whether to update the installation found there
// (and back it up first), and whether to install normally or portably. The
// warnings at the bottom tell what the folder leads to: an update (W1), an
// installation that will be replaced (W3), a folder name the file-name rules
// changed, and a system or home folder, which cannot be the destination
// (Next is disabled then).
class TSetupPageSetup : public TSetupPage {
  Q_OBJECT

 public:
  using TSetupPage::TSetupPage;

  // A destination, and one that may be installed into.
  bool CanGoNext() const override;
  void Prepare() override;

  // Takes the folder as the destination (when it differs from the
  // session's) and shows what follows from it.
  void SetPath(const std::string& path);
  // The folder browser's choice: the folder itself when it is named like
  // the product (in any case), else the product's folder inside it.
  void FolderChosen(std::string folder);

  // The warnings shown now, in the order they stack up from the bottom.
  const std::vector<kel::TKELValidationLabel*>& Warnings() const { return warnings_; }

 protected:
  void CreateControls() override;

 private:
  // Shows the session's destination, flags and the warnings.
  void UpdateState();
  void UpdateWarnings();
  void AddWarning(kel::TKELValidationLabelIcon icon, const QString& name, const QString& text);
  void PathEdited(const QString& text);
  void Browse();
  void UpdateBoxClicked();
  void ModeClicked();

  kel::TKELButtonEdit* path_ = nullptr;
  QCheckBox* update_ = nullptr;  // CB1
  QCheckBox* backup_ = nullptr;  // CB4
  QRadioButton* portable_ = nullptr;  // CB3
  QRadioButton* normal_ = nullptr;    // CB2
  // While the destination is taken from the field: the field is not
  // rewritten under the user's typing.
  bool editingPath_ = false;
  std::vector<kel::TKELValidationLabel*> warnings_;  // owned by the page
  bool refused_ = false;
};

// The add-on of the setup package ("addons.ini" and its picture), offered
// with three choices and two notes about it.
class TSetupPageAddons : public TSetupPage {
  Q_OBJECT

 public:
  // Loads "addons.ini" and the picture it names; fails as GetFile does when
  // either is missing.
  TSetupPageAddons(const TSetupPageClass& pageClass, QWidget* parent);

  void Prepare() override;

 protected:
  void CreateControls() override;
  void Localize() override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // [Common] AddonsViewer, AddonsExtensions, AddonsShortcuts from the boxes.
  void StoreChoices();

  kel::TKELStringList addonsList_;
  QImage addonsImage_;
  QCheckBox* viewer_ = nullptr;      // CB1
  QCheckBox* extensions_ = nullptr;  // CB2
  QCheckBox* shortcuts_ = nullptr;   // CB3
  kel::TKELFormattedLabel* note1_ = nullptr;
  kel::TKELFormattedLabel* note2_ = nullptr;
};

// The shortcuts and the integration with the desktop; not for portable
// copies or updates. Shows the choices of the option store (those of the
// previous installation, else all on) and writes nothing until a box is
// clicked.
class TSetupPageIntegration : public TSetupPage {
  Q_OBJECT

 public:
  using TSetupPage::TSetupPage;

  bool IsAvailable() const override;
  void Prepare() override;

 protected:
  void CreateControls() override;

 private:
  // The five [Integration] keys from the boxes.
  void StoreChoices();

  std::vector<std::pair<QCheckBox*, const char*>> boxes_;
};

// Whether the uninstallation also removes the backups and the users' data.
class TSetupPageUninstallParams : public TSetupPage {
  Q_OBJECT

 public:
  using TSetupPage::TSetupPage;

  void Prepare() override;

 protected:
  void CreateControls() override;

 private:
  // [Common] RemoveBackups and RemoveContent from the boxes.
  void StoreChoices();

  QCheckBox* removeBackups_ = nullptr;  // CB1
  QCheckBox* removeContent_ = nullptr;  // CB2
};

// Registers the pages above with the page registry.
void RegisterProductPagesORVI();

}  // namespace setup
