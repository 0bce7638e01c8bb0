#include "kvplatform/display/Screen.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "kvplatform/base/Log.h"

// Last: it brings in the X headers and their macros.
#include "X11Display.h"

namespace kv::platform {
namespace {

constexpr std::int32_t kMaxSide = 32767;

// The 32-bit items of a window property (Xlib hands them over as longs).
std::vector<long> CardinalProperty(Display* display, Window window, const char* name, Atom type, long count) {
  std::vector<long> values;
  Atom property = XInternAtom(display, name, True);
  if (property == None) return values;
  Atom actualType = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, count, False, type, &actualType, &format, &items, &after,
                         &data) == Success &&
      data) {
    if (actualType == type && format == 32) {
      const long* longs = reinterpret_cast<const long*>(data);
      values.assign(longs, longs + items);
    }
    XFree(data);
  }
  return values;
}

// The widest band reserved at each edge of the monitor, indexed by TaskbarEdge.
struct Reservations {
  std::array<std::int32_t, 4> extent{};
  std::array<ScreenRect, 4> band{};

  void Offer(std::int32_t edge, const ScreenRect& rect) {
    std::int32_t thickness = (edge == kTaskbarLeft || edge == kTaskbarRight) ? rect.right - rect.left
                                                                              : rect.bottom - rect.top;
    if (rect.right <= rect.left || rect.bottom <= rect.top || thickness <= extent[static_cast<std::size_t>(edge)]) {
      return;
    }
    extent[static_cast<std::size_t>(edge)] = thickness;
    band[static_cast<std::size_t>(edge)] = rect;
  }

  std::optional<Taskbar> Largest() const {
    std::optional<Taskbar> best;
    std::int32_t bestExtent = 0;
    // On a tie the bottom edge wins, then top, right, left: where panels usually are.
    for (std::int32_t edge : {kTaskbarBottom, kTaskbarTop, kTaskbarRight, kTaskbarLeft}) {
      if (extent[static_cast<std::size_t>(edge)] > bestExtent) {
        bestExtent = extent[static_cast<std::size_t>(edge)];
        best = Taskbar{edge, band[static_cast<std::size_t>(edge)]};
      }
    }
    return best;
  }
};

ScreenRect Intersect(const ScreenRect& a, const ScreenRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

std::int32_t Clamp(long value) { return static_cast<std::int32_t>(std::clamp<long>(value, -kMaxSide * 4L, kMaxSide * 4L)); }

// Struts are distances from the root window's edges, each with the range
// along that edge it covers (inclusive ends).
void OfferStrut(Reservations& reservations, const std::vector<long>& strut, const ScreenRect& monitor,
                std::int32_t rootWidth, std::int32_t rootHeight) {
  if (strut.size() < 4) return;
  bool partial = strut.size() >= 12;
  auto range = [&](std::size_t start, std::int32_t whole) {
    return partial ? std::pair<std::int32_t, std::int32_t>{Clamp(strut[start]), Clamp(strut[start + 1]) + 1}
                   : std::pair<std::int32_t, std::int32_t>{0, whole};
  };
  auto [leftFrom, leftTo] = range(4, rootHeight);
  auto [rightFrom, rightTo] = range(6, rootHeight);
  auto [topFrom, topTo] = range(8, rootWidth);
  auto [bottomFrom, bottomTo] = range(10, rootWidth);
  std::int32_t left = Clamp(strut[0]), right = Clamp(strut[1]), top = Clamp(strut[2]), bottom = Clamp(strut[3]);
  if (left > 0) reservations.Offer(kTaskbarLeft, Intersect({0, leftFrom, left, leftTo}, monitor));
  if (right > 0) {
    reservations.Offer(kTaskbarRight, Intersect({rootWidth - right, rightFrom, rootWidth, rightTo}, monitor));
  }
  if (top > 0) reservations.Offer(kTaskbarTop, Intersect({topFrom, 0, topTo, top}, monitor));
  if (bottom > 0) {
    reservations.Offer(kTaskbarBottom, Intersect({bottomFrom, rootHeight - bottom, bottomTo, rootHeight}, monitor));
  }
}

// What a work area leaves of the monitor, as bands at its four edges.
void OfferWorkArea(Reservations& reservations, const ScreenRect& area, const ScreenRect& monitor) {
  ScreenRect inside = Intersect(area, monitor);
  if (inside.right <= inside.left || inside.bottom <= inside.top) return;
  reservations.Offer(kTaskbarLeft, {monitor.left, monitor.top, inside.left, monitor.bottom});
  reservations.Offer(kTaskbarRight, {inside.right, monitor.top, monitor.right, monitor.bottom});
  reservations.Offer(kTaskbarTop, {monitor.left, monitor.top, monitor.right, inside.top});
  reservations.Offer(kTaskbarBottom, {monitor.left, inside.bottom, monitor.right, monitor.bottom});
}

bool IsDock(Display* display, Window window) {
  Atom dock = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DOCK", True);
  if (dock == None) return false;
  for (long type : CardinalProperty(display, window, "_NET_WM_WINDOW_TYPE", XA_ATOM, 32)) {
    if (static_cast<Atom>(type) == dock) return true;
  }
  return false;
}

}  // namespace

std::optional<Taskbar> FindTaskbar(Display* display, Window root, const ScreenRect& monitor, bool desktopWorkArea) {
  const std::int32_t rootWidth = DisplayWidth(display, DefaultScreen(display));
  const std::int32_t rootHeight = DisplayHeight(display, DefaultScreen(display));

  Reservations struts;
  for (long client : CardinalProperty(display, root, "_NET_CLIENT_LIST", XA_WINDOW, 4096)) {
    auto window = static_cast<Window>(client);
    if (!IsDock(display, window)) continue;
    std::vector<long> strut = CardinalProperty(display, window, "_NET_WM_STRUT_PARTIAL", XA_CARDINAL, 12);
    if (strut.size() < 12) strut = CardinalProperty(display, window, "_NET_WM_STRUT", XA_CARDINAL, 4);
    OfferStrut(struts, strut, monitor, rootWidth, rootHeight);
  }
  if (auto taskbar = struts.Largest()) return taskbar;
  if (!desktopWorkArea) return std::nullopt;

  // Without dock windows to ask, the work areas the desktop publishes: per
  // monitor where it says so, else per virtual desktop.
  std::vector<long> areas = CardinalProperty(display, root, "_GTK_WORKAREAS_D0", XA_CARDINAL, 4 * 64);
  if (areas.size() < 4) {
    std::vector<long> all = CardinalProperty(display, root, "_NET_WORKAREA", XA_CARDINAL, 4 * 64);
    std::vector<long> current = CardinalProperty(display, root, "_NET_CURRENT_DESKTOP", XA_CARDINAL, 1);
    std::size_t desktop = current.empty() ? 0 : static_cast<std::size_t>(std::max(0L, current[0]));
    if (all.size() >= 4 * (desktop + 1)) {
      areas.assign(all.begin() + static_cast<std::ptrdiff_t>(4 * desktop), all.begin() + static_cast<std::ptrdiff_t>(4 * desktop + 4));
    } else if (all.size() >= 4) {
      areas.assign(all.begin(), all.begin() + 4);
    }
  }
  // The work area that overlaps the monitor most is the monitor's.
  std::optional<ScreenRect> best;
  std::int64_t bestOverlap = 0;
  for (std::size_t i = 0; i + 3 < areas.size(); i += 4) {
    ScreenRect area{Clamp(areas[i]), Clamp(areas[i + 1]), Clamp(areas[i] + areas[i + 2]), Clamp(areas[i + 1] + areas[i + 3])};
    ScreenRect inside = Intersect(area, monitor);
    std::int64_t overlap = std::int64_t{std::max(0, inside.right - inside.left)} * std::max(0, inside.bottom - inside.top);
    if (overlap > bestOverlap) bestOverlap = overlap, best = area;
  }
  if (!best) return std::nullopt;
  Reservations work;
  OfferWorkArea(work, *best, monitor);
  return work.Largest();
}

ScreenInfo HeadlessScreen() {
  // A list of monitors makes the first (the primary) the screen.
  const ScreenRect first = HeadlessMonitors().front().rect;
  return ScreenInfo{first.right - first.left, first.bottom - first.top, std::nullopt};
}

ScreenInfo QueryScreen() {
  std::string name = DisplayName();
  if (name.empty()) return HeadlessScreen();
  auto display = OpenDisplay(name, std::chrono::seconds(3));
  if (!display) {
    ScreenInfo fallback = HeadlessScreen();
    LogError(display.error().message + "; making the wallpaper " + std::to_string(fallback.width) + "x" +
             std::to_string(fallback.height) + " without a taskbar");
    return fallback;
  }
  Display* connection = display->get();
  ErrorTrap trap(connection);
  Window root = DefaultRootWindow(connection);
  ScreenRect monitor = PrimaryMonitor(connection, root);
  ScreenInfo info;
  info.width = std::clamp(monitor.right - monitor.left, 1, kMaxSide);
  info.height = std::clamp(monitor.bottom - monitor.top, 1, kMaxSide);
  // A window that vanishes while it is read raises an error that the trap
  // swallows; what was gathered is still the best answer there is.
  info.taskbar = FindTaskbar(connection, root, monitor, true);
  if (ConnectionLost(connection)) {
    ScreenInfo fallback = HeadlessScreen();
    LogError("the connection to the X display \"" + name + "\" was lost; making the wallpaper " +
             std::to_string(fallback.width) + "x" + std::to_string(fallback.height) + " without a taskbar");
    return fallback;
  }
  return info;
}

}  // namespace kv::platform
