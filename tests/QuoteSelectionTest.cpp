// Joined lists, random picks and the line pick of a quotes file.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "Process.h"
#include "QuoteSelection.h"
#include "TempHome.h"
#include "kvplatform/base/InputFile.h"

namespace {

using namespace kv::service;
namespace fs = std::filesystem;

std::map<std::string, int> Picks(const std::string& path, int count) {
  std::map<std::string, int> seen;
  for (int i = 0; i < count; ++i) ++seen[PickRandomQuote(path)];
  return seen;
}

class QuoteSelection : public testing::Test {
 protected:
  std::string Read(const std::string& bytes) {  // the quote picked from a file of `bytes`
    kvtest::WriteFile(file_, bytes);
    return PickRandomQuote(file_);
  }
  kvtest::TempHome home_;
  const fs::path file_ = home_.Root() / "q.txt";
};

TEST_F(QuoteSelection, JoinedListsRoundTrip) {
  std::string joined = JoinList({"a", "b", "c"});
  EXPECT_EQ(joined, "a\\\\\\b\\\\\\c");
  EXPECT_EQ(SplitList(joined), (std::vector<std::string>{"a", "b", "c"}));
  // One empty name joins to the empty text.
  EXPECT_EQ((std::vector{JoinList({"only"}), JoinList({}), JoinList({""}), PickRandomItem(""), PickRandomItem("only")}),
            (std::vector<std::string>{"only", "", "", "", "only"}));
  EXPECT_EQ(SplitList(""), std::vector<std::string>{});
  EXPECT_EQ(SplitList("a\\\\\\\\\\\\b"), (std::vector<std::string>{"a", "", "b"}));
  std::map<std::string, int> seen;
  for (int i = 0; i < 3000; ++i) ++seen[PickRandomItem(joined)];
  ASSERT_EQ(seen.size(), 3u);
  for (const auto& [item, count] : seen) EXPECT_NEAR(count, 1000, 120) << item;
}

TEST_F(QuoteSelection, EveryKindOfLineEndEndsALine) {
  for (std::string content : {"A\nB\nC\n", "A\r\nB\r\nC\r\n", "A\rB\rC", "A\r\nB\nC"}) {
    kvtest::WriteFile(file_, content);
    auto seen = Picks(file_, 1500);
    ASSERT_EQ(seen.size(), 3u) << "content " << testing::PrintToString(content);
    for (const char* line : {"A", "B", "C"}) EXPECT_NEAR(seen[line], 500, 90) << line;
  }
  // CR LF split across the 64 KiB read blocks is still one line end.
  kvtest::WriteFile(file_, std::string(64 * 1024 - 1, 'x') + "\r\nlast");
  auto seen = Picks(file_, 200);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_GT(seen["last"], 0);
}

TEST_F(QuoteSelection, EmptyMissingAndUnusableFilesGiveTheFallback) {
  const std::string fallback(kFallbackQuote);
  EXPECT_EQ((std::vector{Read(""), PickRandomQuote((home_.Root() / "missing.txt").string()), PickRandomQuote("")}),
            std::vector(3, fallback));
  kvtest::WriteFile(file_, "A\n\n");
  auto seen = Picks(file_, 400);
  EXPECT_EQ(seen.size(), 2u) << "the empty second line gives the fallback";
  EXPECT_GT(seen[fallback], 100);
  // A long line is a quote like any other; only one past 1 MiB is not.
  EXPECT_EQ(Read(std::string(4099, 'w') + "\n"), std::string(4099, 'w'));
  testing::internal::CaptureStderr();
  kvtest::WriteFile(file_, std::string((1 << 20) + 1, 'w') + "\nshort\n");
  seen = Picks(file_, 50);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_GT(seen["short"], 0);
  EXPECT_GT(seen[fallback], 0) << "a line over 1 MiB is never handed to the renderer";
  EXPECT_NE(err.find("too long"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "reported once: " << err.substr(0, 500);
}

TEST_F(QuoteSelection, FilesThatAreNoTextFallBackWithOneLineEach) {
  const fs::path folder = home_.Root();
  ASSERT_EQ(::mkfifo((folder / "fifo.txt").c_str(), 0600), 0);
  fs::create_directories(folder / "folder.txt");
  fs::create_symlink("/dev/zero", folder / "zero.txt");
  kvtest::WriteFile(folder / "binary.txt", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  {
    std::ofstream sparse(folder / "sparse.txt", std::ios::binary), large(folder / "large.txt", std::ios::binary);
    sparse.seekp((std::int64_t{2} << 30) - 1);  // gigabytes of NUL bytes
    sparse.put('\n');
    for (int i = 0; i < 64; ++i) large << std::string(1023, 'q') << '\n';  // text, then a size past the limit
    large.seekp(kMaxQuotesFileBytes);
    large.put('\n');
  }
  for (const char* name : {"fifo.txt", "folder.txt", "zero.txt", "binary.txt", "sparse.txt", "large.txt"}) {
    std::string path = (folder / name).string();
    testing::internal::CaptureStderr();
    auto pick = std::async(std::launch::async, [&] { return std::make_pair(PickRandomQuote(path), FirstQuote(path)); });
    bool waited = !kvtest::ReadyOrReleased(pick, folder / "fifo.txt", std::chrono::seconds(60));
    auto [quote, first] = pick.get();
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_FALSE(waited) << name << ": the quotes reader waits on it";
    EXPECT_EQ(std::pair(quote, first), std::pair(std::string(kFallbackQuote), std::string())) << name;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << name << ": one line on stderr: " << err;
    EXPECT_NE(err.find(path), std::string::npos) << err;
    if (std::string(name) == "sparse.txt" || std::string(name) == "large.txt") {
      EXPECT_NE(err.find("MiB"), std::string::npos) << "refused by its size, before it is read: " << err;
    }
  }
}

TEST_F(QuoteSelection, AnOpenedFileIsScannedAndReadOnItsOwnDescriptor) {
  kvtest::WriteFile(file_, "one\r\ntwo\nthree");
  auto quotes = QuotesFile::Open(file_.string());
  ASSERT_TRUE(quotes) << quotes.error().message;
  // The file swapped for a FIFO after the open: the reads still see the opened file, and never wait.
  fs::rename(file_, home_.Root() / "moved.txt");
  ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
  auto scan = quotes->Scan();
  ASSERT_TRUE(scan) << scan.error().message;
  EXPECT_EQ(scan->lines, 3);
  EXPECT_EQ(quotes->ReadLine(3).value_or(QuoteLine{}).text, "three");
  EXPECT_EQ(quotes->ReadLine(4)->text, "") << "past the end";
  // An opened file moved over another closes the other and reads on from its own descriptor.
  auto first = kv::platform::InputFile::Open(home_.Root() / "moved.txt", "the first", 100);
  auto second = kv::platform::InputFile::Open(home_.Root() / "moved.txt", "the second", 100);
  ASSERT_TRUE(first && second);
  auto open = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
  const auto before = open();
  *first = std::move(*second);
  char text[4] = {};
  EXPECT_EQ(std::pair(open(), first->Read(text, 3).value_or(0)), std::pair(before - 1, std::size_t{3}));
  EXPECT_EQ(std::string(text), "one");
}

// A file is UTF-8 when every sequence in it is valid, else Windows-1252: each sequence at the edges of the ranges,
// whole and split across the 64 KiB read blocks at every byte.
TEST_F(QuoteSelection, TextIsUtf8OrWindows1252) {
  EXPECT_EQ(Read("\xEF\xBB\xBF" "Café — “quoted”\n"), "Café — “quoted”") << "UTF-8, byte-order mark dropped";
  EXPECT_EQ(Read("Caf\xE9 \x96 \x93quoted\x94\r\n"), "Café – “quoted”") << "not UTF-8, so Windows-1252";
  // The lowest and highest code of each length, and those around the surrogates.
  for (std::string valid : {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xEF\xBF\xBF", "\xED\x9F\xBF", "\xEE\x80\x80",
                            "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
    std::string shown = testing::PrintToString(valid);
    EXPECT_EQ(Read("<" + valid + ">"), "<" + valid + ">") << shown;
    for (size_t before = 1; before <= valid.size(); ++before) {
      std::string line = std::string(64 * 1024 - before, 'x') + valid;
      EXPECT_EQ(Read(line), line) << shown << " with " << before << " byte(s) in the first block";
    }
  }
  // Overlong forms, surrogates, codes past U+10FFFF and lead bytes that begin nothing: the file is Windows-1252.
  for (auto [bytes, text] : std::initializer_list<std::pair<std::string, std::string>>{
           {"\xC0\x80", "À€"}, {"\xC1\xBF", "Á¿"}, {"\xE0\x9F\xBF", "àŸ¿"}, {"\xF0\x8F\xBF\xBF", "ð\u008F¿¿"},
           {"\xED\xA0\x80", "í\u00A0€"}, {"\xED\xBF\xBF", "í¿¿"}, {"\xF4\x90\x80\x80", "ô\u0090€€"},
           {"\xF5\x80\x80\x80", "õ€€€"}, {"\xF8\x88\x80\x80\x80", "øˆ€€€"}, {"\xBF", "¿"}}) {
    EXPECT_EQ(Read("<" + bytes + "> é"), "<" + text + "> Ã©") << testing::PrintToString(bytes);
  }
  std::string cut = std::string(64 * 1024 - 2, 'x') + "\xE0\xA0";
  EXPECT_EQ(Read(cut), cut.substr(0, cut.size() - 2) + "à\u00A0") << "a sequence cut off by the end of the file";
}

TEST_F(QuoteSelection, NamesFindTheirFileAndNeverLeaveTheDataFolder) {
  kvtest::WriteFile(home_.DataFolder() / "files" / "Wisdom.TXT", "Know thyself\n");
  const std::string data = home_.DataFolder().string();
  EXPECT_EQ(QuotesFilePath(data, "Wisdom"), data + "/files/Wisdom.TXT") << "the extension in any letter case";
  EXPECT_EQ(PickRandomQuote(QuotesFilePath(data, "Wisdom")), "Know thyself");
  EXPECT_EQ(QuotesFilePath(data, "wisdom"), data + "/files/wisdom.txt") << "the name keeps its own case";
  for (auto [name, path] : std::initializer_list<std::pair<const char*, const char*>>{
           {"Craft", "/data/files/Craft.txt"}, {"", "/data/files/.txt"}, {"../../etc/passwd", ""}, {"..", ""}, {"a/b", ""}})
    EXPECT_EQ(QuotesFilePath("/data", name), path) << name;
}

}  // namespace
