// Preparing the destination for the new version: find the users' profiles,
// back up the earlier installation and the profiles into a ZIP archive,
// collect what to delete (everything backed up except what an update keeps,
// old backups, obsolete files, the files about to be installed), run the
// update tasks, delete, and remove the folders left empty.
#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kel/base/file_system.h"
#include "kel/base/format.h"
#include "kel/base/shell.h"
#include "kel/base/text.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/locale.h"
#include "setup/core/errors.h"
#include "setup/core/extract.h"
#include "setup/core/file_search_helper.h"
#include "setup/core/product_info.h"
#include "setup/core/resources.h"
#include "setup/core/script.h"
#include "setup/core/session.h"
#include "setup/core/summary.h"
#include "setup/product/actions.h"
#include "setup/product/backup_archive.h"
#include "setup/product/product_info_orvi.h"

namespace setup {

namespace {

// A backup may hold up to 2 GiB of files.
constexpr int64_t kBackupLimit = int64_t{1} << 31;

// Caches, and the updater that every version brings along: deleted, never
// backed up.
constexpr const char* kNotBackedUp[] = {"AlbumArts.cache", "AlbumArts.db", "AlbumArtsCache.db", "AlbumArtCache.db",
                                        "UpdateInstaller"};

// The codec library that 3.x versions put into the system's folder.
constexpr const char* kObsoleteSystemLibrary = "orvi3_codec.so";

// Plug-ins that older versions installed and the current one replaced or
// dropped, by the version that retired them.
struct TLegacyPlugins {
  int below;  // installed versions below this number have them; 0: every version
  std::vector<const char*> names;
};
const TLegacyPlugins kLegacyPlugins[] = {
    {4002, {"Scope", "LyricsPane", "TagFixer", "CDRipper", "MiniLibrary"}},
    {4699, {"NetRadio"}},
    {5030, {"Visualizer3D"}},
    {0, {"UpdateCheck", "Feedback"}},
};

// What an update keeps of the installation: the user's plug-ins (from 3.60
// on), icons, data, encoders and skins, and the image library that users
// replace themselves.
std::vector<std::string> KeptOnUpdate(const std::string& destination, int installedVersion) {
  std::vector<std::string> prefixes;
  if (installedVersion > 3599) prefixes.push_back(destination + "Plugins/");
  for (const char* path : {"Icons/", "System/Data/", "System/Encoders/", "Skins/", "libwebp.so"})
    prefixes.push_back(destination + path);
  return prefixes;
}

// Whether a path found below `root` lies behind a symbolic link to a folder
// (a folder of the tree that is a link to somewhere else): such files belong
// to another tree and are neither backed up nor deleted.
class TLinkFilter {
 public:
  bool Behind(const std::string& root, const std::string& path) {
    if (path.size() <= root.size()) return false;
    for (size_t pos = path.find('/', root.size()); pos != std::string::npos; pos = path.find('/', pos + 1)) {
      const std::string folder = path.substr(0, pos);
      auto [it, added] = links_.try_emplace(folder, false);
      if (added) {
        kel::platform::FileStatus status;
        it->second = kel::platform::GetFileStatus(folder, status) && status.isLink;
      }
      if (it->second) return true;
    }
    return false;
  }

 private:
  std::unordered_map<std::string, bool> links_;
};

std::string TwoDigits(int value) {
  std::string text = std::to_string(value);
  if (text.size() < 2) text.insert(text.begin(), '0');
  return text;
}

// "yyyy.MM.dd hh-mm-ss" of the local time.
std::string BackupTimestamp() {
  const kel::platform::LocalDateTime now = kel::platform::LocalNow();
  return std::to_string(now.date.year) + "." + TwoDigits(now.date.month) + "." + TwoDigits(now.date.day) + " " +
         TwoDigits(now.hour) + "-" + TwoDigits(now.minute) + "-" + TwoDigits(now.second);
}

// Removes repeated entries; the first one stays. Paths are compared as the
// file system does, byte for byte.
void RemoveDuplicates(kel::TKELStringList& list) {
  std::unordered_set<std::string> seen;
  kel::TKELStringList unique;
  for (const auto& item : list.Items())
    if (seen.insert(item.text).second) unique.Add(item.text, item.tag);
  list = unique;
}

}  // namespace

void TSetupActionPrepare::Execute() {
  TSetup& session = Session();
  TSetupProductInfo& product = Product();
  const std::string destination = session.DestPath();
  const std::string backupFolder = destination + "!Backup/";
  const int installed = product.GetInstalledVersion();
  TLinkFilter links;

  Done = 0;
  Total = 0;
  kel::TKELStringList filesToDelete;

  Profiles.Populate();

  // The update tasks of this run.
  UpdateTasks.clear();
  if (!session.HasFlag(sfPORTABLE) && (!session.HasFlag(sfUPDATE) || installed < 4000)) {
    UpdateTasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShellMenu>());
    UpdateTasks.push_back(std::make_unique<TSetupUpdateTaskRemoveUninstallInfo>());
    UpdateTasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShortcuts>());
  }
  if (session.HasFlag(sfUPDATE))
    for (const auto& profile : Profiles) UpdateTasks.push_back(std::make_unique<TSetupUpdateTaskUpdateConfigs>(*profile));

  // Packs the files into a new archive in the backup folder.
  const auto backUp = [&](const TSetupFileList& files) {
    std::vector<int64_t> sizes;
    sizes.reserve(files.Count());
    int64_t sum = 0;
    for (const TSetupFileListItem& item : files) {
      sizes.push_back(kel::kelFileGetSize(item.Source));
      sum += sizes.back();
    }
    if (sum >= kBackupLimit) throw EInstallerBackupError("Too many files for backup");

    ForceFolder(backupFolder);
    const std::string archiveName =
        backupFolder + "z Before install " + Product().GetVersion() + " [" + BackupTimestamp() + "].zip";
    const auto fileError = [&](const EBackupArchiveError& e) {
      if (e.FileIndex() < 0) return EInstallerBackupError(e.Message() + "\r\n" + e.SystemText());
      const size_t index = static_cast<size_t>(e.FileIndex());
      return EInstallerBackupError(kel::kelFormat("An error occurs while backuping the \"%s\" file (%d)\r\n%s\r\n%s",
                                                  {files[index].Source, sizes[index], e.Message(), e.SystemText()}));
    };
    try {
      TSetupBackupArchive archive(archiveName);
      for (const TSetupFileListItem& item : files) archive.Add(item.Source, item.Target);
      archive.Commit([&](size_t) { ++Done; }, [&](size_t) { SetProgress(Done * 100 / Total); });
    } catch (const EBackupArchiveError& e) {
      throw fileError(e);
    }
    session.Log().Write("Backup: " + archiveName + " (" + std::to_string(kel::kelFileGetSize(archiveName)) +
                        " bytes, " + std::to_string(files.Count()) + " files of " + std::to_string(sum) +
                        " bytes)");
  };

  if (!session.HasFlag(sfNOBACKUP)) {
    // Everything of the installation and of the profiles, each file under
    // its entry name; files behind links to other folders are left alone.
    TSetupFileList files;
    const auto addTree = [&](const std::string& root, const std::string& excluded, const std::string& targetRoot) {
      TSetupFileList found;
      found.AddFolder(kel::kelExcludeTrailingPathDelimiter(root), excluded, targetRoot);
      for (const TSetupFileListItem& item : found)
        if (!links.Behind(root, item.Source)) files.Add(item.Source, item.Target);
    };
    if (session.HasFlag(sfPORTABLE)) {
      addTree(destination, backupFolder, "");
    } else {
      std::unordered_set<std::string> entryFolders;
      for (const auto& profile : Profiles) {
        // Two users may share a folder name (homes in different places):
        // their profiles must not meet in one entry folder.
        std::string folder = "Profiles/" + profile->Name + "/";
        for (int n = 2; !entryFolders.insert(folder).second; ++n)
          folder = "Profiles/" + profile->Name + " (" + std::to_string(n) + ")/";
        addTree(profile->OldPath, "", folder);
      }
      addTree(destination, backupFolder, "Program/");
    }

    Total = static_cast<int>(UpdateTasks.size() + files.Count());
    filesToDelete.BeginUpdate();
    for (const TSetupFileListItem& item : files) filesToDelete.Add(item.Source);
    filesToDelete.EndUpdate();
    for (const char* name : kNotBackedUp) files.RemoveByName(name);

    ReportStatus(GetCommonText("A1"));
    if (files.Count() > 0) backUp(files);
  }

  if (session.HasFlag(sfUPDATE))
    for (const std::string& prefix : KeptOnUpdate(destination, installed))
      TSetupHelper::ExcludeFromList(filesToDelete, prefix);

  // Old backups: the last three by name stay, the new one among them.
  // Names are compared byte for byte (code point order), so that which
  // archives go never depends on the user's locale.
  std::vector<std::string> archives;
  for (auto info = kel::kelFindFirst(backupFolder, "", "*.zip", kel::fkFiles); info; kel::kelFindNext(info))
    archives.push_back(info->FullName());
  std::sort(archives.begin(), archives.end());
  if (archives.size() >= 4)
    for (size_t i = 0; i + 3 < archives.size(); ++i) filesToDelete.Add(archives[i]);

  // Obsolete files.
  const std::string systemLibrary = kel::kelShellGetSystemDir() + kObsoleteSystemLibrary;
  if (kel::kelFileExists(systemLibrary)) filesToDelete.Add(systemLibrary);
  for (const TLegacyPlugins& group : kLegacyPlugins) {
    if (group.below != 0 && installed >= group.below) continue;
    for (const char* name : group.names) {
      kel::TKELStringList plugin;
      TFileSearchHelper::Search(destination + "Plugins/" + name + "/", "", plugin);
      for (const auto& file : plugin.Items())
        if (!links.Behind(destination, file.text)) filesToDelete.Add(file.text);
    }
  }

  // The files about to be installed: whatever holds their names now goes,
  // so that extraction never meets a file in use.
  for (const TSetupScriptFile& item : Script().Components) filesToDelete.Add(Resources().ExpandPath(item.Name));

  RemoveDuplicates(filesToDelete);

  ReportStatus(GetCommonText("A5"));
  for (const auto& task : UpdateTasks) {
    ++Done;
    task->Execute(&filesToDelete);
    // Without a backup only the tasks count.
    const int steps = Total > 0 ? Total : static_cast<int>(UpdateTasks.size());
    SetProgress(Done * 100 / steps);
  }

  ReportStatus(GetCommonText("A3"));
  std::vector<std::string> folders;
  for (const auto& item : filesToDelete.Items()) {
    DeleteFileOrSchedule(item.text);
    folders.push_back(kel::kelExtractFileDir(item.text));
  }
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) kel::kelRemoveDirectory(*it);
}

void TSetupActionPrepare::Summarize(TSetupSummaryBuilder& builder) {
  TSetup& session = Session();
  builder.SetHeading("PageSetup", "LB1");
  builder.AddItem(session.DestPath());
  builder.SetHeading("PageSetup", "Title");
  builder.AddItem("PageSetup", session.HasFlag(sfUPDATE)     ? "CB1"
                               : session.HasFlag(sfPORTABLE) ? "CB3"
                                                             : "CB2");
  if (!session.HasFlag(sfNOBACKUP)) builder.AddItem("PageSetup", "CB4");
  if (NeedsReplaceWarning()) {
    builder.SetHeading("PageSetup", "Title");
    builder.AddItem("PageSetup", "W3");
  }
}

bool NeedsReplaceWarning() {
  TSetup& session = TSetup::Instance();
  if (session.HasFlag(sfUPDATE)) return false;
  if (session.Product().GetInstalledVersion() >= 1) return true;
  if (session.HasFlag(sfPORTABLE)) return false;
  return !TProductInfoORVI::FindExistingInstallation().empty();
}

}  // namespace setup
