#pragma once
// Whether a run may use the window system. A run in interactive mode (the
// default) talks to the user through it when a display is there: the login
// dialog, message boxes and, without a complete command, the main window. A
// console run (/GUI=0), and any run without a display, never needs one.
// Nothing here needs Qt.

#include <string>
#include <vector>

namespace tersify::gui {

// True when the command line leaves interactive mode on, asks for neither
// help nor the version, and holds no argument the run refuses.
bool RunIsInteractive(const std::vector<std::string>& Args);

// True when QT_QPA_PLATFORM names a platform, WAYLAND_DISPLAY is set, or
// DISPLAY names an X server that can be reached. A local X display (":N",
// "unix:N") is reached through its socket /tmp/.X11-unix/XN; a display on
// another host is taken as reachable. Qt ends the process when it cannot open
// its display, so an X server that is not there counts as no display.
bool DisplayAvailable();

// Whether the X server that display (a DISPLAY value) names accepts a connection.
bool XDisplayReachable(const std::string& display);

}  // namespace tersify::gui
