// The programs facing a store that is damaged, cut short or held locked by
// another program: they say so clearly, keep working on the defaults, and
// never overwrite or delete the file.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "kvplatform/ServiceWindow.h"
#include "kvplatform/Store.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::map<std::string, std::optional<std::string>> kHeadless{
    {"DISPLAY", std::nullopt}, {"KVILLO_SCREEN", "640x400"}, {"KVILLO_TICK_MS", "100"}};

bool ServiceAnswers() { return kv::platform::FindServiceWindow(kv::platform::kServiceWindowClass, "KvilloService"); }

// A real store with settings in it, then cut to a third of its length.
std::string TruncatedStore(const kvtest::TempHome& home) {
  {
    auto store = kv::platform::Store::Open(home.StoreFile());
    EXPECT_TRUE(store);
    auto key = *(*store)->CreateKey("software\\Lexora\\wallpaper");
    for (int i = 0; i < 200; ++i) EXPECT_TRUE(key.SetValue("SelectedFonts" + std::to_string(i), std::string(100, 'f')));
  }
  std::string bytes = kvtest::ReadFile(home.StoreFile());
  return bytes.substr(0, bytes.size() / 3);
}

TEST(DamagedStore, ServiceRendersOnDefaultsAndLeavesTheFileAlone) {
  for (int kind = 0; kind < 2; ++kind) {
    kvtest::TempHome home;
    std::string bytes = kind == 0 ? std::string(20000, '\x42') : TruncatedStore(home);
    kvtest::WriteFile(home.StoreFile(), bytes);

    kvtest::Child service(kvtest::BinDir() / "Kvillo", {}, kHeadless);
    fs::path wallpaper = home.DataHome() / "kvillo" / "Kvillo.bmp";
    ASSERT_TRUE(kvtest::WaitFor([&] { return fs::exists(wallpaper) && ServiceAnswers(); }, 20s))
        << service.ErrSoFar();
    ASSERT_TRUE(kv::platform::CloseServiceWindow(kv::platform::kServiceWindowClass, "KvilloService", 10s));
    auto ended = service.Wait(10s);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->exitCode, 0);
    EXPECT_NE(ended->err.find(home.StoreFile().string()), std::string::npos) << ended->err;
    EXPECT_NE(ended->err.find("defaults"), std::string::npos) << ended->err;
    EXPECT_EQ(kvtest::ReadFile(home.StoreFile()), bytes) << "the damaged store is never written";
    EXPECT_FALSE(fs::exists(home.StoreFile().string() + "-wal"));

    // The preview tool and kvreg say the same, and touch nothing either.
    auto preview = kvtest::Run(kvtest::BinDir() / "kvrender", {}, kHeadless);
    EXPECT_EQ(preview.exitCode, 0) << preview.err;
    EXPECT_NE(preview.err.find(home.StoreFile().string()), std::string::npos);
    auto set = kvtest::Run(kvtest::BinDir() / "kvreg", {"set", "software\\Lexora\\wallpaper", "FontSize", "20"});
    EXPECT_EQ(set.exitCode, 3);
    EXPECT_EQ(kvtest::ReadFile(home.StoreFile()), bytes);
  }
}

TEST(DamagedStore, StoreLockedByAnotherProgramIsWaitedForAndReported) {
  kvtest::TempHome home;
  kvtest::StoreSetting("FirstTime", "1");
  kvtest::StoreSetting("Frequency", "0");
  kvtest::StoreSetting("FontSize", "33");
  std::map<std::string, std::optional<std::string>> env = kHeadless;
  env["KVILLO_STORE_TIMEOUT_MS"] = "500";

  // Another program holds the store's write lock for the whole run.
  kvtest::Child holder(KV_STRESS_TOOL, {"hold", "60"});
  ASSERT_TRUE(kvtest::WaitFor([&] { return holder.OutSoFar() == "holding\n"; }, 10s));

  kvtest::Child service(kvtest::BinDir() / "Kvillo", {}, env);
  fs::path wallpaper = home.DataHome() / "kvillo" / "Kvillo.bmp";
  ASSERT_TRUE(kvtest::WaitFor([&] { return fs::exists(wallpaper) && ServiceAnswers(); }, 20s)) << service.ErrSoFar();
  EXPECT_TRUE(service.Running()) << "the service works on while it cannot write";
  std::string err = service.ErrSoFar();
  EXPECT_NE(err.find("locked by another program"), std::string::npos) << err;

  holder.Signal(SIGKILL);
  ASSERT_TRUE(holder.Wait(10s));
  ASSERT_TRUE(kv::platform::CloseServiceWindow(kv::platform::kServiceWindowClass, "KvilloService", 10s));
  ASSERT_TRUE(service.Wait(10s));
  EXPECT_EQ(kvtest::StoredSetting("ServiceStatus"), "Stopped") << "once the lock is gone, writes land again";
  EXPECT_EQ(kvtest::StoredSetting("FontSize"), "33") << "no setting was reset";
}

}  // namespace
