// The add-ons, integration and uninstall options pages, and the
// registration of the product's pages.
#include <QCheckBox>
#include <QLabel>
#include <QPainter>

#include "kel/base/format.h"
#include "kel/base/ini_file.h"
#include "kel/ui/formatted_label.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/core/spawn_service.h"
#include "setup/product/actions.h"
#include "setup/product/product_info_orvi.h"
#include "setup/product/ui/product_pages.h"
#include "setup/ui/standard_pages.h"

namespace setup {

namespace {

// A note of the add-ons page: formatted text whose links open as the user
// who started the setup.
kel::TKELFormattedLabel* NewNote(TSetupPage* parent, QFont font) {
  auto* note = new kel::TKELFormattedLabel(parent);
  note->SetBorders(0);
  note->SetTransparent(true);
  // Laid out in its bounds, in the small print of notes: no scroll bar.
  note->SetAutoScroll(false);
  note->setFont(font);
  note->OnLinkExecute = [](const std::string& target, bool& handled) {
    TSetupSpawnService::Spawn(target);
    handled = true;
  };
  return note;
}

}  // namespace

// --- TSetupPageAddons ----------------------------------------------------------------

TSetupPageAddons::TSetupPageAddons(const TSetupPageClass& pageClass, QWidget* parent)
    : TSetupPage(pageClass, parent),
      addonsList_(Resources().GetStringList("addons.ini")),
      addonsImage_(GetImage(Resources(), AddonsValue(addonsList_, "I0"))) {}

void TSetupPageAddons::CreateControls() {
  TSetupPage::CreateControls();
  QLabel* heading = AddLabel(QRect(40, 30, 300, 40), "L0", true);
  heading->setFont(ScaledFont(11));
  viewer_ = AddCheckBox(QRect(60, 100, 500, 17), "CB1", [this] { StoreChoices(); });
  extensions_ = AddCheckBox(QRect(60, 120, 500, 17), "CB2", [this] { StoreChoices(); });
  shortcuts_ = AddCheckBox(QRect(60, 140, 500, 17), "CB3", [this] { StoreChoices(); });
  note1_ = NewNote(this, ScaledFont(8));
  note1_->setGeometry(Scale(40), Scale(280), Scale(500), Scale(20));
  note2_ = NewNote(this, ScaledFont(8));
  note2_->setGeometry(Scale(40), Scale(310), Scale(550), Scale(50));
}

void TSetupPageAddons::Localize() {
  TSetupPage::Localize();
  note1_->SetCaption(kel::kelFormat(GetText("L1").toStdString(), {AddonsValue(addonsList_, "L0")}));
  note2_->SetCaption(kel::kelFormat(GetText("L2").toStdString(),
                                    {AddonsValue(addonsList_, "L1"), AddonsValue(addonsList_, "L2")}));
}

void TSetupPageAddons::paintEvent(QPaintEvent* event) {
  TSetupPage::paintEvent(event);
  if (addonsImage_.isNull()) return;
  // At its own size (designed at 96 DPI), at the top, its right edge 10
  // inside the page's.
  const QSize size(Scale(addonsImage_.width()), Scale(addonsImage_.height()));
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRect(QPoint(width() - Scale(10) - size.width(), 0), size), addonsImage_);
}

void TSetupPageAddons::Prepare() {
  TSetupPage::Prepare();
  const kel::TKELIniFile& settings = Settings();
  viewer_->setChecked(settings.ReadBool("Common", "AddonsViewer", true));
  shortcuts_->setChecked(settings.ReadBool("Common", "AddonsShortcuts", true));
  extensions_->setChecked(settings.ReadBool("Common", "AddonsExtensions", true));
  StoreChoices();
}

void TSetupPageAddons::StoreChoices() {
  kel::TKELIniFile& settings = Settings();
  settings.WriteBool("Common", "AddonsViewer", viewer_->isChecked());
  settings.WriteBool("Common", "AddonsExtensions", extensions_->isChecked());
  settings.WriteBool("Common", "AddonsShortcuts", shortcuts_->isChecked());
}

// --- TSetupPageIntegration -------------------------------------------------------------

bool TSetupPageIntegration::IsAvailable() const {
  return !Session().HasFlag(sfPORTABLE) && !Session().HasFlag(sfUPDATE);
}

void TSetupPageIntegration::CreateControls() {
  TSetupPage::CreateControls();
  const auto box = [this](int top, const char* name, const char* key) {
    boxes_.emplace_back(AddCheckBox(QRect(60, top, 540, 16), name, [this] { StoreChoices(); }), key);
  };
  AddHeaderLabel(QRect(40, 30, 540, 20), "LB1");
  box(70, "CB1", "ShortcutDesktop");
  box(90, "CB2", "ShortcutStartMenu");
  AddHeaderLabel(QRect(40, 120, 540, 20), "LB2");
  box(160, "CB4", "IntegrateToWindows");
  AddLabel(QRect(79, 180, 540, 48), "CB4Hint", true)->setEnabled(false);
  box(230, "CB3", "AssociateWithFiles");
  box(250, "CB5", "RegisterContextMenu");
}

void TSetupPageIntegration::Prepare() {
  TSetupPage::Prepare();
  // The option store keeps what it holds (the previous installation's
  // choices) until the user clicks.
  const bool byDefault = !Session().HasFlag(sfPORTABLE);
  for (const auto& [box, key] : boxes_) box->setChecked(Settings().ReadBool("Integration", key, byDefault));
}

void TSetupPageIntegration::StoreChoices() {
  for (const auto& [box, key] : boxes_) Settings().WriteBool("Integration", key, box->isChecked());
}

// --- TSetupPageUninstallParams -----------------------------------------------------------

void TSetupPageUninstallParams::CreateControls() {
  TSetupPage::CreateControls();
  removeBackups_ = AddCheckBox(QRect(44, 40, 480, 17), "CB1", [this] { StoreChoices(); });
  removeContent_ = AddCheckBox(QRect(44, 65, 480, 17), "CB2", [this] { StoreChoices(); });
}

void TSetupPageUninstallParams::Prepare() {
  TSetupPage::Prepare();
  removeBackups_->setChecked(Settings().ReadBool("Common", "RemoveBackups", false));
  removeContent_->setChecked(Settings().ReadBool("Common", "RemoveContent", false));
}

void TSetupPageUninstallParams::StoreChoices() {
  Settings().WriteBool("Common", "RemoveBackups", removeBackups_->isChecked());
  Settings().WriteBool("Common", "RemoveContent", removeContent_->isChecked());
}

// --- registration ----------------------------------------------------------------------------

void RegisterProductPagesORVI() {
  TSetupPageRegistry::Register<TSetupPageSetup>(kSetupPageSetup);
  TSetupPageRegistry::Register<TSetupPageAddons>(kSetupPageAddons);
  TSetupPageRegistry::Register<TSetupPageIntegration>(kSetupPageIntegration);
  TSetupPageRegistry::Register<TSetupPageUninstallParams>(kSetupPageUninstallParams);
}

}  // namespace setup
