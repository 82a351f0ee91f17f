// Top-level windows of the desktop (X11), found by their class: how the
// setup finds the running player and asks it to close.
//
// Result contract: without a display (no DISPLAY, or a server that cannot be
// reached) nothing is found and nothing happens. Nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kel::platform {

using WindowId = uint32_t;

// Whether the display named by DISPLAY accepts a connection (windows can be
// shown there).
bool DisplayReachable();

// Top-level windows whose WM_CLASS class part equals `className` (exactly),
// in the server's stacking order.
std::vector<WindowId> FindTopLevelWindows(const std::string& className);

// Asks the window to close the way a window manager does (WM_DELETE_WINDOW
// when the window takes it, else the connection of its client is closed)
// and returns when the server has delivered the request.
bool CloseWindow(WindowId window);

// The id of the process of this machine that owns the window (_NET_WM_PID,
// unless WM_CLIENT_MACHINE names another host); 0 when it cannot be told.
// The client sets both properties itself: they say which process claims the
// window, not which one created it.
uint32_t WindowProcessId(WindowId window);

// The executable file of the process that owns the window (WindowProcessId,
// then /proc/<pid>/exe); "" when it cannot be told.
std::string WindowProcessExecutable(WindowId window);

}  // namespace kel::platform
