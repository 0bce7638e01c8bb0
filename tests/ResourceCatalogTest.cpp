// The catalog: file lists of the data folder, the font list, the random picks and the numeric getters.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "StoreProbe.h"
#include "TempHome.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"

namespace {

using kv::CResources;
using kv::CSettings;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

class ResourceCatalog : public testing::Test {
 protected:
  void SetUp() override {
    kvtest::StoreSetting("Path", home_.DataFolder().string());
    kvtest::StoreSetting("FirstTime", "1");
  }
  fs::path Backgrounds() const { return home_.DataFolder() / "Backgrounds"; }
  fs::path Quotes() const { return home_.DataFolder() / "files"; }
  static std::pair<Names, Names> Lists(CResources& catalog) {
    Names backgrounds, quotes;
    EXPECT_TRUE(catalog.GetAvailableBackgrounds(backgrounds) && catalog.GetAvailableQuotesFiles(quotes));
    return {backgrounds, quotes};
  }
  kvtest::TempHome home_;
};

TEST_F(ResourceCatalog, FileListsMatchExtensionsInAnyCaseAndListOnlyUsableNames) {
  for (const char* file : {"Sea.BMP", "sky.bmp", "x.bmp.bmp", "notes.txt", ".hidden.bmp", "noext", "trail .bmp",
                           "Twice.bmp", "Twice.BMP", "two\\\\\\names.bmp", "Sea.png", "Sea.jpg", "Scan.JPEG",
                           "Logo.Png", "Anim.GIF", "Pic.webp", "doc.tiff"})
    kvtest::WriteFile(Backgrounds() / file, "");
  fs::create_directories(Backgrounds() / "folder.bmp");
  ASSERT_EQ(::mkfifo((Backgrounds() / "fifo.bmp").c_str(), 0600), 0);
  fs::create_symlink(home_.Root() / "nowhere.bmp", Backgrounds() / "dangling.bmp");
  for (const char* file : {"Wisdom.TXT", "daily.txt", "image.bmp"}) kvtest::WriteFile(Quotes() / file, "a\n");
  testing::internal::CaptureStderr();
  auto catalog = CResources::Create();
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(catalog) << catalog.error().message;
  EXPECT_EQ(Lists(*catalog), (std::pair<Names, Names>{{"Anim", "Logo", "Pic", "Scan", "Sea", "sky", "trail ", "Twice", "x.bmp"},
                                                       {"daily", "Wisdom"}}))
      << "every picture format, a name shared by several formats once";
  // A name holding the service lists' separator would be split in two there: it is left out, one line says why.
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("two\\\\\\names"), std::string::npos) << err;
  // A listed name leads back to its file, whatever its extension's case; of several formats the bitmap comes first.
  kvtest::StoreSetting("SelectedBackgrounds0", "Sea");
  CSettings settings;
  ASSERT_TRUE(settings.LoadSettings(&*catalog));
  ASSERT_TRUE(catalog->Init(&settings));
  EXPECT_EQ(*catalog->GetBackground(), (Backgrounds() / "Sea.BMP").string());
  ASSERT_TRUE(settings.SetSelectedBackgrounds({"Scan"}));
  EXPECT_EQ(*catalog->GetBackground(), (Backgrounds() / "Scan.JPEG").string());
}

// A fresh home: an empty folder and a missing one list one empty name, each installed font family is listed once, the
// numbers convert or fail, and the random picks follow the selection.
TEST_F(ResourceCatalog, ListsNumbersAndPicksOfAFreshHome) {
  fs::remove_all(Quotes());
  auto catalog = CResources::Create();
  ASSERT_TRUE(catalog);
  EXPECT_EQ(Lists(*catalog), (std::pair<Names, Names>{{""}, {""}}));
  Names fonts;
  ASSERT_TRUE(catalog->GetAvailableFonts(fonts));
  EXPECT_NE(std::find(fonts.begin(), fonts.end(), "DejaVu Sans"), fonts.end());
  std::sort(fonts.begin(), fonts.end());
  EXPECT_EQ(std::adjacent_find(fonts.begin(), fonts.end()), fonts.end()) << "a family listed twice";
  EXPECT_FALSE(catalog->GetFontSize()) << "a getter before Init";
  EXPECT_FALSE(catalog->Init(nullptr));
  CSettings settings;
  ASSERT_TRUE(settings.LoadSettings(&*catalog));
  ASSERT_TRUE(catalog->Init(&settings));
  EXPECT_EQ((std::vector{*catalog->GetFontSize(), *catalog->GetFontColor(), *catalog->GetBackgroundColor(),
                         *catalog->GetFrequency(), *catalog->GetBackgroundMode()}),
            (std::vector{40, 16777215, 0, 4, 1})) << "size, colours, frequency and mode";
  settings.FontSize("abc");
  auto size = catalog->GetFontSize();
  ASSERT_FALSE(size);
  EXPECT_NE(size.error().message.find("FontSize"), std::string::npos) << size.error().message;
  EXPECT_EQ(settings.FontSize(), "abc") << "nothing is changed by a failed conversion";
  settings.FontSize("40.5");
  EXPECT_EQ(*catalog->GetFontSize(), 40);
  // The picks are uniform over the selection, and follow later edits.
  ASSERT_TRUE(settings.SetSelectedFonts({"A", "B", "C"}));
  std::map<std::string, int> counts;
  constexpr int kPicks = 6000;
  for (int i = 0; i < kPicks; ++i) ++counts[*catalog->GetFontName()];
  ASSERT_EQ(counts.size(), 3u);
  for (const auto& [name, count] : counts) EXPECT_NEAR(count, kPicks / 3, kPicks / 3 * 0.1) << name;
  ASSERT_TRUE(settings.SetSelectedBackgrounds({"Sea"}));
  EXPECT_EQ(*catalog->GetBackground(), (Backgrounds() / "Sea.bmp").string());
  ASSERT_TRUE(settings.SetSelectedBackgrounds({""}));
  EXPECT_EQ(*catalog->GetBackground(), "");
}

}  // namespace
