// Preparing the destination for the new version: find the users' profiles,
// back up the earlier installation and the profiles into a ZIP archive,
// collect what to delete (everything backed up except what an update keeps,
// old backups, obsolete files, the files about to be installed), run the
// update tasks, delete, and remove the folders left empty.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <unordered_set>
#include <vector>

#include "kel/base/file_system.h"
#include "kel/base/format.h"
#include "kel/base/shell.h"
#include "kel/base/text.h"
#include "kel/platform/file_details.h"
#include "kel/platform/locale.h"
#include "kel/platform/test_pause.h"
#include "setup/core/errors.h"
#include "setup/core/product_info.h"
#include "setup/core/resources.h"
#include "setup/core/script.h"
#include "setup/core/session.h"
#include "setup/core/summary.h"
#include "setup/core/users.h"
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

// Every file and link below root + subfolder, never through a link.
std::vector<TSetupBackupSource> ListFiles(const TSetupUserFiles& userFiles, const std::string& root,
                                          const std::string& subfolder, const std::string& excluded,
                                          const std::string& entryRoot) {
  std::string relative;
  const auto folder = userFiles.OpenTree(root, relative);
  std::vector<TSetupBackupSource> found;
  if (folder) ListBackupSources(folder, relative + subfolder, root + subfolder, excluded, entryRoot, found);
  return found;
}

// Moves the files that a backup never takes from `files` to `unsaved`; the
// size of the rest.
int64_t SetAsideUnsaved(std::vector<TSetupBackupSource>& files, std::vector<TSetupBackupSource>& unsaved) {
  int64_t size = 0;
  std::vector<TSetupBackupSource> saved;
  for (TSetupBackupSource& file : files) {
    const std::string name = kel::kelExtractFileName(file.Path);
    if (std::any_of(std::begin(kNotBackedUp), std::end(kNotBackedUp),
                    [&](const char* cache) { return kel::kelSameText(name, cache); })) {
      unsaved.push_back(std::move(file));
    } else {
      size += static_cast<int64_t>(file.Size);
      saved.push_back(std::move(file));
    }
  }
  files = std::move(saved);
  return size;
}

// The files to back up in the archive's order: the profiles' (each under
// its own entry folder), then the installation's; those that a backup never
// takes go to `unsaved`. The installation alone may not reach the limit; a
// profile that would bring the backup to it is left out whole, with a
// notice, and stays where it is: one user's settings never stop the others'
// backup.
std::vector<TSetupBackupSource> PlanBackup(const TSetupUserFiles& userFiles, const TSetupProfileInfoList& profiles,
                                           std::vector<TSetupBackupSource>& unsaved) {
  TSetup& session = TSetup::Instance();
  const std::string destination = session.DestPath();
  const bool portable = session.HasFlag(sfPORTABLE);
  std::vector<TSetupBackupSource> program =
      ListFiles(userFiles, destination, "", destination + "!Backup/", portable ? "" : "Program/");
  int64_t size = SetAsideUnsaved(program, unsaved);
  if (size >= kBackupLimit) throw EInstallerBackupError("Too many files for backup");

  std::vector<TSetupBackupSource> files;
  std::unordered_set<std::string> entryFolders;
  for (const auto& profile : profiles) {
    if (portable) break;  // the profile lies in the installation
    // Two users may share a folder name (homes in different places): their
    // profiles must not meet in one entry folder.
    std::string folder = "Profiles/" + profile->Name + "/";
    for (int n = 2; !entryFolders.insert(folder).second; ++n)
      folder = "Profiles/" + profile->Name + " (" + std::to_string(n) + ")/";
    std::vector<TSetupBackupSource> saved = ListFiles(userFiles, profile->OldPath, "", "", folder), cached;
    const int64_t profileSize = SetAsideUnsaved(saved, cached);
    if (size + profileSize >= kBackupLimit) {
      session.AddNotice(session.Resources().FormatCommonText("W2", {profile->Name}));
      continue;
    }
    size += profileSize;
    std::move(saved.begin(), saved.end(), std::back_inserter(files));
    std::move(cached.begin(), cached.end(), std::back_inserter(unsaved));
  }
  std::move(program.begin(), program.end(), std::back_inserter(files));
  return files;
}

}  // namespace

void TSetupActionPrepare::Execute() {
  TSetup& session = Session();
  TSetupProductInfo& product = Product();
  const std::string destination = session.DestPath();
  const std::string backupFolder = destination + "!Backup/";
  const int installed = product.GetInstalledVersion();
  const TSetupUserFiles userFiles;

  Done = 0;
  Total = 0;
  kel::TKELStringList filesToDelete;

  Profiles.Populate(userFiles);

  // The update tasks of this run.
  UpdateTasks.clear();
  if (!session.HasFlag(sfPORTABLE) && (!session.HasFlag(sfUPDATE) || installed < 4000)) {
    UpdateTasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShellMenu>());
    UpdateTasks.push_back(std::make_unique<TSetupUpdateTaskRemoveUninstallInfo>());
    UpdateTasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShortcuts>());
  }
  if (session.HasFlag(sfUPDATE))
    for (const auto& profile : Profiles) UpdateTasks.push_back(std::make_unique<TSetupUpdateTaskUpdateConfigs>(*profile));

  // Packs the files into a new archive in the backup folder; the paths of
  // those it had to leave out.
  const auto backUp = [&](const std::vector<TSetupBackupSource>& files) {
    ForceFolder(backupFolder);
    if (!kel::platform::MakePrivate(backupFolder))
      throw EInstallerInstallError(Resources().FormatCommonText("E3", {backupFolder}));
    const std::string archiveName =
        backupFolder + "z Before install " + Product().GetVersion() + " [" + BackupTimestamp() + "].zip";
    std::unordered_set<std::string> skipped;
    try {
      TSetupBackupArchive archive(archiveName);
      for (const TSetupBackupSource& file : files) archive.Add(file);
      kel::platform::PauseForTest("backup");
      archive.Commit([&](size_t) { ++Done; }, [&](size_t) { SetProgress(Done * 100 / Total); });
      for (const TSetupBackupArchive::TSkipped& file : archive.Skipped()) skipped.insert(files[file.Index].Path);
    } catch (const EBackupArchiveError& e) {
      if (e.FileIndex() < 0) throw EInstallerBackupError(e.Message() + "\r\n" + e.SystemText());
      const TSetupBackupSource& file = files[static_cast<size_t>(e.FileIndex())];
      throw EInstallerBackupError(kel::kelFormat("An error occurs while backuping the \"%s\" file (%d)\r\n%s\r\n%s",
                                                 {file.Path, file.Size, e.Message(), e.SystemText()}));
    }
    if (!skipped.empty()) {
      const std::string notice = Resources().FormatCommonText("W1", {std::to_string(skipped.size())});
      ReportStatus(notice);
      session.AddNotice(notice);
    }
    return skipped;
  };

  if (!session.HasFlag(sfNOBACKUP)) {
    std::vector<TSetupBackupSource> unsaved;
    const std::vector<TSetupBackupSource> files = PlanBackup(userFiles, Profiles, unsaved);
    Total = static_cast<int>(UpdateTasks.size() + files.size() + unsaved.size());
    ReportStatus(GetCommonText("A1"));
    const std::unordered_set<std::string> skipped = files.empty() ? std::unordered_set<std::string>() : backUp(files);
    // What could not be backed up stays where it is.
    filesToDelete.BeginUpdate();
    for (const TSetupBackupSource& file : files)
      if (!skipped.contains(file.Path)) filesToDelete.Add(file.Path);
    for (const TSetupBackupSource& file : unsaved) filesToDelete.Add(file.Path);
    filesToDelete.EndUpdate();
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

  // Obsolete files; the plug-in folders are listed without following links.
  const std::string systemLibrary = kel::kelShellGetSystemDir() + kObsoleteSystemLibrary;
  if (kel::kelFileExists(systemLibrary)) filesToDelete.Add(systemLibrary);
  for (const TLegacyPlugins& group : kLegacyPlugins) {
    if (group.below != 0 && installed >= group.below) continue;
    for (const char* name : group.names) {
      const std::string plugin = "Plugins/" + std::string(name) + "/";
      for (const TSetupBackupSource& file : ListFiles(userFiles, destination, plugin, "", ""))
        filesToDelete.Add(file.Path);
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

  // Users' files are deleted through their homes, never through a link.
  ReportStatus(GetCommonText("A3"));
  std::vector<std::string> folders;
  for (const auto& item : filesToDelete.Items()) {
    userFiles.DeleteFile(item.text);
    folders.push_back(kel::kelExtractFileDir(item.text));
  }
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) userFiles.RemoveFolder(*it);
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
