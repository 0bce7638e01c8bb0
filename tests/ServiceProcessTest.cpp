// Kvillo as a real resident process: schedule, status gate, close request,
// second instance, the log-on run and the failure path.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "WallpaperRecorder.h"
#include "kvplatform/ServiceWindow.h"
#include "kvplatform/Store.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvtest::StoredSetting;
using kvtest::StoreSetting;

class ServiceProcess : public testing::Test {
 protected:
  void SetUp() override {
    StoreSetting("FirstTime", "1");
    StoreSetting("Path", kvtest::BinDir().string());
    StoreSetting("SelectedFonts0", "DejaVu Sans");
    StoreSetting("SelectedBackgrounds0", "Weave");
    StoreSetting("SelectedQuotesFiles0", "Craft");
    StoreSetting("FontSize", "30");
    recorder_.emplace(home_.Root());
  }

  std::unique_ptr<kvtest::Child> Start(const std::vector<std::string>& args = {}, const fs::path& program = {}) {
    return std::make_unique<kvtest::Child>(program.empty() ? kvtest::BinDir() / "Kvillo" : program, args,
                                           std::map<std::string, std::optional<std::string>>{
                                               {"KVILLO_TICK_MS", std::to_string(tickMs_)}, {"DISPLAY", std::nullopt}});
  }

  int Published() const { return recorder_->Published(); }

  static bool WindowExists() { return kv::platform::FindServiceWindow("ThunderRT6FormDC", "KvilloService"); }
  fs::path Socket() const { return home_.RuntimeDir() / "kvillo" / "ThunderRT6FormDC.KvilloService"; }
  fs::path Wallpaper() const { return home_.DataHome() / "kvillo" / "Kvillo.bmp"; }

  kvtest::TempHome home_;
  std::optional<kvtest::WallpaperRecorder> recorder_;
  int tickMs_ = 100;
};

TEST_F(ServiceProcess, RendersEveryTickAndClosesOnRequest) {
  StoreSetting("Frequency", "0");
  auto service = Start();
  ASSERT_TRUE(kvtest::WaitFor([&] { return Published() >= 4; }, 20s)) << service->ErrSoFar();
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Running");
  EXPECT_TRUE(WindowExists());
  EXPECT_TRUE(fs::exists(Wallpaper()));

  ASSERT_TRUE(kv::platform::CloseServiceWindow("ThunderRT6FormDC", "KvilloService", 10s));
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped") << "written before the answer";
  auto ended = service->Wait(10s);
  ASSERT_TRUE(ended);
  EXPECT_EQ(ended->exitCode, 0);
  EXPECT_EQ(ended->err, "");
  EXPECT_FALSE(fs::exists(Socket()));
}

TEST_F(ServiceProcess, LogOffSignalsCloseItTheSameWay) {
  StoreSetting("Frequency", "4");
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    auto service = Start();
    ASSERT_TRUE(kvtest::WaitFor(WindowExists, 10s)) << service->ErrSoFar();
    service->Signal(signal);
    auto ended = service->Wait(10s);
    ASSERT_TRUE(ended) << "signal " << signal;
    EXPECT_EQ(ended->exitCode, 0);
    EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped");
  }
}

TEST_F(ServiceProcess, SecondInstanceEndsSilentlyAndTouchesNothing) {
  StoreSetting("Frequency", "4");
  auto first = Start();
  ASSERT_TRUE(kvtest::WaitFor([&] { return WindowExists() && Published() == 1; }, 10s)) << first->ErrSoFar();
  StoreSetting("ServiceStatus", "Paused");
  auto second = kvtest::Run(kvtest::BinDir() / "Kvillo", {});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Paused");
  EXPECT_TRUE(first->Running());
  EXPECT_EQ(Published(), 1) << "only the first instance rendered";
}

TEST_F(ServiceProcess, LogOnRunRendersOnceAndStops) {
  StoreSetting("Frequency", "8");
  auto boot = kvtest::Run(kvtest::BinDir() / "Kvillo", {"/boot"}, {{"DISPLAY", std::nullopt}}, 30s);
  EXPECT_EQ(boot.exitCode, 0) << boot.err;
  EXPECT_EQ(Published(), 1);
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped");
  EXPECT_FALSE(fs::exists(Socket())) << "the log-on run never creates its window";

  // The switch counts only exactly, and only with the boot frequency.
  struct Case {
    const char* frequency;
    const char* argument;
  };
  for (Case c : {Case{"5", "/boot"}, {"5", " /boot "}, {"8", "/BOOT"}}) {
    StoreSetting("Frequency", c.frequency);
    StoreSetting("UpdateDate", "2000-01-01T00:00:00");
    auto service = Start({c.argument});
    EXPECT_TRUE(kvtest::WaitFor(WindowExists, 10s)) << c.argument << ": stays resident";
    service->Signal(SIGTERM);
    ASSERT_TRUE(service->Wait(10s));
  }
}

TEST_F(ServiceProcess, StatusGateDecidesEachDueUpdate) {
  StoreSetting("Frequency", "0");
  tickMs_ = 150;
  auto service = Start();
  ASSERT_TRUE(kvtest::WaitFor([&] { return Published() >= 2; }, 20s)) << service->ErrSoFar();

  StoreSetting("ServiceStatus", "Paused");
  usleep(300'000);  // a render already under way may still land
  int paused = Published();
  usleep(static_cast<useconds_t>(tickMs_) * 6 * 1000);
  EXPECT_EQ(Published(), paused) << "paused: due updates render nothing";
  EXPECT_TRUE(service->Running());

  StoreSetting("ServiceStatus", "Running");
  EXPECT_TRUE(kvtest::WaitFor([&] { return Published() >= paused + 2; }, 20s));

  StoreSetting("ServiceStatus", "Stopped");
  auto ended = service->Wait(20s);
  ASSERT_TRUE(ended) << "a stopped status ends the service at its next update";
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Stopped");
  EXPECT_FALSE(fs::exists(Socket()));

  // A deleted status ends it too, and is not written back.
  auto again = Start();
  ASSERT_TRUE(kvtest::WaitFor([&] { return StoredSetting("ServiceStatus") == "Running"; }, 10s));
  ASSERT_TRUE(kvtest::WaitFor(WindowExists, 10s));
  {
    auto store = kv::platform::Store::Open(home_.StoreFile());
    ASSERT_TRUE(store);
    ASSERT_TRUE((*store)->OpenKey("software\\Lexora\\wallpaper")->DeleteValue("ServiceStatus"));
  }
  ASSERT_TRUE(again->Wait(20s));
  EXPECT_NE(StoredSetting("ServiceStatus"), "Stopped");
}

TEST_F(ServiceProcess, GivesUpAfterFiftyOneAttemptsAndOpensTheSettings) {
  // The service runs from a folder of its own, whose settings program is a
  // stand-in that records that it was started.
  fs::path folder = home_.Root() / "installed";
  fs::create_directories(folder);
  fs::copy_file(kvtest::BinDir() / "Kvillo", folder / "Kvillo");
  fs::copy_file(kvtest::BinDir() / "libkvshared.so", folder / "libkvshared.so");
  fs::path started = home_.Root() / "settings-started";
  kvtest::WriteFile(folder / "KvSettings", "#!/bin/sh\necho \"$#\" > '" + started.string() + "'\n");
  fs::permissions(folder / "KvSettings", fs::perms::owner_all);

  StoreSetting("FontSize", "5000");
  StoreSetting("Frequency", "0");
  kvtest::WriteFile(Wallpaper(), "the previous wallpaper");
  auto service = Start({}, folder / "Kvillo");
  auto ended = service->Wait(60s);
  ASSERT_TRUE(ended) << "the service ends after the failure path";
  EXPECT_NE(ended->err.find("Kvillo is not able to render a new wallpaper using the current settings. Please adjust "
                            "your settings and restart Kvillo."),
            std::string::npos)
      << ended->err;
  EXPECT_TRUE(kvtest::WaitFor([&] { return kvtest::ReadFile(started) == "0\n"; }, 10s)) << "started without arguments";
  EXPECT_EQ(StoredSetting("ServiceStatus"), "Running") << "the failure path writes no status";
  EXPECT_EQ(kvtest::ReadFile(Wallpaper()), "the previous wallpaper");
  EXPECT_EQ(Published(), 0);
  EXPECT_FALSE(WindowExists());

  // Without a settings program beside it, the service says so and ends all the same.
  fs::remove(folder / "KvSettings");
  auto alone = kvtest::Run(folder / "Kvillo", {}, {{"DISPLAY", std::nullopt}}, 60s);
  EXPECT_FALSE(alone.timedOut);
  EXPECT_NE(alone.err.find((folder / "KvSettings").string()), std::string::npos) << alone.err;
}

TEST_F(ServiceProcess, SettingsThatAreNotNumbersAreNamedAndDefaulted) {
  StoreSetting("Frequency", "abc");
  StoreSetting("TopMargin", "x");
  auto service = Start();
  ASSERT_TRUE(kvtest::WaitFor([&] { return Published() >= 1; }, 20s)) << service->ErrSoFar();
  std::string err = service->ErrSoFar();
  EXPECT_NE(err.find("Frequency"), std::string::npos) << err;
  EXPECT_NE(err.find("\"abc\""), std::string::npos) << err;
  EXPECT_NE(err.find("TopMargin"), std::string::npos) << err;
  EXPECT_EQ(StoredSetting("Frequency"), "abc") << "the stored text is left for the user to fix";
  usleep(static_cast<useconds_t>(tickMs_) * 5 * 1000);
  EXPECT_EQ(Published(), 1) << "hourly by default: no second update within a few ticks";
}

}  // namespace
