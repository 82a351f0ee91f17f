// The setup session: the one object of a run. It reads the switches, decides
// the mode and the flags, owns the destination, the option store, the error
// list, the resources, the product description and the worker, and hands the
// worker's notifications to the listeners on the user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kel/base/ini_file.h"
#include "kel/base/string_list.h"
#include "setup/core/dispatcher.h"
#include "setup/core/notify.h"
#include "setup/core/run_log.h"

namespace setup {

class TSetupResources;
class TSetupProductInfo;
class TSetupThread;
class TSetupExtractHelper;
class ISetupUserPrompt;

// Flag bit indexes (HasFlag, SetFlag) and values (Flags, SetFlags).
enum : int { sfAUTO = 0, sfPORTABLE = 1, sfUPDATE = 2, sfSILENT = 3, sfRUN = 4, sfNOBACKUP = 5 };
enum : uint8_t {
  AUTO = 1,
  PORTABLE = 2,
  UPDATE = 4,
  SILENT = 8,
  RUN = 16,
  NOBACKUP = 32,
};

enum class TSetupMode : uint8_t { Install = 0, Uninstall = 1 };
enum class TSetupState : uint8_t { Idle = 0, Running = 1, Finished = 2 };

class TSetup {
 public:
  // Builds the session from the command-line parameters: creates the product
  // description (of the registered class) and the resources, then reads the
  // switches. Publishes itself as the process-wide session while it lives.
  TSetup(const std::string& params, std::unique_ptr<TSetupResources> resources,
         std::unique_ptr<ISetupDispatcher> dispatcher, std::unique_ptr<ISetupUserPrompt> prompt);
  ~TSetup();
  TSetup(const TSetup&) = delete;
  TSetup& operator=(const TSetup&) = delete;

  // The process-wide session; only valid while one exists.
  static TSetup& Instance();
  static bool Exists();

  TSetupMode Mode() const { return mode_; }
  uint8_t Flags() const { return flags_; }
  bool HasFlag(int index) const { return index >= 0 && index <= 7 && (flags_ >> index) & 1; }
  // An index outside 0 to 7 changes nothing.
  void SetFlag(int index, bool on);
  // Fails with EInstallerMysteryError "Invalid Arguments" when AUTO or SILENT
  // would change.
  void SetFlags(uint8_t value);
  void NormalizeFlags();

  const std::string& DestPath() const { return destPath_; }
  // The destination as asked for: absolute, on this machine, with a trailing
  // delimiter, before the rules of file names were applied. It differs from
  // DestPath when they changed it ("/opt/Media: ORVI?/" gives the
  // destination "/opt/Media ORVI/"), which the user is told.
  const std::string& RequestedDestPath() const { return requestedDestPath_; }
  // What the user is told when the rules of file names changed the folder
  // asked for; "" when they did not.
  std::string DestinationChangeNotice() const;
  // A relative folder is taken relative to the current folder. An empty
  // path leaves the session without a destination (Start refuses to run;
  // the product finds no installation there).
  void SetDestination(const std::string& path);
  // Whether the folder lies inside one of the program-files folders.
  bool InProgramFiles(const std::string& path) const;

  // Why `folder` (taken as SetDestination takes it) cannot be the
  // destination of an installation: it is a system folder or a user's home
  // folder (kel/platform/well_known_folders.h), whose other contents a
  // backup, an update or an uninstallation would take in. "" when it can.
  // The wizard's setup page shows this text; Start refuses such a
  // destination with it.
  std::string DestinationProblem(const std::string& folder) const;
  // Why the uninstaller cannot take `folder` (its /PATH) as the
  // installation to remove: the folder must hold the installation the
  // uninstaller belongs to, an Uninstall.dat equal to the one it reads its
  // log from. "" when it can.
  std::string UninstallFolderProblem(const std::string& folder) const;

  kel::TKELIniFile& Settings() { return settings_; }
  TSetupResources& Resources() { return *resources_; }
  TSetupProductInfo& Product() { return *product_; }
  TSetupExtractHelper& Extractor() { return *extractor_; }
  ISetupDispatcher& Dispatcher() { return *dispatcher_; }
  ISetupUserPrompt& Prompt() { return *prompt_; }
  // A front end that shows windows takes over the hand-over of calls and the
  // questions once it knows the run is not silent. Only before the worker
  // has started; fails with EInstallerMysteryError afterwards.
  void SetUserInterface(std::unique_ptr<ISetupDispatcher> dispatcher, std::unique_ptr<ISetupUserPrompt> prompt);
  TSetupState State() const { return state_; }

  // The log of the run, which the engine and the actions write to; one
  // that writes nothing until AttachLog.
  TSetupLog& Log() { return *log_; }
  // The log of the process-wide session, for the file services that also
  // serve without one (then a log that writes nothing).
  static TSetupLog& CurrentLog();
  // Makes `log` (which outlives the session) the log of the run and a
  // listener of its notifications.
  void AttachLog(TSetupLog& log);

  // The error list: texts collected during the run, in order. Each one is
  // written to the log as well.
  bool HasErrors() const;
  void LogError(const std::string& text);
  kel::TKELStringList Errors() const;
  // What the user should know about a run that went on nonetheless (what
  // its backup had to leave out), in order; shown when the run has ended
  // and written to the log at once.
  void AddNotice(const std::string& text);
  kel::TKELStringList Notices() const;
  // The run ended because the user chose to stop it (a stop request, or
  // Abort when asked about a file); the program's exit status tells it.
  void MarkAbortedByUser() { abortedByUser_ = true; }
  bool AbortedByUser() const { return abortedByUser_; }

  void AddListener(IInstallerNotify* listener);
  void RemoveListener(IInstallerNotify* listener);

  // Runs the worker once; with wait, returns when it has finished (serving
  // its notifications meanwhile).
  void Start(bool wait);
  // Stops and frees the worker, if any.
  void FreeWorker();
  // Asks a running worker to stop after its current action and returns at
  // once (FreeWorker then waits for it).
  void StopWorker();
  // Starts the script's post-installation programs that are switched on.
  void RunPostActions();

  // From any thread: delivers Notify(code, value) to the listeners on the
  // user-interface thread and returns when they have run.
  void SendNotify(int code, intptr_t value);
  void SendStatus(const std::string& text);

 private:
  void ReadSwitches(const std::string& params);
  // The folder SetDestination makes of a path: absolute, on this machine,
  // with a trailing delimiter, before the rules of file names apply.
  static std::string RequestedFolder(const std::string& path);
  void Dispatch(int code, intptr_t value);

  kel::TKELIniFile settings_;
  std::string destPath_;
  std::string requestedDestPath_;
  mutable std::mutex errorsLock_;  // the errors and the notices
  kel::TKELStringList errors_;
  kel::TKELStringList notices_;
  std::unique_ptr<ISetupDispatcher> dispatcher_;
  std::unique_ptr<ISetupUserPrompt> prompt_;
  std::recursive_mutex lock_;  // listener list and dispatch
  std::vector<IInstallerNotify*> listeners_;
  TSetupMode mode_ = TSetupMode::Install;
  uint8_t flags_ = 0;
  std::unique_ptr<TSetupProductInfo> product_;
  std::unique_ptr<TSetupResources> resources_;
  std::unique_ptr<TSetupExtractHelper> extractor_;
  TSetupState state_ = TSetupState::Idle;
  std::unique_ptr<TSetupThread> worker_;
  std::atomic<bool> abortedByUser_{false};
  TSetupLog* log_;
};

}  // namespace setup
