// The update tasks: clean-ups of what earlier versions left on the machine
// (shell-menu libraries, uninstall entries, shortcuts, the helper's
// registration) and the move of the users' settings to the current
// version's folders and file names.
//
// On this system the old shell-menu extensions are the shared libraries
// System/orvi_menu32.so and System/orvi_menu64.so of the installation, and
// the shortcuts of older versions are ".desktop" files.
#include <string>
#include <vector>

#include "kel/base/error.h"
#include "kel/base/file_system.h"
#include "kel/base/shell.h"
#include "kel/base/text.h"
#include "setup/core/active_x.h"
#include "setup/core/app_repo.h"
#include "setup/core/extract.h"
#include "setup/core/product_info.h"
#include "setup/core/session.h"
#include "setup/core/users.h"
#include "setup/product/actions.h"

namespace setup {

namespace {

// The obsolete skins of versions before 4.50.
constexpr const char* kObsoleteSkins[] = {"Nimbus.orvi-skin", "Obsidian.orvi-skin"};

// Renames a file unless the old name is missing; never replaces. Fails with
// the system's error.
void RenameFile(const TSetupUserFiles& userFiles, const std::string& from, const std::string& to) {
  if (!userFiles.Exists(from)) return;
  std::string error;
  if (!userFiles.MoveFile(from, to, &error)) throw kel::EOSError(error + "\r\n" + from + " -> " + to);
}

void AddIfExists(const TSetupUserFiles& userFiles, kel::TKELStringList* list, const std::string& path) {
  if (list && userFiles.Exists(path)) list->Add(path);
}

}  // namespace

void TSetupUpdateTaskRemoveShellMenu::Execute(kel::TKELStringList*) {
  for (const char* name : {"System/orvi_menu32.so", "System/orvi_menu64.so"}) {
    const std::string library = Session().DestPath() + name;
    if (!kel::kelFileExists(library)) continue;
    TSetupActiveX::UnregisterServer(library);
    DeleteFileOrSchedule(library);
  }
}

void TSetupUpdateTaskRemoveUninstallInfo::Execute(kel::TKELStringList*) {
  for (const char* name : {"ORVI3", "ORVI"}) {
    std::string folder;
    if (TSetupAppRepo::FindInstallPath(name, folder) && kel::kelStartsText(Session().DestPath(), folder))
      TSetupAppRepo::Unregister(name);
  }
}

void TSetupUpdateTaskRemoveShortcuts::Execute(kel::TKELStringList*) {
  std::vector<std::string> names = {"ORVI"};
  if (Product().GetInstalledVersion() < 4000) names.push_back("ORVI3");
  // The desktop and the menu folder are the user's.
  const TSetupUserFiles userFiles;
  const auto deleteFolder = [&](const std::string& folder) {
    if (userFiles.IsFolder(folder)) userFiles.DeleteTree(folder);
  };
  for (const std::string& name : names) {
    userFiles.DeleteFile(kel::kelShellGetSpecialFolder(kel::CSIDL_DESKTOP) + name + ".desktop");
    userFiles.DeleteFile(kel::kelShellGetSpecialFolder(kel::CSIDL_COMMON_DESKTOPDIRECTORY) + name + ".desktop");
    deleteFolder(kel::kelShellGetSpecialFolder(kel::CSIDL_STARTMENU) + name + "/");
    deleteFolder(kel::kelShellGetSpecialFolder(kel::CSIDL_COMMON_PROGRAMS) + name + "/");
    deleteFolder(kel::kelShellGetSpecialFolder(kel::CSIDL_COMMON_STARTMENU) + name + "/");
  }
}

void TSetupUpdateTaskRemoveFromRegistry::Execute(kel::TKELStringList*) {
  // Quoted, so that no shorter executable prefix of the path (a program
  // named like the first part of a folder with a space) is taken for the
  // helper; a path holding a quote cannot be quoted.
  const std::string helper = Session().DestPath() + "Elevator";
  RunAndWait((helper.find('"') == std::string::npos ? "\"" + helper + "\"" : helper) + " /REG=U");
  TSetupAppRepo::Unregister(Product().GetName());
}

void TSetupUpdateTaskUpdateConfigs::Execute(kel::TKELStringList* filesToDelete) {
  const std::string& destination = Session().DestPath();
  const std::string& newPath = Profile.NewPath;
  const int installed = Product().GetInstalledVersion();
  // The profile folders are the user's.
  const TSetupUserFiles userFiles;

  TSetupHelper::CopyFolder(userFiles, Profile.OldPath, newPath, false);
  if (filesToDelete) TSetupHelper::ExcludeFromList(*filesToDelete, newPath);

  if (installed < 4000) {
    RenameFile(userFiles, destination + "ORVI3.ini", destination + "ORVI.ini");
    RenameFile(userFiles, newPath + "ORVI3-cat.db", newPath + "ORVI-cat.db");
    RenameFile(userFiles, newPath + "orvi3_menu.ini", newPath + "ORVI-ContextMenu.ini");
    RenameFile(userFiles, newPath + "ORVI3.ini", newPath + "ORVI.ini");
    RenameFile(userFiles, newPath + "ORVI3ac.ini", newPath + "ORVIac.ini");
    RenameFile(userFiles, newPath + "ORVI3ate.ini", newPath + "ORVIate.ini");
    for (const char* name : {"ORVI3-SkinLayout.ini", "ORVI3.bak", "ORVI3ac.bak", "ORVI3ate.bak"})
      AddIfExists(userFiles, filesToDelete, newPath + name);
  }
  if (installed < 4500)
    for (const char* skin : kObsoleteSkins) AddIfExists(userFiles, filesToDelete, destination + "Skins/" + skin);
  if (installed < 4600) AddIfExists(userFiles, filesToDelete, newPath + "AlbumArts.db");
  if (installed < 5020) {
    // Caches only: a failure here must not stop the update.
    try {
      AddIfExists(userFiles, filesToDelete, newPath + "AlbumArtCache.db");
      RenameFile(userFiles, newPath + "AlbumArtsForURLs.db", newPath + "AlbumArts.Custom.db");
    } catch (const kel::Exception&) {
    }
  }
}

}  // namespace setup
