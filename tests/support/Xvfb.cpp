#include "Xvfb.h"

#include <algorithm>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb_image_write.h>

#include <cstring>
#include <functional>
#include <stdexcept>

#include "Process.h"

extern char** environ;

namespace kvtest {
namespace fs = std::filesystem;

namespace {

pid_t SpawnQuiet(const std::vector<std::string>& args, int keepFd = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (keepFd >= 0) posix_spawn_file_actions_adddup2(&actions, keepFd, 3);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& arg : copy) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
  return pid;
}

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    usleep(10'000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

int IgnoreErrors(::Display*, XErrorEvent*) { return 0; }

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
  image.width = attributes.width;
  image.height = attributes.height;
  image.rgb.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      unsigned long pixel = XGetPixel(shot, x, y);
      size_t at = (static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) * 3;
      image.rgb[at] = static_cast<std::uint8_t>((pixel >> 16) & 0xff);
      image.rgb[at + 1] = static_cast<std::uint8_t>((pixel >> 8) & 0xff);
      image.rgb[at + 2] = static_cast<std::uint8_t>(pixel & 0xff);
    }
  }
  XDestroyImage(shot);
  return image;
}

template <class Body>
auto WithDisplay(const std::string& name, Body body) {
  ::Display* display = XOpenDisplay(name.c_str());
  if (!display) throw std::runtime_error("cannot connect to the test X server " + name);
  auto previous = XSetErrorHandler(IgnoreErrors);
  auto result = body(display);
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return result;
}

}  // namespace

Xvfb::Xvfb(int width, int height) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  server_ = SpawnQuiet({"Xvfb", "-displayfd", "3", "-noreset", "-nolisten", "tcp", "-screen", "0", screen}, pipeFds[1]);
  close(pipeFds[1]);
  std::string number;
  char c;
  fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
  bool done = WaitFor(
      [&] {
        while (read(pipeFds[0], &c, 1) == 1) {
          if (c == '\n') return true;
          number += c;
        }
        return false;
      },
      std::chrono::seconds(60));
  close(pipeFds[0]);
  if (!done || number.empty()) {
    Stop(server_);
    throw std::runtime_error("Xvfb did not start");
  }
  display_ = ":" + number;
}

Xvfb::~Xvfb() {
  Stop(windowManager_);
  Stop(server_);
}

void Xvfb::Kill() {
  if (server_ <= 0) return;
  kill(server_, SIGKILL);
  waitpid(server_, nullptr, 0);
  server_ = -1;
}

void Xvfb::Export() const { setenv("DISPLAY", display_.c_str(), 1); }

void Xvfb::StartWindowManager() {
  std::string saved = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  setenv("DISPLAY", display_.c_str(), 1);
  windowManager_ = SpawnQuiet({"openbox", "--sm-disable"});
  if (saved.empty()) {
    unsetenv("DISPLAY");
  } else {
    setenv("DISPLAY", saved.c_str(), 1);
  }
  // The window manager is ready once it maps a window it was asked to map:
  // owning the screen's selection comes earlier, and a window mapped in
  // between is left unmanaged and unmapped.
  bool ready = WaitFor(
      [&] {
        return WithDisplay(display_, [](::Display* display) {
          Atom selection = XInternAtom(display, "WM_S0", False);
          if (XGetSelectionOwner(display, selection) == 0) return false;
          Window probe = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
          XMapWindow(display, probe);
          XSync(display, False);
          bool mapped = WaitFor(
              [&] {
                XWindowAttributes attributes{};
                return XGetWindowAttributes(display, probe, &attributes) && attributes.map_state == IsViewable;
              },
              std::chrono::milliseconds(500));
          XDestroyWindow(display, probe);
          return mapped;
        });
      },
      std::chrono::seconds(60));
  if (!ready) throw std::runtime_error("openbox did not start on " + display_);
}

Image Xvfb::CaptureRoot() const {
  return WithDisplay(display_, [](::Display* display) { return Grab(display, DefaultRootWindow(display)); });
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

std::string Xvfb::DescribeWindow(const std::string& title) const {
  return WithDisplay(display_, [&](::Display* display) -> std::string {
    Window window = FindByTitle(display, DefaultRootWindow(display), title);
    if (!window) return "no window titled \"" + title + "\"";
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) return "the window \"" + title + "\" vanished";
    static const char* const kStates[] = {"unmapped", "mapped under an unmapped parent", "viewable"};
    return "the window \"" + title + "\" is " + kStates[std::clamp(attributes.map_state, 0, 2)];
  });
}

void SavePng(const Image& image, const fs::path& file) {
  fs::create_directories(file.parent_path());
  if (!stbi_write_png(file.c_str(), image.width, image.height, 3, image.rgb.data(), image.width * 3)) {
    throw std::runtime_error("cannot write " + file.string());
  }
}

fs::path ScreenshotDir() { return fs::path(KV_TEST_BIN_DIR).parent_path() / "tests" / "screenshots"; }

}  // namespace kvtest
