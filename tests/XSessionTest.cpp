// The service across the life of an X session: a new log-on shows the existing wallpaper where only the session kept it,
// and an X server that goes away under a render (log-off) ends the service cleanly.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <random>
#include <thread>

#include "PictureFiles.h"
#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "WallpaperRecorder.h"
#include "Xvfb.h"
#include "kvplatform/process/ServiceWindow.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvtest::StoredSetting;
using kvtest::StoreSetting;

class XSession : public testing::Test {
 protected:
  void SetUp() override {
    kvtest::StoreSettings({{"FirstTime", "1"}, {"SelectedFonts0", "DejaVu Sans"}, {"SelectedBackgrounds0", "Weave"},
                           {"SelectedQuotesFiles0", "Craft"}, {"FontSize", "30"}, {"Path", kvtest::BinDir().string()}});
  }
  std::unique_ptr<kvtest::Child> Start(const kvtest::Xvfb& xvfb, int tickMs = 100, const char* desktop = nullptr) {
    return std::make_unique<kvtest::Child>(kvtest::BinDir() / "Kvillo", std::vector<std::string>{},
        std::map<std::string, std::optional<std::string>>{{"KVILLO_TICK_MS", std::to_string(tickMs)},
            {"DISPLAY", xvfb.Display()}, {"XDG_CURRENT_DESKTOP", desktop ? desktop : std::optional<std::string>()}});
  }
  fs::path Wallpaper() const { return home_.DataHome() / "kvillo" / "Kvillo.bmp"; }
  kvtest::TempHome home_;
};

TEST_F(XSession, ALogOnWithNoUpdateDueShowsTheExistingWallpaperAgain) {
  // A wallpaper made in an earlier session, and a daily update a day away.
  kvtest::WriteFile(Wallpaper(), kvtest::MakeBmp(320, 240, 24, [](int x, int y) {
                      return static_cast<std::uint32_t>(0x3060A0 + ((x / 20 + y / 20) % 2) * 0x402000);
                    }));
  kvtest::StoreSettings({{"Frequency", "5"}, {"UpdateDate", "2999-01-01T00:00:00"}});
  kvtest::Xvfb xvfb(320, 240);
  auto service = Start(xvfb);
  // The root window is the session's: it shows the earlier file pixel for pixel.
  kvtest::Image expected = kvtest::ReadBmp24(Wallpaper());
  EXPECT_TRUE(kvtest::WaitFor([&] { return xvfb.CaptureRoot().rgb == expected.rgb; }, 60s)) << service->ErrSoFar();
  kvtest::SavePng(xvfb.CaptureRoot(), kvtest::ScreenshotDir() / "plain-x-log-on.png");
  service->Signal(SIGTERM);
  ASSERT_TRUE(service->Wait(30s));
  EXPECT_EQ(StoredSetting("UpdateDate"), "2999-01-01T00:00:00") << "nothing was rendered";
  kvtest::WallpaperRecorder recorder(home_.Root());
  service = Start(xvfb);
  EXPECT_TRUE(kvtest::WaitFor([&] { return recorder.Published() == 1; }, 60s)) << service->ErrSoFar();
  service->Signal(SIGTERM);
  ASSERT_TRUE(service->Wait(30s));
  // A desktop that keeps the wallpaper in its own settings is left alone.
  StoreSetting("WallpaperCommand", "");
  kvtest::Xvfb fresh(320, 240);
  service = Start(fresh, 100, "MATE");
  ASSERT_TRUE(kvtest::WaitFor([] { return kv::platform::FindServiceWindow("ThunderRT6FormDC", "KvilloService"); }, 60s))
      << service->ErrSoFar();
  service->Signal(SIGTERM);
  auto ended = service->Wait(30s);
  ASSERT_TRUE(ended);
  EXPECT_EQ(ended->err, "") << "no desktop tool was called";
  EXPECT_EQ(fresh.CaptureRoot().Pixel(160, 120), 0u) << "the root window was not touched";
}

// Log-off during renders, KVILLO_X_LOSS_ROUNDS times: the service ends cleanly, never by a crash or Xlib's exit.
TEST_F(XSession, AnXServerThatGoesAwayDuringRendersEndsTheServiceCleanly) {
  StoreSetting("Frequency", "0");
  const char* text = std::getenv("KVILLO_X_LOSS_ROUNDS");
  const int rounds = text && std::atoi(text) > 0 ? std::atoi(text) : 4;
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    fs::remove(Wallpaper());
    StoreSetting("ServiceStatus", "");
    auto xvfb = std::make_unique<kvtest::Xvfb>(640, 480);
    auto service = Start(*xvfb, 20);
    ASSERT_TRUE(kvtest::WaitFor([&] { return fs::exists(Wallpaper()); }, 60s)) << service->ErrSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 400)(random)));
    xvfb->Kill();
    auto ended = service->Wait(60s);
    ASSERT_TRUE(ended) << "the service ends by itself once its display is gone";
    EXPECT_EQ(std::pair(ended->signal, ended->exitCode), std::pair(0, 0)) << ended->err;
    for (const char* report : {"Sanitizer", "runtime error"}) EXPECT_EQ(ended->err.find(report), std::string::npos) << ended->err;
    EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped") << ended->err;
  }
}

}  // namespace
