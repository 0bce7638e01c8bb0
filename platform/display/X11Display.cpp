#include "X11Display.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
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

// Set once the X session this program worked with has ended: a connection
// broke, or the display refused a new one after having accepted one.
std::atomic<bool> sessionEnded{false};
std::atomic<bool> everConnected{false};

// One connection attempt, shared by the caller and the helper thread that
// makes it.
struct Attempt {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
  Display* display = nullptr;

  void Finish(Display* made) {
    std::lock_guard lock(mutex);
    if (abandoned) {
      DisplayCloser{}(made);
      return;
    }
    display = made;
    finished = true;
    done.notify_all();
  }
};

// The attempt a helper thread is making, while it is inside XOpenDisplay.
thread_local Attempt* connecting = nullptr;

// Xlib's default reaction to a lost connection is to print a line and end
// the whole program. A wallpaper that cannot be set must not end the
// service: the loss is remembered, the connection's calls become no-ops,
// and the caller reports it. A server that goes away while XOpenDisplay is
// still talking to it would end the program before a handler for the new
// connection can be installed; the helper thread making it reports the
// failure and ends there instead, abandoning the half-made connection.
int QuietIOError(Display* display) {
  sessionEnded = true;
  if (Attempt* attempt = connecting) {
    {
      // Kept among the lost connections, never closed, like every other.
      std::lock_guard lock(LostMutex());
      LostConnections().insert(display);
    }
    connecting = nullptr;
    attempt->Finish(nullptr);
    pthread_exit(nullptr);
  }
  return 0;
}
void KeepRunning(Display* display, void*) {
  sessionEnded = true;
  std::lock_guard lock(LostMutex());
  LostConnections().insert(display);
}

Display* Connect(const std::string& name) {
  static std::once_flag once;
  std::call_once(once, [] { XSetIOErrorHandler(QuietIOError); });
  Display* display = XOpenDisplay(name.c_str());
  if (display) {
    XSetIOErrorExitHandler(display, KeepRunning, nullptr);
    everConnected = true;
  } else if (everConnected) {
    sessionEnded = true;
  }
  return display;
}

}  // namespace

// The primary output's rectangle, or the root window's when RandR names no
// active primary output.
ScreenRect PrimaryMonitor(Display* display, Window root) {
  ScreenRect whole{0, 0, DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display))};
  // Every reply of a lost connection is empty, so nothing below may run on one.
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (ConnectionLost(display) || !XRRQueryExtension(display, &eventBase, &errorBase) ||
      !XRRQueryVersion(display, &major, &minor) || (major == 1 && minor < 3) || ConnectionLost(display)) {
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
  auto attempt = std::make_shared<Attempt>();
  try {
    // The connection is made on a helper thread so that the wait can end;
    // a helper still blocked when the caller gives up closes whatever it
    // gets later by itself.
    std::thread([attempt, name] {
      connecting = attempt.get();
      Display* display = Connect(name);
      connecting = nullptr;
      attempt->Finish(display);
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

bool DisplayWasLost() { return sessionEnded; }

std::vector<std::string> ActiveOutputNames(Display* display, Window root) {
  std::vector<std::string> names;
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (ConnectionLost(display) || !XRRQueryExtension(display, &eventBase, &errorBase) ||
      !XRRQueryVersion(display, &major, &minor) || (major == 1 && minor < 2) || ConnectionLost(display)) {
    return names;
  }
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
  if (!resources) return names;
  for (int i = 0; i < resources->noutput && !ConnectionLost(display); ++i) {
    if (XRROutputInfo* output = XRRGetOutputInfo(display, resources, resources->outputs[i])) {
      if (output->crtc != None && output->connection != RR_Disconnected && output->name) {
        names.emplace_back(output->name, static_cast<std::size_t>(output->nameLen));
      }
      XRRFreeOutputInfo(output);
    }
  }
  XRRFreeScreenResources(resources);
  return names;
}

int WorkspaceCount(Display* display, Window root) {
  Atom property = XInternAtom(display, "_NET_NUMBER_OF_DESKTOPS", True);
  if (property == None || ConnectionLost(display)) return 1;
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  long count = 1;
  if (XGetWindowProperty(display, root, property, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after, &data) ==
          Success &&
      data) {
    if (type == XA_CARDINAL && format == 32 && items == 1) count = *reinterpret_cast<long*>(data);
    XFree(data);
  }
  // A desktop count beyond any real use is a damaged property, not a reason
  // to write thousands of settings.
  return static_cast<int>(std::clamp(count, 1L, 64L));
}

void DisplayCloser::operator()(Display* display) const {
  if (!display) return;
  // A connection whose server went away is never closed: its extensions may
  // have set up their records while the loss was being noticed, and closing
  // runs their clean-up on those records twice (a double free in the X
  // extension library). It stays in the set of lost connections, so it is
  // still accounted for; a program whose X session ended ends soon after.
  if (ConnectionLost(display)) return;
  XCloseDisplay(display);
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
