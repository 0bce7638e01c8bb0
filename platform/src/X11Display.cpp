#include "X11Display.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

namespace kv::platform {
namespace {

int trappedErrors = 0;

int CountError(Display*, XErrorEvent*) {
  ++trappedErrors;
  return 0;
}

}  // namespace

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
      Display* display = XOpenDisplay(name.c_str());
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
    if (Display* display = XOpenDisplay(name.c_str())) return DisplayHandle(display);
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
