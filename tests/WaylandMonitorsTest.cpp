// Monitors of Wayland compositors: real sway sessions, answers parsed safely, and a compositor that does not answer.

#include <gtest/gtest.h>
#include <stdlib.h>

#include "PictureFiles.h"
#include "SwaySession.h"
#include "TempHome.h"
#include "WaylandMonitors.h"

namespace {

using kv::ErrorCode;
using kv::platform::Monitor;
using kvtest::SwaySession;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// "NAME WxH+X+Y*" per monitor, "*" marking the primary, for messages that show the whole answer at once.
std::string Describe(const std::vector<Monitor>& monitors) {
  std::string text;
  for (const auto& [name, r, primary, taskbar] : monitors) {
    text += name + " " + std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
            std::to_string(r.left) + "+" + std::to_string(r.top) + (primary ? "*" : "") + "; ";
  }
  return text;
}
std::string Describe(const kv::Result<std::vector<Monitor>>& monitors) {
  return monitors ? Describe(*monitors) : "error: " + monitors.error().message;
}

TEST(WaylandMonitorsTest, KvrenderMakesAWallpaperPerSwayOutputAndOutputsAreTheirPhysicalSizes) {
  KV_REQUIRE_SWAY();
  kvtest::TempHome home;
  SwaySession session({{1280, 800, 0, 0}, {1024, 768, 1280, 0}});
  session.GiveToUser(home.Root());
  auto result = session.Run(kvtest::BinDir() / "kvrender", {"--quote", "One picture per output"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "") << "nothing is logged in normal operation";
  const fs::path folder = home.DataHome() / "kvillo";
  kvtest::Image whole = kvtest::ReadBmp24(folder / "Kvillo.bmp");
  EXPECT_EQ(std::pair(whole.width, whole.height), std::pair(2304, 800)) << "the canonical file spans the whole layout";
  for (auto [name, width, height, x0] : {std::tuple{"HEADLESS-1", 1280, 800, 0}, std::tuple{"HEADLESS-2", 1024, 768, 1280}}) {
    SCOPED_TRACE(name);
    kvtest::Image own = kvtest::ReadBmp24(folder / ("Kvillo-" + std::string(name) + ".bmp"));
    ASSERT_EQ(std::pair(own.width, own.height), std::pair(width, height));
    // The white quote is on the focused output alone: the sample background has no white.
    const long white = own.InkWhere([](std::uint32_t pixel) { return pixel == 0xFFFFFF; }).count;
    EXPECT_EQ(white > 100, x0 == 0) << white << " white pixels";
    EXPECT_EQ(own.Pixel(width / 2, height / 2), whole.Pixel(x0 + width / 2, height / 2));
    // Once swaybg has loaded the picture the output shows exactly the file's pixels.
    kvtest::Image shown;
    bool same = kvtest::WaitFor([&] { return (shown = session.Screenshot(name)).width == own.width &&
                                             shown.height == own.height && shown.rgb == own.rgb; }, 60s);
    EXPECT_TRUE(same) << "sway shows a " << shown.width << "x" << shown.height << " picture that is not the file";
  }
  // A scaled output still counts its physical pixels, through swaymsg and the protocol alike.
  session.Export();
  ASSERT_EQ(session.Swaymsg({"output", "HEADLESS-2", "scale", "2"}).exitCode, 0);
  const std::string both = "HEADLESS-1 1280x800+0+0*; HEADLESS-2 1024x768+1280+0; ";
  EXPECT_EQ(Describe(kv::platform::QuerySwayOutputs(30s)), both);
  EXPECT_EQ(Describe(kv::platform::QueryWlOutputs(30s)), both);
  auto monitors = kv::platform::QueryWaylandMonitors();
  ASSERT_TRUE(monitors) << "the session's compositor was not asked";
  EXPECT_EQ(Describe(*monitors), both);
  // A quarter turn swaps the sides; the focused output is sway's primary, the protocol (no focus) keeps the first.
  ASSERT_EQ(session.Swaymsg({"output", "HEADLESS-1", "transform", "90"}).exitCode, 0);
  ASSERT_EQ(session.Swaymsg({"focus", "output", "HEADLESS-2"}).exitCode, 0);
  EXPECT_EQ(Describe(kv::platform::QuerySwayOutputs(30s)), "HEADLESS-2 1024x768+1280+0*; HEADLESS-1 800x1280+0+0; ");
  EXPECT_EQ(Describe(kv::platform::QueryWlOutputs(30s)), "HEADLESS-1 800x1280+0+0*; HEADLESS-2 1024x768+1280+0; ");
}

TEST(WaylandMonitorsTest, ACompositorThatDoesNotAnswerGivesNoMonitorsWithinTheBound) {
  KV_REQUIRE_SWAY();
  kvtest::TempHome home;
  SwaySession session({{1280, 800, 0, 0}});
  session.Export();
  session.Pause();  // it accepts connections and never answers them
  auto start = std::chrono::steady_clock::now();
  auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  EXPECT_FALSE(kv::platform::QueryWaylandMonitors());
  EXPECT_LT(seconds(), 40) << "a stopped compositor held the query far beyond its bound";
  start = std::chrono::steady_clock::now();
  auto protocol = kv::platform::QueryWlOutputs(2s);
  ASSERT_FALSE(protocol) << Describe(protocol);
  EXPECT_EQ(protocol.error().code, ErrorCode::Busy) << protocol.error().message;
  EXPECT_LT(seconds(), 32) << "the protocol's poll ignored its deadline";
  session.Resume();
  // No compositor at all is told at once, not waited for.
  setenv("WAYLAND_DISPLAY", "wayland-none", 1);
  unsetenv("SWAYSOCK");
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(kv::platform::QueryWaylandMonitors());
  EXPECT_EQ(kv::platform::QueryWlOutputs(30s).error().code, ErrorCode::NotFound);
  EXPECT_LT(seconds(), 30);
}

TEST(WaylandMonitorsTest, CompositorAnswersAreReadSafely) {
  using kv::platform::ParseHyprlandMonitors;
  using kv::platform::ParseSwayOutputs;
  // Hyprland's list: the focused monitor is the primary, a disabled one left out, transform 1 a quarter turn of the
  // 2560x1440 mode; escapes with digits, small and capital hex letters spell the name.
  const char* hyprland = R"([
    {"id": 0, "name": "DP-1", "width": 1920, "height": 1080, "x": 0, "y": 0, "scale": 1.0,
     "transform": 0, "focused": false, "disabled": false, "reserved": [0, 30, 0, 0]},
    {"id": 1, "name": "\u0048D\u004dI\u002DA-1", "width": 2560, "height": 1440, "x": 1920, "y": -200, "scale": 1.5,
     "transform": 1, "focused": true},
    {"id": 2, "name": "DP-2", "width": 800, "height": 600, "x": 0, "y": 0, "disabled": true}
  ])";
  EXPECT_EQ(Describe(ParseHyprlandMonitors(hyprland)), "HDMI-A-1 1440x2560+1920+-200*; DP-1 1920x1080+0+0; ");
  // Names that would start another sway command, leave a file name's folder or pose as an option are dropped, the
  // monitor kept; outputs switched off, of no size or at an absurd place are left out.
  const char* sway = R"([
    {"name": "X; exec rm -rf ~", "active": true, "rect": {"x": 0, "y": 0}, "current_mode": {"width": 640, "height": 480}},
    {"name": "../../x", "rect": {"x": 640, "y": 0}, "current_mode": {"width": 640, "height": 480}},
    {"name": "-o", "rect": {"x": 1280, "y": 0}, "current_mode": {"width": 640, "height": 480}},
    {"name": "DP-2", "active": false, "rect": {"x": 0, "y": 0}, "current_mode": {"width": 640, "height": 480}},
    {"name": "DP-3", "rect": {"x": 0, "y": 480}, "current_mode": {"width": 0, "height": 480}},
    {"name": "DP-4", "rect": {"x": 1e300, "y": 0}, "current_mode": {"width": 640, "height": 480}},
    {"name": "DP-5", "rect": {"x": 0, "y": 480, "width": 400, "height": 300}, "scale": 2},
    "not an output", null
  ])";
  EXPECT_EQ(Describe(ParseSwayOutputs(sway)), " 640x480+0+0*;  640x480+640+0;  640x480+1280+0; DP-5 800x600+0+480; ");
  // Text that is not a whole list of outputs is refused as a whole, arrays and objects nested past any bound too.
  std::string deep = "[";
  for (int i = 0; i < 100000; ++i) deep += "{\"a\":";
  for (const std::string& bad : std::vector<std::string>{"", "[", "{}", "[{\"name\": \"a\"", "not json", "[1e999]", "[\"\\ud800\"]", "[] []",
                          "[{\"rect\": {\"x\": 0, \"y\": 0}, \"current_mode\": {\"width\": 40000, \"height\": 10}}]",
                          "[{\"rect\":{\"x\":-30000,\"y\":0},\"current_mode\":{\"width\":100,\"height\":100}},"
                          "{\"rect\":{\"x\":30000,\"y\":0},\"current_mode\":{\"width\":100,\"height\":100}}]",
                          std::string(100000, '[') + std::string(100000, ']'),
                          deep + "1" + std::string(100000, '}') + "]"}) {
    auto parsed = ParseSwayOutputs(bad);
    ASSERT_FALSE(parsed) << bad.substr(0, 80) << " gave " << Describe(parsed);
    EXPECT_EQ(parsed.error().code, ErrorCode::Corrupt);
  }
  // With HYPRLAND_INSTANCE_SIGNATURE set, hyprctl is asked: a stand-in prints the answer.
  kvtest::TempHome home;
  kvtest::WriteFile(home.Root() / "bin" / "hyprctl", std::string("#!/bin/sh\ncat <<'EOF'\n") + hyprland + "\nEOF\n");
  std::filesystem::permissions(home.Root() / "bin" / "hyprctl", std::filesystem::perms::owner_all);
  setenv("PATH", ((home.Root() / "bin").string() + ":" + getenv("PATH")).c_str(), 1);
  setenv("HYPRLAND_INSTANCE_SIGNATURE", "kvtest", 1);
  setenv("WAYLAND_DISPLAY", "wayland-none", 1);
  auto monitors = kv::platform::QueryWaylandMonitors();
  ASSERT_TRUE(monitors);
  EXPECT_EQ(Describe(*monitors), "HDMI-A-1 1440x2560+1920+-200*; DP-1 1920x1080+0+0; ");
}

}  // namespace
