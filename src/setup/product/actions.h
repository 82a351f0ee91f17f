// The actions and update tasks of the ORVI product, in the order a run uses
// them: close the player, prepare the destination (profiles, backup, update
// tasks, deletion), install add-ons, write the configuration, integrate,
// create shortcuts, refresh the shell's cache; and, when uninstalling, undo
// the integration and delete what the log lists.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/string_list.h"
#include "kel/platform/process.h"
#include "setup/core/action.h"

namespace setup {

class TSetupUserFiles;

// --- Close applications -------------------------------------------------------

// Asks every running program of the product family to close and waits until
// none is left: after each pass that asked windows to close, until their
// programs have ended, at most 2 seconds before the next pass; once no window
// is left, until those programs have ended, at most 10 seconds. A stop
// request ends the waiting.
class TSetupActionCloseApplications : public TSetupAction {
 public:
  // The window classes looked for, in this order.
  static const std::vector<std::string>& WindowClasses();
  // The longest time between passes (2 seconds); tests shorten it.
  static void SetPassInterval(std::chrono::milliseconds interval);
  // The longest wait for the programs to end once their windows are gone
  // (10 seconds); tests shorten it.
  static void SetExitWait(std::chrono::milliseconds limit);
  void Execute() override;
  void Cancel() override;

 private:
  // Waits until every program of the list has ended (dropping those that
  // have) or the time is up; with `fullTime`, the whole time in any case.
  // False when the run was stopped.
  bool WaitForPrograms(std::vector<kel::platform::ProcessIdentity>& programs, std::chrono::milliseconds limit,
                       bool fullTime);

  std::mutex lock_;
  std::condition_variable wake_;
  bool cancelled_ = false;
};

// --- Profiles and helpers ---------------------------------------------------------

// One user's profile folder of the player.
struct TSetupProfileInfo {
  std::string Name;     // the user's profile folder name, or "SingleUser" when portable
  std::string NewPath;  // the profile folder of the version being installed
  std::string OldPath;  // the profile folder of the installed version
};

class TSetupProfileInfoList {
 public:
  // The users' profiles whose OldPath exists as a folder, not a link (one
  // "SingleUser" candidate in a portable installation).
  void Populate(const TSetupUserFiles& userFiles);
  size_t Count() const { return items_.size(); }
  TSetupProfileInfo& operator[](size_t index) { return *items_[index]; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  void Add(std::unique_ptr<TSetupProfileInfo> item) { items_.push_back(std::move(item)); }

 private:
  std::vector<std::unique_ptr<TSetupProfileInfo>> items_;
};

class TSetupProfileHelper {
 public:
  // The player's profile folder in a user's application-data folder for a
  // version: destination + "Profile/" when the folder is empty (portable),
  // folder + product name from 4.00 on, folder + "ORVI3" before.
  static std::string GetProfilePath(const std::string& appData, int version);
};

class TSetupHelper {
 public:
  // Removes, from the last entry to the first, every entry beginning with
  // the prefix (ignoring case).
  static void ExcludeFromList(kel::TKELStringList& list, const std::string& prefix);
  // Copies the source tree into the target (nothing when they are the same
  // folder); with move, deletes the source afterwards. Fails with
  // EInstallerInstallError "Cannot copy "%s" to "%s"". Users' folders are
  // worked on through `userFiles`.
  static void CopyFolder(const TSetupUserFiles& userFiles, const std::string& source, const std::string& target,
                         bool move);
  // Removes the folder when empty, or (onlyIfEmpty false) with everything in it.
  static void RemoveFolder(const TSetupUserFiles& userFiles, const std::string& folder, bool onlyIfEmpty);
};

// --- Update tasks -----------------------------------------------------------------

class TSetupUpdateTask : public TSetupPersistent {
 public:
  // `filesToDelete` (full paths) may be absent.
  virtual void Execute(kel::TKELStringList* filesToDelete) = 0;
};

class TSetupUpdateTaskRemoveShellMenu : public TSetupUpdateTask {
 public:
  void Execute(kel::TKELStringList* filesToDelete) override;
};

class TSetupUpdateTaskRemoveUninstallInfo : public TSetupUpdateTask {
 public:
  void Execute(kel::TKELStringList* filesToDelete) override;
};

class TSetupUpdateTaskRemoveShortcuts : public TSetupUpdateTask {
 public:
  void Execute(kel::TKELStringList* filesToDelete) override;
};

class TSetupUpdateTaskUpdateConfigs : public TSetupUpdateTask {
 public:
  explicit TSetupUpdateTaskUpdateConfigs(TSetupProfileInfo& profile) : Profile(profile) {}
  void Execute(kel::TKELStringList* filesToDelete) override;
  TSetupProfileInfo& Profile;  // not owned
};

class TSetupUpdateTaskRemoveFromRegistry : public TSetupUpdateTask {
 public:
  void Execute(kel::TKELStringList* filesToDelete) override;
};

// --- Prepare ----------------------------------------------------------------------

// Finds the users' profiles, backs up the earlier installation into a ZIP
// archive, collects what to delete, runs the update tasks and deletes.
class TSetupActionPrepare : public TSetupAction {
 public:
  void Execute() override;
  void Summarize(TSetupSummaryBuilder& builder) override;

  TSetupProfileInfoList Profiles;
  std::vector<std::unique_ptr<TSetupUpdateTask>> UpdateTasks;
  int Done = 0;
  int Total = 0;
};

// Whether the setup page warns that an installation will be replaced.
bool NeedsReplaceWarning();

// --- Configuration and add-ons ------------------------------------------------------

// Writes ORVI.ini: the integration choices and the [System] keys.
class TSetupActionConfig : public TSetupAction {
 public:
  void Execute() override;
};

// The value of the first "name=value" line of the add-on description
// ("addons.ini") whose name equals the key (ignoring case); "" when there is
// none.
std::string AddonsValue(const kel::TKELStringList& addons, std::string_view key);

// Starts the add-on installer carried in the setup package.
class TSetupActionAddonsInstall : public TSetupAction {
 public:
  void Execute() override;
  void Summarize(TSetupSummaryBuilder& builder) override;
};

// --- Integration and shortcuts ------------------------------------------------------

// Hands the shell integration to the product's helper program, Elevator.
class TSetupActionIntegrate : public TSetupAction {
 public:
  void Execute() override;
  void Summarize(TSetupSummaryBuilder& builder) override;
};

// Creates the desktop and menu shortcuts of the script.
class TSetupActionShortcuts : public TSetupAction {
 public:
  void Execute() override;
  void Summarize(TSetupSummaryBuilder& builder) override;
  kel::TKELStringList AllowedRoots;
};

// Tells the desktop that file associations changed.
class TSetupActionUpdateShellCache : public TSetupAction {
 public:
  void Execute() override;
};

// --- Uninstallation -----------------------------------------------------------------

// Undoes the integration: shell-menu libraries, shortcuts, the helper's
// registration and the uninstall entry.
class TSetupActionUninstallIntegration : public TSetupAction {
 public:
  TSetupActionUninstallIntegration();
  void Execute() override;
  std::vector<std::unique_ptr<TSetupUpdateTask>> Tasks;
};

// Deletes the files of the uninstall log, the folders left empty and, on
// request, the backups and the users' data.
class TSetupActionUninstallFiles : public TSetupAction {
 public:
  void Execute() override;
  kel::TKELStringList CreateFileList();
  // Folders with their tag: 0 remove when empty, 1 delete with everything.
  kel::TKELStringList CreateDirsList();
};

}  // namespace setup
