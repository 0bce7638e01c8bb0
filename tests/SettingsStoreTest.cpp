// Loading and saving the whole settings object, with the numbered lists,
// their markers, the first run and the older background-mode names.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "StoreProbe.h"
#include "TempHome.h"
#include "kvplatform/base/Paths.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"
#include "kvshared/Funcs.h"

namespace {

using kv::CResources;
using kv::CSettings;
using kvtest::StoredSetting;
using kvtest::StoreSetting;
using Names = std::vector<std::string>;

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

  EXPECT_EQ(settings.FontColor(), "16777215");
  EXPECT_EQ(settings.Frequency(), "4");
  EXPECT_EQ(settings.HAlign(), "3");
  EXPECT_EQ(settings.VAlign(), "3");
  EXPECT_EQ(settings.TopMargin(), "10");
  EXPECT_EQ(settings.BottomMargin(), "10");
  EXPECT_EQ(settings.LeftMargin(), "10");
  EXPECT_EQ(settings.RightMargin(), "10");
  EXPECT_EQ(settings.BackgroundColor(), "0");
  EXPECT_EQ(settings.BackgroundMode(), "1");
  EXPECT_TRUE(settings.AllowViolation());
  EXPECT_EQ(settings.FontSize(), "40");
  EXPECT_FALSE(settings.UseQuotes());
  EXPECT_EQ(settings.Language(), "100");
  EXPECT_EQ(settings.ApplicationPath(), home_.DataFolder().string());
  EXPECT_EQ(Fonts(settings), Names{"Arial"});
  Names backgrounds, quotes;
  ASSERT_TRUE(settings.GetSelectedBackgrounds(backgrounds));
  ASSERT_TRUE(settings.GetSelectedQuotesFiles(quotes));
  EXPECT_EQ(backgrounds, (Names{"A", "B"}));
  EXPECT_EQ(quotes, Names{""});

  EXPECT_EQ(StoredSetting("FirstTime"), "1");
  EXPECT_EQ(StoredSetting("FontSize"), "40");
  EXPECT_EQ(StoredSetting("UseQuotes"), "0");
  EXPECT_EQ(StoredSetting("SelectedBackgrounds0"), "A");
  EXPECT_EQ(StoredSetting("SelectedBackgrounds1"), "B");
  EXPECT_FALSE(StoredSetting("SelectedBackgrounds2"));
  EXPECT_EQ(StoredSetting("SelectedFonts0"), "Arial");
  EXPECT_FALSE(StoredSetting("SelectedFonts1"));
  EXPECT_EQ(StoredSetting("SelectedQuotesFiles0"), "");
  EXPECT_FALSE(StoredSetting("SelectedQuotesFiles1"));
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

TEST_F(SettingsStore, EffectsAreStoredOnlyOnceTickedAndKeepUnknownNames) {
  StoreSetting("FirstTime", "1");
  CSettings settings;
  Load(settings);
  Names effects;
  ASSERT_TRUE(settings.GetSelectedEffects(effects));
  EXPECT_EQ(effects, Names{""}) << "no list reads as none";
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_FALSE(StoredSetting("SelectedEffects0")) << "neither the load nor a save stores a list nobody ticked";

  // A newer version's effect survives a save by this one.
  ASSERT_TRUE(settings.SetSelectedEffects({"Shadow", "Sparkle"}));
  ASSERT_TRUE(settings.SaveSettings());
  CSettings again;
  Load(again);
  ASSERT_TRUE(again.GetSelectedEffects(effects));
  EXPECT_EQ(effects, (Names{"Shadow", "Sparkle"}));
  EXPECT_FALSE(StoredSetting("SelectedEffects2")) << "reading stores no marker";
  ASSERT_TRUE(again.SaveSettings());
  EXPECT_EQ(StoredSetting("SelectedEffects1"), "Sparkle");

  // Unticking everything rewrites the stored list as one empty name.
  ASSERT_TRUE(again.SetSelectedEffects({""}));
  ASSERT_TRUE(again.SaveSettings());
  EXPECT_EQ(StoredSetting("SelectedEffects0"), "");
  EXPECT_FALSE(StoredSetting("SelectedEffects1"));
  EXPECT_FALSE(again.SetSelectedEffects({})) << "an empty list is refused";
}

TEST_F(SettingsStore, QuoteMonitorsIsStoredOnlyOnceChosenAndKeepsUnknownValues) {
  StoreSetting("FirstTime", "1");
  CSettings settings;
  Load(settings);
  EXPECT_EQ(settings.QuoteMonitors(), "primary");
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_FALSE(StoredSetting("QuoteMonitors")) << "neither the load nor a save stores the default";

  settings.QuoteMonitors("each");
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_EQ(StoredSetting("QuoteMonitors"), "each");
  // Once stored, going back to the default is stored too.
  settings.QuoteMonitors("primary");
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_EQ(StoredSetting("QuoteMonitors"), "primary");

  StoreSetting("QuoteMonitors", "largest");
  CSettings newer;
  Load(newer);
  EXPECT_EQ(newer.QuoteMonitors(), "largest");
  ASSERT_TRUE(newer.SaveSettings());
  EXPECT_EQ(StoredSetting("QuoteMonitors"), "largest") << "a newer version's value survives";
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

TEST_F(SettingsStore, DamagedStoreLoadsDefaultsAndSaveChangesNothing) {
  std::string garbage = std::string("SQLite format 3") + '\0' + std::string(8000, '\x7f');
  kvtest::WriteFile(home_.StoreFile(), garbage);
  testing::internal::CaptureStderr();
  CSettings settings;
  CResources catalog = Catalog();
  (void)settings.LoadSettings(&catalog);
  settings.FontSize("55");
  auto saved = settings.SaveSettings();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(settings.FontColor(), "16777215");
  EXPECT_TRUE(settings.UnreadableSettings().contains("FontColor"));
  EXPECT_FALSE(saved) << "a save that cannot reach the store says so";
  EXPECT_NE(err.find(home_.StoreFile().string()), std::string::npos);
  EXPECT_EQ(kvtest::ReadFile(home_.StoreFile()), garbage);
}

// Two programs saving at the same moment: each save lands whole, so the
// stored list is always one program's list, never a mixture.
TEST_F(SettingsStore, ConcurrentSavesNeverInterleaveLists) {
  StoreSetting("FirstTime", "1");
  constexpr int kSaves = 150;
  auto saveMany = [&](const Names& fonts) {
    CSettings settings;
    auto catalog = CResources::Create();
    if (!catalog || !settings.LoadSettings(&*catalog)) _exit(2);
    for (int i = 0; i < kSaves; ++i) {
      if (!settings.SetSelectedFonts(fonts) || !settings.SaveSettings()) _exit(3);
    }
    _exit(0);
  };
  Names aList{"A1", "A2", "A3", "A4", "A5"};
  Names bList{"B1", "B2"};
  pid_t a = fork();
  if (a == 0) saveMany(aList);
  pid_t b = fork();
  if (b == 0) saveMany(bList);

  int consistent = 0;
  for (int round = 0; round < 100; ++round) {
    CSettings reader;
    CResources catalog = Catalog();
    ASSERT_TRUE(reader.LoadSettings(&catalog));
    Names fonts = Fonts(reader);
    ASSERT_TRUE(fonts == aList || fonts == bList || fonts == Names{"Arial"}) << "a mixed list was stored: " << fonts.size();
    ++consistent;
  }
  int status = 0;
  waitpid(a, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  waitpid(b, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  CSettings last;
  Load(last);
  Names fonts = Fonts(last);
  EXPECT_TRUE(fonts == aList || fonts == bList);
  EXPECT_EQ(consistent, 100);
}

}  // namespace
