#include <gtest/gtest.h>

#include "SwaySession.h"

namespace {

using kvtest::SwaySession;

TEST(WaylandMonitorsTest, HeadlessSwaySessionHasTheOutputsAskedFor) {
  KV_REQUIRE_SWAY();
  SwaySession session({{1280, 800, 0, 0}, {1024, 768, 1280, 0}});
  ASSERT_EQ(session.OutputNames(), (std::vector<std::string>{"HEADLESS-1", "HEADLESS-2"}));
  auto outputs = session.Swaymsg({"-t", "get_outputs", "-r"});
  ASSERT_EQ(outputs.exitCode, 0) << outputs.err;
  EXPECT_NE(outputs.out.find("\"width\": 1024"), std::string::npos) << outputs.out;
  auto shot = session.Screenshot("HEADLESS-2");
  EXPECT_EQ(shot.width, 1024);
  EXPECT_EQ(shot.height, 768);
}

}  // namespace
