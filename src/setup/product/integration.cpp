// The desktop integration of an installation: the product's helper program
// registers file types and the player as a default application, shortcuts
// are written, and the desktop is told that associations changed.
#include <algorithm>

#include "kel/base/file_system.h"
#include "kel/base/ini_file.h"
#include "kel/base/shell.h"
#include "kel/base/text.h"
#include "kel/platform/process.h"
#include "setup/core/extract.h"
#include "setup/core/resources.h"
#include "setup/core/script.h"
#include "setup/core/session.h"
#include "setup/core/summary.h"
#include "setup/core/users.h"
#include "setup/product/actions.h"

namespace setup {

namespace {

struct TIntegrationOptions {
  bool IntegrateToWindows;
  bool RegisterContextMenu;
  bool AssociateWithFiles;
};

TIntegrationOptions ReadIntegrationOptions(const kel::TKELIniFile& settings) {
  return {settings.ReadBool("Integration", "IntegrateToWindows", true),
          settings.ReadBool("Integration", "RegisterContextMenu", true),
          settings.ReadBool("Integration", "AssociateWithFiles", true)};
}

struct TShortcutOptions {
  bool Desktop;
  bool StartMenu;
};

// Both default to on, except for a portable installation.
TShortcutOptions ReadShortcutOptions(const kel::TKELIniFile& settings, bool portable) {
  return {settings.ReadBool("Integration", "ShortcutDesktop", !portable),
          settings.ReadBool("Integration", "ShortcutStartMenu", !portable)};
}

// A path that names a place by itself. A script path whose variable is not
// known (they are replaced case-sensitively) stays relative and would land
// in whatever the current folder is.
bool IsAbsolute(const std::string& path) {
  return (!path.empty() && path.front() == '/') || !kel::kelExtractFileDrive(path).empty();
}

bool AtLeast(const kel::platform::OsVersion& version, uint32_t major, uint32_t minor) {
  return version.major > major || (version.major == major && version.minor >= minor);
}

// One entry of the script's shortcuts: its name is the shortcut file, its
// source the target. Entries under none of the allowed roots are skipped,
// and so are (before their folder is made) entries with a missing target
// or, when only programs get shortcuts, a target that is no program. A
// shortcut that already leads to the target is left as it is. A shortcut
// on a user's desktop, and a folder made for it, belong to that user.
void CreateShortcut(const TSetupResources& resources, const TSetupUserFiles& userFiles, const TSetupScriptFile& item,
                    const kel::TKELStringList& allowedRoots, bool programsOnly) {
  const std::string upper = kel::kelUpperCase(item.Name);
  if (std::none_of(allowedRoots.Items().begin(), allowedRoots.Items().end(),
                   [&](const auto& root) { return upper.find(root.text) != std::string::npos; }))
    return;
  const std::string target = resources.ExpandPath(item.SourceName());
  const std::string link = resources.ExpandPath(item.Name);
  if (!IsAbsolute(target) || !IsAbsolute(link) || !kel::kelFileExists(target)) return;
  if (programsOnly && !kel::platform::IsExecutableFile(target)) return;
  if (!userFiles.ForceFolders(kel::kelExtractFilePath(link))) return;
  if (userFiles.ReadShortcutTarget(link) == target) return;
  userFiles.WriteShortcut(link, target);  // a failure skips the entry
}

}  // namespace

// --- Integration through the helper ----------------------------------------------

void TSetupActionIntegrate::Execute() {
  const std::string helper = Session().DestPath() + "Elevator";
  if (!kel::kelFileExists(helper)) return;
  const TIntegrationOptions options = ReadIntegrationOptions(Settings());
  std::string switches;
  if (options.IntegrateToWindows) switches += " /REG=L1 /REG=D1 /REG=R1";
  if (options.RegisterContextMenu) switches += " /REG=M1";
  if (options.AssociateWithFiles) {
    switches += " /REG=R2";
    // Since Windows 8 the user confirms the default application in the
    // system's own dialog, which an unattended run must not open.
    if (AtLeast(kel::platform::GetOsVersion(), 6, 2) && !Session().HasFlag(sfAUTO)) switches += " /REG_UI";
  }
  if (switches.empty()) return;
  // The path is quoted so that no shorter executable prefix of it (a program
  // named like a part of the folder) can be taken for the helper. A path
  // holding a quote cannot be quoted; the helper is then found by the
  // shortest executable prefix of the line.
  const bool quotable = helper.find('"') == std::string::npos;
  RunAndWait((quotable ? "\"" + helper + "\"" : helper) + switches);
}

void TSetupActionIntegrate::Summarize(TSetupSummaryBuilder& builder) {
  const TIntegrationOptions options = ReadIntegrationOptions(Settings());
  builder.SetHeading("PageIntegration", "LB2");
  if (options.IntegrateToWindows) builder.AddItem("PageIntegration", "CB4");
  if (options.RegisterContextMenu) builder.AddItem("PageIntegration", "CB5");
  if (options.AssociateWithFiles) builder.AddItem("PageIntegration", "CB3");
}

// --- Shortcuts --------------------------------------------------------------------

void TSetupActionShortcuts::Execute() {
  ReportStatus(GetCommonText("A2"));
  const TShortcutOptions options = ReadShortcutOptions(Settings(), Session().HasFlag(sfPORTABLE));
  AllowedRoots.Clear();
  if (options.Desktop) AllowedRoots.Add("$DESKTOP");
  if (options.StartMenu) AllowedRoots.Add("$STARTMENU");
  // From Windows 8 on only programs get shortcuts; documents are left to
  // the desktop's own associations.
  const bool programsOnly = AtLeast(kel::platform::GetOsVersion(), 6, 2);

  const TSetupUserFiles userFiles;
  const TSetupScriptGroup& shortcuts = Script().Shortcuts;
  const int count = shortcuts.Count();
  for (int i = 0; i < count; ++i) {
    CreateShortcut(Resources(), userFiles, shortcuts[i], AllowedRoots, programsOnly);
    SetProgress((i + 1) * 100 / count);
  }
}

void TSetupActionShortcuts::Summarize(TSetupSummaryBuilder& builder) {
  const TShortcutOptions options = ReadShortcutOptions(Settings(), Session().HasFlag(sfPORTABLE));
  builder.SetHeading("PageIntegration", "LB1");
  if (options.Desktop) builder.AddItem("PageIntegration", "CB1");
  if (options.StartMenu) builder.AddItem("PageIntegration", "CB2");
}

// --- Desktop cache ------------------------------------------------------------------

// The notice returns when the desktop's databases have been rebuilt, so no
// time for the desktop to catch up is needed afterwards.
void TSetupActionUpdateShellCache::Execute() { kel::kelShellNotifyAssociationsChanged(); }

}  // namespace setup
