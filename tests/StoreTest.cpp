// The per-user store: registry rules, transactions, kvreg, and the store locked, raced for, damaged or foreign.

#include <gtest/gtest.h>

#include "Process.h"
#include "TempHome.h"
#include "kvplatform/store/Store.h"

namespace {

using kv::ErrorCode;
using kv::platform::NormalizeKeyPath;
using kv::platform::Store;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kKey = "software\\Lexora\\wallpaper";

std::shared_ptr<Store> OpenOrDie(const fs::path& file) {
  auto store = Store::Open(file);
  EXPECT_TRUE(store) << store.error().message;
  return store ? *store : nullptr;
}

std::optional<ErrorCode> Refused(const fs::path& file) {
  auto store = Store::Open(file);
  return store ? std::nullopt : std::optional(store.error().code);
}

fs::path Log(const fs::path& file) { return file.string() + "-wal"; }
// The store file and its log, so that one check covers both.
std::pair<std::string, std::string> Files(const fs::path& file) { return {kvtest::ReadFile(file), kvtest::ReadFile(Log(file))}; }

// Runs SQL with the sqlite3 program: a database as another program leaves it.
std::string Sql(const fs::path& file, const std::string& sql) {
  auto run = kvtest::Run("/usr/bin/sqlite3", {file.string(), sql});
  EXPECT_EQ(run.exitCode, 0) << sql << ": " << run.err;
  return run.out;
}

kvtest::ProcessResult Kvreg(const std::vector<std::string>& args) { return kvtest::Run(kvtest::BinDir() / "kvreg", args); }
// kvreg's exit status and output, as "STATUS:OUT".
std::string Said(const std::vector<std::string>& args) {
  auto result = Kvreg(args);
  return std::to_string(result.exitCode) + ":" + result.out;
}
// kvreg ends with `status` and says `text` on stderr.
testing::AssertionResult Fails(const std::vector<std::string>& args, int status, const std::string& text) {
  auto result = Kvreg(args);
  if (result.exitCode == status && result.err.find(text) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << testing::PrintToString(args) << ": " << result.exitCode << " " << result.err;
}

TEST(Store, KeysAndValuesFollowRegistryRules) {
  kvtest::TempHome home;
  auto store = OpenOrDie(home.StoreFile());
  EXPECT_EQ(store->OpenKey(kKey).error().code, ErrorCode::NotFound);
  auto key = store->CreateKey(kKey);
  ASSERT_TRUE(key) << key.error().message;
  EXPECT_TRUE(*store->KeyExists("software"));
  EXPECT_TRUE(*store->KeyExists("SOFTWARE\\lexora"));
  EXPECT_TRUE(store->OpenKey("\\Software\\\\LEXORA\\Wallpaper\\")) << "paths compare without case or stray separators";
  EXPECT_FALSE(*key->QueryValue("FontSize")) << "a missing value is not an empty one";
  ASSERT_TRUE(key->SetValue("FontSize", "40") && key->SetValue("Empty", ""));
  EXPECT_EQ(*key->QueryValue("fontsize"), "40");
  EXPECT_EQ(*key->QueryValue("EMPTY"), "");
  ASSERT_TRUE(key->SetValue("FONTSIZE", "41"));
  EXPECT_EQ(*store->OpenKey("software\\lexora\\wallpaper")->QueryValue("FontSize"), "41") << "one value, not two";
  // Long and non-ASCII text comes back whole, also to a fresh connection.
  const std::string text = std::string(10000, 'x') + "Zoë’s “café” — 東京 🌅\nsecond line";
  ASSERT_TRUE(store->CreateKey("t")->SetValue("Long", text));
  EXPECT_EQ(*OpenOrDie(home.StoreFile())->OpenKey("t")->QueryValue("Long"), text);
  ASSERT_TRUE(key->SetValue("FontColor", "255"));
  std::vector<std::string> listed;
  auto values = key->ListValues();
  for (const auto& value : *values) listed.push_back(value.name + "=" + value.data);
  EXPECT_EQ(listed, (std::vector<std::string>{"Empty=", "FontColor=255", "FontSize=41"}));
  EXPECT_TRUE(*key->DeleteValue("fontcolor"));
  EXPECT_FALSE(*key->DeleteValue("FontColor")) << "a second delete finds nothing";
  for (const char* path : {"wallpaper\\deeper\\still", "other", "wallpaper2", "wallpaper]"})
    ASSERT_TRUE(store->CreateKey(std::string("software\\Lexora\\") + path));
  EXPECT_EQ(*store->OpenKey("software\\Lexora")->ListSubkeys(),
            (std::vector<std::string>{"other", "wallpaper", "wallpaper2", "wallpaper]"}));
  EXPECT_TRUE(*store->DeleteKey("software\\lexora\\WALLPAPER"));
  EXPECT_FALSE(*store->KeyExists("software\\Lexora\\wallpaper\\deeper"));
  for (const char* kept : {"other", "wallpaper2", "wallpaper]"})
    EXPECT_TRUE(*store->KeyExists(std::string("software\\Lexora\\") + kept)) << kept << ": only starts alike";
  EXPECT_FALSE(*store->DeleteKey(kKey));
  ASSERT_TRUE(key->SetValue("FontSize", "42"));
  EXPECT_EQ(*store->OpenKey(kKey)->QueryValue("FontSize"), "42") << "a handle whose key was deleted still writes";
  EXPECT_EQ(std::pair(NormalizeKeyPath("\\\\a\\\\b\\"), NormalizeKeyPath("\\\\")), std::pair(std::string("a\\b"), std::string()));
  EXPECT_EQ(store->CreateKey("\\").error().code, ErrorCode::InvalidArgument);
}

TEST(Store, TransactionsCommitWholeOrNothingAndSnapshotsStayStable) {
  kvtest::TempHome home;
  auto store = OpenOrDie(home.StoreFile());
  auto key = *store->CreateKey("k");
  auto fresh = [&](const char* name) { return *OpenOrDie(home.StoreFile())->OpenKey("k")->QueryValue(name); };
  {
    auto transaction = *store->Begin();
    ASSERT_TRUE(key.SetValue("a", "1"));
  }  // destroyed without Commit: rolled back
  EXPECT_FALSE(*key.QueryValue("a"));
  {
    auto outer = *store->Begin();
    {
      auto inner = *store->Begin();
      ASSERT_TRUE(key.SetValue("b", "2"));
      ASSERT_TRUE(inner.Commit());
    }
    EXPECT_FALSE(fresh("b")) << "not visible before the outer commit";
    ASSERT_TRUE(outer.Commit());
  }
  EXPECT_EQ(fresh("b"), "2");
  {
    auto outer = *store->Begin();
    ASSERT_TRUE(key.SetValue("c", "3"));
    { auto inner = *store->Begin(); }  // an inner part that failed
    EXPECT_FALSE(outer.Commit()) << "a part failed, so the whole is refused";
  }
  EXPECT_FALSE(*key.QueryValue("c"));
  auto reader = OpenOrDie(home.StoreFile());
  auto readerKey = *reader->OpenKey("k");
  ASSERT_TRUE(key.SetValue("a", "old"));
  {
    auto snapshot = reader->BeginRead();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(*readerKey.QueryValue("a"), "old");
    ASSERT_TRUE(key.SetValue("a", "new")) << "a writer never waits for a reader";
    EXPECT_EQ(*readerKey.QueryValue("a"), "old") << "the snapshot does not move";
    EXPECT_FALSE(reader->Begin()) << "no write may start inside a snapshot";
    ASSERT_TRUE(snapshot->Commit());
  }
  EXPECT_EQ(*readerKey.QueryValue("a"), "new");
  EXPECT_FALSE(*readerKey.CompareAndSet("a", std::string("old"), "stale")) << "the value changed since it was seen";
  EXPECT_TRUE(*readerKey.CompareAndSet("a", std::string("new"), "newer"));
  EXPECT_TRUE(*readerKey.CompareAndSet("b2", std::nullopt, "fresh"));
  EXPECT_FALSE(*readerKey.CompareAndSet("b2", std::nullopt, "again"));
  EXPECT_EQ(*readerKey.QueryValue("b2"), "fresh");
  // Another program's connection opening never resets the journal under this one: its next write is not lost.
  ASSERT_TRUE(OpenOrDie(home.StoreFile()));
  EXPECT_EQ(Kvreg({"get", "k", "a"}).out, "newer\n");
  ASSERT_TRUE(key.SetValue("a", "newest"));
  EXPECT_EQ(Kvreg({"get", "k", "a"}).out, "newest\n");
}

TEST(Store, KvregGetsSetsDeletesListsAndExplainsBadUsage) {
  kvtest::TempHome home;
  EXPECT_TRUE(Fails({"get", kKey, "FontSize"}, 1, "does not exist"));
  const std::string path = "/data/with spaces/ünïcode";
  for (auto [name, value] : {std::pair{"FontSize", "40"}, {"Empty", ""}, {"Path", path.c_str()}})
    EXPECT_EQ(Said({"set", kKey, name, value}), "0:") << name;
  EXPECT_TRUE(Fails({"get", kKey, "Missing"}, 1, "Missing"));
  for (auto [args, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"get", "SOFTWARE\\lexora\\WALLPAPER", "fontsize"}, "0:40\n"},  // names compare without case
           {{"get", kKey, "Empty"}, "0:\n"}, {{"get", kKey, "Path"}, "0:" + path + "\n"},
           {{"list", "software\\Lexora"}, "0:software\\Lexora\n    [wallpaper]\n"},
           {{"list", kKey}, "0:" + kKey + "\n    Empty = \n    FontSize = 40\n    Path = " + path + "\n"},
           {{"delete", kKey, "FontSize"}, "0:"}, {{"delete", kKey, "FontSize"}, "1:"},
           {{"delete", "software\\Lexora"}, "0:"}, {{"list", kKey}, "1:"}, {{"delete", "software\\Lexora"}, "1:"}})
    EXPECT_EQ(Said(args), said) << testing::PrintToString(args);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"get", "k"}, {"set", "k", "n"}, {"list"}, {"list", "a", "b"}, {"get", "\\", "n"}})
    EXPECT_TRUE(Fails(args, 2, "usage: kvreg"));
  EXPECT_TRUE(Said({"--help"}).starts_with("0:usage: kvreg")) << Said({"--help"});
  EXPECT_NE(Kvreg({"--help"}).out.find("kvreg list KEY"), std::string::npos);
}

TEST(Store, LockedStoreWaitsThenFailsClearlyAndRecovers) {
  kvtest::TempHome home;
  setenv("KVILLO_STORE_TIMEOUT_MS", "300", 1);
  auto writer = OpenOrDie(home.StoreFile());
  auto key = *writer->CreateKey("k");
  ASSERT_TRUE(key.SetValue("a", "1"));
  auto other = OpenOrDie(home.StoreFile());
  auto lock = other->Begin();  // the other program holds the write lock
  ASSERT_TRUE(lock);
  auto started = std::chrono::steady_clock::now();
  auto written = key.SetValue("a", "2");
  auto waited = std::chrono::steady_clock::now() - started;
  ASSERT_FALSE(written);
  const std::string& message = written.error().message;
  EXPECT_EQ(written.error().code, ErrorCode::Busy);
  EXPECT_NE(message.find("locked"), std::string::npos) << message;
  EXPECT_GE(waited, 250ms) << "a write waits for the other program first";
  size_t at = message.find("(waited ");
  long reported = at == std::string::npos ? 0 : std::stol(message.substr(at + 8));
  EXPECT_GE(reported, 250) << message;
  EXPECT_LE(reported, std::chrono::duration_cast<std::chrono::milliseconds>(waited).count()) << message;
  EXPECT_EQ(*key.QueryValue("a"), "1") << "reads go on while another program writes";
  ASSERT_TRUE(lock->Commit());
  EXPECT_TRUE(key.SetValue("a", "3")) << "the store works again once the lock is gone";
  EXPECT_EQ(*key.QueryValue("a"), "3");
  unsetenv("KVILLO_STORE_TIMEOUT_MS");
}

// Another program holds the write lock on the new, empty file: only trying the whole open again gets it through.
TEST(Store, ProgramsCreatingTheStoreTogetherBothGetIt) {
  kvtest::TempHome home;
  setenv("KVILLO_STORE_TIMEOUT_MS", "60000", 1);  // the fault fails in milliseconds, without waiting
  fs::path file = home.Root() / "held" / "registry.sqlite";
  kvtest::WriteFile(file, "");
  kvtest::Child holder("/bin/sh", {"-c", "sleep 2 | /usr/bin/sqlite3 -cmd 'BEGIN IMMEDIATE' -cmd \"SELECT 'holding'\" \"$0\"",
                                   file.string()});
  ASSERT_TRUE(kvtest::WaitFor([&] { return holder.OutSoFar() == "holding\n"; }, 30s)) << holder.ErrSoFar();
  auto store = OpenOrDie(file);
  EXPECT_TRUE(store && store->CreateKey(kKey));
  unsetenv("KVILLO_STORE_TIMEOUT_MS");
}

TEST(Store, DamagedStoreAndItsLogAreNeverWritten) {
  kvtest::TempHome home;
  fs::path good = home.Root() / "good.sqlite";
  fs::path file = home.StoreFile();
  {
    auto key = *(*Store::Open(good))->CreateKey(kKey);
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(key.SetValue("Value" + std::to_string(i), std::string(200, 'v')));
  }
  {
    // A program that died with its last write still in the log.
    auto store = *Store::Open(good);
    ASSERT_TRUE(store->OpenKey(kKey)->SetValue("Latest", "only in the log"));
    kvtest::WriteFile(file, kvtest::ReadFile(good));
    kvtest::WriteFile(Log(file), kvtest::ReadFile(Log(good)));
  }
  auto [bytes, log] = Files(file);
  ASSERT_GT(log.size(), 0u);
  const std::string cut = bytes.substr(0, bytes.size() / 3);  // as a full disk or a bad copy leaves it
  kvtest::WriteFile(file, cut);
  EXPECT_EQ(Refused(file), ErrorCode::Corrupt) << "a truncated store must not pass as a good one";
  EXPECT_EQ(Files(file), std::pair(cut, log)) << "both left alone";
  for (size_t i = bytes.size() / 3; i < bytes.size() * 2 / 3; i += 5) bytes[i] = static_cast<char>(i * 13);
  kvtest::WriteFile(file, bytes);
  EXPECT_EQ(Refused(file), ErrorCode::Corrupt);
  EXPECT_TRUE(Fails({"get", kKey, "Latest"}, 3, "damaged"));
  auto get = Kvreg({"get", kKey, "Latest"});
  EXPECT_NE(get.err.find(file.string()), std::string::npos) << get.err;
  EXPECT_EQ(get.err.find('\n'), get.err.size() - 1) << "one line: " << get.err;
  EXPECT_EQ(Files(file), std::pair(bytes, log))
      << "nothing was folded into the damaged file, and the log is kept as it was";
  // A blank database whose header asks for a newer writer is refused, and keeps the log beside it too.
  fs::remove(file);
  Sql(file, "PRAGMA journal_mode=WAL; PRAGMA user_version=1;");
  bytes = kvtest::ReadFile(file);
  bytes[18] = 4;
  kvtest::WriteFile(file, bytes);
  log = std::string(69, '\x7f');
  kvtest::WriteFile(Log(file), log);
  EXPECT_TRUE(Refused(file));
  EXPECT_EQ(Files(file), std::pair(bytes, log)) << "the log of a store that refuses writes is kept";
  // An empty file holds nothing to lose and becomes the store.
  kvtest::WriteFile(file, "");
  fs::remove(Log(file));
  auto store = OpenOrDie(file);
  EXPECT_TRUE(store && store->CreateKey(kKey));
}

TEST(Store, ForeignDatabasesAreLeftAloneAndEarlierStoresKept) {
  kvtest::TempHome home;
  fs::path file = home.StoreFile();
  fs::create_directories(file.parent_path());
  for (auto [what, sql] : std::vector<std::pair<const char*, std::string>>{
           {"a notes database", "CREATE TABLE notes(id INTEGER PRIMARY KEY, body TEXT); INSERT INTO notes VALUES(1, 'k');"},
           {"our table names, other columns",
            "CREATE TABLE keys(path TEXT); CREATE TABLE vals(key TEXT, value TEXT); INSERT INTO keys VALUES('x');"},
           {"our tables, marked as another program's",
            "PRAGMA application_id=7; CREATE TABLE keys(path TEXT NOT NULL PRIMARY KEY) WITHOUT ROWID;"
            "CREATE TABLE vals(key TEXT NOT NULL, name TEXT NOT NULL, data TEXT NOT NULL, PRIMARY KEY(key, name)) "
            "WITHOUT ROWID;"},
           {"our tables and more", "CREATE TABLE keys(path TEXT); CREATE TABLE vals(key TEXT, name TEXT, data TEXT);"
                                   "CREATE TABLE extra(x); PRAGMA journal_mode=WAL;"}}) {
    fs::remove(file);
    Sql(file, sql);
    std::string bytes = kvtest::ReadFile(file);
    EXPECT_TRUE(Fails({"get", kKey, "FontSize"}, 3, "another program's database")) << what;
    EXPECT_TRUE(Fails({"set", kKey, "FontSize", "20"}, 3, "another program's database")) << what;
    EXPECT_EQ(kvtest::ReadFile(file), bytes) << what << " was changed";
    EXPECT_FALSE(fs::exists(Log(file))) << what;
    EXPECT_EQ(Refused(file), ErrorCode::Corrupt) << what;
  }
  // A store as earlier builds made it: the same tables, no mark.
  fs::remove(file);
  Sql(file, "PRAGMA journal_mode=WAL;"
      "CREATE TABLE keys(path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE) WITHOUT ROWID;"
      "CREATE TABLE vals(key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
      " data TEXT NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
      "INSERT INTO keys VALUES('software'), ('software\\Lexora'), ('software\\Lexora\\wallpaper');"
      "INSERT INTO vals VALUES('software\\Lexora\\wallpaper', 'FontSize', '33');");
  EXPECT_EQ(Said({"get", kKey, "fontsize"}), "0:33\n");
  EXPECT_NE(Sql(file, "PRAGMA application_id"), "0\n") << "the earlier store is marked as ours";
  EXPECT_EQ(Said({"set", kKey, "FontSize", "34"}), "0:");
  EXPECT_EQ(Said({"get", kKey, "FontSize"}), "0:34\n");
}

}  // namespace
