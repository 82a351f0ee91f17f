#include "setup/product/product_info_orvi.h"

#include "kel/base/file_system.h"
#include "kel/base/text.h"
#include "kel/platform/process.h"
#include "kel/platform/windows.h"
#include "setup/core/app_repo.h"
#include "setup/core/extract.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/product/actions.h"

namespace setup {

void RegisterProductORVI() {
  TSetupProductInfo::RegisterClass([] { return std::unique_ptr<TSetupProductInfo>(std::make_unique<TProductInfoORVI>()); });
}

std::string TProductInfoORVI::GetDefaultPath() {
  const std::string existing = FindExistingInstallation();
  return existing.empty() ? TSetupProductInfo::GetDefaultPath() : existing;
}

bool TProductInfoORVI::CanUpdate() {
  const int version = GetInstalledVersion();
  return version >= 3500 && version <= 5399;
}

bool TProductInfoORVI::IsPortableInstallation() { return !installedConfig_.ReadBool("System", "UserMode", true); }

int TProductInfoORVI::GetInstalledVersion() { return installedConfig_.ReadInteger("System", "Version", 0); }

void TProductInfoORVI::LoadInstalledInfo() {
  TSetup& session = TSetup::Instance();
  const std::string& destination = session.DestPath();
  std::string file;
  // No destination has no installation (never a file of the current folder).
  if (!destination.empty()) {
    if (kel::kelFileExists(destination + "ORVI.ini"))
      file = destination + "ORVI.ini";
    else if (kel::kelFileExists(destination + "ORVI3.ini"))
      file = destination + "ORVI3.ini";
  }
  installedConfig_.LoadFromFile(file);
  session.Settings().WriteSection("Integration", installedConfig_.ReadSection("Integration"));
}

void TProductInfoORVI::PopulateActions(const TAddAction& add) {
  TSetup& session = TSetup::Instance();
  add(TSetupActionClass::Of<TSetupActionCloseApplications>("TSetupActionCloseApplications"));
  if (session.Mode() == TSetupMode::Install) {
    add(TSetupActionClass::Of<TSetupActionPrepare>("TSetupActionPrepare"));
    if (AddonsAvailable()) add(TSetupActionClass::Of<TSetupActionAddonsInstall>("TSetupActionAddonsInstall"));
    add(TSetupActionClass::Of<TSetupActionExtract>("TSetupActionExtract"));
    add(TSetupActionClass::Of<TSetupActionConfig>("TSetupActionConfig"));
    if (!session.HasFlag(sfUPDATE)) {
      if (!session.HasFlag(sfPORTABLE)) add(TSetupActionClass::Of<TSetupActionIntegrate>("TSetupActionIntegrate"));
      add(TSetupActionClass::Of<TSetupActionShortcuts>("TSetupActionShortcuts"));
    }
    if (kel::platform::GetOsVersion().major >= 10)
      add(TSetupActionClass::Of<TSetupActionUpdateShellCache>("TSetupActionUpdateShellCache"));
  } else if (session.Mode() == TSetupMode::Uninstall) {
    add(TSetupActionClass::Of<TSetupActionUninstallIntegration>("TSetupActionUninstallIntegration"));
    add(TSetupActionClass::Of<TSetupActionUninstallFiles>("TSetupActionUninstallFiles"));
  }
}

void TProductInfoORVI::PopulatePages(const TAddPage& add) {
  const TSetupMode mode = TSetup::Instance().Mode();
  if (mode == TSetupMode::Install) {
    add(kSetupPageWelcome);
    add(kSetupPageLicense);
    add(kSetupPageSetup);
    if (AddonsAvailable()) add(kSetupPageAddons);
    add(kSetupPageIntegration);
    add(kSetupPageReadyToInstall);
  } else if (mode == TSetupMode::Uninstall) {
    add(kSetupPageUninstallParams);
  }
}

}  // namespace setup
