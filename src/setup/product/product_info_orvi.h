// The product description of the ORVI player: what is installed in the
// destination, whether it can be updated, whether it is portable, and which
// actions make up a run.
#pragma once

#include <string>
#include <string_view>

#include "kel/base/ini_file.h"
#include "setup/core/page_class.h"
#include "setup/core/product_info.h"

namespace setup {

// The product's own wizard pages (their widgets live in the product's user
// interface library, which registers them with the wizard).
inline constexpr TSetupPageClass kSetupPageSetup{"TSetupPageSetup"};
inline constexpr TSetupPageClass kSetupPageAddons{"TSetupPageAddons"};
inline constexpr TSetupPageClass kSetupPageIntegration{"TSetupPageIntegration"};
inline constexpr TSetupPageClass kSetupPageUninstallParams{"TSetupPageUninstallParams"};

class TProductInfoORVI : public TSetupProductInfo {
 public:
  // The file name of the player's program.
  static constexpr std::string_view kPlayerProgram = "ORVI";

  // The installation elsewhere on this machine: the folder of the registered
  // "ORVI" (or "ORVI3") entry, else the folder of the program file of a
  // running player (a window of class "TORVIMainForm" whose program is named
  // kPlayerProgram); "" when there is none.
  static std::string FindExistingInstallation();

  std::string GetDefaultPath() override;
  // 3.50 up to 5.39 can be updated.
  bool CanUpdate() override;
  // [System] UserMode of the installation reads false.
  bool IsPortableInstallation() override;
  int GetInstalledVersion() override;
  // Reads ORVI.ini (or the ORVI3.ini of 3.x versions) of the destination and
  // copies its [Integration] choices into the option store.
  void LoadInstalledInfo() override;
  void PopulateActions(const TAddAction& add) override;
  // Installation: welcome, licence, setup, add-ons (when available),
  // integration, ready to install; uninstallation: the uninstall options.
  void PopulatePages(const TAddPage& add) override;

  // Whether the add-ons page (and action) is part of this run: an
  // interactive run in the "Russian" setup language.
  static bool AddonsAvailable();

  const kel::TKELIniFile& InstalledConfig() const { return installedConfig_; }

 private:
  kel::TKELIniFile installedConfig_;
};

// Makes TProductInfoORVI the product description class of the program.
void RegisterProductORVI();

}  // namespace setup
