// Loading and saving the whole settings object, with the numbered lists,
// their markers, the first run and the older background-mode names.

#include <gtest/gtest.h>

#include <tuple>

#include "StoreProbe.h"
#include "TempHome.h"
#include "kvplatform/base/Paths.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"
#include "kvshared/CStatics.h"
#include "kvshared/Funcs.h"

namespace {

using kv::CResources;
using kv::CSettings;
using kvtest::StoredSetting;
using kvtest::StoreSetting;
using Names = std::vector<std::string>;
constexpr auto kApp = kv::CStatics::REGAPPLICATION;
constexpr auto kSection = kv::CStatics::REGSECTION;

// A test home whose data folder holds the pictures A and B, already past
// the first run unless a test asks for it.
class SettingsStore : public testing::Test {
 protected:
  void SetUp() override {
    kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "A.bmp", "");
    kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "B.bmp", "");
    StoreSetting("Path", home_.DataFolder().string());
  }

  CResources Catalog() {
    auto catalog = CResources::Create();
    EXPECT_TRUE(catalog) << catalog.error().message;
    return std::move(*catalog);
  }

  void Load(CSettings& settings) {
    CResources catalog = Catalog();
    auto loaded = settings.LoadSettings(&catalog);
    ASSERT_TRUE(loaded) << loaded.error().message;
  }

  static Names Fonts(const CSettings& settings) {
    Names names;
    EXPECT_TRUE(settings.GetSelectedFonts(names));
    return names;
  }

  kvtest::TempHome home_;
};

TEST_F(SettingsStore, FirstLoadStoresEveryDefaultAndSelectsAllBackgrounds) {
  CSettings settings;
  Load(settings);

  for (auto [name, loaded, expected] : std::vector<std::tuple<const char*, std::string, const char*>>{
           {"FontColor", settings.FontColor(), "16777215"}, {"Frequency", settings.Frequency(), "4"},
           {"HAlign", settings.HAlign(), "3"}, {"VAlign", settings.VAlign(), "3"},
           {"TopMargin", settings.TopMargin(), "10"},
           {"BottomMargin", settings.BottomMargin(), "10"}, {"LeftMargin", settings.LeftMargin(), "10"},
           {"RightMargin", settings.RightMargin(), "10"}, {"BackgroundColor", settings.BackgroundColor(), "0"},
           {"BackgroundMode", settings.BackgroundMode(), "1"}, {"FontSize", settings.FontSize(), "40"},
           {"Language", settings.Language(), "100"}}) {
    EXPECT_EQ(loaded, expected) << name;
  }
  EXPECT_TRUE(settings.AllowViolation());
  EXPECT_FALSE(settings.UseQuotes());
  EXPECT_EQ(settings.ApplicationPath(), home_.DataFolder().string());
  EXPECT_EQ(Fonts(settings), Names{"Arial"});
  Names backgrounds, quotes;
  ASSERT_TRUE(settings.GetSelectedBackgrounds(backgrounds));
  ASSERT_TRUE(settings.GetSelectedQuotesFiles(quotes));
  EXPECT_EQ(backgrounds, (Names{"A", "B"}));
  EXPECT_EQ(quotes, Names{""});

  for (auto [name, stored] : {std::pair{"FirstTime", "1"}, {"FontSize", "40"}, {"UseQuotes", "0"},
                               {"SelectedBackgrounds0", "A"}, {"SelectedBackgrounds1", "B"},
                               {"SelectedFonts0", "Arial"}, {"SelectedQuotesFiles0", ""}}) {
    EXPECT_EQ(StoredSetting(name), stored) << name;
  }
  for (const char* name : {"SelectedBackgrounds2", "SelectedFonts1", "SelectedQuotesFiles1"}) {
    EXPECT_FALSE(StoredSetting(name)) << name;
  }
  EXPECT_FALSE(StoredSetting("LANGUAGE")) << "the language is not the wallpaper's to store";

  // The next load reads the same and leaves the end markers behind.
  CSettings again;
  Load(again);
  EXPECT_EQ(Fonts(again), Names{"Arial"});
  EXPECT_EQ(StoredSetting("SelectedFonts1"), "Not found");
  EXPECT_EQ(StoredSetting("SelectedBackgrounds2"), "Not found");
  EXPECT_EQ(StoredSetting("SelectedQuotesFiles1"), "Not found");
  ASSERT_TRUE(again.GetSelectedBackgrounds(backgrounds));
  EXPECT_EQ(backgrounds, (Names{"A", "B"})) << "the first run happens once";
}

TEST_F(SettingsStore, ListsRoundTripThroughMarkersAndGaps) {
  StoreSetting("FirstTime", "1");
  StoreSetting("SelectedFonts0", "DejaVu Sans");
  StoreSetting("SelectedFonts1", "Liberation Serif");
  StoreSetting("SelectedFonts2", "Liberation Mono");
  CSettings settings;
  Load(settings);
  EXPECT_EQ(Fonts(settings), (Names{"DejaVu Sans", "Liberation Serif", "Liberation Mono"}));
  EXPECT_EQ(StoredSetting("SelectedFonts3"), "Not found");

  ASSERT_TRUE(settings.SetSelectedFonts({"Liberation Sans", "DejaVu Serif"}));
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_EQ(StoredSetting("SelectedFonts0"), "Liberation Sans");
  EXPECT_EQ(StoredSetting("SelectedFonts1"), "DejaVu Serif");
  EXPECT_FALSE(StoredSetting("SelectedFonts2"));
  EXPECT_FALSE(StoredSetting("SelectedFonts3")) << "the old entries and the marker are gone";

  // A stored "Not found" ends the list; a gap ends it too.
  StoreSetting("SelectedBackgrounds0", "A");
  StoreSetting("SelectedBackgrounds1", "Not found");
  StoreSetting("SelectedBackgrounds2", "B");
  StoreSetting("SelectedQuotesFiles0", "Q0");
  StoreSetting("SelectedQuotesFiles2", "Q2");
  CSettings gaps;
  Load(gaps);
  Names backgrounds, quotes;
  ASSERT_TRUE(gaps.GetSelectedBackgrounds(backgrounds));
  ASSERT_TRUE(gaps.GetSelectedQuotesFiles(quotes));
  EXPECT_EQ(backgrounds, Names{"A"});
  EXPECT_EQ(quotes, Names{"Q0"});
  EXPECT_EQ(StoredSetting("SelectedQuotesFiles1"), "Not found") << "the load marks the gap";
  ASSERT_TRUE(gaps.SaveSettings());
  EXPECT_EQ(StoredSetting("SelectedQuotesFiles0"), "Q0");
  EXPECT_FALSE(StoredSetting("SelectedQuotesFiles1"));
  EXPECT_FALSE(StoredSetting("SelectedQuotesFiles2")) << "the marker closed the gap, so the save clears past it";
}

// Settings newer than the first versions are stored only once chosen, so
// an older program's store is left as it was; a newer version's values
// survive a save by this one.
TEST_F(SettingsStore, NewerSettingsAreStoredOnlyOnceChosenAndKeepUnknownValues) {
  StoreSetting("FirstTime", "1");
  CSettings settings;
  Load(settings);
  Names effects;
  ASSERT_TRUE(settings.GetSelectedEffects(effects));
  EXPECT_EQ(effects, Names{""}) << "no list reads as none";
  EXPECT_EQ(settings.QuoteMonitors(), "primary");
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_FALSE(StoredSetting("SelectedEffects0")) << "neither the load nor a save stores a list nobody ticked";
  EXPECT_FALSE(StoredSetting("QuoteMonitors")) << "neither the load nor a save stores the default";

  ASSERT_TRUE(settings.SetSelectedEffects({"Shadow", "Sparkle"}));
  settings.QuoteMonitors("each");
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_EQ(StoredSetting("QuoteMonitors"), "each");
  settings.QuoteMonitors("primary");
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_EQ(StoredSetting("QuoteMonitors"), "primary") << "once stored, going back to the default is stored too";

  StoreSetting("QuoteMonitors", "largest");
  CSettings again;
  Load(again);
  ASSERT_TRUE(again.GetSelectedEffects(effects));
  EXPECT_EQ(effects, (Names{"Shadow", "Sparkle"}));
  EXPECT_EQ(again.QuoteMonitors(), "largest");
  EXPECT_FALSE(StoredSetting("SelectedEffects2")) << "reading stores no marker";
  ASSERT_TRUE(again.SaveSettings());
  EXPECT_EQ(StoredSetting("SelectedEffects1"), "Sparkle");
  EXPECT_EQ(StoredSetting("QuoteMonitors"), "largest");

  // Unticking everything rewrites the stored list as one empty name.
  ASSERT_TRUE(again.SetSelectedEffects({""}));
  ASSERT_TRUE(again.SaveSettings());
  EXPECT_EQ(StoredSetting("SelectedEffects0"), "");
  EXPECT_FALSE(StoredSetting("SelectedEffects1"));
  EXPECT_FALSE(again.SetSelectedEffects({})) << "an empty list is refused";
}

TEST_F(SettingsStore, OlderModeNamesAndFlagsConvert) {
  StoreSetting("FirstTime", "1");
  StoreSetting("BackgroundMode", "Stretch");
  StoreSetting("AllowViolation", "0");
  StoreSetting("UseQuotes", "1");
  CSettings settings;
  Load(settings);
  EXPECT_EQ(settings.BackgroundMode(), "1");
  EXPECT_EQ(StoredSetting("BackgroundMode"), "Stretch") << "the converted value waits for the next save";
  EXPECT_FALSE(settings.AllowViolation());
  EXPECT_FALSE(settings.UseQuotes()) << "without the sibling the stored flag is ignored";
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_EQ(StoredSetting("BackgroundMode"), "1");
  EXPECT_EQ(StoredSetting("UseQuotes"), "0");

  for (auto [stored, loaded] : {std::pair{"Tile", "0"}, {"Center", "2"}, {"stretch", "stretch"}, {"7", "7"}}) {
    StoreSetting("BackgroundMode", stored);
    CSettings other;
    Load(other);
    EXPECT_EQ(other.BackgroundMode(), loaded) << stored;
  }

  settings.AllowViolation(true);
  settings.UseQuotes(true);
  EXPECT_TRUE(settings.AllowViolation());
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_EQ(StoredSetting("AllowViolation"), "1");
  EXPECT_EQ(StoredSetting("UseQuotes"), "1");
}

TEST_F(SettingsStore, MisuseFailsWithoutChangingAnything) {
  CSettings fresh;
  Names names;
  EXPECT_FALSE(fresh.GetSelectedFonts(names)) << "a get before any load";
  EXPECT_FALSE(fresh.SaveSettings()) << "a save before any load would wipe the store";
  EXPECT_FALSE(StoredSetting("FontSize"));

  StoreSetting("FirstTime", "1");
  CSettings settings;
  Load(settings);
  EXPECT_FALSE(settings.SetSelectedFonts({}));
  EXPECT_EQ(Fonts(settings), Names{"Arial"}) << "an empty list changes nothing";

  // A first run without a catalog fails after loading; it is repeated next time.
  StoreSetting("FirstTime", "0");
  CSettings noCatalog;
  auto loaded = noCatalog.LoadSettings(nullptr);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(noCatalog.FontSize(), "40") << "the settings are loaded all the same";
  EXPECT_EQ(StoredSetting("FirstTime"), "0");
  CSettings retry;
  Load(retry);
  EXPECT_EQ(StoredSetting("FirstTime"), "1");
}

// A damaged store is read as the defaults and never written, by the whole
// settings object and by single reads and writes; it is reported once.
TEST_F(SettingsStore, DamagedStoreLoadsDefaultsAndIsNeverWritten) {
  std::string garbage = std::string("SQLite format 3") + '\0' + std::string(8000, '\x7f');
  kvtest::WriteFile(home_.StoreFile(), garbage);
  testing::internal::CaptureStderr();
  CSettings settings;
  CResources catalog = Catalog();
  (void)settings.LoadSettings(&catalog);
  settings.FontSize("55");
  auto saved = settings.SaveSettings();
  auto read = kv::Statics().GetRegistrySetting(kApp, kSection, "FontSize", "40");
  auto written = kv::Statics().SaveRegistrySetting(kApp, kSection, "FontSize", "12");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(settings.FontColor(), "16777215");
  EXPECT_TRUE(settings.UnreadableSettings().contains("FontColor"));
  EXPECT_FALSE(saved) << "a save that cannot reach the store says so";
  EXPECT_FALSE(read) << "the caller learns that the default stands in for an unreadable value";
  EXPECT_FALSE(written);
  const std::string file = home_.StoreFile().string();
  EXPECT_NE(err.find(file), std::string::npos) << err;
  EXPECT_NE(err.find("defaults"), std::string::npos) << err;
  EXPECT_EQ(err.find(file), err.rfind(file)) << "reported once: " << err;
  EXPECT_EQ(kvtest::ReadFile(home_.StoreFile()), garbage);
}

}  // namespace
