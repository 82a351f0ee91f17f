#include "setup/core/users.h"

#include <optional>

#include "kel/base/file_system.h"
#include "kel/base/shell.h"
#include "kel/platform/confined_folder.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/shell.h"
#include "kel/platform/users.h"
#include "kel/platform/well_known_folders.h"
#include "setup/core/extract.h"

namespace setup {

namespace {

namespace platform = kel::platform;

bool IsBelow(const std::string& path, const std::string& folder) {
  return path.starts_with(folder) || path + "/" == folder;
}

}  // namespace

void TSetupUsers::Populate(const TCallback& callback) {
  if (!callback) return;
  const platform::UserAccount current = platform::InvokingUser();
  callback(kel::kelExtractLastPathParts(current.home, 1), kel::kelShellGetAppData());
  for (const platform::UserAccount& account : platform::LoginAccounts()) {
    const std::string appData = kel::kelIncludeTrailingPathDelimiter(account.home) + ".config/";
    callback(kel::kelExtractLastPathParts(account.home, 1), appData);
  }
}

// --- TSetupUserFiles -------------------------------------------------------------

TSetupUserFiles::TSetupUserFiles() {
  const platform::UserAccount invoking = platform::InvokingUser();
  std::vector<platform::UserAccount> accounts = platform::LoginAccounts();
  accounts.insert(accounts.begin(), invoking);
  for (const platform::UserAccount& account : accounts) {
    if (account.home.empty()) continue;
    const std::string path = kel::kelIncludeTrailingPathDelimiter(account.home);
    bool known = false;
    for (const THome& home : homes_) known = known || home.Path == path;
    if (known) continue;
    homes_.push_back({path, account.uid, account.gid, {}});
  }
  // The user's desktop may be set to lie anywhere; only a desktop inside
  // their own home is theirs to have written to.
  const std::string desktop = platform::GetSpecialFolder(platform::SpecialFolder::Desktop);
  if (!desktop.empty() && !IsBelow(desktop, kel::kelIncludeTrailingPathDelimiter(invoking.home)))
    ownFolders_.push_back(desktop);
}

TSetupUserFiles::~TSetupUserFiles() = default;

TSetupUserFiles::TPlace TSetupUserFiles::Locate(const std::string& path) const {
  TPlace place;
  for (const std::string& folder : ownFolders_) {
    if (IsBelow(path, folder)) {
      place.Refused = true;
      return place;
    }
  }
  const THome* found = nullptr;
  for (const THome& home : homes_)
    if (IsBelow(path, home.Path) && (!found || home.Path.size() > found->Path.size())) found = &home;
  if (!found) return place;
  place.Home = found->Folder.lock();
  if (!place.Home) {
    place.Home = platform::ConfinedFolder::Open(found->Path, platform::FileOwner{found->Uid, found->Gid});
    found->Folder = place.Home;
  }
  recent_ = place.Home;
  place.Refused = !place.Home;
  if (place.Home) place.Relative = path.size() > found->Path.size() ? path.substr(found->Path.size()) : "";
  return place;
}

std::shared_ptr<const platform::ConfinedFolder> TSetupUserFiles::OpenTree(const std::string& path,
                                                                          std::string& relative) const {
  const TPlace place = Locate(path);
  relative = place.Relative;
  if (place.Home) return IsFolder(path) ? place.Home : nullptr;
  if (place.Refused) return nullptr;
  return platform::ConfinedFolder::Open(path, std::nullopt);
}

bool TSetupUserFiles::IsFolder(const std::string& path) const {
  const TPlace place = Locate(path);
  platform::ConfinedEntry entry;
  if (place.Home) return place.Home->Examine(place.Relative, entry) && entry.kind == platform::EntryKind::Directory;
  return !place.Refused && kel::kelDirectoryExists(path);
}

bool TSetupUserFiles::Exists(const std::string& path) const {
  const TPlace place = Locate(path);
  platform::ConfinedEntry entry;
  if (place.Home) return place.Home->Examine(place.Relative, entry) && entry.kind != platform::EntryKind::Directory;
  return !place.Refused && kel::kelFileExists(path);
}

void TSetupUserFiles::DeleteFile(const std::string& path) const {
  const TPlace place = Locate(path);
  platform::FileStatus status;
  if (place.Home)
    place.Home->DeleteFile(place.Relative);
  else if (place.Refused)
    return;
  else if (platform::GetFileStatus(path, status) && status.isLink)
    platform::DeleteFile(path);  // the link itself, whatever it leads to
  else
    DeleteFileOrSchedule(path);
}

bool TSetupUserFiles::RemoveFolder(const std::string& path) const {
  const TPlace place = Locate(path);
  if (place.Home) return place.Home->RemoveDirectory(place.Relative);
  return !place.Refused && kel::kelRemoveDirectory(path);
}

bool TSetupUserFiles::DeleteTree(const std::string& path) const {
  const TPlace place = Locate(path);
  if (place.Home) return place.Home->DeleteTree(place.Relative);
  return !place.Refused && kel::kelDeleteDirectory(path, true);
}

bool TSetupUserFiles::ForceFolders(const std::string& path) const {
  const TPlace place = Locate(path);
  if (place.Home) return place.Home->CreateDirectories(place.Relative);
  return !place.Refused && kel::kelForceDirectories(path);
}

bool TSetupUserFiles::CopyFolder(const std::string& source, const std::string& target) const {
  const TPlace from = Locate(source);
  const TPlace to = Locate(target);
  if (from.Refused || to.Refused || from.Home != to.Home) return false;
  if (from.Home) return from.Home->CopyTree(from.Relative, to.Relative);
  return kel::kelCopyDirectory(source, target, "", true);
}

bool TSetupUserFiles::MoveFile(const std::string& source, const std::string& target, std::string* error) const {
  const TPlace from = Locate(source);
  const TPlace to = Locate(target);
  if (from.Refused || to.Refused || from.Home != to.Home) {
    if (error) *error = "The files do not both belong to one user.";
    return false;
  }
  if (from.Home) return from.Home->MoveFile(from.Relative, to.Relative, error);
  return platform::MoveFile(source, target, error);
}

bool TSetupUserFiles::WriteShortcut(const std::string& linkFile, const std::string& target) const {
  const TPlace place = Locate(linkFile);
  if (place.Home) return kel::kelFileExists(target) && platform::WriteShortcut(*place.Home, place.Relative, target);
  return !place.Refused && kel::kelShellCreateLink(linkFile, target);
}

std::string TSetupUserFiles::ReadShortcutTarget(const std::string& linkFile) const {
  const TPlace place = Locate(linkFile);
  if (place.Home) return platform::ReadShortcutTarget(*place.Home, place.Relative);
  return place.Refused ? std::string() : kel::kelShellGetLinkTarget(linkFile);
}

}  // namespace setup
