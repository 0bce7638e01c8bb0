// The sibling quotes application: present, absent or half installed, its
// data folder and its language.

#include <gtest/gtest.h>

#include "StoreProbe.h"
#include "TempHome.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"
#include "kvshared/CStatics.h"
#include "kvshared/Funcs.h"
#include "kvplatform/store/Store.h"

namespace {

using kv::CResources;
using kv::CSettings;
using kv::Statics;

constexpr std::string_view kDataKey = "software\\Classes\\Lexora.Data";
constexpr std::string_view kSettingsKey = "software\\Classes\\Lexora.Settings";

TEST(Sibling, AbsentMeansTheStoredPathOrTheLibraryFolder) {
  kvtest::TempHome home;
  EXPECT_FALSE(Statics().IsLexoraInstalled());
  auto path = Statics().GetApplicationPath();
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, kvtest::BinDir().string()) << "the folder of libkvshared.so";
  EXPECT_EQ(kvtest::StoredSetting("Path"), kvtest::BinDir().string()) << "and it is stored";

  kvtest::StoreSetting("Path", "/somewhere/else");
  EXPECT_EQ(*Statics().GetApplicationPath(), "/somewhere/else") << "a stored path wins, even when stale";
}

TEST(Sibling, InstalledProvidesDataFolderQuotesFlagAndLanguage) {
  kvtest::TempHome home;
  std::string siblingData = home.DataFolder().string();
  kvtest::WriteFile(home.DataFolder() / "Backgrounds" / "FromSibling.bmp", "");
  kvtest::StoreSetting("Path", "/not/used/while/installed");
  kvtest::StoreSetting("FirstTime", "1");
  kvtest::StoreSetting("UseQuotes", "1");
  kvtest::Store(kDataKey, "", "");
  kvtest::Store(kSettingsKey, "LexoraPath", siblingData);
  kvtest::Store("software\\Lexora", "LANGUAGE", "300");

  EXPECT_TRUE(Statics().IsLexoraInstalled());
  EXPECT_EQ(*Statics().GetApplicationPath(), siblingData);

  CSettings settings;
  auto catalog = CResources::Create();
  ASSERT_TRUE(catalog) << catalog.error().message;
  ASSERT_TRUE(settings.LoadSettings(&*catalog));
  EXPECT_EQ(settings.ApplicationPath(), siblingData);
  EXPECT_TRUE(settings.UseQuotes());
  EXPECT_EQ(settings.Language(), "300");
  std::vector<std::string> backgrounds;
  ASSERT_TRUE(catalog->GetAvailableBackgrounds(backgrounds));
  EXPECT_EQ(backgrounds, std::vector<std::string>{"FromSibling"});

  // Without a language the library answers "100" and stores nothing.
  {
    auto store = kv::platform::Store::Open(home.StoreFile());
    ASSERT_TRUE(store);
    ASSERT_TRUE((*store)->OpenKey("software\\Lexora")->DeleteValue("LANGUAGE"));
  }
  CSettings noLanguage;
  ASSERT_TRUE(noLanguage.LoadSettings(&*catalog));
  EXPECT_EQ(noLanguage.Language(), "100");
  EXPECT_FALSE(kvtest::StoredValue("software\\Lexora", "LANGUAGE"));

  // Removing the sibling turns the library back to its own data folder.
  kvtest::DeleteStoredKey(kDataKey);
  EXPECT_FALSE(Statics().IsLexoraInstalled());
  EXPECT_EQ(*Statics().GetApplicationPath(), "/not/used/while/installed");
}

TEST(Sibling, HalfInstalledFailsClearly) {
  kvtest::TempHome home;
  kvtest::Store(kDataKey, "", "");
  auto path = Statics().GetApplicationPath();
  ASSERT_FALSE(path);
  EXPECT_NE(path.error().message.find("Lexora.Settings"), std::string::npos) << path.error().message;

  kvtest::Store(kSettingsKey, "Other", "value");
  path = Statics().GetApplicationPath();
  ASSERT_FALSE(path);
  EXPECT_NE(path.error().message.find("LexoraPath"), std::string::npos) << path.error().message;

  CSettings settings;
  EXPECT_FALSE(settings.LoadSettings(nullptr));
  EXPECT_FALSE(CResources::Create());
}

}  // namespace
