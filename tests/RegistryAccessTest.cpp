// Single values of the settings key through the library: defaults stored on
// a miss, empty writes, long values, the per-thread global object, and a
// store that was read-only for a while.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "kvshared/CStatics.h"
#include "kvshared/Funcs.h"

namespace {

using kv::CStatics;
using kv::Statics;
using kvtest::StoredSetting;

constexpr auto kApp = CStatics::REGAPPLICATION;
constexpr auto kSection = CStatics::REGSECTION;

TEST(RegistryAccess, FirstReadStoresTheDefaultAndValuesComeBackWhole) {
  kvtest::TempHome home;
  EXPECT_EQ(*Statics().GetRegistrySetting(kApp, kSection, "Greeting", "hello"), "hello");
  EXPECT_EQ(StoredSetting("Greeting"), "hello") << "the default is stored by the read that missed";
  kvtest::StoreSetting("Greeting", "changed elsewhere");
  EXPECT_EQ(*Statics().GetRegistrySetting(kApp, kSection, "Greeting", "hello"), "changed elsewhere");
  EXPECT_EQ(*Statics().GetRegistrySetting(kApp, kSection, "NoDefault"), "");
  EXPECT_EQ(StoredSetting("NoDefault"), "") << "an omitted default stores an empty value";
  ASSERT_TRUE(Statics().SaveRegistrySetting(kApp, kSection, "Greeting", ""));
  EXPECT_EQ(StoredSetting("Greeting"), "") << "an empty write leaves an empty value, not none";
  EXPECT_EQ(*Statics().GetRegistrySetting(kApp, kSection, "Greeting", "hello"), "");
  EXPECT_TRUE(*kv::DeleteRegistryValue(kApp, kSection, "Greeting"));
  EXPECT_FALSE(*kv::DeleteRegistryValue(kApp, kSection, "Greeting"));
  EXPECT_FALSE(StoredSetting("Greeting"));

  std::string folder = "/home/someone/" + std::string(300, 'd') + "/Kvillo data";
  kvtest::StoreSetting("Path", folder);
  EXPECT_EQ(*kv::ReadRegistryValue(kApp, kSection, "Path", "/default"), folder);
  EXPECT_EQ(StoredSetting("Path"), folder) << "a long value is never replaced by the default";
}

TEST(RegistryAccess, EachThreadHasItsOwnGlobalObject) {
  kvtest::TempHome home;
  CStatics* mine = &Statics();
  EXPECT_EQ(mine, &Statics());
  CStatics* theirs = nullptr;
  std::string fromThread;
  std::thread([&] {
    theirs = &Statics();
    if (Statics().SaveRegistrySetting(kApp, kSection, "FromThread", "yes")) {
      fromThread = Statics().GetRegistrySetting(kApp, kSection, "FromThread").value_or("");
    }
  }).join();
  EXPECT_NE(mine, theirs);
  EXPECT_EQ(fromThread, "yes");
  EXPECT_EQ(*Statics().GetRegistrySetting(kApp, kSection, "FromThread"), "yes");
}

// Runs `body` in a child process as an ordinary user (file modes do not bind
// root); true when it found no problem (it prints any it finds).
template <class Body>
bool AsOrdinaryUser(const kvtest::TempHome& home, Body body) {
  pid_t child = fork();
  if (child == 0) {
    std::string own = "chown -R 65534:65534 '" + home.Root().string() + "'";
    if (geteuid() == 0 && (system(own.c_str()) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    std::string problem = body();
    if (!problem.empty()) std::fprintf(stderr, "%s\n", problem.c_str());
    _exit(problem.empty() ? 0 : 1);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A store read-only for a while (restored with the wrong mode) is read
// meanwhile; once writable again, the program that read it saves again, and
// so does every program after it.
TEST(RegistryAccess, StoreIsWritableAgainAfterAReadOnlySpell) {
  kvtest::TempHome home;
  kvtest::StoreSetting("FontSize", "20");
  EXPECT_TRUE(AsOrdinaryUser(home, [&]() -> std::string {
    auto save = [](const char* size) { return Statics().SaveRegistrySetting(kApp, kSection, "FontSize", size); };
    std::string file = home.StoreFile().string();
    chmod(file.c_str(), 0444);
    testing::internal::CaptureStderr();
    auto read = Statics().GetRegistrySetting(kApp, kSection, "FontSize", "40");
    bool refused = !save("21");
    (void)testing::internal::GetCapturedStderr();
    if (!read || *read != "20") return "the read-only store was not read";
    if (!refused) return "a read-only store took a write";

    chmod(file.c_str(), 0644);
    if (auto saved = save("22"); !saved) return "the program that read it cannot save: " + saved.error().message;
    auto later = kvtest::Run(kvtest::BinDir() / "kvreg", {"set", std::string(kvtest::kSettingsKey), "FontSize", "23"});
    if (later.exitCode != 0) return "a later program cannot save: " + later.err;
    auto again = Statics().GetRegistrySetting(kApp, kSection, "FontSize", "40");
    return again && *again == "23" ? "" : "the later save is not seen";
  })) << "the problem is printed above";
}

}  // namespace
