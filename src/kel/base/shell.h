// Shell services: opening documents, links and programs; special folders;
// shortcuts; the notice that file associations changed; file operations on
// lists of paths; loading libraries.
//
// On Linux: opening runs executable files with their parameters and hands
// everything else to xdg-open; shortcuts are freedesktop `.desktop` files
// (give link files that extension); the association notice runs
// update-desktop-database; file operations never use a trash folder.
//
// Result contract: every routine reports failure through its result (false,
// "", nullptr) and never throws. The special-folder routines never fail:
// when a folder cannot be told they give the temporary folder.
#pragma once

#include <cstdint>
#include <string>

#include "kel/platform/library.h"

namespace kel {

// --- Opening ------------------------------------------------------------------

// Opens a file, folder, program or URL. Programs (executable files, or names
// found in $PATH) start with `parameters`, which are split into arguments by
// the Windows rules; other targets go to xdg-open. True when the program
// started or the opener reported success. "" gives false.
bool kelShellExecute(const std::string& file, const std::string& parameters);
bool kelShellExecute(const std::string& file);
// Opens a text that contains "//" or names an existing folder as it is;
// anything else with "http://" in front. "" gives false.
bool kelShellExecuteUrl(const std::string& text);

// --- Special folders ------------------------------------------------------------

// The classic folder ids (see kel/platform/well_known_folders.h for what each is
// on Linux).
inline constexpr int CSIDL_DESKTOP = 0;
inline constexpr int CSIDL_PROGRAMS = 2;
inline constexpr int CSIDL_PERSONAL = 5;
inline constexpr int CSIDL_STARTMENU = 11;
inline constexpr int CSIDL_MYMUSIC = 13;
inline constexpr int CSIDL_MYVIDEO = 14;
inline constexpr int CSIDL_DESKTOPDIRECTORY = 16;
inline constexpr int CSIDL_COMMON_STARTMENU = 22;
inline constexpr int CSIDL_COMMON_PROGRAMS = 23;
inline constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 25;
inline constexpr int CSIDL_APPDATA = 26;
inline constexpr int CSIDL_LOCAL_APPDATA = 28;
inline constexpr int CSIDL_COMMON_APPDATA = 35;
inline constexpr int CSIDL_SYSTEM = 37;
inline constexpr int CSIDL_PROGRAM_FILES = 38;
inline constexpr int CSIDL_MYPICTURES = 39;

// The folder with a trailing delimiter; the temporary folder for an unknown
// id or a folder that cannot be told. Nothing is created.
std::string kelShellGetSpecialFolder(int folderId);
std::string kelShellGetAppData();    // CSIDL_APPDATA
std::string kelShellGetDesktop();    // CSIDL_DESKTOP
std::string kelShellGetStartMenu();  // CSIDL_STARTMENU
// The folder of the system's programs (/usr/bin/).
std::string kelShellGetSystemDir();

// --- Shortcuts --------------------------------------------------------------------

// Writes a shortcut to `target`, only when the target file exists. The
// shortcut's name is the link file's name without extension.
bool kelShellCreateLink(const std::string& linkFile, const std::string& target);
// The target a shortcut points at, exactly as kelShellCreateLink was given
// it; "" when the file is missing or no shortcut.
std::string kelShellGetLinkTarget(const std::string& linkFile);

// --- Libraries ----------------------------------------------------------------------

using TKELModule = platform::LibraryHandle;

// Loads a library file with all its symbols bound; nullptr when it cannot be
// loaded. `flags` are the Windows loader's and have no Linux counterpart;
// they are accepted and not used. (Linux resolves a library's dependencies
// through its own search path, so the current folder is not changed.)
TKELModule kelLoadLibrary(const std::string& path, uint32_t flags = 0);
void* kelGetProcAddress(TKELModule module, const char* name);
void kelFreeLibrary(TKELModule module);

// --- Notices and file operations ----------------------------------------------------

// Tells the desktop that applications or file associations changed; returns
// when the desktop's databases are up to date.
void kelShellNotifyAssociationsChanged();

// Operations and flags of kelShellFileOperation.
enum : int { foMove = 0, foCopy = 1, foDelete = 2, foRename = 3 };
enum : uint32_t { fofAllowUndo = 1, fofSilent = 2, fofNoConfirmation = 4 };

// Result codes kept by kelShellFileOperation.
enum : int { kelFoDone = 0, kelFoBadArguments = 1, kelFoNoSource = 2, kelFoFailed = 3 };

// Moves, copies, deletes or renames. `from` and `to` are lists of paths
// separated by CR LF (an empty entry ends a list); names in `from` may hold
// wildcards. Move and copy take one destination: a folder (created when
// needed) when there are several sources or it exists, else the new name of
// the one source. Folders are copied, moved and deleted with everything in
// them; existing files are replaced; nothing asks and nothing goes to a
// trash (`flags` are accepted for their meaning on other systems). The first
// failure ends the operation. True when everything was done; the code is
// kept for kelShellFileOperationResult.
bool kelShellFileOperation(const std::string& from, const std::string& to, int operation, uint32_t flags);
int kelShellFileOperationResult();
// Deletes a folder with everything in it.
bool kelShellDeleteFolder(const std::string& path, uint32_t flags);

}  // namespace kel
