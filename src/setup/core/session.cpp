#include "setup/core/session.h"

#include <algorithm>

#include "kel/base/command_line.h"
#include "kel/base/file_system.h"
#include "kel/base/format.h"
#include "kel/base/text.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/sandbox.h"
#include "kel/platform/well_known_folders.h"
#include "setup/core/errors.h"
#include "setup/core/extract.h"
#include "setup/core/product_info.h"
#include "setup/core/prompt.h"
#include "setup/core/resources.h"
#include "setup/core/script.h"
#include "setup/core/spawn_service.h"
#include "setup/core/worker.h"

namespace setup {

namespace {
TSetup* gSession = nullptr;

TSetupLog& NoLog() {
  static TSetupLog none;
  return none;
}
}  // namespace

TSetup& TSetup::Instance() { return *gSession; }
bool TSetup::Exists() { return gSession != nullptr; }
TSetupLog& TSetup::CurrentLog() { return gSession ? gSession->Log() : NoLog(); }

TSetup::TSetup(const std::string& params, std::unique_ptr<TSetupResources> resources,
               std::unique_ptr<ISetupDispatcher> dispatcher, std::unique_ptr<ISetupUserPrompt> prompt)
    : dispatcher_(std::move(dispatcher)), prompt_(std::move(prompt)), log_(&NoLog()) {
  gSession = this;
  try {
    const TSetupProductInfo::TFactory factory = TSetupProductInfo::RegisteredClass();
    if (!factory) throw EInstallerGeneralError("Setup is malformed");
    product_ = factory();
    resources_ = std::move(resources);
    extractor_ = std::make_unique<TSetupExtractHelper>();
    ReadSwitches(params);
  } catch (...) {
    gSession = nullptr;
    throw;
  }
}

TSetup::~TSetup() {
  worker_.reset();
  extractor_.reset();
  product_.reset();
  resources_.reset();
  gSession = nullptr;
}

void TSetup::SetUserInterface(std::unique_ptr<ISetupDispatcher> dispatcher, std::unique_ptr<ISetupUserPrompt> prompt) {
  // The worker holds on to the dispatcher while it runs.
  if (worker_) throw EInstallerMysteryError("The user interface cannot change during a run");
  dispatcher_ = std::move(dispatcher);
  prompt_ = std::move(prompt);
}

void TSetup::ReadSwitches(const std::string& params) {
  if (resources_->HasProductFile("Uninstall.ini")) {
    mode_ = TSetupMode::Uninstall;
    flags_ = 0;
    if (kel::HasSwitch(params, "AUTO")) {
      flags_ |= AUTO;
      if (kel::HasSwitch(params, "SILENT")) flags_ |= SILENT;
    }
    // The choices of the uninstall options page, for runs without it.
    if (kel::HasSwitch(params, "REMOVEBACKUPS")) settings_.WriteBool("Common", "RemoveBackups", true);
    if (kel::HasSwitch(params, "REMOVECONTENT")) settings_.WriteBool("Common", "RemoveContent", true);
    return;
  }
  mode_ = TSetupMode::Install;
  std::string destination;
  if (kel::HasSwitch(params, "AUTO", destination)) {
    flags_ = AUTO;
    SetDestination(destination.empty() ? product_->GetDefaultPath() : destination);
    if (kel::HasSwitch(params, "NOBACKUP")) flags_ |= NOBACKUP;
    if (kel::HasSwitch(params, "RUN")) flags_ |= RUN;
    if (kel::HasSwitch(params, "UPDATE")) {
      if (!product_->CanUpdate())
        throw EInstallerUpdateError(kel::kelFormat(
            "Cannot install update on v%s", {TSetupProductInfo::FormatVersionId(product_->GetInstalledVersion())}));
    } else {
      if (kel::HasSwitch(params, "PORTABLE")) flags_ |= PORTABLE;
      if (kel::HasSwitch(params, "SILENT")) flags_ |= SILENT;
    }
    return;
  }
  flags_ = UPDATE;
  SetDestination(product_->GetDefaultPath());
}

void TSetup::SetFlag(int index, bool on) {
  if (index < 0 || index > 7) return;
  const uint8_t bit = static_cast<uint8_t>(1u << index);
  SetFlags(on ? flags_ | bit : flags_ & ~bit);
}

void TSetup::SetFlags(uint8_t value) {
  if (value == flags_) return;
  if ((value ^ flags_) & (AUTO | SILENT)) throw EInstallerMysteryError("Invalid Arguments");
  flags_ = value;
  NormalizeFlags();
}

void TSetup::NormalizeFlags() {
  if (!product_->CanUpdate()) flags_ &= ~UPDATE;
  if (InProgramFiles(destPath_)) flags_ &= ~PORTABLE;
}

bool TSetup::InProgramFiles(const std::string& path) const {
  return kel::kelStartsText(resources_->ProgramFilesPath, path) ||
         kel::kelStartsText(resources_->ProgramFilesX86Path, path);
}

std::string TSetup::RequestedFolder(const std::string& path) {
  // A relative folder is one below the current folder, then placed on the
  // machine as any absolute path is.
  return kel::kelIncludeTrailingPathDelimiter(kel::platform::MachinePath(kel::platform::AbsolutePath(path)));
}

void TSetup::SetDestination(const std::string& path) {
  if (path == destPath_) return;
  requestedDestPath_ = RequestedFolder(path);
  // Made valid as the targets of the script are (ExpandPath): a folder name
  // with characters they lose would otherwise put the files in one folder
  // and the uninstall data in another.
  destPath_ = kel::kelIncludeTrailingPathDelimiter(kel::kelValidateFilePath(requestedDestPath_));
  product_->LoadInstalledInfo();
  if (product_->CanUpdate())
    flags_ |= UPDATE;
  else
    flags_ &= ~UPDATE;
  if ((flags_ & UPDATE) && product_->IsPortableInstallation()) flags_ |= PORTABLE;
  NormalizeFlags();
}

std::string TSetup::DestinationChangeNotice() const {
  if (requestedDestPath_ == destPath_) return {};
  return kel::kelFormat(
      "The destination \"%s\" was changed to \"%s\": folder names cannot hold \\ < > * : ? | \" or control "
      "characters, begin with a space, or end in a space or a dot.",
      {requestedDestPath_, destPath_});
}

std::string TSetup::DestinationProblem(const std::string& folder) const {
  const std::string destination =
      kel::kelIncludeTrailingPathDelimiter(kel::kelValidateFilePath(RequestedFolder(folder)));
  if (!kel::platform::IsSystemFolder(destination)) return {};
  std::string suggestion = destination + product_->GetName() + "/";
  if (kel::platform::IsSystemFolder(suggestion)) suggestion = resources_->ProgramFilesPath + product_->GetName() + "/";
  return kel::kelFormat(
      "The folder \"%s\" is a system folder or a user's home folder: %s cannot be installed into it, as updating "
      "or removing it would back up and delete everything else the folder holds. Choose a folder of its own, such "
      "as \"%s\".",
      {destination, product_->GetName(), suggestion});
}

std::string TSetup::UninstallFolderProblem(const std::string& folder) const {
  const std::string destination = RequestedFolder(folder);
  const std::string& carried = resources_->ProductPackageFile;
  if (!carried.empty() && kel::platform::SameFileContent(carried, destination + "Uninstall.dat")) return {};
  return kel::kelFormat(
      "The folder \"%s\" does not hold the installation this uninstaller belongs to (its Uninstall.dat is missing "
      "or differs): nothing was removed.",
      {destination});
}

bool TSetup::HasErrors() const {
  std::lock_guard lock(errorsLock_);
  return !errors_.IsEmpty();
}

void TSetup::AttachLog(TSetupLog& log) {
  log_ = &log;
  AddListener(&log);
}

void TSetup::LogError(const std::string& text) {
  log_->Write("Error: " + text);
  std::lock_guard lock(errorsLock_);
  errors_.Add(text);
}

kel::TKELStringList TSetup::Errors() const {
  std::lock_guard lock(errorsLock_);
  return errors_;
}

void TSetup::AddNotice(const std::string& text) {
  log_->Write("Notice: " + text);
  std::lock_guard lock(errorsLock_);
  notices_.Add(text);
}

kel::TKELStringList TSetup::Notices() const {
  std::lock_guard lock(errorsLock_);
  return notices_;
}

void TSetup::AddListener(IInstallerNotify* listener) {
  std::lock_guard lock(lock_);
  listeners_.push_back(listener);
}

void TSetup::RemoveListener(IInstallerNotify* listener) {
  std::lock_guard lock(lock_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void TSetup::Start(bool wait) {
  if (state_ != TSetupState::Idle) return;
  if (destPath_.empty()) throw EInstallerInstallError("DestPath is empty");
  if (mode_ == TSetupMode::Install)
    if (const std::string problem = DestinationProblem(destPath_); !problem.empty())
      throw EInstallerInstallError(problem);
  NormalizeFlags();
  state_ = TSetupState::Running;
  worker_ = std::make_unique<TSetupThread>();
  worker_->Start();
  if (wait) worker_->WaitFor();
}

void TSetup::FreeWorker() { worker_.reset(); }

void TSetup::StopWorker() {
  if (worker_) worker_->Terminate();
}

void TSetup::RunPostActions() {
  if (HasErrors() || mode_ != TSetupMode::Install) return;
  const bool runByDefault = (flags_ & (AUTO | UPDATE | RUN)) == (AUTO | UPDATE | RUN);
  for (const TSetupScriptFile& item : resources_->Script().Actions) {
    if (!settings_.ReadBool("Actions", item.Name, runByDefault)) continue;
    TSetupSpawnService::Spawn(resources_->ExpandPath(item.Name));
  }
}

void TSetup::SendNotify(int code, intptr_t value) {
  dispatcher_->Invoke([&] { Dispatch(code, value); });
}

void TSetup::SendStatus(const std::string& text) {
  dispatcher_->Invoke([&] { Dispatch(neStatusText, reinterpret_cast<intptr_t>(&text)); });
}

void TSetup::Dispatch(int code, intptr_t value) {
  std::lock_guard lock(lock_);
  if (code == neFinished) {
    state_ = TSetupState::Finished;
    if (value != 0) {
      LogError(resources_->GetText("Common", "E4"));
      MarkAbortedByUser();
    }
  }
  // A listener may register or remove listeners while it is notified: walk a
  // copy, skipping those removed meanwhile.
  const std::vector<IInstallerNotify*> snapshot = listeners_;
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    if (std::find(listeners_.begin(), listeners_.end(), *it) != listeners_.end()) (*it)->Notify(code, value);
  }
}

}  // namespace setup
