// The wallpaper on real desktop programs under Xvfb, each with a private session bus: LXQt's pcmanfm-qt (also across a
// restart of it) and XFCE's xfdesktop on its first start.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include "PictureFiles.h"
#include "Process.h"
#include "PublishWallpaper.h"
#include "TempHome.h"
#include "Xvfb.h"
#include "kvplatform/image/Bitmap.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Colours as the bitmap stores them (0x00BBGGRR) and as a screenshot shows them (0xRRGGBB).
constexpr std::int32_t kRed = 0x0000E0, kBlue = 0xE00000;
constexpr std::uint32_t kRedOnScreen = 0xE00000, kBlueOnScreen = 0x0000E0;

bool Near(std::uint32_t a, std::uint32_t b) {
  for (int shift : {0, 8, 16}) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 8) return false;
  }
  return true;
}

class RealDesktop : public testing::Test {
 protected:
  void SetUp() override {
    // A private session bus: the desktop and the settings daemons it starts talk only to each other.
    ASSERT_TRUE(kvtest::WaitFor([&] { return bus_.OutSoFar().ends_with('\n'); }, 30s)) << bus_.ErrSoFar();
    std::string address = bus_.OutSoFar();
    setenv("DBUS_SESSION_BUS_ADDRESS", address.substr(0, address.size() - 1).c_str(), 1);
    xvfb_.Export();
    setenv("GDK_BACKEND", "x11", 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    folder_ = home_.Root() / "wall, papers", file_ = folder_ / "Kvillo.bmp";  // a list separator in the path
    fs::create_directories(folder_);
  }
  kv::Status Publish(std::int32_t color) {  // a 200 x 100 picture of one colour, published as the service does
    return kv::service::PublishWallpaper(kvtest::PlainBitmap(200, 100, color), file_.string());
  }
  // True once the middle of the screen shows `color` and a corner does not: the picture is shown centred and unscaled.
  bool ShowsCentred(std::uint32_t color, std::chrono::milliseconds timeout) {
    return kvtest::WaitFor([&] {
      kvtest::Image root = xvfb_.CaptureRoot();
      return Near(root.Pixel(512, 384), color) && Near(root.Pixel(420, 340), color) && !Near(root.Pixel(5, 5), color);
    }, timeout);
  }
  // A desktop takes commands once it has claimed its bus name, maybe after it first paints: until then, repeated.
  bool PublishUntilShown(std::int32_t color, std::uint32_t onScreen) {
    return kvtest::WaitFor([&] {
      testing::internal::CaptureStderr();
      kv::Status published = Publish(color);
      (void)testing::internal::GetCapturedStderr();
      return published && ShowsCentred(onScreen, 3s);
    }, 180s);
  }
  std::string Describe(kvtest::Child& desktop) {
    return "its stderr:\n" + desktop.ErrSoFar() + "\nits settings:\n" + kvtest::ReadFile(Settings());
  }
  static kvtest::ProcessResult Xfconf(const std::string& property, const char* value = nullptr) {
    std::vector<std::string> args{"-c", "xfce4-desktop", "-p", property};
    if (value) args.insert(args.end(), {"-s", value});
    return kvtest::Run("/usr/bin/xfconf-query", args);
  }
  // xfdesktop, once it has set up `backdrop`.
  std::unique_ptr<kvtest::Child> StartXfdesktop(const std::string& backdrop) {
    auto xfdesktop = Start({"/usr/bin/xfdesktop", "--disable-wm-check"});
    EXPECT_TRUE(kvtest::WaitFor([&] { return Xfconf(backdrop + "color-style").exitCode == 0; }, 60s))
        << "xfdesktop set up its backdrop" << xfdesktop->ErrSoFar();
    return xfdesktop;
  }
  fs::path Settings() const { return home_.ConfigHome() / "pcmanfm-qt" / "lxqt" / "settings.conf"; }
  std::unique_ptr<kvtest::Child> Start(const std::vector<std::string>& command) {
    return std::make_unique<kvtest::Child>(command[0], std::vector<std::string>(command.begin() + 1, command.end()));
  }
  kvtest::TempHome home_;
  kvtest::Xvfb xvfb_{1024, 768};
  // After the home: the services the bus starts keep their settings there.
  kvtest::Child bus_{"/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address=1"}};
  fs::path folder_, file_;
};

TEST_F(RealDesktop, LxqtShowsTheWallpaperCentredAfterItsDesktopRestarts) {
  setenv("XDG_CURRENT_DESKTOP", "LXQt", 1);
  const std::vector<std::string> desktop{"/usr/bin/pcmanfm-qt", "--desktop", "--profile=lxqt"};
  auto pcmanfm = Start(desktop);
  ASSERT_TRUE(PublishUntilShown(kRed, kRedOnScreen)) << Describe(*pcmanfm);
  // A log-off: the desktop ends, storing the placement it started with ("none"). At the next log-on the service shows
  // the wallpaper again before the desktop is up (stderr says so): its settings get the picture and the placement.
  pcmanfm->Signal(SIGTERM);
  ASSERT_TRUE(pcmanfm->Wait(30s));
  testing::internal::CaptureStderr();
  kv::service::ShowExistingWallpaper(file_.string());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("pcmanfm-qt desktop is not running"), std::string::npos) << err;
  pcmanfm = Start(desktop);
  EXPECT_TRUE(ShowsCentred(kRedOnScreen, 180s))
      << "the restarted desktop shows the wallpaper centred; its settings:\n" << kvtest::ReadFile(Settings());
  // From now on the desktop keeps the placement itself across restarts.
  ASSERT_TRUE(PublishUntilShown(kBlue, kBlueOnScreen)) << Describe(*pcmanfm);
  pcmanfm->Signal(SIGTERM);
  ASSERT_TRUE(pcmanfm->Wait(30s));
  pcmanfm = Start(desktop);
  EXPECT_TRUE(ShowsCentred(kBlueOnScreen, 180s)) << "a plain restart keeps it; settings:\n" << kvtest::ReadFile(Settings());
}

TEST_F(RealDesktop, XfceShowsAWallpaperSetBeforeItsFirstStart) {
  setenv("XDG_CURRENT_DESKTOP", "XFCE", 1);
  const std::string backdrop = "/backdrop/screen0/monitorscreen/workspace0/";  // Xvfb's output is "screen"
  // The service runs before xfdesktop made any property; xfdesktop then reads its connector's, not its own default.
  ASSERT_TRUE(Publish(kRed));
  auto xfdesktop = StartXfdesktop(backdrop);
  std::string image = Xfconf(backdrop + "last-image").out;
  EXPECT_NE(image.find((folder_ / "Kvillo-a.bmp").string()), std::string::npos) << "it kept ours: " << image;
  ASSERT_EQ(Xfconf(backdrop + "color-style", "1").exitCode, 0);  // under Xvfb it paints once a property changes
  EXPECT_TRUE(ShowsCentred(kRedOnScreen, 180s));
  ASSERT_TRUE(Publish(kBlue));
  EXPECT_TRUE(ShowsCentred(kBlueOnScreen, 180s)) << "the next wallpaper replaces it";
}

TEST_F(RealDesktop, XfceShowsEachMonitorItsOwnPictureByConnector) {
  setenv("XDG_CURRENT_DESKTOP", "XFCE", 1);
  // Xvfb's one connector, "screen", is the primary's; the other monitor has none. xfdesktop draws per connector: the
  // primary's picture on the whole output, never the other's, whose properties are set all the same.
  xvfb_.AddMonitor("screen", 400, 0, 624, 500, true);
  xvfb_.AddMonitor("Left", 0, 0, 400, 300, false);
  const std::string primary = "/backdrop/screen0/monitorscreen/workspace0/", left = "/backdrop/screen0/monitorLeft/workspace0/";
  auto xfdesktop = StartXfdesktop(primary);
  kv::platform::Bitmap whole = kvtest::PlainBitmap(1024, 500, 0), red = kvtest::PlainBitmap(624, 500, kRed),
                       blue = kvtest::PlainBitmap(400, 300, kBlue);
  kv::platform::Monitor first{"screen", {400, 0, 1024, 500}, true, {}}, second{"Left", {0, 0, 400, 300}, false, {}};
  ASSERT_TRUE(kv::service::PublishMonitorWallpapers(whole, file_.string(), {{first, &red}, {second, &blue}}));
  EXPECT_NE(Xfconf(primary + "last-image").out.find((folder_ / "Kvillo-screen-a.bmp").string()), std::string::npos);
  EXPECT_NE(Xfconf(left + "last-image").out.find((folder_ / "Kvillo-Left-a.bmp").string()), std::string::npos);
  EXPECT_EQ(Xfconf(left + "image-style").out, "1\n") << "centred";
  EXPECT_EQ(kvtest::ReadBmp24(folder_ / "Kvillo-Left.bmp").width, 400) << "the file of the monitor's own size";
  ASSERT_EQ(Xfconf(primary + "color-style", "1").exitCode, 0);  // under Xvfb it paints once a property changes
  EXPECT_TRUE(ShowsCentred(kRedOnScreen, 180s)) << "the connector shows the picture made for it";
}

}  // namespace
