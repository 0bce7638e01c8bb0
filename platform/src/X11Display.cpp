#include "X11Display.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

namespace kv::platform {
namespace {

int trappedErrors = 0;

int CountError(Display*, XErrorEvent*) {
  ++trappedErrors;
  return 0;
}

// Connections whose server went away while in use. Never destroyed: a
// helper abandoned by OpenDisplay may still be running while the program
// ends.
std::mutex& LostMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::set<const Display*>& LostConnections() {
  static auto* lost = new std::set<const Display*>;
  return *lost;
}

// Xlib's default reaction to a lost connection is to print a line and end
// the whole program. A wallpaper that cannot be set must not end the
// service: the loss is remembered, the connection's calls become no-ops,
// and the caller reports it.
int QuietIOError(Display*) { return 0; }
void KeepRunning(Display* display, void*) {
  std::lock_guard lock(LostMutex());
  LostConnections().insert(display);
}

Display* Connect(const std::string& name) {
  static std::once_flag once;
  std::call_once(once, [] { XSetIOErrorHandler(QuietIOError); });
  Display* display = XOpenDisplay(name.c_str());
  if (display) XSetIOErrorExitHandler(display, KeepRunning, nullptr);
  return display;
}

}  // namespace

// The primary output's rectangle, or the root window's when RandR names no
// active primary output.
ScreenRect PrimaryMonitor(Display* display, Window root) {
  ScreenRect whole{0, 0, DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display))};
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor) ||
      (major == 1 && minor < 3)) {
    return whole;
  }
  RROutput primary = XRRGetOutputPrimary(display, root);
  if (primary == None) return whole;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
  if (!resources) return whole;
  ScreenRect rect = whole;
  if (XRROutputInfo* output = XRRGetOutputInfo(display, resources, primary)) {
    if (output->crtc != None) {
      if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, output->crtc)) {
        if (crtc->width > 0 && crtc->height > 0) {
          rect = {crtc->x, crtc->y, crtc->x + static_cast<std::int32_t>(crtc->width),
                  crtc->y + static_cast<std::int32_t>(crtc->height)};
        }
        XRRFreeCrtcInfo(crtc);
      }
    }
    XRRFreeOutputInfo(output);
  }
  XRRFreeScreenResources(resources);
  return rect;
}

std::string DisplayName() {
  const char* name = std::getenv("DISPLAY");
  return name ? name : "";
}

Result<DisplayHandle> OpenDisplay(const std::string& name, std::chrono::milliseconds timeout) {
  struct Attempt {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    Display* display = nullptr;
  };
  auto attempt = std::make_shared<Attempt>();
  try {
    // The connection is made on a helper thread so that the wait can end;
    // a helper still blocked when the caller gives up closes whatever it
    // gets later by itself.
    std::thread([attempt, name] {
      Display* display = Connect(name);
      std::lock_guard lock(attempt->mutex);
      if (attempt->abandoned) {
        if (display) XCloseDisplay(display);
        return;
      }
      attempt->display = display;
      attempt->finished = true;
      attempt->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: connect directly.
    if (Display* display = Connect(name)) return DisplayHandle(display);
    return Fail(ErrorCode::NotFound, "cannot connect to the X display \"" + name + "\"");
  }
  std::unique_lock lock(attempt->mutex);
  if (!attempt->done.wait_for(lock, timeout, [&] { return attempt->finished; })) {
    attempt->abandoned = true;
    return Fail(ErrorCode::Busy, "the X display \"" + name + "\" does not answer");
  }
  if (!attempt->display) return Fail(ErrorCode::NotFound, "cannot connect to the X display \"" + name + "\"");
  return DisplayHandle(attempt->display);
}

bool ConnectionLost(Display* display) {
  std::lock_guard lock(LostMutex());
  return LostConnections().contains(display);
}

void DisplayCloser::operator()(Display* display) const {
  if (!display) return;
  XCloseDisplay(display);
  std::lock_guard lock(LostMutex());
  LostConnections().erase(display);
}

ErrorTrap::ErrorTrap(Display* display) : display_(display) {
  previous_ = XSetErrorHandler(CountError);
  XSync(display_, False);
  trappedErrors = 0;
}

ErrorTrap::~ErrorTrap() {
  XSync(display_, False);
  XSetErrorHandler(previous_);
}

int ErrorTrap::Sync() {
  XSync(display_, False);
  return trappedErrors;
}

}  // namespace kv::platform
