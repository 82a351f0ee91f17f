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
// wait sleeps 100 milliseconds between checks). pkexec clears the
// environment, so what the elevated program needs of this session is handed
// on through `env`: the display (DISPLAY, XAUTHORITY, WAYLAND_DISPLAY), the
// session bus and runtime folder (DBUS_SESSION_BUS_ADDRESS,
// XDG_RUNTIME_DIR) and the language (LANG, LANGUAGE, LC_*), so that an
// elevated wizard can still open its window; and, in a sandboxed run, the
// sandbox (which the elevated program honours only as BuildElevatedEnvironment
// says). Nothing else: not TMPDIR, not LD_*, not the program's own testing
// variables. pkexec's exits 126 (dialog dismissed) and 127 (not authorized)
// count as refused; a stand-in named by ORVI_SETUP_PKEXEC reports a refusal
// the same way.
ElevatedRun RunElevated(const std::string& program, const std::vector<std::string>& arguments,
                        const std::function<void()>& whileWaiting);

// The program started by RunElevated calls this before anything else. Its
// environment came from the user who asked for the rights (through pkexec,
// sudo or whatever stands in for them, which may hand on more than
// RunElevated gave), so it is built anew: of what arrived, only the display,
// session bus, runtime folder and language variables above and the invoking
// user's identity (PKEXEC_UID, SUDO_UID, SUDO_GID, SUDO_USER) are kept; PATH
// is the system's, HOME, USER and LOGNAME are those of the account the
// process runs as; everything else goes (TMPDIR, LD_*, ORVI_SETUP_*, ...).
//
// The sandbox is kept too, but a process that runs as root keeps it only
// when the sandbox folder is one that only the administrator may change
// (OnlyAdministratorMayChange in file_details.h), and is not open to
// others' writing even with the sticky bit: otherwise a user could
// point a real elevated run at a folder of theirs, swap its contents while
// root works there and have root write, delete or run what they chose. Then
// the result is false and `problem` says why; the caller must not go on. A
// sandboxed process that is not root has no rights to abuse and keeps its
// sandbox.
bool BuildElevatedEnvironment(std::string* problem);

}  // namespace kel::platform
