// KvSettings as a user starts it: a real process, on a real X server with a
// window manager, or without any display at all.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "Xvfb.h"

namespace {

using namespace std::chrono_literals;
using kvtest::BinDir;
using kvtest::Child;
using kvtest::Image;
using kvtest::ProcessResult;

const std::string kTitle = "Kvillo Setup";

std::filesystem::path Program() { return BinDir() / "KvSettings"; }

// The environment of a program started on `display` and nothing else.
std::map<std::string, std::optional<std::string>> OnDisplay(const kvtest::Xvfb& x) {
  return {{"DISPLAY", x.Display()}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}};
}

ProcessResult Xdotool(const kvtest::Xvfb& x, const std::vector<std::string>& args) {
  return kvtest::Run("/usr/bin/xdotool", args, OnDisplay(x), 10s);
}

bool SameImage(const Image& a, const Image& b) { return a.width == b.width && a.height == b.height && a.rgb == b.rgb; }

// The window once it has stopped changing: two captures 150 ms apart agree.
Image SettledCapture(const kvtest::Xvfb& x, const std::string& title) {
  Image last = x.CaptureWindow(title);
  for (int round = 0; round < 40; ++round) {
    std::this_thread::sleep_for(150ms);
    Image next = x.CaptureWindow(title);
    if (next.width > 0 && SameImage(next, last)) return next;
    last = std::move(next);
  }
  return last;
}

// How many pixels differ between two captures of the same window.
size_t DifferingPixels(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height) return static_cast<size_t>(a.width) * static_cast<size_t>(a.height);
  size_t count = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) count += a.Pixel(x, y) != b.Pixel(x, y);
  }
  return count;
}

TEST(SettingsProgram, WithoutADisplayItSaysSoInOneLineAndEnds) {
  kvtest::TempHome home;
  ProcessResult result =
      kvtest::Run(Program(), {}, {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}});
  EXPECT_EQ(result.signal, 0) << "it must end by itself, not abort";
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("cannot open the settings window: no display; set DISPLAY"), std::string::npos) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << "one line: " << result.err;
  EXPECT_FALSE(kvtest::StoredSetting("FontColor")) << "nothing was loaded, so nothing was stored";

  // A display that names no server: Qt would abort; the program explains.
  result = kvtest::Run(Program(), {}, {{"DISPLAY", ":4711"}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}});
  EXPECT_EQ(result.signal, 0) << result.err;
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("cannot open the settings window"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find(":4711"), std::string::npos) << "the message names the display: " << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << "one line: " << result.err;
}

// One screenshot of every page, taken the way a user gets there: Alt+V to
// the page selector, then the arrow key; and one of the about box, which
// Alt+C shows. Escape closes the window, saving nothing, and the program
// ends.
TEST(SettingsProgram, OpensUnderXWithEveryPageAndClosesOnEscape) {
  kvtest::TempHome home;
  kvtest::Xvfb x(1024, 768);
  x.StartWindowManager();

  Child settings(Program(), {}, OnDisplay(x));
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow(kTitle) || !settings.Running(); }, 20s))
      << "no window titled \"" << kTitle << "\"; stderr: " << settings.ErrSoFar();
  ASSERT_TRUE(settings.Running()) << settings.ErrSoFar();
  ASSERT_EQ(Xdotool(x, {"search", "--sync", "--name", "^" + kTitle + "$", "windowactivate", "--sync"}).exitCode, 0);

  std::filesystem::create_directories(kvtest::ScreenshotDir());
  Image previous = SettledCapture(x, kTitle);
  ASSERT_EQ(previous.width, 675) << "5175 twips at 15 twips a pixel, and the preview pane beside them";
  ASSERT_EQ(previous.height, 416) << "6240 twips";
  kvtest::SavePng(previous, kvtest::ScreenshotDir() / "settings-page0-effects.png");

  const char* pages[] = {"settings-page1-quotes.png", "settings-page2-font.png", "settings-page3-background.png",
                         "settings-page4-position.png"};
  for (const char* page : pages) {
    // Alt stays down until V is up, as a hand does it.
    ASSERT_EQ(Xdotool(x, {"keydown", "alt", "key", "v", "keyup", "alt"}).exitCode, 0);
    ASSERT_EQ(Xdotool(x, {"key", "--clearmodifiers", "Down"}).exitCode, 0);
    Image shot = previous;
    kvtest::WaitFor([&] { return !SameImage(shot = x.CaptureWindow(kTitle), previous); }, 5s);
    shot = SettledCapture(x, kTitle);
    kvtest::SavePng(shot, kvtest::ScreenshotDir() / page);
    EXPECT_GT(DifferingPixels(shot, previous), 500u) << page << " shows a page of its own";
    previous = std::move(shot);
  }

  // Alt+C, with real key events, shows the about box over the window.
  const std::string about = "Lexora Studio, makers of the Lexora Quote Screensaver.";
  ASSERT_EQ(Xdotool(x, {"keydown", "alt", "key", "c", "keyup", "alt"}).exitCode, 0);
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow(about); }, 10s)) << "no about box";
  kvtest::SavePng(SettledCapture(x, about), kvtest::ScreenshotDir() / "settings-about.png");
  ASSERT_TRUE(kvtest::WaitFor([&] { return Xdotool(x, {"getactivewindow", "getwindowname"}).out == about + "\n"; }, 10s));
  ASSERT_EQ(Xdotool(x, {"key", "Return"}).exitCode, 0);
  ASSERT_TRUE(kvtest::WaitFor([&] { return !x.HasWindow(about); }, 10s));
  ASSERT_TRUE(kvtest::WaitFor([&] { return Xdotool(x, {"getactivewindow", "getwindowname"}).out == kTitle + "\n"; }, 10s));

  std::string fontColor = kvtest::StoredSetting("FontColor").value_or("");
  ASSERT_EQ(Xdotool(x, {"key", "--clearmodifiers", "Escape"}).exitCode, 0);
  auto ended = settings.Wait(10s);
  ASSERT_TRUE(ended) << "Escape closes the window and the program ends";
  EXPECT_EQ(ended->exitCode, 0) << ended->err;
  EXPECT_EQ(ended->err, "") << "nothing is logged in normal operation";
  EXPECT_EQ(kvtest::StoredSetting("FontColor").value_or(""), fontColor);
}

// On a screen of twice the pixel density the window keeps its size to the
// eye: every twip becomes twice as many pixels. A second settings window
// would save its own copy of every setting over the first one's edits; it
// is refused, and says so.
TEST(SettingsProgram, ScalesWithThePixelRatioAndRefusesASecondWindow) {
  kvtest::TempHome home;
  kvtest::Xvfb x(1400, 1000);
  x.StartWindowManager();
  auto env = OnDisplay(x);
  env["QT_SCALE_FACTOR"] = "2";
  Child first(Program(), {}, env);
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow(kTitle) || !first.Running(); }, 20s)) << first.ErrSoFar();
  Image shot = SettledCapture(x, kTitle);
  EXPECT_EQ(shot.width, 1350);
  EXPECT_EQ(shot.height, 832);

  Child second(Program(), {}, OnDisplay(x));
  ASSERT_TRUE(kvtest::WaitFor([&] { return second.ErrSoFar().find("already open") != std::string::npos; }, 20s))
      << second.ErrSoFar();
  // The message box waits for the user; Return dismisses it.
  const std::string box = "Kvillo Setup is already open";
  ASSERT_TRUE(kvtest::WaitFor([&] { return x.HasWindow(box); }, 20s));
  // Return only once the box has the focus, so that it cannot reach the
  // first window and press its OK.
  ASSERT_TRUE(kvtest::WaitFor(
      [&] {
        Xdotool(x, {"search", "--name", "^" + box + "$", "windowactivate", "--sync"});
        return Xdotool(x, {"getactivewindow", "getwindowname"}).out == box + "\n";
      },
      10s));
  ASSERT_EQ(Xdotool(x, {"key", "Return"}).exitCode, 0);
  ASSERT_TRUE(kvtest::WaitFor([&] { return !second.Running(); }, 10s));
  auto ended = second.Wait(1s);
  ASSERT_TRUE(ended);
  EXPECT_EQ(ended->exitCode, 1);
  EXPECT_TRUE(first.Running()) << "the first window stays open";
}

}  // namespace
