#pragma once

// Connections to the X server for the desktop queries, private to the
// platform layer.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kvplatform/base/Result.h"
#include "kvplatform/display/Screen.h"

// Xlib defines Status (and None, True, False, Success) as macros. Every X
// header is included here, after the project's own, and the one macro that
// collides with the project's type is removed again.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#undef Status

namespace kv::platform {

struct DisplayCloser {
  void operator()(Display* display) const;
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

// The display named by DISPLAY, or empty when it is unset.
std::string DisplayName();

// Connects to `name`, giving up after `timeout`: a server that accepts the
// connection but never answers (a stopped server, a dead tunnel) must not
// hang the caller. Fails with a message naming the display. A connection
// whose server goes away later does not end the program (as Xlib would):
// its calls then do nothing, and ConnectionLost tells.
[[nodiscard]] Result<DisplayHandle> OpenDisplay(const std::string& name, std::chrono::milliseconds timeout);

// True when the server of `display` went away while it was in use.
bool ConnectionLost(Display* display);

// The names of the active RandR outputs (connectors such as "HDMI-1"), in
// the server's order; empty without RandR or when the connection is lost.
std::vector<std::string> ActiveOutputNames(Display* display, Window root);

// The number of virtual desktops the window manager announces; 1 when none
// is announced.
int WorkspaceCount(Display* display, Window root);

// The primary output's rectangle in root coordinates, or the root window's
// when RandR names no active primary output.
ScreenRect PrimaryMonitor(Display* display, Window root);

// The band panels reserve on `monitor` (root coordinates): the struts of the
// dock windows intersected with it, else, when `desktopWorkArea`, what the
// desktop's work areas leave of it. Empty when nothing is reserved there.
std::optional<Taskbar> FindTaskbar(Display* display, Window root, const ScreenRect& monitor, bool desktopWorkArea);

// While it lives, X protocol errors on any connection are counted instead of
// ending the program (Xlib's default handler exits).
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Waits for every request so far and answers how many failed.
  int Sync();

 private:
  Display* display_;
  int (*previous_)(Display*, XErrorEvent*);
};

}  // namespace kv::platform
