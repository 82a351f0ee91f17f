// Starting a program with administrator rights, as the elevation prompt of
// the desktop does it.
//
// Result contract: nothing throws; the result tells whether the program ran,
// whether the user refused, and its exit code.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kel::platform {

struct ElevatedRun {
  bool started = false;  // the program ran with administrator rights
  bool refused = false;  // the user dismissed the prompt or was not authorized
  int exitCode = 0;      // the program's exit code, when it ran
  std::string error;     // why nothing could be started
};

// The program that asks for the rights: ORVI_SETUP_PKEXEC when set (tests
// name a stand-in there), else pkexec, else sudo ("sudo -A" when
// SUDO_ASKPASS is set, plain sudo when standard input is a terminal).
inline constexpr const char* kElevatorVariable = "ORVI_SETUP_PKEXEC";

// Runs `program` (an absolute path) with `arguments` with administrator
// rights and waits for it to end, calling `whileWaiting` between checks
// (it should wait up to 100 milliseconds for work of its own; without it the
// wait sleeps 100 milliseconds between checks). pkexec clears the environment, so the display
// (DISPLAY, XAUTHORITY, WAYLAND_DISPLAY, XDG_RUNTIME_DIR,
// DBUS_SESSION_BUS_ADDRESS), the language (LANG, LANGUAGE, LC_*) and the
// setup's own variables (ORVI_SETUP_*, TMPDIR) are handed on through `env`:
// an elevated wizard can still open its window. pkexec's exits 126 (dialog
// dismissed) and 127 (not authorized) count as refused; a stand-in named by
// ORVI_SETUP_PKEXEC reports a refusal the same way.
ElevatedRun RunElevated(const std::string& program, const std::vector<std::string>& arguments,
                        const std::function<void()>& whileWaiting);

}  // namespace kel::platform
