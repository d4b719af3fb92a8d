#pragma once
// Whether a run may use the window system. Console paths (/GUI=0, and a run
// whose command starts a pass) never need a display; only a run that may open
// the main window (no command, or a command without both table and field,
// with interactive mode on) uses message boxes, the login dialog and the window,
// and only when a display is there. Nothing here needs Qt.

#include <string>
#include <vector>

namespace tersify::gui {

// True when the command line leaves interactive mode on and does not start a
// pass at once (so the main window may open).
bool RunMayOpenWindow(const std::vector<std::string>& Args);

// True when QT_QPA_PLATFORM names a platform, WAYLAND_DISPLAY is set, or
// DISPLAY names an X server that can be reached. A local X display (":N",
// "unix:N") is reached through its socket /tmp/.X11-unix/XN; a display on
// another host is taken as reachable. Qt ends the process when it cannot open
// its display, so an X server that is not there counts as no display.
bool DisplayAvailable();

// Whether the X server that display (a DISPLAY value) names accepts a connection.
bool XDisplayReachable(const std::string& display);

}  // namespace tersify::gui
