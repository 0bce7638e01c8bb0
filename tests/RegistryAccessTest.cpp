// Single values of the settings key through the library: defaults stored on
// a miss, empty writes, long values, the per-thread global object, and a
// store that cannot be used.

#include <gtest/gtest.h>

#include <thread>

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

}  // namespace
