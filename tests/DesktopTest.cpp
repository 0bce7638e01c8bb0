// The desktop under a real X server (Xvfb): the screen's size, the taskbar
// a dock window reserves, the wallpaper as the root window's picture, and
// displays that cannot be reached or do not answer.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "PictureFiles.h"
#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "Xvfb.h"
#include "kvplatform/display/Screen.h"
#include "render/RenderWallpaper.h"

// Last: Xlib defines macros (None, Status, ...) that other headers use as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#undef Status

namespace {

namespace fs = std::filesystem;
using kv::platform::QueryScreen;

// A connection of the test's own, acting as a panel or a window manager.
class Client {
 public:
  explicit Client(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    if (!display_) throw std::runtime_error("cannot connect to " + display);
  }
  ~Client() { XCloseDisplay(display_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  Atom AtomOf(const char* name) { return XInternAtom(display_, name, False); }
  Window Root() { return DefaultRootWindow(display_); }
  Display* Get() { return display_; }

  void Set(Window window, const char* name, std::vector<long> values, Atom type = XA_CARDINAL) {
    XChangeProperty(display_, window, AtomOf(name), type, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(values.data()), static_cast<int>(values.size()));
    XSync(display_, False);
  }
  std::vector<long> Get(Window window, const char* name, Atom type) {
    Atom actual = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> values;
    if (XGetWindowProperty(display_, window, AtomOf(name), 0, 1024, False, type, &actual, &format, &items, &after,
                           &data) == Success && data) {
      values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + items);
      XFree(data);
    }
    return values;
  }

  // A panel: a dock window along one edge with a partial strut, mapped and
  // listed among the clients as a window manager lists it.
  void Dock(int x, int y, unsigned w, unsigned h, std::vector<long> strut) {
    Window window = XCreateSimpleWindow(display_, Root(), x, y, w, h, 0, 0, 0x404040);
    Set(window, "_NET_WM_WINDOW_TYPE", {static_cast<long>(AtomOf("_NET_WM_WINDOW_TYPE_DOCK"))}, XA_ATOM);
    Set(window, "_NET_WM_STRUT_PARTIAL", strut);
    XMapWindow(display_, window);
    std::vector<long> clients = Get(Root(), "_NET_CLIENT_LIST", XA_WINDOW);
    clients.push_back(static_cast<long>(window));
    Set(Root(), "_NET_CLIENT_LIST", clients, XA_WINDOW);
  }

 private:
  Display* display_;
};

// The process behind a local display, from its socket's peer credentials.
pid_t ServerPid(const std::string& display) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "/tmp/.X11-unix/X%s", display.substr(1).c_str());
  ucred credentials{};
  socklen_t size = sizeof credentials;
  bool known = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0;
  close(fd);
  return known ? credentials.pid : 0;
}

class Desktop : public testing::Test {
 protected:
  void SetUp() override {
    xvfb_.Export();
    unsetenv("KVILLO_SCREEN");
    kvtest::StoreSetting("Path", home_.DataFolder().string());
    kvtest::StoreSetting("FirstTime", "1");
    kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Sky.bmp", kvtest::MakeBmp(64, 48, 24, [](int x, int y) {
                        return static_cast<std::uint32_t>(0x102030 + (x << 16) + (y << 8));
                      }));
    output_ = (home_.Root() / "Kvillo.bmp").string();
  }
  void TearDown() override { unsetenv("DISPLAY"); }

  kv::Result<std::int32_t> Draw(const std::string& quote, std::int32_t valign = 2, std::int32_t mode = 1) {
    return kv::render::RenderWallpaper("Sky", 0, mode, "DejaVu Sans", 32, 0xFFFFFF, quote, output_, 0, 0, 10, 10, 2,
                                       valign, true);
  }
  // The taskbar once the screen's answer satisfies `wanted`: on a loaded
  // machine the server may still be settling, so it is asked until then.
  kv::platform::ScreenInfo ScreenWhen(const std::function<bool(const kv::platform::ScreenInfo&)>& wanted) {
    kv::platform::ScreenInfo screen;
    EXPECT_TRUE(kvtest::WaitFor([&] { return wanted(screen = QueryScreen()); }, std::chrono::seconds(60)));
    return screen;
  }

  kvtest::TempHome home_;
  kvtest::Xvfb xvfb_{1024, 768};
  std::string output_;
};

TEST_F(Desktop, ADockWindowsStrutIsTheTaskbarAndTheTextKeepsClearOfIt) {
  Client panel(xvfb_.Display());
  // A 30-pixel panel along the bottom: left, right, top, bottom, then the
  // ranges along each edge.
  panel.Dock(0, 738, 1024, 30, {0, 0, 0, 30, 0, 0, 0, 0, 0, 0, 0, 1023});
  auto screen = ScreenWhen([](const auto& s) { return s.taskbar.has_value(); });
  ASSERT_TRUE(screen.taskbar);
  EXPECT_EQ(screen.taskbar->edge, kv::platform::kTaskbarBottom);
  EXPECT_EQ(screen.taskbar->rect.bottom - screen.taskbar->rect.top, 30);

  // Bottom-aligned text: the bitmap is 1024 x 738 and every character
  // moves up by 30, so the text ends 30 pixels above the bitmap's bottom.
  kvtest::StoreSetting("WallpaperCommand", "true");
  ASSERT_EQ(*Draw("Keep clear of the panel", 1), 1);
  kvtest::Image image = kvtest::ReadBmp24(output_);
  EXPECT_EQ(image.width, 1024);
  EXPECT_EQ(image.height, 738);
  int lowestInk = -1;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      std::uint32_t pixel = image.Pixel(x, y);
      if ((pixel & 0xFF) > 0x60 || ((pixel >> 16) & 0xFF) > 0x90) lowestInk = y;  // brighter than the sky
    }
  }
  EXPECT_GT(lowestInk, 738 - 30 - 32 - 5) << "the text sits just above the moved edge";
  EXPECT_LT(lowestInk, 738 - 30) << "and clear of the band the panel covers";

  // A wider panel on the right wins: the largest reservation is the taskbar.
  panel.Dock(964, 0, 60, 738, {0, 60, 0, 0, 0, 0, 0, 767, 0, 0, 0, 0});
  ScreenWhen([](const auto& s) { return s.taskbar && s.taskbar->edge == kv::platform::kTaskbarRight; });
  ASSERT_EQ(*Draw("Right"), 1);
  EXPECT_EQ(kvtest::ReadBmp24(output_).width, 964);
  EXPECT_EQ(kvtest::ReadBmp24(output_).height, 768);
}

TEST_F(Desktop, WithoutDocksThePublishedWorkAreasTell) {
  kv::platform::ScreenInfo screen = QueryScreen();
  EXPECT_EQ(screen.width, 1024);
  EXPECT_EQ(screen.height, 768);
  EXPECT_FALSE(screen.taskbar) << "no panels, no work areas: no taskbar";

  Client manager(xvfb_.Display());
  // A work area 28 pixels short at the bottom, as a window manager publishes it.
  manager.Set(manager.Root(), "_NET_WORKAREA", {0, 0, 1024, 740, 0, 0, 1024, 700});
  screen = QueryScreen();
  ASSERT_TRUE(screen.taskbar);
  EXPECT_EQ(screen.taskbar->edge, kv::platform::kTaskbarBottom);
  EXPECT_EQ(screen.taskbar->rect.top, 740);
  manager.Set(manager.Root(), "_NET_CURRENT_DESKTOP", {1});
  EXPECT_EQ(QueryScreen().taskbar->rect.top, 700) << "the current desktop's work area";
  // The per-monitor work areas come first: here a 25-pixel bar at the top.
  manager.Set(manager.Root(), "_GTK_WORKAREAS_D0", {0, 25, 1024, 743});
  screen = QueryScreen();
  ASSERT_TRUE(screen.taskbar);
  EXPECT_EQ(screen.taskbar->edge, kv::platform::kTaskbarTop);
  EXPECT_EQ(screen.taskbar->rect.bottom - screen.taskbar->rect.top, 25);
  kvtest::StoreSetting("WallpaperCommand", "true");
  ASSERT_EQ(*Draw("x", 0), 1);
  EXPECT_EQ(kvtest::ReadBmp24(output_).height, 743);
}

TEST_F(Desktop, TheWallpaperBecomesTheRootWindowsPicture) {
  Client viewer(xvfb_.Display());
  ASSERT_EQ(*Draw("The root window shows this"), 1);
  kvtest::Image root = xvfb_.CaptureRoot();
  kvtest::SavePng(root, kvtest::ScreenshotDir() / "root-wallpaper.png");
  EXPECT_TRUE(root.rgb == kvtest::ReadBmp24(output_).rgb) << "the root window shows the written file pixel for pixel";
  std::vector<long> first = viewer.Get(viewer.Root(), "_XROOTPMAP_ID", XA_PIXMAP);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(viewer.Get(viewer.Root(), "ESETROOT_PMAP_ID", XA_PIXMAP), first);

  // A second wallpaper replaces the first and frees its pixmap.
  ASSERT_EQ(*Draw("And now this one", 0, 0), 1);
  kvtest::Image second = xvfb_.CaptureRoot();
  EXPECT_TRUE(second.rgb == kvtest::ReadBmp24(output_).rgb);
  EXPECT_FALSE(second.rgb == root.rgb);
  std::vector<long> now = viewer.Get(viewer.Root(), "_XROOTPMAP_ID", XA_PIXMAP);
  ASSERT_EQ(now.size(), 1u);
  EXPECT_NE(now, first);
  auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  Window rootReturn;
  int x, y;
  unsigned w, h, border, depth;
  EXPECT_FALSE(XGetGeometry(viewer.Get(), static_cast<Drawable>(first[0]), &rootReturn, &x, &y, &w, &h, &border, &depth))
      << "the old pixmap was freed, not leaked in the server";
  XSetErrorHandler(previous);
  // A stale id left by someone else is survived.
  viewer.Set(viewer.Root(), "_XROOTPMAP_ID", {0x7654321}, XA_PIXMAP);
  viewer.Set(viewer.Root(), "ESETROOT_PMAP_ID", {0x7654321}, XA_PIXMAP);
  ASSERT_EQ(*Draw("Third"), 1);
  EXPECT_TRUE(xvfb_.CaptureRoot().rgb == kvtest::ReadBmp24(output_).rgb);
}

TEST_F(Desktop, AServerThatIsGoneOrStoppedCostsOneLineAndNoHang) {
  setenv("DISPLAY", ":93", 1);
  setenv("KVILLO_SCREEN", "640x480", 1);
  testing::internal::CaptureStderr();
  auto screen = QueryScreen();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(screen.width, 640);
  EXPECT_EQ(screen.height, 480);
  EXPECT_NE(err.find(":93"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  testing::internal::CaptureStderr();
  ASSERT_EQ(*Draw("Still written"), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(kvtest::ReadBmp24(output_).width, 640);

  // A server that accepts connections but never answers.
  pid_t server = ServerPid(xvfb_.Display());
  ASSERT_GT(server, 0);
  xvfb_.Export();
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  auto start = std::chrono::steady_clock::now();
  testing::internal::CaptureStderr();
  screen = QueryScreen();
  err = testing::internal::GetCapturedStderr();
  auto took = std::chrono::steady_clock::now() - start;
  kill(server, SIGCONT);
  // The resumed server first answers the connection that was given up on;
  // it is let finish before the server is shut down.
  unsetenv("KVILLO_SCREEN");
  EXPECT_TRUE(kvtest::WaitFor([] { return QueryScreen().width == 1024; }, std::chrono::seconds(60)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LT(took, std::chrono::seconds(20)) << "the wait for a silent server is bounded";
  EXPECT_NE(err.find("does not answer"), std::string::npos) << err;
  EXPECT_EQ(screen.width, 640);
}

}  // namespace
