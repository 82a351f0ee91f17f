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
  for (kel::platform::WindowId window : kel::platform::FindTopLevelWindows("TORVIMainForm")) {
    const std::string program = kel::platform::WindowProcessExecutable(window);
    if (!program.empty()) return kel::kelExtractFilePath(program);
    break;  // only the first window found counts
  }
  return {};
}

bool TProductInfoORVI::AddonsAvailable() {
  TSetup& session = TSetup::Instance();
  return !session.HasFlag(sfAUTO) && !session.HasFlag(sfSILENT) &&
         kel::kelSameText(session.Resources().LanguageName(), "Russian");
}

}  // namespace setup
