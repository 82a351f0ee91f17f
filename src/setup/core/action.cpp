#include "setup/core/action.h"

#include "kel/base/file_system.h"
#include "setup/core/errors.h"
#include "setup/core/extract.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"

namespace setup {

TSetup& TSetupPersistent::Session() { return TSetup::Instance(); }
TSetupProductInfo& TSetupPersistent::Product() { return TSetup::Instance().Product(); }
TSetupResources& TSetupPersistent::Resources() { return TSetup::Instance().Resources(); }
kel::TKELIniFile& TSetupPersistent::Settings() { return TSetup::Instance().Settings(); }
TSetupScript& TSetupPersistent::Script() { return TSetup::Instance().Resources().Script(); }

void TSetupAction::Summarize(TSetupSummaryBuilder&) {}

void TSetupAction::Run() {
  Execute();
  SetProgress(100);
}

void TSetupAction::SetProgress(int percent) {
  if (percent == progress_) return;
  progress_ = percent;
  if (OnProgress) OnProgress(*this);
}

void TSetupAction::ReportStatus(const std::string& text) { Session().SendStatus(text); }

std::string TSetupAction::GetText(std::string_view section, std::string_view key) {
  return Resources().GetText(section, key);
}

std::string TSetupAction::GetCommonText(std::string_view key) { return GetText("Common", key); }

void TSetupAction::ExtractFile(const TSetupScriptFile& item) { Session().Extractor().ExtractFile(item); }

void TSetupAction::ForceFolder(const std::string& path) {
  if (!kel::kelForceDirectories(path))
    throw EInstallerInstallError(Resources().FormatCommonText("E3", {path}));
}

int TSetupActionList::Progress() const {
  if (actions_.empty()) return 0;
  int sum = 0;
  for (const auto& action : actions_) sum += action->Progress();
  return sum / static_cast<int>(actions_.size());
}

}  // namespace setup
