#pragma once

// The display a wallpaper is made for: the primary screen's size and the
// band that a taskbar (panel, dock) reserves on it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::platform {

// The edges as the taskbar query numbers them.
enum TaskbarEdge : std::int32_t {
  kTaskbarLeft = 0,
  kTaskbarTop = 1,
  kTaskbarRight = 2,
  kTaskbarBottom = 3,
};

struct ScreenRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;   // exclusive
  std::int32_t bottom = 0;  // exclusive
};

struct Taskbar {
  std::int32_t edge = kTaskbarLeft;
  ScreenRect rect;  // the reserved band, in screen pixels
};

struct ScreenInfo {
  std::int32_t width = 0;
  std::int32_t height = 0;
  // The reservation with the largest extent on the primary screen; empty
  // without a display, without a panel, or when the query failed.
  std::optional<Taskbar> taskbar;
};

// One monitor of the virtual screen, in physical pixels.
struct Monitor {
  std::string name;  // the connector ("HDMI-1", "DP-2"); empty when unknown
  ScreenRect rect;   // where the monitor sits in the virtual screen
  bool primary = false;
  // The band a taskbar reserves on this monitor, in virtual-screen pixels.
  std::optional<Taskbar> taskbar;
};

// The primary screen. With DISPLAY set it is asked of the X server: the
// primary XRandR output, else the root window; and the struts of the dock
// windows (else the work areas) for the taskbar. Without DISPLAY, or when
// the display cannot be reached (one line on stderr), the size is
// KVILLO_SCREEN=WIDTHxHEIGHT, else 1920x1080, and there is no taskbar.
ScreenInfo QueryScreen();

// True once the X session this program worked with has ended: a connection
// to its server broke while in use, or the display refused a connection
// after it had accepted one (the user logged off). A display that was never
// reached, or one that is only slow, does not count.
bool DisplayWasLost();

// The size used without a display: KVILLO_SCREEN when it is WIDTHxHEIGHT
// with both in 1..32767 (of a list, the first monitor), else 1920x1080.
ScreenInfo HeadlessScreen();

// Every monitor the wallpaper is made for, the primary first (exactly one
// is primary), never empty. With DISPLAY set: the X server's RandR monitors
// (virtual ones made with `xrandr --setmonitor` included), each with the
// band the dock windows' struts reserve on it; a server with one monitor
// gives exactly QueryScreen's answer. Without DISPLAY: the outputs of the
// Wayland compositor when WAYLAND_DISPLAY is set and it answers (no
// taskbar), else HeadlessMonitors().
std::vector<Monitor> QueryMonitors();

// The monitors without a display: KVILLO_SCREEN as WIDTHxHEIGHT (one screen,
// as HeadlessScreen) or a comma-separated list of WIDTHxHEIGHT+X+Y (the
// first is primary; named "screen0", "screen1", ...). Anything else is one
// line on stderr and a single 1920x1080 screen.
std::vector<Monitor> HeadlessMonitors();

}  // namespace kv::platform
