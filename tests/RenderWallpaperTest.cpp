// RenderWallpaper as the service calls it, without a display: the file read back, texts that do not fit, outputs that
// cannot be written, bad input, and whole renders with the effects on.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "PictureFiles.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "render/RenderWallpaper.h"

namespace {

namespace fs = std::filesystem;
using kv::render::Effects;
using kv::render::RenderWallpaper;

constexpr std::int32_t kWhite = 0xFFFFFF, kGrey = 0x808080;
constexpr std::uint32_t kFlatRgb = 0x203040, kDarkRed = 0x800000;
const Effects kAll{.Shadow = true, .Outline = true, .Box = true, .Contrast = true, .Smooth = true};

class Render : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    setenv("KVILLO_SCREEN", "400x300", 1);
    kvtest::StoreSetting("Path", home_.DataFolder().string());
    kvtest::StoreSetting("FirstTime", "1");
    kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Flat.bmp",
                      kvtest::MakeBmp(64, 48, 24, [](int, int) { return kFlatRgb; }));
    fs::create_directories(home_.Root() / "out");
  }
  void TearDown() override { unsetenv("KVILLO_SCREEN"); }
  struct Call {
    std::string background = "Flat";
    std::int32_t backgroundColor = 0x00000080, mode = 1;  // kDarkRed as 0x00BBGGRR
    std::string font = "DejaVu Sans";
    std::int32_t size = 24, fontColor = kWhite;
    std::string quote = "Small steps, every day.";
    std::int32_t top = 10, bottom = 10, left = 10, right = 10, halign = 2, valign = 2;
    Effects effects = {};
  };
  kv::Result<std::int32_t> Draw(const Call& c, const std::string& output = "") {
    return RenderWallpaper(c.background, c.backgroundColor, c.mode, c.font, c.size, c.fontColor, c.quote,
                           output.empty() ? output_ : output, c.top, c.bottom, c.left, c.right, c.halign, c.valign, true,
                           c.effects);
  }
  std::int32_t DrawOk(const Call& c) {
    auto result = Draw(c);
    EXPECT_TRUE(result) << (result ? "" : result.error().message);
    return result ? *result : -1;
  }
  // The wallpaper drawn anew and read back; a missing file throws, which fails the test.
  kvtest::Image Drawn(const Call& c) {
    fs::remove(output_);
    EXPECT_EQ(DrawOk(c), 1);
    return kvtest::ReadBmp24(output_);
  }
  std::vector<fs::path> FilesInOutput() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(home_.Root() / "out")) files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());
    return files;
  }
  kvtest::TempHome home_;
  std::string output_ = (home_.Root() / "out" / "Kvillo.bmp").string();
};

TEST_F(Render, TextInsideTheMarginsOverTheStretchedPictureAndTheColourAroundACentredOne) {
  kvtest::Image image = Drawn({});
  ASSERT_EQ(std::pair(image.width, image.height), std::pair(400, 300));
  // Thin strokes are antialiased: ink is any pixel not the picture's, the brightest of it close to the text colour.
  const auto ink = image.InkWhere([](std::uint32_t pixel) { return pixel != kFlatRgb; });
  EXPECT_GT(ink.count, 300) << "the quote was drawn";
  EXPECT_TRUE(ink.left >= 40 && ink.right < 360 && ink.top >= 30 && ink.bottom < 270) << "ink inside the margins";
  EXPECT_GT(image.InkWhere([](std::uint32_t p) { return (p & 0xC0C0C0) == 0xC0C0C0; }).count, 0) << "in the text colour";
  EXPECT_NEAR((ink.left + ink.right) / 2.0, 200, 12) << "centred both ways";
  EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 150, 8);
  EXPECT_EQ(FilesInOutput(), std::vector<fs::path>{"Kvillo.bmp"}) << "no temporary file is left behind";
  EXPECT_EQ(Drawn({.background = "", .quote = "x"}).Pixel(5, 5), kDarkRed) << "no picture: the colour, 0x00BBGGRR";
  EXPECT_EQ(Drawn({.mode = 0}).Pixel(399, 299), kFlatRgb);
  image = Drawn({.mode = 2});
  EXPECT_EQ(image.Pixel(5, 5), kDarkRed);
  EXPECT_EQ(image.Pixel(200 - 32, 150 - 24), kFlatRgb) << "the 64 x 48 picture in the middle";
  EXPECT_EQ(image.Pixel(200 - 33, 150 - 24), kDarkRed);
}

TEST_F(Render, TextThatDoesNotFitOrAnUnwritableOutputKeepsTheOldFile) {
  kvtest::WriteFile(output_, "the previous wallpaper");
  EXPECT_EQ(DrawOk({.size = 5000}), 0);
  // The output's folder is a file: nothing can be created in it.
  kvtest::WriteFile(home_.Root() / "plainfile", "x");
  auto result = Draw({}, (home_.Root() / "plainfile" / "Kvillo.bmp").string());
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().message.find("plainfile/Kvillo.bmp"), std::string::npos) << result.error().message;
  // The output is a folder: the rename over it fails and the temporary file goes.
  fs::create_directories(home_.Root() / "out" / "folder.bmp");
  result = Draw({}, (home_.Root() / "out" / "folder.bmp").string());
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().message.find("folder.bmp"), std::string::npos);
  EXPECT_FALSE(RenderWallpaper("", 0, 1, "DejaVu Sans", 24, kWhite, "x", "", 10, 10, 10, 10, 2, 2, true)) << "no output path";
  setenv("KVILLO_SCREEN", "1x1", 1);
  EXPECT_EQ(DrawOk({}), 0) << "a 1 x 1 screen leaves no line free";
  EXPECT_EQ(kvtest::ReadFile(output_), "the previous wallpaper");
  EXPECT_EQ(FilesInOutput(), (std::vector<fs::path>{"Kvillo.bmp", "folder.bmp"})) << "no temporary file is left behind";
}

TEST_F(Render, BadInputGetsAClearResult) {
  for (std::int32_t size : {0, -24, 1, 5000, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(DrawOk({.size = size}), size == 5000 || size == INT32_MIN || size == INT32_MAX ? 0 : 1) << size;
  }
  EXPECT_EQ(DrawOk({.font = "No Such Face At All"}), 1) << "the substitute font is used";
  for (const std::string quote : {".", "     ", "tab\there\r\nand\x01\x7f", "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 \xFF\xFE"}) {
    EXPECT_EQ(DrawOk({.quote = quote}), 1) << quote;
  }
  EXPECT_EQ(DrawOk({.quote = std::string("nul\0inside", 10)}), 1);
  EXPECT_EQ(DrawOk({.top = 90, .bottom = 90, .left = 90, .right = 90}), 1) << "crossed margins are used as they are";
  EXPECT_EQ(DrawOk({.mode = 12, .halign = 9, .valign = -4}), 1) << "unknown alignments and modes: edges, no picture";
  EXPECT_FALSE(Draw({.quote = ""})) << "an empty quote cannot be drawn";
  // A garbage picture, stretched: black under the text and one line on stderr.
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Broken.bmp", std::string(3000, '\x42'));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Drawn({.background = "Broken"}).Pixel(0, 0), 0u);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Broken.bmp"), std::string::npos);
}

TEST_F(Render, SmoothingFiltersStretchedAndShrinksLargeCentredPictures) {
  setenv("KVILLO_SCREEN", "240x120", 1);
  // Black and white 1-pixel squares: nearest pixels give only those two colours.
  auto checks = [](int x, int y) { return (x + y) % 2 == 0 ? 0x000000u : 0xFFFFFFu; };
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Tiny.bmp", kvtest::MakeBmp(2, 2, 24, checks));
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Fine.bmp", kvtest::MakeBmp(480, 120, 24, checks));
  auto grey = [](const kvtest::Image& image, int x, int y) { return static_cast<int>(image.Pixel(x, y) & 0xFF); };
  const int nearest = grey(Drawn({.background = "Tiny", .quote = " "}), 120, 60);
  EXPECT_TRUE(nearest == 0 || nearest == 255);
  kvtest::Image filtered = Drawn({.background = "Tiny", .quote = " ", .effects = {.Smooth = true}});
  EXPECT_EQ(grey(filtered, 239, 0), 255) << "the corners keep the picture's own colours";
  EXPECT_NEAR(grey(filtered, 120, 60), 128, 3) << "the middle is between black and white";
  // Twice the screen's width: centred, it is shrunk to 240 x 60 and every pixel averages to grey.
  kvtest::Image centred = Drawn({.background = "Fine", .mode = 2, .quote = " ", .effects = {.Smooth = true}});
  EXPECT_EQ(centred.Pixel(120, 10), kDarkRed) << "the background colour above the shrunk picture";
  EXPECT_NEAR(grey(centred, 5, 40), 128, 2);
  EXPECT_EQ(Drawn({.background = "Fine", .mode = 2, .quote = " "}).Pixel(120, 10), 0u) << "without smoothing it is cropped";
}

TEST_F(Render, EffectsNeverMoveTheTextOrChangeWhatFits) {
  setenv("KVILLO_SCREEN", "240x120", 1);
  // White text's solid pixels on grey stay white with every effect on (only its faint rim blends over darker tones).
  const Call call{.background = "", .backgroundColor = kGrey, .size = 36, .quote = "Small steps."};
  Call withEffects = call;
  withEffects.effects = kAll;
  kvtest::Image plain = Drawn(call), effects = Drawn(withEffects);
  int solid = 0, changed = 0;
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 240; ++x) {
      changed += plain.Pixel(x, y) != effects.Pixel(x, y);
      if (plain.Pixel(x, y) != 0xFFFFFFu) continue;
      ++solid;
      const std::uint32_t p = effects.Pixel(x, y);
      EXPECT_GE(std::min({p >> 16, (p >> 8) & 0xFF, p & 0xFF}), 0xF0u) << "still the text colour at " << x << "," << y;
    }
  }
  EXPECT_GT(solid, 20);
  EXPECT_GT(changed, 1000) << "the effects were drawn around the text";
  withEffects.quote = std::string(400, 'W');
  EXPECT_EQ(DrawOk(withEffects), 0) << "a word wider than the screen still does not fit";
  withEffects.quote = call.quote, withEffects.size = 5000;
  EXPECT_EQ(DrawOk(withEffects), 0);
}

}  // namespace
