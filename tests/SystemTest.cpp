// On a real X server: the service's failure path opens the settings window, which reports a service it cannot start.

#include <gtest/gtest.h>

#include <functional>

#include "StoreProbe.h"
#include "TempHome.h"
#include "Xvfb.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class System : public testing::Test {
 protected:
  void SetUp() override {
    x_.StartWindowManager();
    kvtest::StoreSetting("FirstTime", "1");
  }
  std::map<std::string, std::optional<std::string>> OnDisplay() const {
    return {{"DISPLAY", x_.Display()}, {"QT_QPA_PLATFORM", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt},
            {"KVILLO_TICK_MS", "200"}};
  }
  // Sends `key` to the window titled `title` until `gone` holds: a key sent before the window listens is lost.
  bool KeyUntil(const std::string& title, const char* key, const std::function<bool()>& gone) const {
    for (auto until = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < until;) {
      kvtest::Run("/usr/bin/xdotool", {"search", "--name", "^" + title + "$", "key", "--window", "%1", key},
                  OnDisplay(), 60s);
      if (kvtest::WaitFor(gone, 5s)) return true;
    }
    return false;
  }
  kvtest::TempHome home_;
  kvtest::Xvfb x_{1024, 768};
};

TEST_F(System, FailurePathTellsTheUserAndOpensTheSettingsWindow) {
  kvtest::StoreSettings({{"Frequency", "0"}, {"FontSize", "5000"}});  // no quote fits at this size
  kvtest::Child service(kvtest::BinDir() / "Kvillo", {}, OnDisplay());
  ASSERT_TRUE(kvtest::WaitFor([&] { return x_.HasWindow("Kvillo"); }, 60s)) << service.ErrSoFar();
  kvtest::SavePng(x_.CaptureRoot(), kvtest::ScreenshotDir() / "system-failure-message.png");
  EXPECT_TRUE(service.Running()) << "the service waits for the user";
  EXPECT_FALSE(x_.HasWindow("Kvillo Setup")) << "the settings open only once the message is dismissed";
  ASSERT_TRUE(KeyUntil("Kvillo", "Return", [&] { return !service.Running(); }));
  // Qt's start-up with both cores busy by other work can take long.
  ASSERT_TRUE(kvtest::WaitFor([&] { return x_.HasWindow("Kvillo Setup"); }, 120s))
      << "the settings window opens: " << service.ErrSoFar();
  EXPECT_EQ(kvtest::StoredSetting("ServiceStatus"), "Running") << "the failure path writes no status";
  EXPECT_TRUE(KeyUntil("Kvillo Setup", "Escape", [&] { return !x_.HasWindow("Kvillo Setup"); }));
}

TEST_F(System, StartWithoutTheServiceProgramIsReportedInTheFrame) {
  fs::path folder = home_.Root() / "alone";
  fs::create_directories(folder);
  fs::copy_file(kvtest::BinDir() / "KvSettings", folder / "KvSettings");
  fs::copy_file(kvtest::BinDir() / "libkvshared.so", folder / "libkvshared.so");
  kvtest::Child settings(folder / "KvSettings", {}, OnDisplay());
  ASSERT_TRUE(kvtest::WaitFor([&] { return x_.HasWindow("Kvillo Setup"); }, 60s)) << settings.ErrSoFar();
  // Start sits at (57, 81) in the window: the service frame at (10, 50), the button at (12, 20) in it, 71 x 23 pixels.
  kvtest::Run("/usr/bin/xdotool", {"search", "--name", "^Kvillo Setup$", "windowactivate", "--sync", "mousemove",
                                   "--window", "%1", "57", "81", "click", "1"}, OnDisplay(), 60s);
  ASSERT_TRUE(kvtest::WaitFor([&] { return settings.ErrSoFar().find("cannot start") != std::string::npos; }, 60s))
      << settings.ErrSoFar();
  EXPECT_NE(settings.ErrSoFar().find((folder / "Kvillo").string()), std::string::npos);
  EXPECT_TRUE(settings.Running()) << "the window stays open and usable";
}

}  // namespace
