// Screens of several monitors: as KVILLO_SCREEN lists them, and under Xvfb
// with RandR monitors the wallpaper the update cycle makes, as shown.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <tuple>

#include "PictureFiles.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "PublishWallpaper.h"
#include "UpdateWallpaper.h"
#include "render/MonitorPublish.h"
#include "Xvfb.h"
#include "kvplatform/display/Screen.h"

// Last: Xlib defines macros (None, Status, ...) that other headers use as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#undef Status

namespace {

namespace fs = std::filesystem;
using kv::platform::Monitor;
using kv::platform::QueryMonitors;

TEST(HeadlessMonitors, KvilloScreenListsMonitorsAndRefusesBadLists) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("KVILLO_SCREEN", "1920x1080+0+0,1280x1024+1920+56", 1);
  std::vector<Monitor> monitors = QueryMonitors();
  ASSERT_EQ(monitors.size(), 2u);
  EXPECT_TRUE(monitors[0].primary) << "the first listed is the primary";
  EXPECT_FALSE(monitors[1].primary);
  const kv::platform::ScreenRect second{1920, 56, 3200, 1080};
  EXPECT_EQ(std::tie(monitors[1].rect.left, monitors[1].rect.top, monitors[1].rect.right, monitors[1].rect.bottom),
            std::tie(second.left, second.top, second.right, second.bottom));
  EXPECT_EQ(monitors[1].name, "screen1");
  EXPECT_FALSE(monitors[1].taskbar);
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
    EXPECT_EQ(monitors[0].rect.right, good ? 800 : 1920) << bad << " falls back to 1920x1080";
    EXPECT_EQ(monitors[0].rect.bottom, good ? 600 : 1080) << bad;
  }
  unsetenv("KVILLO_SCREEN");
}

TEST(AssembledScreen, MonitorsSitAtTheirPlacesThePrimaryOverAMirrorAndGapsInTheBackground) {
  auto plain = [](int width, int height, std::int32_t color) {
    auto bitmap = kv::platform::Bitmap::Create(width, height);
    bitmap->Fill(color);
    return std::move(*bitmap);
  };
  std::vector<kv::platform::Bitmap> parts;
  parts.push_back(plain(100, 80, 0x0000FF));  // the primary, 10 pixels short of its monitor (a panel)
  parts.push_back(plain(100, 90, 0x00FF00));  // a mirror of it
  parts.push_back(plain(50, 40, 0xFF0000));   // further right and down, a little left of the origin
  std::vector<Monitor> monitors{{"A", {0, 0, 100, 90}, true, std::nullopt},
                                {"B", {0, 0, 100, 90}, false, std::nullopt},
                                {"C", {-20, 100, 30, 140}, false, std::nullopt}};
  auto whole = kv::render::AssembleScreen(monitors, parts, 0x333333);
  ASSERT_TRUE(whole) << whole.error().message;
  EXPECT_EQ(whole->Width(), 120) << "from the leftmost monitor's edge";
  EXPECT_EQ(whole->Height(), 140);
  EXPECT_EQ(whole->PixelAt(70, 50), 0x0000FF) << "the primary shows over its mirror";
  EXPECT_EQ(whole->PixelAt(70, 2), 0x00FF00) << "the mirror fills the primary's panel band";
  EXPECT_EQ(whole->PixelAt(0, 120), 0xFF0000);
  EXPECT_EQ(whole->PixelAt(100, 120), 0x333333) << "a gap";
  monitors.push_back({"far", {32700, 0, 32800, 10}, false, std::nullopt});
  parts.push_back(plain(100, 10, 0));
  EXPECT_FALSE(kv::render::AssembleScreen(monitors, parts, 0)) << "a screen too wide for a bitmap is refused";
}

constexpr std::int32_t kBackground = 0x00402010;        // 0x00BBGGRR
constexpr std::uint32_t kBackgroundOnScreen = 0x102040;  // 0xRRGGBB

// Settings with a short quote at the bottom of the screen, on a plain
// background, and a data folder with its quotes file.
kv::service::SettingsSnapshot ShortQuoteSettings(const kvtest::TempHome& home) {
  kvtest::StoreSetting("Path", home.DataFolder().string());
  kvtest::StoreSetting("FirstTime", "1");
  kvtest::WriteFile(home.DataFolder() / "files" / "Short.txt", "Wholly here\n");
  kv::service::SettingsSnapshot snapshot;
  snapshot.BackgroundColor = kBackground;
  snapshot.FontColor = 0xFFFFFF;
  snapshot.FontSize = "28";
  snapshot.HAlign = 2;
  snapshot.VAlign = 1;
  snapshot.TopMargin = snapshot.BottomMargin = 0;
  snapshot.LeftMargin = snapshot.RightMargin = 5;
  snapshot.SelectedFonts = "DejaVu Sans";
  snapshot.SelectedQuotesFiles = "Short";
  snapshot.WallpaperFile = (home.Root() / "Kvillo.bmp").string();
  return snapshot;
}

// Runs one update cycle as the service does.
void Update(const kv::service::SettingsSnapshot& snapshot) {
  kv::service::CycleOutcome outcome = kv::service::UpdateWallpaper(
      snapshot, kv::service::RenderWithRenderer, [] { ADD_FAILURE() << "no attempt fitted"; },
      kv::service::StatusGate::AssumeRunning);
  ASSERT_EQ(outcome, kv::service::CycleOutcome::Rendered);
}

// The pixels of `rect` in `image` that are not the background.
int Ink(const kvtest::Image& image, kv::platform::ScreenRect rect) {
  int ink = 0;
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) ink += image.Pixel(x, y) != kBackgroundOnScreen;
  }
  return ink;
}

// A wide screen split into two RandR monitors of different sizes, the
// second one in the server's order primary, and a panel on the first.
class TwoMonitors : public testing::Test {
 protected:
  static constexpr kv::platform::ScreenRect kLeft{0, 0, 640, 480};
  static constexpr kv::platform::ScreenRect kRight{640, 0, 1600, 720};
  static constexpr int kPanel = 40;  // at the bottom of the left monitor

  void SetUp() override {
    xvfb_.Export();
    unsetenv("KVILLO_SCREEN");
    snapshot_ = ShortQuoteSettings(home_);
    display_ = XOpenDisplay(xvfb_.Display().c_str());
    ASSERT_NE(display_, nullptr);
    xvfb_.AddMonitor("Left", kLeft.left, kLeft.top, kLeft.right - kLeft.left, kLeft.bottom - kLeft.top, false);
    xvfb_.AddMonitor("Right", kRight.left, kRight.top, kRight.right - kRight.left, kRight.bottom - kRight.top, true);
    AddPanel();
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
    unsetenv("DISPLAY");
  }

  // A dock window with a partial strut along the left monitor's bottom, and
  // listed as a window manager lists its clients.
  void AddPanel() {
    Window root = DefaultRootWindow(display_);
    Window panel = XCreateSimpleWindow(display_, root, 0, kLeft.bottom - kPanel, 640, kPanel, 0, 0, 0x404040);
    long type = static_cast<long>(XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False));
    XChangeProperty(display_, panel, XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&type), 1);
    // Struts count from the root window's edges: its bottom is 900.
    long strut[12] = {0, 0, 0, 900 - (kLeft.bottom - kPanel), 0, 0, 0, 0, 0, 0, 0, 639};
    XChangeProperty(display_, panel, XInternAtom(display_, "_NET_WM_STRUT_PARTIAL", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(strut), 12);
    long client = static_cast<long>(panel);
    XChangeProperty(display_, root, XInternAtom(display_, "_NET_CLIENT_LIST", False), XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&client), 1);
    XSync(display_, False);
  }

  kvtest::TempHome home_;
  kvtest::Xvfb xvfb_{1600, 900};
  Display* display_ = nullptr;
  kv::service::SettingsSnapshot snapshot_;
};

TEST_F(TwoMonitors, TheQuoteLiesWhollyOnThePrimaryAndEveryMonitorKeepsClearOfItsPanel) {
  std::vector<Monitor> monitors = QueryMonitors();
  ASSERT_EQ(monitors.size(), 2u);
  EXPECT_EQ(monitors[0].name, "Right") << "the primary comes first";
  EXPECT_TRUE(monitors[0].primary);
  EXPECT_FALSE(monitors[0].taskbar) << "no panel on the primary";
  EXPECT_EQ(monitors[1].name, "Left");
  ASSERT_TRUE(monitors[1].taskbar) << "the panel's strut on the left monitor";
  EXPECT_EQ(monitors[1].taskbar->edge, kv::platform::kTaskbarBottom);
  EXPECT_EQ(monitors[1].taskbar->rect.top, kLeft.bottom - kPanel);
  EXPECT_EQ(monitors[1].taskbar->rect.right, kLeft.right);

  Update(snapshot_);
  kvtest::Image root = xvfb_.CaptureRoot();
  kvtest::SavePng(root, kvtest::ScreenshotDir() / "two-monitors-primary.png");
  kvtest::Image file = kvtest::ReadBmp24(snapshot_.WallpaperFile);
  ASSERT_EQ(file.width, 1600) << "Kvillo.bmp is the whole screen";
  ASSERT_EQ(file.height, 720) << "down to the lowest monitor's edge";
  EXPECT_EQ(file.Pixel(1000, 650), root.Pixel(1000, 650)) << "the root window shows the file from its origin";
  int onPrimary = Ink(root, kRight);
  EXPECT_GT(onPrimary, 200) << "the quote is on the primary monitor";
  EXPECT_EQ(Ink(root, {0, 0, 1600, 720}), onPrimary) << "and nowhere else: the left monitor shows its background";
  EXPECT_EQ(Ink(root, {kRight.left, kRight.bottom - 60, kRight.right, kRight.bottom}), onPrimary)
      << "bottom-aligned with a stored margin of 0, the quote ends at the primary's edge";

  // A quote on every monitor: each its own, the left one above its panel.
  snapshot_.QuoteOnEachMonitor = true;
  Update(snapshot_);
  root = xvfb_.CaptureRoot();
  kvtest::SavePng(root, kvtest::ScreenshotDir() / "two-monitors-each.png");
  EXPECT_GT(Ink(root, kRight), 200);
  EXPECT_GT(Ink(root, kLeft), 200) << "the left monitor has its quote too";
  EXPECT_EQ(Ink(root, {kLeft.left, kLeft.bottom - kPanel, kLeft.right, kLeft.bottom}), 0)
      << "nothing is drawn under the left monitor's panel";
  EXPECT_EQ(Ink(root, {kLeft.left, kLeft.bottom, kLeft.right, kRight.bottom}), 0) << "the gap below is background";
  EXPECT_FALSE(fs::exists(home_.Root() / "Kvillo-Left.bmp")) << "plain X needs no file per monitor";
}

}  // namespace
