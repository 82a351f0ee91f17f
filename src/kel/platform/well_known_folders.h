// The folders a desktop gives its users and programs. On Linux:
//
//   Desktop, CommonDesktop    the invoking user's XDG desktop folder
//                             (~/.config/user-dirs.dirs, else ~/Desktop)
//   Documents, Music,         the invoking user's XDG folders
//   Pictures, Videos
//   AppData                   ~/.config/
//   LocalAppData              ~/.local/share/
//   Programs, StartMenu       ~/.local/share/applications/
//   CommonPrograms,           /usr/local/share/applications/
//   CommonStartMenu
//   CommonAppData             /var/lib/
//   ProgramFiles              /opt/
//   System                    /usr/bin/
//
// "~" is the home of the user who started the setup (through sudo or pkexec:
// the user who asked for it, never root's). Every path is a system path, so
// the sandbox maps it into DIR.
//
// Result contract: the folder with a trailing '/', or "" when it cannot be
// told (no home). Nothing is created; nothing throws.
#pragma once

#include <string>
#include <string_view>

namespace kel::platform {

enum class SpecialFolder {
  Desktop,
  CommonDesktop,
  Documents,
  Music,
  Pictures,
  Videos,
  AppData,
  LocalAppData,
  Programs,
  StartMenu,
  CommonPrograms,
  CommonStartMenu,
  CommonAppData,
  ProgramFiles,
  System,
};

std::string GetSpecialFolder(SpecialFolder folder);

// Whether a folder (a system path) holds the system or its users' files as
// a whole, so that a program must never be installed into it nor such a
// folder be deleted with a program: "/" and every folder directly below it
// (/opt, /usr, /home, /tmp, ...), every folder directly below /usr, /var and
// /usr/local (/usr/lib, /var/lib, /usr/local/share, ...), and the home of
// every user who can log in and of the user who started the setup. The
// folder counts as written and with its symbolic links resolved (a link to
// /usr is /usr). In the sandbox these are the folders of the sandboxed
// machine; a folder outside the sandbox always counts.
bool IsSystemFolder(const std::string& folder);

// The value of `key` (e.g. "XDG_DESKTOP_DIR") in the text of a
// user-dirs.dirs file, resolved against `home`: "$HOME/x" gives home + "/x"
// (".." parts cannot leave the home folder), "/x" gives SystemPath("/x").
// "" when the key is missing or its value is neither form. Any bytes are
// accepted.
std::string ParseUserDirs(std::string_view text, std::string_view key, std::string_view home);

}  // namespace kel::platform
