// What the desktop does for programs: opening documents, links and programs,
// shortcuts, and the notice that file associations changed.
//
// Result contract: failures give false or "" and, where `error` is taken,
// the reason. Nothing throws.
#pragma once

#include <string>

namespace kel::platform {

// Opens `target`. An executable file (a path, or a name found in $PATH) is
// started with `parameters`, split into arguments by the Windows rules
// (spaces separate, double quotes group, backslashes escape quotes).
// Anything else (a document, a folder, a URL) goes to `xdg-open`, which gets
// the target alone; false when xdg-open is missing or reports failure within
// a few seconds.
bool ShellOpen(const std::string& target, const std::string& parameters, std::string* error = nullptr);

struct UserAccount;

// Opens `target` as ShellOpen does, but as `user`: a process running as root
// drops to the user's ids and groups, home folder and environment before the
// program or xdg-open runs, so that what is opened gets the user's rights
// only. Any other process (not root, or already that user) simply opens it.
// Whether the opened program worked is not known to the caller.
bool ShellOpenAsUser(const std::string& target, const std::string& parameters, const UserAccount& user,
                     std::string* error = nullptr);

// Tells the desktop that applications and their file associations changed:
// `update-desktop-database` runs on the applications folders that exist (the
// all-users one, and the user's own when this process runs as that user).
// Nothing happens when the tool is missing.
void NotifyApplicationsChanged();

// A shortcut is a freedesktop `.desktop` file: Type=Application, Name= the
// link file's name without extension, Exec= the target, quoted and escaped
// as the Desktop Entry rules demand. The file is written with mode 0755 (desktops
// only start launchers that are executable). The target is not checked here.
bool WriteShortcut(const std::string& linkFile, const std::string& target, std::string* error = nullptr);

// The target of a shortcut: the program of its Exec line (a Type=Link entry
// gives its URL). "" when the file is missing or is no desktop entry.
std::string ReadShortcutTarget(const std::string& linkFile);

class ConfinedFolder;

// The same for a shortcut below a confined folder (confined_folder.h): no
// link on the way is followed, and the shortcut is given to the folder's
// owner; an existing link of that name is replaced, not followed.
bool WriteShortcut(const ConfinedFolder& folder, const std::string& relative, const std::string& target,
                   std::string* error = nullptr);
std::string ReadShortcutTarget(const ConfinedFolder& folder, const std::string& relative);

}  // namespace kel::platform
