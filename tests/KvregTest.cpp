// kvreg as a user runs it: a real process on a real store.

#include <gtest/gtest.h>

#include "Process.h"
#include "TempHome.h"

namespace {

using kvtest::ProcessResult;

ProcessResult Kvreg(const std::vector<std::string>& args) { return kvtest::Run(kvtest::BinDir() / "kvreg", args); }

TEST(Kvreg, GetSetDeleteAndList) {
  kvtest::TempHome home;
  const std::string key = "software\\Lexora\\wallpaper";

  ProcessResult result = Kvreg({"get", key, "FontSize"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("does not exist"), std::string::npos) << result.err;

  EXPECT_EQ(Kvreg({"set", key, "FontSize", "40"}).exitCode, 0);
  EXPECT_EQ(Kvreg({"set", key, "Empty", ""}).exitCode, 0);
  EXPECT_EQ(Kvreg({"set", key, "Path", "/data/with spaces/ünïcode"}).exitCode, 0);

  result = Kvreg({"get", "SOFTWARE\\lexora\\WALLPAPER", "fontsize"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "40\n");
  EXPECT_EQ(Kvreg({"get", key, "Empty"}).out, "\n");
  EXPECT_EQ(Kvreg({"get", key, "Path"}).out, "/data/with spaces/ünïcode\n");

  result = Kvreg({"get", key, "Missing"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("Missing"), std::string::npos);

  result = Kvreg({"list", "software\\Lexora"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "software\\Lexora\n    [wallpaper]\n");
  result = Kvreg({"list", key});
  EXPECT_EQ(result.out, "software\\Lexora\\wallpaper\n    Empty = \n    FontSize = 40\n    Path = /data/with spaces/ünïcode\n");

  EXPECT_EQ(Kvreg({"delete", key, "FontSize"}).exitCode, 0);
  EXPECT_EQ(Kvreg({"delete", key, "FontSize"}).exitCode, 1);
  EXPECT_EQ(Kvreg({"delete", "software\\Lexora"}).exitCode, 0);
  EXPECT_EQ(Kvreg({"list", key}).exitCode, 1);
  EXPECT_EQ(Kvreg({"delete", "software\\Lexora"}).exitCode, 1);
}

TEST(Kvreg, BadUsageExplainsItself) {
  kvtest::TempHome home;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"get", "k"}, {"set", "k", "n"}, {"list"}, {"list", "a", "b"}, {"get", "\\", "n"}}) {
    ProcessResult result = Kvreg(args);
    EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(args);
    EXPECT_NE(result.err.find("usage: kvreg"), std::string::npos);
  }
  ProcessResult help = Kvreg({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("kvreg list KEY"), std::string::npos);
}

TEST(Kvreg, DamagedStoreIsNamedAndLeftAlone) {
  kvtest::TempHome home;
  std::string bytes = "not a database at all\n";
  kvtest::WriteFile(home.StoreFile(), bytes);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"get", "software\\Lexora\\wallpaper", "FontSize"}, {"set", "software\\Lexora\\wallpaper", "FontSize", "1"}}) {
    ProcessResult result = Kvreg(args);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_NE(result.err.find(home.StoreFile().string()), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("not a database"), std::string::npos) << result.err;
  }
  EXPECT_EQ(kvtest::ReadFile(home.StoreFile()), bytes);
}

}  // namespace
