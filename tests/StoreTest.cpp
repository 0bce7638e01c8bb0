// The per-user store: registry semantics, transactions, and what a damaged,
// locked or shared store does.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Process.h"
#include "TempHome.h"
#include "kvplatform/store/Store.h"

namespace {

using kv::ErrorCode;
using kv::platform::NormalizeKeyPath;
using kv::platform::Store;
namespace fs = std::filesystem;

std::shared_ptr<Store> OpenOrDie(const fs::path& file) {
  auto store = Store::Open(file);
  EXPECT_TRUE(store) << store.error().message;
  return store ? *store : nullptr;
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

  EXPECT_FALSE(*key->CompareAndSet("FontSize", std::nullopt, "99")) << "an existing value wins over a default";
  EXPECT_TRUE(*key->CompareAndSet("FontColor", std::nullopt, "255"));

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

TEST(Store, LongAndNonAsciiTextComesBackWhole) {
  kvtest::TempHome home;
  auto key = *OpenOrDie(home.StoreFile())->CreateKey("software\\Lexora\\wallpaper");
  std::string longText(10000, 'x');
  longText += "end";
  std::string unicode = "Zoë’s “café” — 東京 🌅\nsecond line";
  ASSERT_TRUE(key.SetValue("Long", longText));
  ASSERT_TRUE(key.SetValue("Unicode", unicode));
  EXPECT_EQ(*key.QueryValue("Long"), longText);
  EXPECT_EQ(*key.QueryValue("Unicode"), unicode);

  // A fresh connection, as the other program has, sees the same.
  auto again = *OpenOrDie(home.StoreFile())->OpenKey("software\\Lexora\\wallpaper");
  EXPECT_EQ(*again.QueryValue("Long"), longText);
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

TEST(Store, DamagedFilesAreReportedAndNeverTouched) {
  kvtest::TempHome home;
  fs::path file = home.StoreFile();

  std::string garbage = "this is not a settings store, just a note the user kept here\n";
  kvtest::WriteFile(file, garbage);
  auto opened = Store::Open(file);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().code, ErrorCode::Corrupt);
  EXPECT_NE(opened.error().message.find(file.string()), std::string::npos) << opened.error().message;
  EXPECT_EQ(kvtest::ReadFile(file), garbage);
  EXPECT_FALSE(fs::exists(file.string() + "-wal"));

  // A real store cut short, as a full disk or a bad copy leaves it.
  fs::path good = home.Root() / "good.sqlite";
  {
    auto store = OpenOrDie(good);
    auto key = *store->CreateKey("software\\Lexora\\wallpaper");
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(key.SetValue("Value" + std::to_string(i), std::string(200, 'v')));
  }
  std::string bytes = kvtest::ReadFile(good);
  ASSERT_GT(bytes.size(), 20000u);
  std::string truncated = bytes.substr(0, bytes.size() / 3);
  kvtest::WriteFile(file, truncated);
  opened = Store::Open(file);
  ASSERT_FALSE(opened) << "a truncated store must not pass as a good one";
  EXPECT_EQ(opened.error().code, ErrorCode::Corrupt);
  EXPECT_EQ(kvtest::ReadFile(file), truncated);

  // An empty file holds nothing to lose and becomes the store.
  kvtest::WriteFile(file, "");
  auto store = OpenOrDie(file);
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->CreateKey("k"));
}

TEST(Store, ReadSnapshotsStayConsistentWhileOthersWrite) {
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

// A program holds several connections to the store (the library's and its
// own); opening one must never disturb another, or a second program could
// reset the journal under it and its next write would be lost.
TEST(Store, ConnectionsOfOneProgramKeepTheirWritesWhileOthersComeAndGo) {
  kvtest::TempHome home;
  auto first = OpenOrDie(home.StoreFile());
  auto key = *first->CreateKey("software\\Lexora\\wallpaper");
  ASSERT_TRUE(key.SetValue("ServiceStatus", "Running"));
  auto second = OpenOrDie(home.StoreFile());
  ASSERT_TRUE(second);
  auto kvreg = [](std::vector<std::string> args) { return kvtest::Run(kvtest::BinDir() / "kvreg", args); };
  EXPECT_EQ(kvreg({"get", "software\\Lexora\\wallpaper", "ServiceStatus"}).out, "Running\n");
  ASSERT_TRUE(key.SetValue("ServiceStatus", "Stopped"));
  EXPECT_EQ(kvreg({"get", "software\\Lexora\\wallpaper", "ServiceStatus"}).out, "Stopped\n");
}

}  // namespace
