// Uninstalling: undo the integration, then delete the files of the
// uninstall log, the folders left empty and, when asked, the backups and
// the player's data.
//
// The log comes from a file in the installation folder, and the uninstaller
// runs with administrator rights: its entries are outside data. An entry is
// deleted only when it names a file inside the destination (no ".." parts,
// no symbolic link to another folder on the way), or, for an absolute entry
// (a file the installation wrote outside the destination), only when the log
// cannot have been written by anyone but the administrator. In the sandbox
// an absolute entry is a path of the sandboxed machine, like every other
// system path.
//
// A destination that is a system folder or a user's home (an installation
// made there before such destinations were refused) loses only what the
// installation put there: the logged files, the folders they leave empty,
// the backups and the portable profile, never the folder itself nor
// anything else in it.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "kel/base/file_system.h"
#include "kel/base/ini_file.h"
#include "kel/base/stream.h"
#include "kel/base/text.h"
#include "kel/platform/file_details.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/sandbox.h"
#include "kel/platform/well_known_folders.h"
#include "setup/core/extract.h"
#include "setup/core/product_info.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/core/users.h"
#include "setup/product/actions.h"

namespace setup {

namespace {

// Whether a path has a ".." part (either delimiter counts: the log may come
// from another system).
bool ClimbsUp(std::string_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

// Whether a folder between `root` and the file `path` (which begins with
// it) is a symbolic link.
bool PassesThroughLink(const std::string& root, const std::string& path) {
  for (size_t pos = path.find('/', root.size()); pos != std::string::npos; pos = path.find('/', pos + 1)) {
    kel::platform::FileStatus status;
    if (kel::platform::GetFileStatus(path.substr(0, pos), status) && status.isLink) return true;
  }
  return false;
}

// Whether only the administrator can have written the log: the package it
// was read from (for a relocated uninstaller, the copy beside it) and the
// installation's Uninstall.dat, whose bytes that copy must have, can be
// changed by nobody else, nor can a folder above them.
bool LogWrittenByAdministrator(const std::string& readFrom, const std::string& destination) {
  const std::string installed = destination + "Uninstall.dat";
  if (readFrom.empty() || !kel::platform::OnlyAdministratorMayChange(readFrom)) return false;
  return readFrom == installed || (kel::platform::OnlyAdministratorMayChange(installed) &&
                                   kel::platform::SameFileContent(readFrom, installed));
}

// Files are deleted (or moved aside) one by one; folders are removed when
// empty or with everything in them.
enum : uint32_t { kRemoveIfEmpty = 0, kRemoveTree = 1 };

// The folders below `folder`, children before their parent; symbolic links
// are not followed.
void AddFoldersBelow(const std::string& folder, kel::TKELStringList& list) {
  for (auto info = kel::kelFindFirst(folder, "", "*", kel::fkFolders); info; kel::kelFindNext(info)) {
    if (info->Attributes & kel::faSymLink) continue;
    const std::string child = folder + info->Name + "/";
    AddFoldersBelow(child, list);
    list.Add(child, kRemoveIfEmpty);
  }
}

// The folders between `destination` and each of the files inside it,
// children before their parent.
void AddFoldersOfFiles(const std::string& destination, const kel::TKELStringList& files, kel::TKELStringList& list) {
  std::vector<std::string> folders;
  for (const auto& file : files.Items()) {
    if (!file.text.starts_with(destination)) continue;
    for (size_t slash = file.text.find('/', destination.size()); slash != std::string::npos;
         slash = file.text.find('/', slash + 1))
      folders.push_back(file.text.substr(0, slash + 1));
  }
  const auto depth = [](const std::string& path) { return std::count(path.begin(), path.end(), '/'); };
  std::sort(folders.begin(), folders.end(), [&](const std::string& a, const std::string& b) {
    return depth(a) != depth(b) ? depth(a) > depth(b) : a < b;
  });
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (const std::string& folder : folders) list.Add(folder, kRemoveIfEmpty);
}

}  // namespace

// --- TSetupActionUninstallIntegration -------------------------------------------------

TSetupActionUninstallIntegration::TSetupActionUninstallIntegration() {
  Tasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShellMenu>());
  Tasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShortcuts>());
  Tasks.push_back(std::make_unique<TSetupUpdateTaskRemoveFromRegistry>());
}

void TSetupActionUninstallIntegration::Execute() {
  ReportStatus(GetCommonText("A9"));
  const int count = static_cast<int>(Tasks.size());
  for (int i = 1; i <= count; ++i) {
    Tasks[static_cast<size_t>(i - 1)]->Execute(nullptr);
    SetProgress(100 * i / count);
  }
}

// --- TSetupActionUninstallFiles -------------------------------------------------------

kel::TKELStringList TSetupActionUninstallFiles::CreateFileList() {
  const std::string destination = Session().DestPath();
  kel::TKELIniFile log;
  {
    std::unique_ptr<kel::TKELStream> stream = Resources().GetFile("Uninstall.ini");
    log.LoadFromStream(*stream);
  }
  // Count is outside data too: never more entries than the section has
  // lines.
  const kel::TKELIniFileSection* section = log.FindSection("Uninstall");
  const int lines = section ? section->Count() : 0;
  const int count = std::min(log.ReadInteger("Uninstall", "Count", 0), lines);
  const bool trusted = LogWrittenByAdministrator(Resources().ProductPackageFile, destination);
  const std::string sandbox = kel::platform::SandboxRoot();

  kel::TKELStringList files;
  std::unordered_set<std::string> seen;
  for (int i = 0; i < count; ++i) {
    const std::string entry = log.ReadString("Uninstall", std::to_string(i), "");
    if (entry.empty() || ClimbsUp(entry)) continue;
    std::string path;
    if (entry.front() == '/') {
      if (!trusted) continue;
      path = kel::platform::MachinePath(entry);
      if (!sandbox.empty() && PassesThroughLink(sandbox + "/", path)) continue;
    } else {
      path = destination + entry;
      if (PassesThroughLink(destination, path)) continue;
    }
    if (seen.insert(path).second) files.Add(path);
  }
  return files;
}

kel::TKELStringList TSetupActionUninstallFiles::CreateDirsList() {
  TSetup& session = Session();
  const std::string destination = session.DestPath();
  kel::TKELIniFile& settings = Settings();
  const bool removeBackups = settings.ReadBool("Common", "RemoveBackups", session.HasFlag(sfAUTO));
  const bool removeContent = settings.ReadBool("Common", "RemoveContent", false);

  const bool ownFolder = !kel::platform::IsSystemFolder(destination);
  kel::TKELStringList folders;
  if (ownFolder)
    AddFoldersBelow(destination, folders);
  else
    AddFoldersOfFiles(destination, CreateFileList(), folders);
  if (removeBackups) folders.Add(destination + "!Backup/", kRemoveTree);
  if (removeContent) {
    folders.Add(removeBackups && ownFolder ? destination : destination + "Profile/", kRemoveTree);
    const kel::TKELIniFile config(destination + "ORVI.ini");
    if (config.ReadBool("System", "UserMode", false)) {
      const int version = Product().GetVersionId();
      TSetupUsers::Populate([&](const std::string&, const std::string& appData) {
        folders.Add(TSetupProfileHelper::GetProfilePath(appData, version), kRemoveTree);
      });
    }
  }
  return folders;
}

void TSetupActionUninstallFiles::Execute() {
  const kel::TKELStringList folders = CreateDirsList();
  const kel::TKELStringList files = CreateFileList();
  ReportStatus(GetCommonText("A9"));
  // The users' profile folders are deleted through their homes.
  const TSetupUserFiles userFiles;
  const int total = files.Count() + folders.Count();
  int done = 0;
  for (const auto& file : files.Items()) {
    ++done;
    userFiles.DeleteFile(file.text);
    SetProgress(100 * done / total);
  }
  for (const auto& folder : folders.Items()) {
    ++done;
    TSetupHelper::RemoveFolder(userFiles, folder.text, folder.tag == kRemoveIfEmpty);
    SetProgress(100 * done / total);
  }
}

}  // namespace setup
