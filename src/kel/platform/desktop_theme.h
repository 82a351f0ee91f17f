// The desktop's colour-scheme preference: whether the user asked for dark
// applications, read at start and followed while the program runs.
//
// Linux: the freedesktop appearance setting ("org.freedesktop.appearance",
// "color-scheme": 1 prefers dark) of the desktop portal, over the session
// bus; when no portal answers, GNOME's "org.gnome.desktop.interface"
// "color-scheme" ("prefer-dark"). Only the portal reports changes.
//
// Result contract: nothing throws. Without a session bus, a portal or the
// GNOME setting the preference is light, and no change is ever reported.
#pragma once

#include <memory>

namespace kel::platform {

class DesktopColorScheme {
 public:
  // Reads the preference and subscribes to its changes. Waits at most a
  // couple of seconds for a portal that does not answer.
  DesktopColorScheme();
  ~DesktopColorScheme();
  DesktopColorScheme(const DesktopColorScheme&) = delete;
  DesktopColorScheme& operator=(const DesktopColorScheme&) = delete;

  bool PrefersDark() const { return dark_; }

  // A file descriptor that becomes readable when news of the preference may
  // have arrived; -1 when changes are not followed (or no longer: the bus
  // went away).
  int ChangeDescriptor() const;
  // Takes in what arrived, without waiting; true when the preference
  // changed.
  bool ProcessChanges();

 private:
  struct Bus;
  std::unique_ptr<Bus> bus_;
  bool dark_ = false;
};

}  // namespace kel::platform
