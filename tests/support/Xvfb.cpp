#include "Xvfb.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <signal.h>

#include <algorithm>
#include <stdexcept>

#include "PictureWriters.h"
#include "Process.h"
#include "TempHome.h"

namespace kvtest {
namespace fs = std::filesystem;

namespace {

// Asks a child to end (SIGTERM) and lets it clean up; one that does not is killed when the object goes.
void Stop(std::unique_ptr<Child>& child) {
  if (!child) return;
  child->Signal(SIGTERM);
  child->Wait(std::chrono::seconds(5));
  child.reset();
}

// Walks the window tree below `window` looking for a WM_NAME of `title`.
Window FindByTitle(::Display* display, Window window, const std::string& title) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name) {
    bool match = title == name;
    XFree(name);
    if (match) return window;
  }
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && !found; ++i) found = FindByTitle(display, children[i], title);
  if (children) XFree(children);
  return found;
}

Image Grab(::Display* display, Window window) {
  Image image;
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(display, window, &attributes)) return image;
  if (attributes.map_state != IsViewable && window != DefaultRootWindow(display)) return image;
  XImage* shot = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                           static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
  if (!shot) return image;
  image = {attributes.width, attributes.height, {}};
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      for (int shift : {16, 8, 0}) image.rgb.push_back(static_cast<std::uint8_t>(XGetPixel(shot, x, y) >> shift));
    }
  }
  XDestroyImage(shot);
  return image;
}

template <class Body>
auto WithDisplay(const std::string& name, Body body) {
  ::Display* display = XOpenDisplay(name.c_str());
  if (!display) throw std::runtime_error("cannot connect to the test X server " + name);
  auto previous = XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
  auto result = body(display);
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return result;
}

}  // namespace

Xvfb::Xvfb(int width, int height) {
  std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  server_ = std::make_unique<Child>("/usr/bin/Xvfb", std::vector<std::string>{"-displayfd", "1", "-noreset", "-nolisten",
                                                                              "tcp", "-screen", "0", screen});
  if (!WaitFor([&] { return server_->OutSoFar().ends_with('\n') || !server_->Running(); }, std::chrono::seconds(60)) ||
      !server_->Running()) {
    Stop(server_);
    throw std::runtime_error("Xvfb did not start");
  }
  std::string number = server_->OutSoFar();
  display_ = ":" + number.substr(0, number.size() - 1);
}

Xvfb::~Xvfb() {
  Stop(windowManager_);
  Stop(server_);
}

void Xvfb::Kill() {
  if (!server_) return;
  server_->Signal(SIGKILL);
  server_->Wait(std::chrono::seconds(30));
  server_.reset();
}

void Xvfb::Export() const { setenv("DISPLAY", display_.c_str(), 1); }

void Xvfb::StartWindowManager() {
  windowManager_ = std::make_unique<Child>("/usr/bin/openbox", std::vector<std::string>{"--sm-disable"},
                                          std::map<std::string, std::optional<std::string>>{{"DISPLAY", display_}});
  // Ready once it maps a window: one mapped after it owns the selection, but before that, stays unmapped.
  bool ready = WaitFor([&] {
    return WithDisplay(display_, [](::Display* display) {
      if (XGetSelectionOwner(display, XInternAtom(display, "WM_S0", False)) == 0) return false;
      Window probe = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
      XMapWindow(display, probe);
      XSync(display, False);
      bool mapped = WaitFor([&] {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display, probe, &attributes) && attributes.map_state == IsViewable;
      }, std::chrono::milliseconds(500));
      XDestroyWindow(display, probe);
      return mapped;
    });
  }, std::chrono::seconds(60));
  if (!ready) throw std::runtime_error("openbox did not start on " + display_);
}

Image Xvfb::CaptureRoot() const {
  return WithDisplay(display_, [](::Display* display) { return Grab(display, DefaultRootWindow(display)); });
}

void Xvfb::AddMonitor(const std::string& name, int x, int y, int width, int height, bool primary) {
  WithDisplay(display_, [&](::Display* display) {
    Window root = DefaultRootWindow(display);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
    if (!resources || resources->noutput < 1) throw std::runtime_error("Xvfb on " + display_ + " has no output");
    XRRMonitorInfo* monitor = XRRAllocateMonitor(display, monitorsAdded_ == 0 ? 1 : 0);
    if (monitorsAdded_ == 0) monitor->outputs[0] = resources->outputs[0];
    XRRFreeScreenResources(resources);
    monitor->name = XInternAtom(display, name.c_str(), False);
    monitor->primary = primary;
    monitor->x = x, monitor->y = y, monitor->width = width, monitor->height = height;
    monitor->mwidth = width / 4, monitor->mheight = height / 4;
    XRRSetMonitor(display, root, monitor);
    XRRFreeMonitors(monitor);
    XSync(display, False);
    return 0;
  });
  ++monitorsAdded_;
}

Image Xvfb::CaptureWindow(const std::string& title) const {
  return WithDisplay(display_, [&](::Display* display) {
    Window window = FindByTitle(display, DefaultRootWindow(display), title);
    return window ? Grab(display, window) : Image{};
  });
}

bool Xvfb::HasWindow(const std::string& title) const {
  return WithDisplay(display_, [&](::Display* display) {
    Window window = FindByTitle(display, DefaultRootWindow(display), title);
    if (!window) return false;
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
  });
}

Image::Ink Image::InkWhere(const std::function<bool(std::uint32_t)>& ink) const {
  Ink found;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (!ink(Pixel(x, y))) continue;
      ++found.count, found.left = std::min(found.left, x), found.right = std::max(found.right, x);
      found.top = std::min(found.top, y), found.bottom = std::max(found.bottom, y);
    }
  }
  return found;
}

void SavePng(const Image& image, const fs::path& file) {
  WriteFile(file, MakePng(image.width, image.height, [&](int x, int y) { return 0xFF000000u | image.Pixel(x, y); }));
}

fs::path ScreenshotDir() { return fs::path(KV_TEST_BIN_DIR).parent_path() / "tests" / "screenshots"; }

}  // namespace kvtest
