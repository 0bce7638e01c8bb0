// Joined lists, random picks and the line pick of a quotes file.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "QuoteSelection.h"
#include "TempHome.h"

namespace {

using namespace kv::service;
namespace fs = std::filesystem;

std::map<std::string, int> Picks(const std::string& path, int count) {
  std::map<std::string, int> seen;
  for (int i = 0; i < count; ++i) ++seen[PickRandomQuote(path)];
  return seen;
}

TEST(QuoteSelection, JoinedListsRoundTrip) {
  std::string joined = JoinList({"a", "b", "c"});
  EXPECT_EQ(joined, "a\\\\\\b\\\\\\c");
  EXPECT_EQ(SplitList(joined), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(JoinList({"only"}), "only");
  EXPECT_EQ(JoinList({}), "");
  EXPECT_EQ(JoinList({""}), "") << "one empty name joins to the empty text";
  EXPECT_EQ(SplitList(""), std::vector<std::string>{});
  EXPECT_EQ(SplitList("a\\\\\\\\\\\\b"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(PickRandomItem(""), "");
  EXPECT_EQ(PickRandomItem("only"), "only");

  std::map<std::string, int> seen;
  for (int i = 0; i < 3000; ++i) ++seen[PickRandomItem(joined)];
  ASSERT_EQ(seen.size(), 3u);
  for (const auto& [item, count] : seen) EXPECT_NEAR(count, 1000, 120) << item;
}

TEST(QuoteSelection, EveryKindOfLineEndEndsALine) {
  kvtest::TempHome home;
  fs::path file = home.Root() / "q.txt";
  for (std::string content : {"A\nB\nC\n", "A\r\nB\r\nC\r\n", "A\rB\rC", "A\r\nB\nC"}) {
    kvtest::WriteFile(file, content);
    auto seen = Picks(file, 1500);
    ASSERT_EQ(seen.size(), 3u) << "content " << testing::PrintToString(content);
    for (const char* line : {"A", "B", "C"}) EXPECT_NEAR(seen[line], 500, 90) << line;
  }
  // CR LF split across the 64 KiB read blocks is still one line end.
  std::string big(64 * 1024 - 1, 'x');
  kvtest::WriteFile(file, big + "\r\nlast");
  auto seen = Picks(file, 200);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_GT(seen["last"], 0);
}

TEST(QuoteSelection, EmptyMissingAndUnusableFilesGiveTheFallback) {
  kvtest::TempHome home;
  std::string fallback(kFallbackQuote);
  fs::path file = home.Root() / "q.txt";

  kvtest::WriteFile(file, "");
  EXPECT_EQ(PickRandomQuote(file), fallback);
  EXPECT_EQ(PickRandomQuote((home.Root() / "missing.txt").string()), fallback);
  EXPECT_EQ(PickRandomQuote(""), fallback);
  fs::create_directories(home.Root() / "folder.txt");
  EXPECT_EQ(PickRandomQuote((home.Root() / "folder.txt").string()), fallback);

  kvtest::WriteFile(file, "A\n\n");
  auto seen = Picks(file, 400);
  EXPECT_EQ(seen.size(), 2u) << "the empty second line gives the fallback";
  EXPECT_GT(seen[fallback], 100);

  testing::internal::CaptureStderr();
  kvtest::WriteFile(file, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  EXPECT_EQ(PickRandomQuote(file), fallback);
  kvtest::WriteFile(file, std::string(1024 * 1024, 'w') + "\nshort\n");
  seen = Picks(file, 50);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_GT(seen["short"], 0);
  EXPECT_GT(seen[fallback], 0) << "a 1 MB line is never handed to the renderer";
  EXPECT_NE(err.find("not a text file"), std::string::npos) << err;
  EXPECT_NE(err.find("too long"), std::string::npos) << err;
}

TEST(QuoteSelection, TextIsUtf8OrWindows1252) {
  kvtest::TempHome home;
  fs::path file = home.Root() / "q.txt";
  kvtest::WriteFile(file, "\xEF\xBB\xBF" "Café — “quoted”\n");
  EXPECT_EQ(PickRandomQuote(file), "Café — “quoted”") << "UTF-8, byte-order mark dropped";
  kvtest::WriteFile(file, "Caf\xE9 \x96 \x93quoted\x94\r\n");
  EXPECT_EQ(PickRandomQuote(file), "Café – “quoted”") << "not UTF-8, so Windows-1252";
}

TEST(QuoteSelection, LargeFilesArePickedFromEveryPart) {
  kvtest::TempHome home;
  fs::path file = home.Root() / "big.txt";
  std::string content;
  for (int i = 0; i < 1'000'000; ++i) content += "line " + std::to_string(i) + " of a large quotes file\n";
  kvtest::WriteFile(file, content);  // about 33 MB
  std::string quote = PickRandomQuote(file);
  EXPECT_TRUE(quote.starts_with("line ")) << quote;
  EXPECT_TRUE(quote.ends_with(" of a large quotes file"));
}

TEST(QuoteSelection, NamesNeverLeaveTheDataFolder) {
  EXPECT_EQ(QuotesFilePath("/data", "Craft"), "/data/files/Craft.txt");
  EXPECT_EQ(QuotesFilePath("/data", ""), "/data/files/.txt");
  EXPECT_EQ(QuotesFilePath("/data", "../../etc/passwd"), "");
  EXPECT_EQ(QuotesFilePath("/data", ".."), "");
  EXPECT_EQ(QuotesFilePath("/data", "a/b"), "");
}

}  // namespace
