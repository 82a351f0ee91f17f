#include "setup/core/entry.h"

#include <charconv>
#include <cstdio>
#include <exception>

#include "kel/base/command_line.h"
#include "kel/base/file_system.h"
#include "kel/base/format.h"
#include "kel/platform/elevation.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/locale.h"
#include "kel/platform/module.h"
#include "kel/platform/process.h"
#include "kel/platform/sandbox.h"
#include "kel/platform/users.h"
#include "setup/core/errors.h"
#include "setup/core/product_info.h"
#include "setup/core/resources.h"
#include "setup/core/run_log.h"
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
int RelaunchElevated(const std::string& params, TSetupLog& log) {
  TSetupSpawnService::Initialize(0);
  const std::string childParams =
      kel::kelFormat("/%s=%d %s", {"SKIPUAC", static_cast<long long>(TSetupSpawnService::ServerId()), params});
  log.Write("Asking for administrator rights to run an elevated copy of this program");
  const kel::platform::ElevatedRun run = kel::platform::RunElevated(
      kel::platform::ExecutablePath(), kel::kelSplitCommandLine(childParams),
      [] { TSetupSpawnService::Serve(100); });
  if (run.refused) {
    log.Write("The administrator rights were refused");
    return secElevationRefused;
  }
  if (!run.started) throw kel::EOSError(run.error);
  log.Write("The elevated copy ended with exit status " + std::to_string(run.exitCode));
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
int RelocateUninstaller(const std::string& params, TSetupLog& log) {
  const std::string program = kel::platform::ExecutablePath();
  const std::string copy = CopyToTemp(program);
  CopyToTemp(kel::kelChangeFileExt(program, ".dat"));
  kel::kelSetCurrentDir(kel::kelExtractFilePath(copy));
  const std::string copyParams =
      kel::kelFormat("/%s=\"%s\" %s", {"PATH", kel::kelExtractFilePath(program), params});
  log.Write("Running the uninstaller's copy in the temporary folder: " + copy);
  const kel::platform::StartResult run =
      kel::platform::StartProgram(copy, kel::kelSplitCommandLine(copyParams), INT32_MAX);
  if (!run.started) throw kel::EOSError(run.error + "\r\n" + copy);
  if (run.exited) log.Write("The uninstaller's copy ended with exit status " + std::to_string(run.exitCode));
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

const char* ExitStatusMeaning(int code) {
  switch (code) {
    case secSuccess: return "done";
    case secAbortedByUser: return "stopped by the user";
    case secElevationRefused: return "administrator rights refused";
    default: return "failed";
  }
}

// The first entries of a process's log: when, what and for whom it runs,
// with which rights, and where.
void WriteLogHeader(TSetupLog& log, const std::string& params) {
  const kel::platform::LocalDateTime now = kel::platform::LocalNow();
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", now.date.year, now.date.month, now.date.day);
  const std::string program = kel::platform::ExecutablePath();
  log.Write(kel::kelExtractFileName(program) + " started on " + date + ", process " +
            std::to_string(kel::platform::CurrentProcessId()));
  log.Write("Program: " + program);
  log.Write("Command line: " + params);
  const kel::platform::UserAccount user = kel::platform::InvokingUser();
  const std::string sandbox = kel::platform::SandboxRoot();
  log.Write("User: " + user.name + " (uid " + std::to_string(user.uid) + "), " +
            (kel::platform::IsElevated() ? "elevated" : "not elevated") +
            (sandbox.empty() ? std::string() : ", sandbox " + sandbox));
}

// Opens the log that the command line asks for (/LOG[=FILE]) and writes its
// header. Returns the parameters for the copies of this program that this
// run starts (elevated, or the uninstaller moved aside): they continue the
// same file, which /LOG then names by its full path, or leave /LOG out when
// the log cannot be written, so that they do not try again.
std::string OpenRunLog(TSetupLog& log, const std::string& params, ISetupFrontEnd& frontEnd) {
  std::string file;
  if (!kel::HasSwitch(params, "LOG", file)) return params;
  std::string problem;
  bool opened;
  const bool byDefault = file.empty();
  if (byDefault) {
    file = kel::platform::TemporaryFilesFolder();
    opened = log.OpenNew(kel::kelExtractFileName(kel::platform::ExecutablePath()), &problem);
  } else {
    // Taken as a destination is: below the current folder when relative,
    // on the sandboxed machine in a sandbox.
    file = kel::platform::MachinePath(kel::platform::AbsolutePath(file));
    const bool continuing = kel::HasSwitch(params, "SKIPUAC") || kel::HasSwitch(params, "PATH");
    opened = log.Open(file, continuing, &problem);
  }
  if (!opened) {
    frontEnd.ShowNotice(kel::kelFormat(byDefault ? "No log can be written in \"%s\" (%s); the setup goes on without it."
                                                 : "The log \"%s\" cannot be written (%s); the setup goes on without it.",
                                       {file, problem}));
    return ReplaceSwitch(params, "LOG", "");
  }
  if (byDefault) frontEnd.ShowNotice("The log of this run is written to \"" + log.Path() + "\".");
  WriteLogHeader(log, params);
  return ReplaceSwitch(params, "LOG", log.Path());
}

// What the session made of the command line and found in the destination.
void WriteRunInfo(TSetupLog& log, TSetup& session) {
  TSetupProductInfo& product = session.Product();
  log.Write("Product: " + product.GetName() + " " + product.GetFullVersion() + " (" + product.GetVersionNo() +
            ")");
  std::string flags;
  const char* names[] = {"AUTO", "PORTABLE", "UPDATE", "SILENT", "RUN", "NOBACKUP"};
  for (int bit = sfAUTO; bit <= sfNOBACKUP; ++bit)
    if (session.HasFlag(bit)) flags += std::string(flags.empty() ? "" : " ") + names[bit];
  log.Write(std::string("Mode: ") + (session.Mode() == TSetupMode::Install ? "install" : "uninstall") +
            "; flags: " + (flags.empty() ? "none" : flags));
  std::string destination = "Destination: " + session.DestPath();
  if (session.Mode() == TSetupMode::Install && session.RequestedDestPath() != session.DestPath())
    destination += " (asked for: " + session.RequestedDestPath() + ")";
  log.Write(destination);
  const int installed = product.GetInstalledVersion();
  log.Write("Installed version found there: " +
            (installed > 0 ? TSetupProductInfo::FormatVersionId(installed) : std::string("none")));
}

int Run(ISetupFrontEnd& frontEnd, TSetupLog& log) {
  const std::string params = kel::GetCommandLineParams();
  if (!TSetupProductInfo::RegisteredClass()) throw EInstallerGeneralError("Setup is malformed");
  if (IsHelpRequest(params)) {
    frontEnd.ShowHelp(SwitchesHelp(kel::kelExtractFileName(kel::platform::ExecutablePath())));
    return secSuccess;
  }
  CheckCommandLine(params);

  // The elevated copy of a relaunch got its environment from the user who
  // asked for the rights: it keeps only what it needs of it, first.
  std::string handle;
  const bool relaunched = kel::HasSwitch(params, "SKIPUAC", handle);
  if (std::string problem; relaunched && !kel::platform::BuildElevatedEnvironment(&problem))
    throw EInstallerGeneralError(problem);
  const std::string handedOn = OpenRunLog(log, params, frontEnd);

  if (IsUacSystem()) {
    if (relaunched)
      TSetupSpawnService::Initialize(ParseHandle(handle));
    else if (!kel::platform::IsElevated())
      return RelaunchElevated(handedOn, log);
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
      return RelocateUninstaller(handedOn, log);
    }
  }

  WriteRunInfo(log, session);
  session.AttachLog(log);
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
  TSetupLog log;
  int code = secFailed;
  try {
    code = Run(frontEnd, log);
  } catch (const kel::Exception& e) {
    log.Write("Error: " + e.Message());
    frontEnd.ShowError(e.Message());
  } catch (const std::exception& e) {
    // Not an error of ours (out of memory, a library's failure): still
    // shown, never a silent crash.
    log.Write(std::string("Error: ") + e.what());
    frontEnd.ShowError(e.what());
  }
  log.Write("Exit status " + std::to_string(code) + " (" + ExitStatusMeaning(code) + ")");
  if (const std::string problem = log.Problem(); !problem.empty())
    frontEnd.ShowNotice(kel::kelFormat("The log \"%s\" could not be written to the end (%s).", {log.Path(), problem}));
  TSetupSpawnService::Finalize();
  return code;
}

}  // namespace setup
