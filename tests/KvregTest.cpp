// kvreg as a user runs it: a real process on a real store.

#include <gtest/gtest.h>

#include "Process.h"
#include "TempHome.h"

namespace {

using kvtest::ProcessResult;

ProcessResult Kvreg(const std::vector<std::string>& args) { return kvtest::Run(kvtest::BinDir() / "kvreg", args); }

// The exit status and what was printed, as "STATUS:OUT".
std::string Said(const std::vector<std::string>& args) {
  ProcessResult result = Kvreg(args);
  return std::to_string(result.exitCode) + ":" + result.out;
}

TEST(Kvreg, GetSetDeleteAndList) {
  kvtest::TempHome home;
  const std::string key = "software\\Lexora\\wallpaper";
  ProcessResult missing = Kvreg({"get", key, "FontSize"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;

  EXPECT_EQ(Said({"set", key, "FontSize", "40"}), "0:");
  EXPECT_EQ(Said({"set", key, "Empty", ""}), "0:");
  EXPECT_EQ(Said({"set", key, "Path", "/data/with spaces/ünïcode"}), "0:");
  EXPECT_EQ(Said({"get", "SOFTWARE\\lexora\\WALLPAPER", "fontsize"}), "0:40\n") << "names compare without case";
  EXPECT_EQ(Said({"get", key, "Empty"}), "0:\n");
  EXPECT_EQ(Said({"get", key, "Path"}), "0:/data/with spaces/ünïcode\n");
  missing = Kvreg({"get", key, "Missing"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("Missing"), std::string::npos) << missing.err;

  EXPECT_EQ(Said({"list", "software\\Lexora"}), "0:software\\Lexora\n    [wallpaper]\n");
  EXPECT_EQ(Said({"list", key}),
            "0:software\\Lexora\\wallpaper\n    Empty = \n    FontSize = 40\n    Path = /data/with spaces/ünïcode\n");
  EXPECT_EQ(Said({"delete", key, "FontSize"}), "0:");
  EXPECT_EQ(Said({"delete", key, "FontSize"}), "1:");
  EXPECT_EQ(Said({"delete", "software\\Lexora"}), "0:");
  EXPECT_EQ(Said({"list", key}), "1:");
  EXPECT_EQ(Said({"delete", "software\\Lexora"}), "1:");
}

TEST(Kvreg, BadUsageExplainsItself) {
  kvtest::TempHome home;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"get", "k"}, {"set", "k", "n"}, {"list"}, {"list", "a", "b"}, {"get", "\\", "n"}}) {
    ProcessResult result = Kvreg(args);
    EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(args);
    EXPECT_NE(result.err.find("usage: kvreg"), std::string::npos) << result.err;
  }
  EXPECT_EQ(Said({"--help"}).substr(0, 2), "0:");
  EXPECT_NE(Kvreg({"--help"}).out.find("kvreg list KEY"), std::string::npos);
}

}  // namespace
