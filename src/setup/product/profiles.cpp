// The users' profile folders of the player and the small file helpers that
// the prepare, update and uninstall steps share.
#include <memory>

#include "kel/base/file_system.h"
#include "kel/base/format.h"
#include "kel/base/text.h"
#include "setup/core/errors.h"
#include "setup/core/product_info.h"
#include "setup/core/session.h"
#include "setup/core/users.h"
#include "setup/product/actions.h"

namespace setup {

// --- TSetupProfileHelper ------------------------------------------------------------

std::string TSetupProfileHelper::GetProfilePath(const std::string& appData, int version) {
  TSetup& session = TSetup::Instance();
  if (appData.empty()) return session.DestPath() + "Profile/";
  const std::string folder = kel::kelIncludeTrailingPathDelimiter(appData);
  if (version >= 4000) return folder + session.Product().GetName() + "/";
  return folder + "ORVI3/";
}

// --- TSetupProfileInfoList -----------------------------------------------------------

void TSetupProfileInfoList::Populate(const TSetupUserFiles& userFiles) {
  TSetup& session = TSetup::Instance();
  TSetupProductInfo& product = session.Product();
  const int newVersion = product.GetVersionId();
  const int oldVersion = product.GetInstalledVersion();
  const auto consider = [&](const std::string& name, const std::string& appData) {
    auto info = std::make_unique<TSetupProfileInfo>();
    info->Name = name;
    info->NewPath = TSetupProfileHelper::GetProfilePath(appData, newVersion);
    info->OldPath = TSetupProfileHelper::GetProfilePath(appData, oldVersion);
    if (!userFiles.IsFolder(info->OldPath)) return;
    // The user list names the current user twice (first, and again in the
    // machine's list): one record per profile folder.
    for (const auto& existing : items_)
      if (kel::kelSameText(existing->OldPath, info->OldPath)) return;
    items_.push_back(std::move(info));
  };
  if (session.HasFlag(sfPORTABLE))
    consider("SingleUser", "");
  else
    TSetupUsers::Populate(consider);
}

// --- TSetupHelper --------------------------------------------------------------------

void TSetupHelper::ExcludeFromList(kel::TKELStringList& list, const std::string& prefix) {
  list.BeginUpdate();
  for (int i = list.Count() - 1; i >= 0; --i)
    if (kel::kelStartsText(prefix, list[i])) list.Delete(i);
  list.EndUpdate();
}

void TSetupHelper::CopyFolder(const TSetupUserFiles& userFiles, const std::string& source, const std::string& target,
                              bool move) {
  if (kel::kelSameText(source, target)) return;
  if (!userFiles.CopyFolder(source, target))
    throw EInstallerInstallError(kel::kelFormat("Cannot copy \"%s\" to \"%s\"", {source, target}));
  if (move) userFiles.DeleteTree(source);
}

void TSetupHelper::RemoveFolder(const TSetupUserFiles& userFiles, const std::string& folder, bool onlyIfEmpty) {
  if (onlyIfEmpty)
    userFiles.RemoveFolder(folder);
  else
    userFiles.DeleteTree(folder);
}

}  // namespace setup
