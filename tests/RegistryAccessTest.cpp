// Single values of the settings key through the library: defaults stored on
// a miss, empty writes, long values, the per-thread global object, and a
// store that cannot be used.

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

TEST(RegistryAccess, FirstReadStoresTheDefault) {
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
}

TEST(RegistryAccess, LongValuesAreReadWholeAndKept) {
  kvtest::TempHome home;
  std::string folder = "/home/someone/" + std::string(300, 'd') + "/Kvillo data";
  kvtest::StoreSetting("Path", folder);
  EXPECT_EQ(*kv::ReadRegistryValue(kApp, kSection, "Path", "/default"), folder);
  EXPECT_EQ(StoredSetting("Path"), folder) << "a long value is never replaced by the default";
}

TEST(RegistryAccess, EachThreadHasItsOwnGlobalObject) {
  CStatics* mine = &Statics();
  EXPECT_EQ(mine, &Statics());
  CStatics* theirs = nullptr;
  std::thread([&] { theirs = &Statics(); }).join();
  EXPECT_NE(mine, theirs);

  kvtest::TempHome home;
  std::string fromThread;
  std::thread([&] {
    ASSERT_TRUE(Statics().SaveRegistrySetting(kApp, kSection, "FromThread", "yes"));
    fromThread = *Statics().GetRegistrySetting(kApp, kSection, "FromThread");
  }).join();
  EXPECT_EQ(fromThread, "yes");
  EXPECT_EQ(*Statics().GetRegistrySetting(kApp, kSection, "FromThread"), "yes");
}

TEST(RegistryAccess, DamagedStoreReadsDefaultsAndIsNeverWritten) {
  kvtest::TempHome home;
  std::string garbage(4096, '\x5a');
  kvtest::WriteFile(home.StoreFile(), garbage);

  testing::internal::CaptureStderr();
  auto read = Statics().GetRegistrySetting(kApp, kSection, "FontSize", "40");
  auto again = Statics().GetRegistrySetting(kApp, kSection, "FontColor", "0");
  auto written = Statics().SaveRegistrySetting(kApp, kSection, "FontSize", "12");
  std::string err = testing::internal::GetCapturedStderr();

  EXPECT_FALSE(read) << "the caller learns that the default stands in for an unreadable value";
  EXPECT_FALSE(again);
  EXPECT_FALSE(written);
  EXPECT_NE(err.find(home.StoreFile().string()), std::string::npos) << err;
  EXPECT_NE(err.find("defaults"), std::string::npos) << err;
  EXPECT_EQ(err.find(home.StoreFile().string()), err.rfind(home.StoreFile().string())) << "reported once: " << err;
  EXPECT_EQ(kvtest::ReadFile(home.StoreFile()), garbage);
}

// Runs `body` in a child process as an ordinary user (file modes do not
// bind root); answers what it reported, empty when all went well.
template <class Body>
std::string AsOrdinaryUser(const kvtest::TempHome& home, Body body) {
  int report[2];
  if (pipe(report) != 0) return "pipe failed";
  pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    if (geteuid() == 0) {
      constexpr uid_t kNobody = 65534;
      (void)!chown(home.Root().c_str(), kNobody, kNobody);
      for (const auto& entry : std::filesystem::recursive_directory_iterator(home.Root())) {
        (void)!lchown(entry.path().c_str(), kNobody, kNobody);
      }
      if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    }
    std::string problem = body();
    (void)!write(report[1], problem.data(), problem.size());
    _exit(0);
  }
  close(report[1]);
  std::string said;
  char buffer[512];
  ssize_t got;
  while ((got = read(report[0], buffer, sizeof buffer)) > 0) said.append(buffer, static_cast<size_t>(got));
  close(report[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) said += " (the child ended with status " + std::to_string(status) + ")";
  return said;
}

// A store that was read-only for a while (restored from a backup with the
// wrong mode, say) is read meanwhile; once it may be written again, the
// program that read it saves again, and so does every program after it.
TEST(RegistryAccess, StoreIsWritableAgainAfterAReadOnlySpell) {
  kvtest::TempHome home;
  kvtest::StoreSetting("FontSize", "20");
  std::string problem = AsOrdinaryUser(home, [&]() -> std::string {
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
  });
  EXPECT_EQ(problem, "");
}

}  // namespace
