// The per-user store: registry semantics, transactions and snapshots, and
// the store in a hostile place: locked by another program, programs racing
// to create it, a damaged file with a log beside it, another program's
// database at its path.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Process.h"
#include "TempHome.h"
#include "kvplatform/store/Store.h"

namespace {

using kv::ErrorCode;
using kv::platform::NormalizeKeyPath;
using kv::platform::Store;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kKey = "software\\Lexora\\wallpaper";

std::shared_ptr<Store> OpenOrDie(const fs::path& file) {
  auto store = Store::Open(file);
  EXPECT_TRUE(store) << store.error().message;
  return store ? *store : nullptr;
}

fs::path Log(const fs::path& file) { return file.string() + "-wal"; }

// Runs SQL on `file` with the sqlite3 command-line program: a database as
// another program leaves it.
std::string Sql(const fs::path& file, const std::string& sql) {
  auto run = kvtest::Run("/usr/bin/sqlite3", {file.string(), sql});
  EXPECT_EQ(run.exitCode, 0) << sql << ": " << run.err;
  return run.out;
}

kvtest::ProcessResult Kvreg(const std::vector<std::string>& args) {
  return kvtest::Run(kvtest::BinDir() / "kvreg", args);
}

TEST(Store, KeysAndValuesFollowRegistryRules) {
  kvtest::TempHome home;
  auto store = OpenOrDie(home.StoreFile());

  auto missing = store->OpenKey("software\\Lexora\\wallpaper");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, ErrorCode::NotFound);

  auto key = store->CreateKey("software\\Lexora\\wallpaper");
  ASSERT_TRUE(key) << key.error().message;
  EXPECT_TRUE(*store->KeyExists("software"));
  EXPECT_TRUE(*store->KeyExists("SOFTWARE\\lexora"));
  EXPECT_TRUE(store->OpenKey("\\Software\\\\LEXORA\\Wallpaper\\")) << "paths compare without case or stray separators";

  EXPECT_FALSE(*key->QueryValue("FontSize")) << "a missing value is not an empty one";
  ASSERT_TRUE(key->SetValue("FontSize", "40"));
  ASSERT_TRUE(key->SetValue("Empty", ""));
  EXPECT_EQ(*key->QueryValue("fontsize"), "40");
  EXPECT_EQ(*key->QueryValue("EMPTY"), "");
  ASSERT_TRUE(key->SetValue("FONTSIZE", "41"));
  EXPECT_EQ(*store->OpenKey("software\\lexora\\wallpaper")->QueryValue("FontSize"), "41") << "one value, not two";
  // Long and non-ASCII text comes back whole, also to a fresh connection.
  const std::string text = std::string(10000, 'x') + "Zoë’s “café” — 東京 🌅\nsecond line";
  ASSERT_TRUE(store->CreateKey("t")->SetValue("Long", text));
  EXPECT_EQ(*OpenOrDie(home.StoreFile())->OpenKey("t")->QueryValue("Long"), text);

  ASSERT_TRUE(key->SetValue("FontColor", "255"));

  auto values = *key->ListValues();
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].name, "Empty");
  EXPECT_EQ(values[1].name, "FontColor");
  EXPECT_EQ(values[2].data, "41");

  EXPECT_TRUE(*key->DeleteValue("fontcolor"));
  EXPECT_FALSE(*key->DeleteValue("FontColor")) << "a second delete finds nothing";

  ASSERT_TRUE(store->CreateKey("software\\Lexora\\wallpaper\\deeper\\still"));
  ASSERT_TRUE(store->CreateKey("software\\Lexora\\other"));
  ASSERT_TRUE(store->CreateKey("software\\Lexora\\wallpaper2"));
  ASSERT_TRUE(store->CreateKey("software\\Lexora\\wallpaper]"));
  auto lexora = *store->OpenKey("software\\Lexora");
  EXPECT_EQ(*lexora.ListSubkeys(), (std::vector<std::string>{"other", "wallpaper", "wallpaper2", "wallpaper]"}));

  EXPECT_TRUE(*store->DeleteKey("software\\lexora\\WALLPAPER"));
  EXPECT_FALSE(*store->KeyExists("software\\Lexora\\wallpaper\\deeper"));
  EXPECT_TRUE(*store->KeyExists("software\\Lexora\\other"));
  EXPECT_TRUE(*store->KeyExists("software\\Lexora\\wallpaper2")) << "a key that only starts alike stays";
  EXPECT_TRUE(*store->KeyExists("software\\Lexora\\wallpaper]"));
  EXPECT_FALSE(*store->DeleteKey("software\\Lexora\\wallpaper"));

  // A handle whose key was deleted by someone else still writes.
  ASSERT_TRUE(key->SetValue("FontSize", "42"));
  EXPECT_EQ(*store->OpenKey("software\\Lexora\\wallpaper")->QueryValue("FontSize"), "42");

  EXPECT_EQ(NormalizeKeyPath("\\\\a\\\\b\\"), "a\\b");
  EXPECT_EQ(NormalizeKeyPath("\\\\"), "");
  EXPECT_EQ(store->CreateKey("\\").error().code, ErrorCode::InvalidArgument);
}

TEST(Store, TransactionsCommitWholeOrNothing) {
  kvtest::TempHome home;
  auto store = OpenOrDie(home.StoreFile());
  auto key = *store->CreateKey("k");
  {
    auto transaction = *store->Begin();
    ASSERT_TRUE(key.SetValue("a", "1"));
    // Destroyed without Commit: rolled back.
  }
  EXPECT_FALSE(*key.QueryValue("a"));
  {
    auto outer = *store->Begin();
    {
      auto inner = *store->Begin();
      ASSERT_TRUE(key.SetValue("b", "2"));
      ASSERT_TRUE(inner.Commit());
    }
    EXPECT_FALSE(*OpenOrDie(home.StoreFile())->OpenKey("k")->QueryValue("b")) << "not visible before the outer commit";
    ASSERT_TRUE(outer.Commit());
  }
  EXPECT_EQ(*OpenOrDie(home.StoreFile())->OpenKey("k")->QueryValue("b"), "2");
  {
    auto outer = *store->Begin();
    ASSERT_TRUE(key.SetValue("c", "3"));
    { auto inner = *store->Begin(); }  // an inner part that failed
    EXPECT_FALSE(outer.Commit()) << "a part failed, so the whole is refused";
  }
  EXPECT_FALSE(*key.QueryValue("c"));
}

TEST(Store, ConnectionsSeeStableSnapshotsAndKeepTheirWrites) {
  kvtest::TempHome home;
  auto reader = OpenOrDie(home.StoreFile());
  auto writer = OpenOrDie(home.StoreFile());
  auto writerKey = *writer->CreateKey("k");
  ASSERT_TRUE(writerKey.SetValue("a", "old"));
  auto readerKey = *reader->OpenKey("k");
  {
    auto snapshot = reader->BeginRead();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(*readerKey.QueryValue("a"), "old");
    ASSERT_TRUE(writerKey.SetValue("a", "new")) << "a writer never waits for a reader";
    EXPECT_EQ(*readerKey.QueryValue("a"), "old") << "the snapshot does not move";
    EXPECT_FALSE(reader->Begin()) << "no write may start inside a snapshot";
    ASSERT_TRUE(snapshot->Commit());
  }
  EXPECT_EQ(*readerKey.QueryValue("a"), "new");

  EXPECT_FALSE(*readerKey.CompareAndSet("a", std::string("old"), "stale")) << "the value changed since it was seen";
  EXPECT_TRUE(*readerKey.CompareAndSet("a", std::string("new"), "newer"));
  EXPECT_TRUE(*readerKey.CompareAndSet("b", std::nullopt, "fresh"));
  EXPECT_FALSE(*readerKey.CompareAndSet("b", std::nullopt, "again"));
  EXPECT_EQ(*readerKey.QueryValue("b"), "fresh");

  // Opening another connection (the library's, another program's) never
  // resets the journal under this one: its next write is not lost.
  ASSERT_TRUE(OpenOrDie(home.StoreFile()));
  EXPECT_EQ(Kvreg({"get", "k", "a"}).out, "newer\n");
  ASSERT_TRUE(writerKey.SetValue("a", "newest"));
  EXPECT_EQ(Kvreg({"get", "k", "a"}).out, "newest\n");
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
  EXPECT_EQ(written.error().code, ErrorCode::Busy);
  EXPECT_NE(written.error().message.find("locked"), std::string::npos) << written.error().message;
  EXPECT_GE(waited, std::chrono::milliseconds(250)) << "a write waits for the other program first";
  // The message says how long it really waited.
  size_t figure = written.error().message.find("(waited ");
  ASSERT_NE(figure, std::string::npos) << written.error().message;
  long reported = std::strtol(written.error().message.c_str() + figure + 8, nullptr, 10);
  EXPECT_GE(reported, 250) << written.error().message;
  EXPECT_LE(reported, std::chrono::duration_cast<std::chrono::milliseconds>(waited).count()) << written.error().message;
  EXPECT_EQ(*key.QueryValue("a"), "1") << "reads go on while another program writes";

  ASSERT_TRUE(lock->Commit());
  EXPECT_TRUE(key.SetValue("a", "3")) << "the store works again once the lock is gone";
  EXPECT_EQ(*key.QueryValue("a"), "3");
  unsetenv("KVILLO_STORE_TIMEOUT_MS");
}

// The service and the settings window start together at log-on, and on a
// first log-on both make the store: another program holds the write lock
// on the new, still empty file while this one sets it up, so this one's
// switch to its journal mode (a read lock that must become a write lock) is
// refused at once, and only trying the whole again gets it through.
TEST(Store, ProgramsCreatingTheStoreTogetherBothGetIt) {
  kvtest::TempHome home;
  // A wait that only a real fault runs out of, however busy the machine is:
  // the fault shown here fails in milliseconds, without waiting at all.
  setenv("KVILLO_STORE_TIMEOUT_MS", "60000", 1);
  fs::path file = home.Root() / "held" / "registry.sqlite";
  kvtest::WriteFile(file, "");
  kvtest::Child holder("/bin/sh", {"-c", "sleep 2 | /usr/bin/sqlite3 -cmd 'BEGIN IMMEDIATE' -cmd \"SELECT 'holding'\" \"$0\"",
                                   file.string()});
  ASSERT_TRUE(kvtest::WaitFor([&] { return holder.OutSoFar() == "holding\n"; }, 30s)) << holder.ErrSoFar();
  auto store = Store::Open(file);
  ASSERT_TRUE(store) << store.error().message;
  EXPECT_TRUE((*store)->CreateKey(kKey));
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
  std::string log = kvtest::ReadFile(Log(file));
  ASSERT_GT(log.size(), 0u);
  std::string bytes = kvtest::ReadFile(file);
  // Cut short, as a full disk or a bad copy leaves it, it is no good store.
  kvtest::WriteFile(file, bytes.substr(0, bytes.size() / 3));
  auto cut = Store::Open(file);
  ASSERT_FALSE(cut) << "a truncated store must not pass as a good one";
  EXPECT_EQ(cut.error().code, ErrorCode::Corrupt) << cut.error().message;
  EXPECT_EQ(kvtest::ReadFile(file), bytes.substr(0, bytes.size() / 3));
  EXPECT_EQ(kvtest::ReadFile(Log(file)), log);
  for (size_t i = bytes.size() / 3; i < bytes.size() * 2 / 3; i += 5) bytes[i] = static_cast<char>(i * 13);
  kvtest::WriteFile(file, bytes);

  auto opened = Store::Open(file);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().code, ErrorCode::Corrupt) << opened.error().message;
  auto get = Kvreg({"get", std::string(kKey), "Latest"});
  EXPECT_EQ(get.exitCode, 3) << get.err;
  EXPECT_NE(get.err.find("damaged"), std::string::npos) << get.err;
  EXPECT_NE(get.err.find(file.string()), std::string::npos) << get.err;
  EXPECT_EQ(get.err.find('\n'), get.err.size() - 1) << "one line: " << get.err;
  EXPECT_EQ(kvtest::ReadFile(file), bytes) << "nothing was folded into the damaged file";
  EXPECT_EQ(kvtest::ReadFile(Log(file)), log) << "the log is kept as it was";

  // A blank database whose header asks for a newer writer cannot be set up;
  // refused, it keeps the log beside it too, whatever that holds.
  fs::remove(file);
  Sql(file, "PRAGMA journal_mode=WAL; PRAGMA user_version=1;");
  bytes = kvtest::ReadFile(file);
  bytes[18] = 4;
  kvtest::WriteFile(file, bytes);
  log = std::string(69, '\x7f');
  kvtest::WriteFile(Log(file), log);
  EXPECT_FALSE(Store::Open(file));
  EXPECT_EQ(kvtest::ReadFile(file), bytes);
  EXPECT_EQ(kvtest::ReadFile(Log(file)), log) << "the log of a store that refuses writes is kept";

  // An empty file holds nothing to lose and becomes the store.
  kvtest::WriteFile(file, "");
  fs::remove(Log(file));
  auto store = Store::Open(file);
  ASSERT_TRUE(store) << store.error().message;
  EXPECT_TRUE((*store)->CreateKey(kKey));
}

TEST(Store, ForeignDatabasesAreLeftAloneAndEarlierStoresKept) {
  kvtest::TempHome home;
  fs::path file = home.StoreFile();
  fs::create_directories(file.parent_path());
  struct Foreign {
    const char* what;
    std::string sql;
  };
  const std::vector<Foreign> foreign{
      {"a notes database", "CREATE TABLE notes(id INTEGER PRIMARY KEY, body TEXT); INSERT INTO notes VALUES(1, 'keep');"},
      {"tables of our names with other columns",
       "CREATE TABLE keys(path TEXT); CREATE TABLE vals(key TEXT, value TEXT); INSERT INTO keys VALUES('x');"},
      {"our tables in a database marked as another program's",
       "PRAGMA application_id=7; CREATE TABLE keys(path TEXT NOT NULL PRIMARY KEY) WITHOUT ROWID;"
       "CREATE TABLE vals(key TEXT NOT NULL, name TEXT NOT NULL, data TEXT NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"},
      {"our tables and more", "CREATE TABLE keys(path TEXT); CREATE TABLE vals(key TEXT, name TEXT, data TEXT);"
                              "CREATE TABLE extra(x); PRAGMA journal_mode=WAL;"},
  };
  for (const Foreign& database : foreign) {
    fs::remove(file);
    Sql(file, database.sql);
    std::string bytes = kvtest::ReadFile(file);
    auto get = Kvreg({"get", std::string(kKey), "FontSize"});
    auto set = Kvreg({"set", std::string(kKey), "FontSize", "20"});
    EXPECT_EQ(get.exitCode, 3) << database.what;
    EXPECT_EQ(set.exitCode, 3) << database.what;
    EXPECT_NE(get.err.find("another program's database"), std::string::npos) << database.what << ": " << get.err;
    EXPECT_EQ(kvtest::ReadFile(file), bytes) << database.what << " was changed";
    EXPECT_FALSE(fs::exists(Log(file))) << database.what;
    auto opened = Store::Open(file);
    ASSERT_FALSE(opened) << database.what;
    EXPECT_EQ(opened.error().code, ErrorCode::Corrupt);
  }

  // A store as earlier builds made it: the same tables, no mark.
  fs::remove(file);
  Sql(file,
      "PRAGMA journal_mode=WAL;"
      "CREATE TABLE keys(path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE) WITHOUT ROWID;"
      "CREATE TABLE vals(key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
      " data TEXT NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
      "INSERT INTO keys VALUES('software'), ('software\\Lexora'), ('software\\Lexora\\wallpaper');"
      "INSERT INTO vals VALUES('software\\Lexora\\wallpaper', 'FontSize', '33');");
  auto get = Kvreg({"get", std::string(kKey), "fontsize"});
  EXPECT_EQ(get.exitCode, 0) << get.err;
  EXPECT_EQ(get.out, "33\n");
  EXPECT_NE(Sql(file, "PRAGMA application_id"), "0\n") << "the earlier store is marked as ours";
  EXPECT_EQ(Kvreg({"set", std::string(kKey), "FontSize", "34"}).exitCode, 0);
  EXPECT_EQ(Kvreg({"get", std::string(kKey), "FontSize"}).out, "34\n");
}

}  // namespace
