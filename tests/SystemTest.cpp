// The whole product on a real X server with a window manager: the service's
// failure path opens the real settings window, and the settings window
// reports a service program that cannot be started.

#include <gtest/gtest.h>

#include <filesystem>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "Xvfb.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::map<std::string, std::optional<std::string>> OnDisplay(const kvtest::Xvfb& x) {
  return {{"DISPLAY", x.Display()}, {"QT_QPA_PLATFORM", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt},
          {"KVILLO_TICK_MS", "200"}};
}

kvtest::ProcessResult Xdotool(const kvtest::Xvfb& x, const std::vector<std::string>& args) {
  return kvtest::Run("/usr/bin/xdotool", args, OnDisplay(x), 60s);
}

TEST(System, FailurePathTellsTheUserAndOpensTheSettingsWindow) {
  kvtest::TempHome home;
  kvtest::Xvfb x(1024, 768);
  x.StartWindowManager();
  kvtest::StoreSetting("FirstTime", "1");
  kvtest::StoreSetting("Frequency", "0");
  kvtest::StoreSetting("FontSize", "5000");  // no quote fits at this size
  kvtest::Child service(kvtest::BinDir() / "Kvillo", {}, OnDisplay(x));

  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow("Kvillo"); }, 60s)) << service.ErrSoFar();
  kvtest::SavePng(x.CaptureRoot(), kvtest::ScreenshotDir() / "system-failure-message.png");
  EXPECT_TRUE(service.Running()) << "the service waits for the user";
  EXPECT_FALSE(x.HasWindow("Kvillo Setup")) << "the settings open only once the message is dismissed";

  // A key sent before the dialog listens is lost, so it is sent again
  // until the dialog goes, for as long as only a fault would take.
  bool dismissed = false;
  for (auto until = std::chrono::steady_clock::now() + 60s; !dismissed && std::chrono::steady_clock::now() < until;) {
    Xdotool(x, {"search", "--name", "^Kvillo$", "key", "--window", "%1", "Return"});
    dismissed = kvtest::WaitFor([&] { return !service.Running(); }, 5s);
  }
  ASSERT_TRUE(dismissed);
  // Qt's start-up with both cores busy by other work can take long.
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow("Kvillo Setup"); }, 120s))
      << "the settings window opens: " << x.DescribeWindow("Kvillo Setup") << "\n" << service.ErrSoFar();
  usleep(600'000);  // until it has painted
  kvtest::SavePng(x.CaptureRoot(), kvtest::ScreenshotDir() / "system-settings-after-failure.png");
  EXPECT_EQ(kvtest::StoredSetting("ServiceStatus"), "Running") << "the failure path writes no status";
  bool closed = false;
  for (auto until = std::chrono::steady_clock::now() + 60s; !closed && std::chrono::steady_clock::now() < until;) {
    Xdotool(x, {"search", "--name", "^Kvillo Setup$", "key", "--window", "%1", "Escape"});
    closed = kvtest::WaitFor([&] { return !x.HasWindow("Kvillo Setup"); }, 5s);
  }
  EXPECT_TRUE(closed);
}

TEST(System, StartWithoutTheServiceProgramIsReportedInTheFrame) {
  kvtest::TempHome home;
  kvtest::Xvfb x(800, 600);
  x.StartWindowManager();
  kvtest::StoreSetting("FirstTime", "1");
  // The settings program alone in a folder, without Kvillo beside it.
  fs::path folder = home.Root() / "alone";
  fs::create_directories(folder);
  fs::copy_file(kvtest::BinDir() / "KvSettings", folder / "KvSettings");
  fs::copy_file(kvtest::BinDir() / "libkvshared.so", folder / "libkvshared.so");
  kvtest::Child settings(folder / "KvSettings", {}, OnDisplay(x));
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow("Kvillo Setup"); }, 60s)) << settings.ErrSoFar();

  // Start sits at (57, 81) in the window: the service frame at (10, 50),
  // the button at (12, 20) in it, 71 x 23 pixels.
  Xdotool(x, {"search", "--name", "^Kvillo Setup$", "windowactivate", "--sync", "mousemove", "--window", "%1", "57",
              "81", "click", "1"});
  ASSERT_TRUE(kvtest::WaitFor([&] { return settings.ErrSoFar().find("cannot start") != std::string::npos; }, 60s))
      << settings.ErrSoFar();
  EXPECT_NE(settings.ErrSoFar().find((folder / "Kvillo").string()), std::string::npos);
  usleep(600'000);
  kvtest::SavePng(x.CaptureWindow("Kvillo Setup"), kvtest::ScreenshotDir() / "system-start-without-service.png");
  EXPECT_TRUE(settings.Running()) << "the window stays open and usable";
}

}  // namespace
