// The product's questions that actions and pages ask without needing the
// product description's action list (kept apart so that the actions can be
// built and tested on their own).
#include "kel/base/file_system.h"
#include "kel/base/text.h"
#include "kel/platform/windows.h"
#include "setup/core/app_repo.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/product/product_info_orvi.h"

namespace setup {

std::string TProductInfoORVI::FindExistingInstallation() {
  std::string folder;
  if (TSetupAppRepo::FindInstallPath("ORVI", folder) || TSetupAppRepo::FindInstallPath("ORVI3", folder)) return folder;
  // Any program may open a window of the player's class and name itself its
  // owner; only a window whose program is the player's file tells where the
  // player is installed.
  for (kel::platform::WindowId window : kel::platform::FindTopLevelWindows("TORVIMainForm")) {
    const std::string program = kel::platform::WindowProcessExecutable(window);
    if (kel::kelExtractFileName(program) == kPlayerProgram) return kel::kelExtractFilePath(program);
  }
  return {};
}

bool TProductInfoORVI::AddonsAvailable() {
  TSetup& session = TSetup::Instance();
  return !session.HasFlag(sfAUTO) && !session.HasFlag(sfSILENT) &&
         kel::kelSameText(session.Resources().LanguageName(), "Russian");
}

}  // namespace setup
