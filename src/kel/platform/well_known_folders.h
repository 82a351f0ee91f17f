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

// The value of `key` (e.g. "XDG_DESKTOP_DIR") in the text of a
// user-dirs.dirs file, resolved against `home`: "$HOME/x" gives home + "/x"
// (".." parts cannot leave the home folder), "/x" gives SystemPath("/x").
// "" when the key is missing or its value is neither form. Any bytes are
// accepted.
std::string ParseUserDirs(std::string_view text, std::string_view key, std::string_view home);

}  // namespace kel::platform
