// KvSettings as a user starts it: a real process, on a real X server with a window manager, or without a display.

#include <gtest/gtest.h>

#include <thread>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "Xvfb.h"

namespace {

using namespace std::chrono_literals;
using kvtest::Child;
using kvtest::Image;
using kvtest::Env;

const std::string kTitle = "Kvillo Setup";
const std::filesystem::path kProgram = kvtest::BinDir() / "KvSettings";

Env OnDisplay(std::optional<std::string> display) {
  return {{"DISPLAY", display}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}};
}
kvtest::ProcessResult Xdotool(const kvtest::Xvfb& x, const std::vector<std::string>& args) {
  return kvtest::Run("/usr/bin/xdotool", args, OnDisplay(x.Display()), 10s);
}
std::string ActiveWindow(const kvtest::Xvfb& x) { return Xdotool(x, {"getactivewindow", "getwindowname"}).out; }
bool Same(const Image& a, const Image& b) { return a.width == b.width && a.height == b.height && a.rgb == b.rgb; }

// The window once it has stopped changing: two captures 150 ms apart agree.
Image SettledCapture(const kvtest::Xvfb& x, const std::string& title) {
  Image last = x.CaptureWindow(title);
  for (int round = 0; round < 40; ++round) {
    std::this_thread::sleep_for(150ms);
    Image next = x.CaptureWindow(title);
    if (next.width > 0 && Same(next, last)) return next;
    last = std::move(next);
  }
  return last;
}

TEST(SettingsProgram, WithoutADisplayOrWithADeadOneItSaysSoInOneLineAndEnds) {
  kvtest::TempHome home;
  for (auto [display, message] : {std::pair<std::optional<std::string>, std::string>{
                                      std::nullopt, "cannot open the settings window: no display; set DISPLAY"},
                                  {":4711", ":4711"}}) {  // Qt would abort; the program names the display
    auto result = kvtest::Run(kProgram, {}, OnDisplay(display));
    EXPECT_EQ(result.signal, 0) << "it must end by itself, not abort: " << result.err;
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("cannot open the settings window"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << "one line: " << result.err;
  }
  EXPECT_FALSE(kvtest::StoredSetting("FontColor")) << "nothing was loaded, so nothing was stored";
}

// A second window would save over the first one's edits: it is refused.
TEST(SettingsProgram, ShowsEveryPageRefusesASecondWindowClosesOnEscapeAndScales) {
  kvtest::TempHome home;
  kvtest::Xvfb x(1400, 1000);
  x.StartWindowManager();
  auto activate = [&](const std::string& title) {
    return kvtest::WaitFor([&] {
      Xdotool(x, {"search", "--name", "^" + title + "$", "windowactivate", "--sync"});
      return ActiveWindow(x) == title + "\n";
    }, 30s);
  };
  Child settings(kProgram, {}, OnDisplay(x.Display()));
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow(kTitle) || !settings.Running(); }, 30s)) << settings.ErrSoFar();
  ASSERT_TRUE(settings.Running()) << settings.ErrSoFar();
  ASSERT_TRUE(activate(kTitle));
  std::filesystem::create_directories(kvtest::ScreenshotDir());
  Image previous = SettledCapture(x, kTitle);
  kvtest::SavePng(previous, kvtest::ScreenshotDir() / "settings-page0-effects.png");
  for (const char* page : {"page1-quotes", "page2-font", "page3-background", "page4-position"}) {
    // Alt stays down until V is up, as a hand does it.
    ASSERT_EQ(Xdotool(x, {"keydown", "alt", "key", "v", "keyup", "alt"}).exitCode, 0);
    ASSERT_EQ(Xdotool(x, {"key", "--clearmodifiers", "Down"}).exitCode, 0);
    kvtest::WaitFor([&] { return !Same(x.CaptureWindow(kTitle), previous); }, 5s);
    Image shot = SettledCapture(x, kTitle);
    kvtest::SavePng(shot, kvtest::ScreenshotDir() / (std::string("settings-") + page + ".png"));
    EXPECT_FALSE(Same(shot, previous)) << page << " shows a page of its own";
    previous = std::move(shot);
  }
  const std::string about = "Lexora Studio, makers of the Lexora Quote Screensaver.";
  ASSERT_EQ(Xdotool(x, {"keydown", "alt", "key", "c", "keyup", "alt"}).exitCode, 0);
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow(about); }, 30s)) << "no about box";
  kvtest::SavePng(SettledCapture(x, about), kvtest::ScreenshotDir() / "settings-about.png");
  ASSERT_TRUE(kvtest::WaitFor([&] { return ActiveWindow(x) == about + "\n"; }, 30s));
  ASSERT_EQ(Xdotool(x, {"key", "Return"}).exitCode, 0);
  ASSERT_TRUE(kvtest::WaitFor([&] { return !x.HasWindow(about) && ActiveWindow(x) == kTitle + "\n"; }, 30s));
  Child second(kProgram, {}, OnDisplay(x.Display()));
  ASSERT_TRUE(kvtest::WaitFor([&] { return second.ErrSoFar().find("already open") != std::string::npos; }, 30s))
      << second.ErrSoFar();
  // Return only once the message box has the focus, so that it cannot press the first window's OK.
  const std::string box = "Kvillo Setup is already open";
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow(box); }, 30s));
  ASSERT_TRUE(activate(box));
  ASSERT_EQ(Xdotool(x, {"key", "Return"}).exitCode, 0);
  EXPECT_EQ(second.Wait(30s).value_or(kvtest::ProcessResult{}).exitCode, 1);
  ASSERT_TRUE(settings.Running()) << "the first window stays open";
  ASSERT_TRUE(activate(kTitle));
  ASSERT_EQ(Xdotool(x, {"key", "--clearmodifiers", "Escape"}).exitCode, 0);
  // Escape closes the window and the program ends; nothing is logged in normal operation.
  EXPECT_EQ(settings.Wait(30s).value_or(kvtest::ProcessResult{}).Describe(), "ended with exit status 0");
  Env scaled = OnDisplay(x.Display());
  scaled["QT_SCALE_FACTOR"] = "2";
  Child large(kProgram, {}, scaled);
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow(kTitle) || !large.Running(); }, 30s)) << large.ErrSoFar();
  Image shot = SettledCapture(x, kTitle);
  EXPECT_EQ(std::pair(shot.width, shot.height), std::pair(1350, 832));
}

}  // namespace
