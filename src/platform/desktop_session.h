#pragma once
// Whether a graphical session can be reached, asked before a QApplication exists: Qt ends the
// process when its platform plugin cannot connect, so a desktop mode started without a display
// (an SSH login, cron, a stale DISPLAY) must find that out first and run without a desktop.
#include <string>

namespace pv {

struct DesktopSession {
  bool reachable = false;
  // The Qt platform to ask for ("wayland" where only a Wayland compositor answers); "" leaves
  // Qt's own choice.
  std::string platform;
  // Why none is reachable, for the message that follows.
  std::string reason;
};

// QT_QPA_PLATFORM set: the caller's choice, taken as reachable. Else the X server of DISPLAY
// (its local socket, or TCP 6000 + display for a host, at most one second), then the Wayland
// compositor of WAYLAND_DISPLAY when Qt has a Wayland plugin.
DesktopSession FindDesktopSession();

// The socket path or TCP port of an X display name ("[host]:N[.S]"), pure: host "" for a local
// socket. False for a name that is not one.
struct XDisplayAddress {
  std::string host;  // "" or "unix": /tmp/.X11-unix/X<number>
  int number = 0;
};
bool ParseXDisplay(const std::string& display, XDisplayAddress& address);

}  // namespace pv
