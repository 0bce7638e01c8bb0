// The desktop under a real X server: screen size, the taskbar a dock reserves, the wallpaper as the root's picture,
// displays that are gone or silent, and several monitors (as KVILLO_SCREEN lists them, and as RandR monitors).

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <thread>

#include "PictureFiles.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "UpdateWallpaper.h"
#include "Xvfb.h"
#include "kvplatform/display/Screen.h"
#include "render/MonitorPublish.h"
#include "render/RenderWallpaper.h"

// Last: Xlib defines macros (None, Status, ...) that other headers use as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#undef Status

namespace {

namespace fs = std::filesystem;
using kv::platform::Monitor;
using kv::platform::QueryMonitors;
using kv::platform::QueryScreen;

class Client {  // a connection of the test's own, acting as a panel or a window manager
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
  void Set(Window window, const char* name, std::vector<long> values, Atom type = XA_CARDINAL, int format = 32) {
    std::vector<short> shorts(values.begin(), values.end());
    XChangeProperty(display_, window, AtomOf(name), type, format, PropModeReplace,
                    format == 32 ? reinterpret_cast<unsigned char*>(values.data())
                                 : reinterpret_cast<unsigned char*>(shorts.data()),
                    static_cast<int>(values.size()));
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
  // A dock window with a partial strut, listed among the clients as a window manager lists it.
  void Dock(int x, int y, unsigned w, unsigned h, std::vector<long> strut, bool mapped = true, int format = 32) {
    Window window = XCreateSimpleWindow(display_, Root(), x, y, w, h, 0, 0, 0x404040);
    Set(window, "_NET_WM_WINDOW_TYPE", {static_cast<long>(AtomOf("_NET_WM_WINDOW_TYPE_DOCK"))}, XA_ATOM);
    Set(window, "_NET_WM_STRUT_PARTIAL", strut, XA_CARDINAL, format);
    if (mapped) XMapWindow(display_, window);
    std::vector<long> clients = Get(Root(), "_NET_CLIENT_LIST", XA_WINDOW);
    clients.push_back(static_cast<long>(window));
    Set(Root(), "_NET_CLIENT_LIST", clients, XA_WINDOW);
  }

 private:
  Display* display_;
};

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
  kv::Result<std::int32_t> Draw(const std::string& quote, std::int32_t valign = 2, std::int32_t mode = 1) {
    return kv::render::RenderWallpaper("Sky", 0, mode, "DejaVu Sans", 32, 0xFFFFFF, quote, output_, 0, 0, 10, 10, 2,
                                       valign, true);
  }
  // The screen once its answer satisfies `wanted`: on a loaded machine the server may still be settling.
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
  panel.Dock(0, 0, 1024, 25, {0, 0, 25, 0, 0, 0, 0, 0, 0, 1023, 0, 0});  // a 25-pixel panel along the top
  const auto top = ScreenWhen([](const auto& s) { return s.taskbar.has_value(); }).taskbar;
  EXPECT_TRUE(top && top->edge == kv::platform::kTaskbarTop && top->rect.top == 0 && top->rect.bottom == 25);
  // A 30-pixel panel along the bottom: left, right, top, bottom, then the ranges along each edge.
  panel.Dock(0, 738, 1024, 30, {0, 0, 0, 30, 0, 0, 0, 0, 0, 0, 0, 1023});
  auto screen = ScreenWhen([](const auto& s) { return s.taskbar.has_value(); });
  ASSERT_TRUE(screen.taskbar);
  EXPECT_EQ(std::tuple(screen.taskbar->edge, screen.taskbar->rect.bottom - screen.taskbar->rect.top),
            std::tuple(kv::platform::kTaskbarBottom, 30));
  // Bottom-aligned text in a 1024 x 738 bitmap ends 30 pixels above its bottom.
  kvtest::StoreSetting("WallpaperCommand", "true");
  ASSERT_EQ(*Draw("Keep clear of the panel", 1), 1);
  kvtest::Image image = kvtest::ReadBmp24(output_);
  EXPECT_EQ(std::pair(image.width, image.height), std::pair(1024, 738));
  const int lowestInk = image.InkWhere([](std::uint32_t pixel) {  // brighter than the sky
    return (pixel & 0xFF) > 0x60 || ((pixel >> 16) & 0xFF) > 0x90;
  }).bottom;
  EXPECT_GT(lowestInk, 738 - 30 - 32 - 5) << "the text sits just above the moved edge";
  EXPECT_LT(lowestInk, 738 - 30) << "and clear of the band the panel covers";
  // A wider panel on the right wins: the largest reservation is the taskbar.
  panel.Dock(964, 0, 60, 738, {0, 60, 0, 0, 0, 0, 0, 767, 0, 0, 0, 0});
  ScreenWhen([](const auto& s) { return s.taskbar && s.taskbar->edge == kv::platform::kTaskbarRight; });
  ASSERT_EQ(*Draw("Right"), 1);
  image = kvtest::ReadBmp24(output_);
  EXPECT_EQ(std::pair(image.width, image.height), std::pair(964, 768));
  // A strut stored in 16-bit values is none: the right panel stays the taskbar.
  panel.Dock(0, 0, 1024, 300, {0, 0, 300, 0, 0, 0, 0, 0, 0, 1023, 0, 0}, true, 16);
  const auto taskbar = QueryScreen().taskbar;
  EXPECT_TRUE(taskbar && taskbar->edge == kv::platform::kTaskbarRight && taskbar->rect.left == 964);
}

TEST_F(Desktop, WithoutDocksThePublishedWorkAreasTell) {
  kv::platform::ScreenInfo screen = QueryScreen();
  EXPECT_EQ(std::pair(screen.width, screen.height), std::pair(1024, 768));
  EXPECT_FALSE(screen.taskbar) << "no panels, no work areas: no taskbar";
  Client manager(xvfb_.Display());
  // A work area 28 pixels short at the bottom, as a window manager publishes it.
  manager.Set(manager.Root(), "_NET_WORKAREA", {0, 0, 1024, 740, 0, 0, 1024, 700});
  screen = QueryScreen();
  ASSERT_TRUE(screen.taskbar);
  EXPECT_EQ(std::tuple(screen.taskbar->edge, screen.taskbar->rect.top), std::tuple(kv::platform::kTaskbarBottom, 740));
  manager.Set(manager.Root(), "_NET_CURRENT_DESKTOP", {1});
  EXPECT_EQ(QueryScreen().taskbar->rect.top, 700) << "the current desktop's work area";
  // The per-monitor work areas come first: here a 25-pixel bar at the top.
  manager.Set(manager.Root(), "_GTK_WORKAREAS_D0", {0, 25, 1024, 743});
  screen = QueryScreen();
  ASSERT_TRUE(screen.taskbar);
  EXPECT_EQ(std::tuple(screen.taskbar->edge, screen.taskbar->rect.bottom - screen.taskbar->rect.top),
            std::tuple(kv::platform::kTaskbarTop, 25));
  kvtest::StoreSetting("WallpaperCommand", "true");
  ASSERT_EQ(*Draw("x", 0), 1);
  EXPECT_EQ(kvtest::ReadBmp24(output_).height, 743);
}

TEST_F(Desktop, TheWallpaperBecomesTheRootWindowsPicture) {
  Client viewer(xvfb_.Display());
  ASSERT_EQ(*Draw("The root window shows this"), 1);
  kvtest::Image root = xvfb_.CaptureRoot();
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
  for (auto name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) viewer.Set(viewer.Root(), name, {0x7654321}, XA_PIXMAP);
  ASSERT_EQ(*Draw("Third"), 1);
  EXPECT_TRUE(xvfb_.CaptureRoot().rgb == kvtest::ReadBmp24(output_).rgb);
}

TEST_F(Desktop, AServerThatIsGoneOrStoppedCostsOneLineAndNoHang) {
  setenv("DISPLAY", ":93", 1);
  setenv("KVILLO_SCREEN", "640x480", 1);
  testing::internal::CaptureStderr();
  auto screen = QueryScreen();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::pair(screen.width, screen.height), std::pair(640, 480));
  EXPECT_NE(err.find(":93"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  testing::internal::CaptureStderr();
  ASSERT_EQ(*Draw("Still written"), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(kvtest::ReadBmp24(output_).width, 640);
  // A server that accepts connections but never answers.
  pid_t server = xvfb_.Pid();
  xvfb_.Export();
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  auto start = std::chrono::steady_clock::now();
  testing::internal::CaptureStderr();
  screen = QueryScreen();
  err = testing::internal::GetCapturedStderr();
  auto took = std::chrono::steady_clock::now() - start;
  kill(server, SIGCONT);
  // The resumed server first answers the abandoned connection; that is let finish before the server shuts down.
  unsetenv("KVILLO_SCREEN");
  EXPECT_TRUE(kvtest::WaitFor([] { return QueryScreen().width == 1024; }, std::chrono::seconds(60)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LT(took, std::chrono::seconds(20)) << "the wait for a silent server is bounded";
  EXPECT_NE(err.find("does not answer"), std::string::npos) << err;
  EXPECT_EQ(screen.width, 640);
}

TEST(HeadlessMonitors, KvilloScreenListsMonitorsAndRefusesBadLists) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("KVILLO_SCREEN", "1920x1080+0+0,1280x1024+1920+56", 1);
  std::vector<Monitor> monitors = QueryMonitors();
  ASSERT_EQ(monitors.size(), 2u);
  EXPECT_TRUE(monitors[0].primary && !monitors[1].primary) << "the first listed is the primary";
  const auto& [name, rect, primary, taskbar] = monitors[1];
  EXPECT_EQ(std::tie(name, rect.left, rect.top, rect.right, rect.bottom),
            std::make_tuple("screen1", 1920, 56, 3200, 1080));
  EXPECT_FALSE(taskbar);
  EXPECT_EQ(kv::platform::HeadlessScreen().width, 1920) << "the screen of one-monitor code is the primary";
  for (const char* bad : {"1920x1080+0", "1920x1080,", ",1920x1080", "0x600", "800x600+-5+0", "800x600+32000+0",
                          "800x600 +0+0", "wide", "1920x1080+0+0;1280x1024+1920+0", "800x600"}) {
    setenv("KVILLO_SCREEN", bad, 1);
    testing::internal::CaptureStderr();
    monitors = QueryMonitors();
    std::string err = testing::internal::GetCapturedStderr();
    const bool good = std::string(bad) == "800x600";
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), good ? 0 : 1) << bad << " is one line on stderr: " << err;
    EXPECT_EQ(err.find(bad) != std::string::npos, !good) << err;
    ASSERT_EQ(monitors.size(), 1u) << bad;
    EXPECT_EQ(std::pair(monitors[0].rect.right, monitors[0].rect.bottom), good ? std::pair(800, 600) : std::pair(1920, 1080)) << bad;
  }
}

TEST(AssembledScreen, MonitorsSitAtTheirPlacesThePrimaryOverAMirrorAndGapsInTheBackground) {
  std::vector<kv::platform::Bitmap> parts;
  parts.push_back(kvtest::PlainBitmap(100, 80, 0x0000FF));  // the primary, 10 pixels short of its monitor (a panel)
  parts.push_back(kvtest::PlainBitmap(100, 90, 0x00FF00));  // a mirror of it
  parts.push_back(kvtest::PlainBitmap(50, 40, 0xFF0000));   // further right and down, a little left of the origin
  std::vector<Monitor> monitors{
      {"A", {0, 0, 100, 90}, true, {}}, {"B", {0, 0, 100, 90}, false, {}}, {"C", {-20, 100, 30, 140}, false, {}}};
  auto whole = kv::render::AssembleScreen(monitors, parts, 0x333333);
  ASSERT_TRUE(whole) << whole.error().message;
  EXPECT_EQ(std::pair(whole->Width(), whole->Height()), std::pair(120, 140)) << "from the leftmost monitor's edge";
  EXPECT_EQ(whole->PixelAt(70, 50), 0x0000FF) << "the primary shows over its mirror";
  EXPECT_EQ(whole->PixelAt(70, 2), 0x00FF00) << "the mirror fills the primary's panel band";
  EXPECT_EQ(whole->PixelAt(0, 120), 0xFF0000);
  EXPECT_EQ(whole->PixelAt(100, 120), 0x333333) << "a gap";
  monitors.push_back({"far", {32700, 0, 32800, 10}, false, std::nullopt});
  parts.push_back(kvtest::PlainBitmap(100, 10, 0));
  EXPECT_FALSE(kv::render::AssembleScreen(monitors, parts, 0)) << "a screen too wide for a bitmap is refused";
}

constexpr std::int32_t kBackground = 0x00402010;        // 0x00BBGGRR
constexpr std::uint32_t kBackgroundOnScreen = 0x102040;  // 0xRRGGBB

void Update(const kv::service::SettingsSnapshot& snapshot) {
  kv::service::CycleOutcome outcome = kv::service::UpdateWallpaper(
      snapshot, kv::service::RenderWithRenderer, [] { ADD_FAILURE() << "no attempt fitted"; },
      kv::service::StatusGate::AssumeRunning);
  ASSERT_EQ(outcome, kv::service::CycleOutcome::Rendered);
}

// The pixels of `rect` that are not the background.
int Ink(const kvtest::Image& image, kv::platform::ScreenRect rect) {
  int ink = 0;
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) ink += image.Pixel(x, y) != kBackgroundOnScreen;
  }
  return ink;
}

// Two RandR monitors of different sizes, the second in the server's order primary, and a panel on the first; a short
// quote at the bottom of the screen on a plain background.
TEST(TwoMonitors, TheQuoteLiesWhollyOnThePrimaryAndEveryMonitorKeepsClearOfItsPanel) {
  constexpr kv::platform::ScreenRect kLeft{0, 0, 640, 480}, kRight{640, 0, 1600, 720};
  constexpr int kPanel = 40;  // at the bottom of the left monitor
  kvtest::TempHome home;
  kvtest::Xvfb xvfb{1600, 900};
  xvfb.Export();
  unsetenv("KVILLO_SCREEN");
  kvtest::StoreSetting("Path", home.DataFolder().string());
  kvtest::StoreSetting("FirstTime", "1");
  kvtest::WriteFile(home.DataFolder() / "files" / "Short.txt", "Wholly here\n");
  kv::service::SettingsSnapshot snapshot{
      .BackgroundColor = kBackground, .FontColor = 0xFFFFFF, .FontSize = "28", .HAlign = 2, .VAlign = 1,
      .TopMargin = 0, .BottomMargin = 0, .LeftMargin = 5, .RightMargin = 5, .SelectedBackgrounds = "",
      .SelectedFonts = "DejaVu Sans", .SelectedQuotesFiles = "Short",
      .WallpaperFile = (home.Root() / "Kvillo.bmp").string(), .Effects = {}};
  xvfb.AddMonitor("Left", kLeft.left, kLeft.top, kLeft.right - kLeft.left, kLeft.bottom - kLeft.top, false);
  xvfb.AddMonitor("Right", kRight.left, kRight.top, kRight.right - kRight.left, kRight.bottom - kRight.top, true);
  Client panel(xvfb.Display());
  const long strut = 900 - kLeft.bottom + kPanel;  // struts count from the root window's edges: its bottom is 900
  panel.Dock(0, kLeft.bottom - kPanel, 640, kPanel, {0, 0, 0, strut, 0, 0, 0, 0, 0, 0, 0, 639}, false);
  std::vector<Monitor> monitors = QueryMonitors();
  ASSERT_EQ(monitors.size(), 2u);
  EXPECT_TRUE(monitors[0].name == "Right" && monitors[0].primary) << "the primary comes first";
  EXPECT_FALSE(monitors[0].taskbar) << "no panel on the primary";
  EXPECT_EQ(monitors[1].name, "Left");
  ASSERT_TRUE(monitors[1].taskbar) << "the panel's strut on the left monitor";
  EXPECT_EQ(std::tuple(monitors[1].taskbar->edge, monitors[1].taskbar->rect.top, monitors[1].taskbar->rect.right),
            std::tuple(kv::platform::kTaskbarBottom, kLeft.bottom - kPanel, kLeft.right));
  Update(snapshot);
  kvtest::Image root = xvfb.CaptureRoot(), file = kvtest::ReadBmp24(snapshot.WallpaperFile);
  ASSERT_EQ(std::pair(file.width, file.height), std::pair(1600, 720)) << "down to the lowest monitor's edge";
  EXPECT_EQ(file.Pixel(1000, 650), root.Pixel(1000, 650)) << "the root window shows the file from its origin";
  int onPrimary = Ink(root, kRight);
  EXPECT_GT(onPrimary, 200) << "the quote is on the primary monitor";
  EXPECT_EQ(Ink(root, {0, 0, 1600, 720}), onPrimary) << "and nowhere else: the left monitor shows its background";
  EXPECT_EQ(Ink(root, {kRight.left, kRight.bottom - 60, kRight.right, kRight.bottom}), onPrimary)
      << "bottom-aligned with a stored margin of 0, the quote ends at the primary's edge";
  // A quote on every monitor: each its own, the left one above its panel.
  snapshot.QuoteOnEachMonitor = true;
  Update(snapshot);
  root = xvfb.CaptureRoot();
  EXPECT_GT(Ink(root, kRight), 200);
  EXPECT_GT(Ink(root, kLeft), 200) << "the left monitor has its quote too";
  EXPECT_EQ(Ink(root, {kLeft.left, kLeft.bottom - kPanel, kLeft.right, kLeft.bottom}), 0)
      << "nothing is drawn under the left monitor's panel";
  EXPECT_EQ(Ink(root, {kLeft.left, kLeft.bottom, kLeft.right, kRight.bottom}), 0) << "the gap below is background";
  EXPECT_FALSE(fs::exists(home.Root() / "Kvillo-Left.bmp")) << "plain X needs no file per monitor";
}

}  // namespace
