#include "setup/core/entry.h"

#include <charconv>
#include <exception>

#include "kel/base/command_line.h"
#include "kel/base/file_system.h"
#include "kel/base/format.h"
#include "kel/platform/elevation.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/module.h"
#include "kel/platform/process.h"
#include "setup/core/errors.h"
#include "setup/core/product_info.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/core/spawn_service.h"
#include "setup/core/switches.h"

namespace setup {

namespace {

// Windows Vista or later: elevation prompts exist.
bool IsUacSystem() { return kel::platform::GetOsVersion().major >= 6; }

int64_t ParseHandle(const std::string& text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

// Starts this program elevated with "/SKIPUAC=<server> <params>" and serves
// the child's spawn requests until it ends; its exit status is ours.
int RelaunchElevated(const std::string& params) {
  TSetupSpawnService::Initialize(0);
  const std::string childParams =
      kel::kelFormat("/%s=%d %s", {"SKIPUAC", static_cast<long long>(TSetupSpawnService::ServerId()), params});
  const kel::platform::ElevatedRun run = kel::platform::RunElevated(
      kel::platform::ExecutablePath(), kel::kelSplitCommandLine(childParams),
      [] { TSetupSpawnService::Serve(100); });
  if (run.refused) return secElevationRefused;
  if (!run.started) throw kel::EOSError(run.error);
  return run.exitCode;
}

// The copy of a file in the temporary folder of this run.
std::string CopyToTemp(const std::string& source) {
  const std::string target = kel::kelTempPath() + kel::kelExtractFileName(source);
  kel::kelFileSetAttributes(target, kel::faNormal);
  std::string error;
  if (!kel::platform::CopyFile(source, target, false, &error))
    throw kel::EOSError(error + "\r\n" + source + " -> " + target);
  kel::platform::DeleteAtRestart(target);
  return target;
}

// The uninstaller cannot remove its folder while it runs from it: it runs a
// copy of itself from the temporary folder, telling it where the
// installation is, and reports the copy's outcome as its own.
int RelocateUninstaller(const std::string& params) {
  const std::string program = kel::platform::ExecutablePath();
  const std::string copy = CopyToTemp(program);
  CopyToTemp(kel::kelChangeFileExt(program, ".dat"));
  kel::kelSetCurrentDir(kel::kelExtractFilePath(copy));
  const std::string copyParams =
      kel::kelFormat("/%s=\"%s\" %s", {"PATH", kel::kelExtractFilePath(program), params});
  const kel::platform::StartResult run =
      kel::platform::StartProgram(copy, kel::kelSplitCommandLine(copyParams), INT32_MAX);
  if (!run.started) throw kel::EOSError(run.error + "\r\n" + copy);
  return run.exited ? run.exitCode : secSuccess;
}

// True when the program runs from the private temporary folder of a setup
// run: it is the relocated copy of an uninstaller. An installation that
// merely lies below the temporary folders (/tmp/ORVI/) is not.
bool RunsFromTemporaryFolder() {
  return kel::platform::IsTemporaryDirectory(kel::kelExtractFilePath(kel::platform::ExecutablePath()));
}

int ExitCodeOf(const TSetup& session) {
  if (!session.HasErrors()) return secSuccess;
  return session.AbortedByUser() ? secAbortedByUser : secFailed;
}

int Run(ISetupFrontEnd& frontEnd) {
  const std::string params = kel::GetCommandLineParams();
  if (!TSetupProductInfo::RegisteredClass()) throw EInstallerGeneralError("Setup is malformed");
  CheckCommandLine(params);

  // The elevated copy of a relaunch got its environment from the user who
  // asked for the rights: it keeps only what it needs of it, first.
  std::string handle;
  const bool relaunched = kel::HasSwitch(params, "SKIPUAC", handle);
  if (std::string problem; relaunched && !kel::platform::BuildElevatedEnvironment(&problem))
    throw EInstallerGeneralError(problem);

  if (IsUacSystem()) {
    if (relaunched)
      TSetupSpawnService::Initialize(ParseHandle(handle));
    else if (!kel::platform::IsElevated())
      return RelaunchElevated(params);
  }
  if (!kel::platform::IsElevated()) throw EInstallerNoAdminRightsError();

  TSetup session(params, TSetupResources::OpenProgram(kel::platform::ExecutablePath()), frontEnd.CreateDispatcher(),
                 frontEnd.CreatePrompt());
  frontEnd.SessionCreated(session);
  if (session.Mode() == TSetupMode::Install)
    if (const std::string notice = session.DestinationChangeNotice(); !notice.empty()) frontEnd.ShowNotice(notice);

  if (session.Mode() == TSetupMode::Uninstall) {
    std::string path;
    if (kel::HasSwitch(params, "PATH", path) && !path.empty() && kel::kelDirectoryExists(path)) {
      // The uninstaller removes only the installation it belongs to.
      if (const std::string problem = session.UninstallFolderProblem(path); !problem.empty())
        throw EInstallerMysteryError(problem);
      session.SetDestination(path);
    } else {
      if (RunsFromTemporaryFolder()) throw EInstallerMysteryError("Cannot start the Uninstaller");
      return RelocateUninstaller(params);
    }
  }

  session.Resources().InitializeLanguages(session.HasFlag(sfAUTO) ? nullptr : frontEnd.LanguageDialog());

  if (session.HasFlag(sfSILENT)) {
    session.Start(true);
  } else if (frontEnd.RunWizard(session)) {
    // The wizard has shown the errors on its finish page and started the
    // post-installation programs; closed before the run ended, it was
    // stopped by the user.
    if (session.State() != TSetupState::Finished) return secAbortedByUser;
    return ExitCodeOf(session);
  } else if (session.HasFlag(sfAUTO)) {
    frontEnd.FollowRun(session);
  } else {
    throw EInstallerGeneralError(
        "No display is available to show the setup wizard. Run the setup unattended instead: "
        "/AUTO[=folder] /SILENT (see the README for the switches).");
  }
  // Unattended from here on: the wizard shows its notices itself.
  const kel::TKELStringList notices = session.Notices();
  for (const auto& notice : notices.Items()) frontEnd.ShowNotice(notice.text);
  if (session.HasErrors()) {
    frontEnd.ShowError(EInstallerInstallError(session.Errors().Text()).Message());
    return ExitCodeOf(session);
  }
  session.RunPostActions();
  return secSuccess;
}

}  // namespace

int RunSetup(ISetupFrontEnd& frontEnd) {
  int code = secFailed;
  try {
    code = Run(frontEnd);
  } catch (const kel::Exception& e) {
    frontEnd.ShowError(e.Message());
  } catch (const std::exception& e) {
    // Not an error of ours (out of memory, a library's failure): still
    // shown, never a silent crash.
    frontEnd.ShowError(e.what());
  }
  TSetupSpawnService::Finalize();
  return code;
}

}  // namespace setup
