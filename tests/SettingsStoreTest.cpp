// The settings through the library: single values, the whole settings object, and the sibling application.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <memory>
#include <thread>

#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "kvplatform/store/Store.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"
#include "kvshared/CStatics.h"
#include "kvshared/Funcs.h"

namespace {

using kv::CResources;
using kv::CSettings;
using kv::CStatics;
using kv::Statics;
using kvtest::StoredSetting;
using kvtest::StoredSettings;
using kvtest::StoreSetting;
using kvtest::StoreSettings;
using Names = std::vector<std::string>;
constexpr auto kApp = kv::CStatics::REGAPPLICATION;
constexpr auto kSection = kv::CStatics::REGSECTION;
constexpr std::string_view kDataKey = "software\\Classes\\Lexora.Data";
constexpr std::string_view kSiblingKey = "software\\Classes\\Lexora.Settings";

CResources Catalog() {
  auto catalog = CResources::Create();
  EXPECT_TRUE(catalog) << catalog.error().message;
  return std::move(*catalog);
}

class SettingsStore : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"A.bmp", "B.bmp"}) kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / name, "");
    StoreSetting("Path", home_.DataFolder().string());
  }
  // A loaded settings object; past the first run unless the store says otherwise.
  static std::unique_ptr<CSettings> Loaded(bool firstRun = false) {
    if (!firstRun && !StoredSetting("FirstTime")) StoreSetting("FirstTime", "1");
    auto settings = std::make_unique<CSettings>();
    CResources catalog = Catalog();
    EXPECT_TRUE(settings->LoadSettings(&catalog));
    return settings;
  }
  static Names Fonts(const CSettings& s) { return List(s, &CSettings::GetSelectedFonts); }
  static Names Backgrounds(const CSettings& s) { return List(s, &CSettings::GetSelectedBackgrounds); }
  static Names Quotes(const CSettings& s) { return List(s, &CSettings::GetSelectedQuotesFiles); }
  static Names Effects(const CSettings& s) { return List(s, &CSettings::GetSelectedEffects); }
  template <class Get>
  static Names List(const CSettings& settings, Get get) {
    Names names;
    EXPECT_TRUE((settings.*get)(names));
    return names;
  }
  kvtest::TempHome home_;
};

TEST_F(SettingsStore, FirstLoadStoresEveryDefaultAndSelectsAllBackgrounds) {
  auto settings = Loaded(true);
  EXPECT_EQ((Names{settings->FontColor(), settings->Frequency(), settings->HAlign(), settings->VAlign(),
                   settings->TopMargin(), settings->BottomMargin(), settings->LeftMargin(), settings->RightMargin(),
                   settings->BackgroundColor(), settings->BackgroundMode(), settings->FontSize(), settings->Language()}),
            (Names{"16777215", "4", "3", "3", "10", "10", "10", "10", "0", "1", "40", "100"}));
  EXPECT_EQ(std::pair(settings->AllowViolation(), settings->UseQuotes()), std::pair(true, false));
  EXPECT_EQ(settings->ApplicationPath(), home_.DataFolder().string());
  EXPECT_EQ((std::vector{Fonts(*settings), Backgrounds(*settings), Quotes(*settings)}),
            (std::vector<Names>{{"Arial"}, {"A", "B"}, {""}}));
  EXPECT_EQ(StoredSettings({"FirstTime", "FontSize", "UseQuotes", "SelectedBackgrounds0", "SelectedBackgrounds1",
                            "SelectedFonts0", "SelectedQuotesFiles0", "SelectedBackgrounds2", "SelectedFonts1",
                            "SelectedQuotesFiles1", "LANGUAGE"}),
            (Names{"1", "40", "0", "A", "B", "Arial", "", "(none)", "(none)", "(none)", "(none)"}))
      << "no end markers yet; the language is not the wallpaper's to store";
  auto again = Loaded();
  EXPECT_EQ(Fonts(*again), Names{"Arial"});
  EXPECT_EQ(StoredSettings({"SelectedFonts1", "SelectedBackgrounds2", "SelectedQuotesFiles1"}),
            (Names{"Not found", "Not found", "Not found"}));
  EXPECT_EQ(Backgrounds(*again), (Names{"A", "B"})) << "the first run happens once";
}

TEST_F(SettingsStore, ListsRoundTripThroughMarkersAndGaps) {
  StoreSettings({{"SelectedFonts0", "DejaVu Sans"}, {"SelectedFonts1", "Liberation Serif"},
                 {"SelectedFonts2", "Liberation Mono"}});
  auto settings = Loaded();
  EXPECT_EQ(Fonts(*settings), (Names{"DejaVu Sans", "Liberation Serif", "Liberation Mono"}));
  EXPECT_EQ(StoredSetting("SelectedFonts3"), "Not found");
  ASSERT_TRUE(settings->SetSelectedFonts({"Liberation Sans", "DejaVu Serif"}));
  ASSERT_TRUE(settings->SaveSettings());
  EXPECT_EQ(StoredSettings({"SelectedFonts0", "SelectedFonts1", "SelectedFonts2", "SelectedFonts3"}),
            (Names{"Liberation Sans", "DejaVu Serif", "(none)", "(none)"})) << "the old entries and the marker are gone";
  // A stored "Not found" ends the list; a gap ends it too.
  StoreSettings({{"SelectedBackgrounds0", "A"}, {"SelectedBackgrounds1", "Not found"}, {"SelectedBackgrounds2", "B"},
                 {"SelectedQuotesFiles0", "Q0"}, {"SelectedQuotesFiles2", "Q2"}});
  auto gaps = Loaded();
  EXPECT_EQ(Backgrounds(*gaps), Names{"A"});
  EXPECT_EQ(Quotes(*gaps), Names{"Q0"});
  EXPECT_EQ(StoredSetting("SelectedQuotesFiles1"), "Not found") << "the load marks the gap";
  ASSERT_TRUE(gaps->SaveSettings());
  EXPECT_EQ(StoredSettings({"SelectedQuotesFiles0", "SelectedQuotesFiles1", "SelectedQuotesFiles2"}),
            (Names{"Q0", "(none)", "(none)"})) << "the marker closed the gap, so the save clears past it";
}

// Newer settings are stored only once chosen, so an older program's store stays as it was.
TEST_F(SettingsStore, NewerSettingsAreStoredOnlyOnceChosenAndKeepUnknownValues) {
  auto settings = Loaded();
  EXPECT_EQ(Effects(*settings), Names{""}) << "no list reads as none";
  EXPECT_EQ(settings->QuoteMonitors(), "primary");
  ASSERT_TRUE(settings->SaveSettings());
  EXPECT_EQ(StoredSettings({"SelectedEffects0", "QuoteMonitors"}), (Names{"(none)", "(none)"}))
      << "neither the load nor a save stores a list nobody ticked, or the default";
  ASSERT_TRUE(settings->SetSelectedEffects({"Shadow", "Sparkle"}));
  for (const char* monitors : {"each", "primary"}) {  // once stored, going back to the default is stored too
    settings->QuoteMonitors(monitors);
    ASSERT_TRUE(settings->SaveSettings());
    EXPECT_EQ(StoredSetting("QuoteMonitors"), monitors);
  }
  StoreSetting("QuoteMonitors", "largest");
  auto again = Loaded();
  EXPECT_EQ(Effects(*again), (Names{"Shadow", "Sparkle"}));
  EXPECT_EQ(again->QuoteMonitors(), "largest");
  EXPECT_FALSE(StoredSetting("SelectedEffects2")) << "reading stores no marker";
  ASSERT_TRUE(again->SaveSettings());
  EXPECT_EQ(StoredSettings({"SelectedEffects1", "QuoteMonitors"}), (Names{"Sparkle", "largest"}));
  // Unticking everything rewrites the stored list as one empty name.
  ASSERT_TRUE(again->SetSelectedEffects({""}));
  ASSERT_TRUE(again->SaveSettings());
  EXPECT_EQ(StoredSettings({"SelectedEffects0", "SelectedEffects1"}), (Names{"", "(none)"}));
  EXPECT_FALSE(again->SetSelectedEffects({})) << "an empty list is refused";
}

TEST_F(SettingsStore, OlderModeNamesAndFlagsConvert) {
  StoreSettings({{"BackgroundMode", "Stretch"}, {"AllowViolation", "0"}, {"UseQuotes", "1"}});
  auto settings = Loaded();
  EXPECT_EQ(settings->BackgroundMode(), "1");
  EXPECT_EQ(StoredSetting("BackgroundMode"), "Stretch") << "the converted value waits for the next save";
  EXPECT_FALSE(settings->AllowViolation());
  EXPECT_FALSE(settings->UseQuotes()) << "without the sibling the stored flag is ignored";
  ASSERT_TRUE(settings->SaveSettings());
  EXPECT_EQ(StoredSettings({"BackgroundMode", "UseQuotes"}), (Names{"1", "0"}));
  for (auto [stored, loaded] : {std::pair{"Tile", "0"}, {"Center", "2"}, {"stretch", "stretch"}, {"7", "7"}}) {
    StoreSetting("BackgroundMode", stored);
    EXPECT_EQ(Loaded()->BackgroundMode(), loaded) << stored;
  }
  settings->AllowViolation(true), settings->UseQuotes(true);
  EXPECT_TRUE(settings->AllowViolation());
  ASSERT_TRUE(settings->SaveSettings());
  EXPECT_EQ(StoredSettings({"AllowViolation", "UseQuotes"}), (Names{"1", "1"}));
}

TEST_F(SettingsStore, MisuseFailsWithoutChangingAnything) {
  CSettings fresh;
  Names names;
  EXPECT_FALSE(fresh.GetSelectedFonts(names)) << "a get before any load";
  EXPECT_FALSE(fresh.SaveSettings()) << "a save before any load would wipe the store";
  EXPECT_FALSE(StoredSetting("FontSize"));
  auto settings = Loaded();
  EXPECT_FALSE(settings->SetSelectedFonts({}));
  EXPECT_EQ(Fonts(*settings), Names{"Arial"}) << "an empty list changes nothing";
  // A first run without a catalog fails after loading; it is repeated next time.
  StoreSetting("FirstTime", "0");
  CSettings noCatalog;
  EXPECT_FALSE(noCatalog.LoadSettings(nullptr));
  EXPECT_EQ(noCatalog.FontSize(), "40") << "the settings are loaded all the same";
  EXPECT_EQ(StoredSetting("FirstTime"), "0");
  (void)Loaded(true);
  EXPECT_EQ(StoredSetting("FirstTime"), "1");
}

// A damaged store reads as the defaults, is never written, and is reported once.
TEST_F(SettingsStore, DamagedStoreLoadsDefaultsAndIsNeverWritten) {
  std::string garbage = std::string("SQLite format 3") + '\0' + std::string(8000, '\x7f');
  kvtest::WriteFile(home_.StoreFile(), garbage);
  testing::internal::CaptureStderr();
  CSettings settings;
  CResources catalog = Catalog();
  (void)settings.LoadSettings(&catalog);
  settings.FontSize("55");
  auto saved = settings.SaveSettings();
  auto read = Statics().GetRegistrySetting(kApp, kSection, "FontSize", "40");
  auto written = Statics().SaveRegistrySetting(kApp, kSection, "FontSize", "12");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(settings.FontColor(), "16777215");
  EXPECT_TRUE(settings.UnreadableSettings().contains("FontColor"));
  EXPECT_EQ(std::tuple(saved.has_value(), read.has_value(), written.has_value()), std::tuple(false, false, false))
      << "a save, a read or a write that cannot reach the store says so";
  const std::string file = home_.StoreFile().string();
  EXPECT_NE(err.find(file), std::string::npos) << err;
  EXPECT_NE(err.find("defaults"), std::string::npos) << err;
  EXPECT_EQ(err.find(file), err.rfind(file)) << "reported once: " << err;
  EXPECT_EQ(kvtest::ReadFile(home_.StoreFile()), garbage);
}

TEST(Sibling, AbsentMeansTheStoredPathOrTheLibraryFolderHalfInstalledFails) {
  kvtest::TempHome home;
  EXPECT_FALSE(Statics().IsLexoraInstalled());
  EXPECT_EQ(*Statics().GetApplicationPath(), kvtest::BinDir().string()) << "the folder of libkvshared.so";
  EXPECT_EQ(StoredSetting("Path"), kvtest::BinDir().string()) << "and it is stored";
  StoreSetting("Path", "/somewhere/else");
  EXPECT_EQ(*Statics().GetApplicationPath(), "/somewhere/else") << "a stored path wins, even when stale";
  for (auto [key, name, missing] :
       {std::tuple{kDataKey, "", "Lexora.Settings"}, {kSiblingKey, "Other", "LexoraPath"}}) {
    kvtest::Store(key, name, *name ? "value" : "");
    auto path = Statics().GetApplicationPath();
    ASSERT_FALSE(path);
    EXPECT_NE(path.error().message.find(missing), std::string::npos) << path.error().message;
  }
  CSettings settings;
  EXPECT_FALSE(settings.LoadSettings(nullptr));
  EXPECT_FALSE(CResources::Create());
}

TEST(Sibling, InstalledProvidesDataFolderQuotesFlagAndLanguage) {
  kvtest::TempHome home;
  std::string siblingData = home.DataFolder().string();
  kvtest::WriteFile(home.DataFolder() / "Backgrounds" / "FromSibling.bmp", "");
  StoreSettings({{"Path", "/not/used/while/installed"}, {"FirstTime", "1"}, {"UseQuotes", "1"}});
  for (auto [key, name, data] : {std::tuple{kDataKey, "", std::string()}, {kSiblingKey, "LexoraPath", siblingData},
                                 {"software\\Lexora", "LANGUAGE", "300"}})
    kvtest::Store(key, name, data);
  EXPECT_TRUE(Statics().IsLexoraInstalled());
  EXPECT_EQ(*Statics().GetApplicationPath(), siblingData);
  CSettings settings;
  CResources catalog = Catalog();
  ASSERT_TRUE(settings.LoadSettings(&catalog));
  EXPECT_EQ(std::tuple(settings.ApplicationPath(), settings.UseQuotes(), settings.Language()),
            std::tuple(siblingData, true, "300"));
  Names backgrounds;
  ASSERT_TRUE(catalog.GetAvailableBackgrounds(backgrounds));
  EXPECT_EQ(backgrounds, Names{"FromSibling"});
  // Without a language the library answers "100" and stores nothing.
  ASSERT_TRUE((*kv::platform::Store::Open(home.StoreFile()))->OpenKey("software\\Lexora")->DeleteValue("LANGUAGE"));
  CSettings noLanguage;
  ASSERT_TRUE(noLanguage.LoadSettings(&catalog));
  EXPECT_EQ(noLanguage.Language(), "100");
  EXPECT_FALSE(kvtest::StoredValue("software\\Lexora", "LANGUAGE"));
  // Removing the sibling turns the library back to its own data folder.
  kvtest::DeleteStoredKey(kDataKey);
  EXPECT_FALSE(Statics().IsLexoraInstalled());
  EXPECT_EQ(*Statics().GetApplicationPath(), "/not/used/while/installed");
}

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
    if (Statics().SaveRegistrySetting(kApp, kSection, "FromThread", "yes"))
      fromThread = Statics().GetRegistrySetting(kApp, kSection, "FromThread").value_or("");
  }).join();
  EXPECT_NE(mine, theirs);
  EXPECT_EQ(fromThread, "yes");
  EXPECT_EQ(*Statics().GetRegistrySetting(kApp, kSection, "FromThread"), "yes");
}

// Runs `body` in a child as an ordinary user (modes do not bind root); true when it found no problem.
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

// A store read-only for a while is read meanwhile; once writable again, every program saves again.
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
