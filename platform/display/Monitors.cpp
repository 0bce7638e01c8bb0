#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "WaylandMonitors.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/display/Screen.h"

// Last: it brings in the X headers and their macros.
#include "X11Display.h"

namespace kv::platform {
namespace {

constexpr std::int32_t kMaxSide = 32767;

// A decimal number from 0 to 32767, or -1.
std::int32_t Number(std::string_view digits) {
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos) return -1;
  int value = std::stoi(std::string(digits));
  return value <= kMaxSide ? value : -1;
}

// One item "WIDTHxHEIGHT" or "WIDTHxHEIGHT+X+Y".
std::optional<Monitor> ParseItem(std::string_view item) {
  auto cross = item.find('x');
  if (cross == std::string_view::npos) return std::nullopt;
  std::string_view rest = item.substr(cross + 1);
  auto plus = rest.find('+');
  std::int32_t width = Number(item.substr(0, cross));
  std::int32_t height = Number(rest.substr(0, plus));
  std::int32_t x = 0, y = 0;
  if (plus != std::string_view::npos) {
    std::string_view offsets = rest.substr(plus + 1);
    auto second = offsets.find('+');
    if (second == std::string_view::npos) return std::nullopt;
    x = Number(offsets.substr(0, second));
    y = Number(offsets.substr(second + 1));
  }
  if (width < 1 || height < 1 || x < 0 || y < 0 || x + width > kMaxSide || y + height > kMaxSide) return std::nullopt;
  Monitor monitor;
  monitor.rect = {x, y, x + width, y + height};
  return monitor;
}

std::vector<Monitor> DefaultMonitors() {
  Monitor monitor;
  monitor.rect = {0, 0, 1920, 1080};
  monitor.primary = true;
  return {monitor};
}

// The monitors of the X server, from its RandR monitor list (which also
// holds the virtual monitors `xrandr --setmonitor` defines), the primary
// first; empty when the server names fewer than two.
std::vector<Monitor> XMonitors(Display* display, Window root) {
  std::vector<Monitor> monitors;
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (ConnectionLost(display) || !XRRQueryExtension(display, &eventBase, &errorBase) ||
      !XRRQueryVersion(display, &major, &minor) || (major == 1 && minor < 5) || ConnectionLost(display)) {
    return monitors;
  }
  int count = 0;
  XRRMonitorInfo* list = XRRGetMonitors(display, root, True, &count);
  if (!list) return monitors;
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& info = list[i];
    if (info.width <= 0 || info.height <= 0) continue;
    Monitor monitor;
    if (info.name != None) {
      if (char* name = XGetAtomName(display, info.name)) {
        monitor.name = name;
        XFree(name);
      }
    }
    monitor.rect = {info.x, info.y, info.x + info.width, info.y + info.height};
    monitor.primary = info.primary != 0;
    monitors.push_back(std::move(monitor));
  }
  XRRFreeMonitors(list);
  if (monitors.size() < 2) return {};
  std::stable_partition(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.primary; });
  // Only one is primary: the first, also when the server marks none.
  for (std::size_t i = 0; i < monitors.size(); ++i) monitors[i].primary = i == 0;
  for (Monitor& monitor : monitors) monitor.taskbar = FindTaskbar(display, root, monitor.rect, false);
  return monitors;
}

// The one monitor of a single-monitor X display: exactly the screen that
// QueryScreen describes, named after the server's only monitor.
std::vector<Monitor> OneScreen(const std::string& name) {
  ScreenInfo screen = QueryScreen();
  Monitor monitor;
  monitor.rect = {0, 0, screen.width, screen.height};
  monitor.primary = true;
  monitor.taskbar = screen.taskbar;
  if (!name.empty()) monitor.name = name;
  return {monitor};
}

}  // namespace

std::vector<Monitor> HeadlessMonitors() {
  const char* value = std::getenv("KVILLO_SCREEN");
  if (!value || !*value) return DefaultMonitors();
  std::string_view text(value);
  std::vector<Monitor> monitors;
  bool usable = true;
  for (std::size_t start = 0; usable;) {
    auto comma = text.find(',', start);
    std::optional<Monitor> monitor = ParseItem(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (!monitor) usable = false;
    if (monitor) monitors.push_back(*monitor);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (!usable) {
    LogErrorOnce("KVILLO_SCREEN=" + std::string(text) +
                 " is not WIDTHxHEIGHT or a list of WIDTHxHEIGHT+X+Y separated by commas, with every monitor "
                 "inside 32767x32767; using 1920x1080");
    return DefaultMonitors();
  }
  monitors.front().primary = true;
  for (std::size_t i = 0; i < monitors.size(); ++i) monitors[i].name = "screen" + std::to_string(i);
  // A single size keeps its old meaning exactly: a screen at the origin.
  if (monitors.size() == 1) monitors.front().rect = {0, 0, monitors.front().rect.right - monitors.front().rect.left,
                                                     monitors.front().rect.bottom - monitors.front().rect.top};
  return monitors;
}

std::vector<Monitor> QueryMonitors() {
  std::string name = DisplayName();
  if (name.empty()) {
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland) {
      if (auto outputs = QueryWaylandMonitors(); outputs && !outputs->empty()) return *outputs;
    }
    return HeadlessMonitors();
  }
  std::vector<Monitor> monitors;
  std::string onlyName;
  {
    auto display = OpenDisplay(name, std::chrono::seconds(3));
    // A display that cannot be reached is reported by QueryScreen below.
    if (display) {
      Display* connection = display->get();
      ErrorTrap trap(connection);
      Window root = DefaultRootWindow(connection);
      monitors = XMonitors(connection, root);
      if (monitors.empty()) {
        std::vector<std::string> outputs = ActiveOutputNames(connection, root);
        if (outputs.size() == 1) onlyName = outputs.front();
      }
      if (ConnectionLost(connection)) monitors.clear();
    }
  }
  if (monitors.empty()) return OneScreen(onlyName);
  return monitors;
}

}  // namespace kv::platform
