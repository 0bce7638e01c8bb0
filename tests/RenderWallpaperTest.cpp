// RenderWallpaper as the service calls it, without a display: the file read
// back, texts that do not fit, outputs that cannot be written, bad input.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "PictureFiles.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "render/RenderWallpaper.h"

namespace {

namespace fs = std::filesystem;
using kv::render::RenderWallpaper;

constexpr std::int32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kFlatRgb = 0x203040;

class Render : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    setenv("KVILLO_SCREEN", "400x300", 1);
    kvtest::StoreSetting("Path", home_.DataFolder().string());
    kvtest::StoreSetting("FirstTime", "1");
    kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Flat.bmp",
                      kvtest::MakeBmp(64, 48, 24, [](int, int) { return kFlatRgb; }));
    output_ = (home_.Root() / "out" / "Kvillo.bmp").string();
    fs::create_directories(home_.Root() / "out");
  }
  void TearDown() override { unsetenv("KVILLO_SCREEN"); }

  struct Call {
    std::string background = "Flat";
    std::int32_t backgroundColor = 0x00000080;  // dark red, 0x00BBGGRR
    std::int32_t mode = 1;
    std::string font = "DejaVu Sans";
    std::int32_t size = 24;
    std::int32_t fontColor = kWhite;
    std::string quote = "Small steps, every day.";
    std::int32_t top = 10, bottom = 10, left = 10, right = 10, halign = 2, valign = 2;
  };
  kv::Result<std::int32_t> Draw(const Call& c, const std::string& output = "") {
    return RenderWallpaper(c.background, c.backgroundColor, c.mode, c.font, c.size, c.fontColor, c.quote,
                           output.empty() ? output_ : output, c.top, c.bottom, c.left, c.right, c.halign, c.valign, true);
  }
  std::int32_t DrawOk(const Call& c) {
    auto result = Draw(c);
    EXPECT_TRUE(result) << (result ? "" : result.error().message);
    return result ? *result : -1;
  }
  std::vector<fs::path> FilesInOutput() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(output_).parent_path())) files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());
    return files;
  }

  kvtest::TempHome home_;
  std::string output_;
};

TEST_F(Render, TextInsideTheMarginsOverTheStretchedPicture) {
  ASSERT_EQ(DrawOk({}), 1);
  kvtest::Image image = kvtest::ReadBmp24(output_);
  ASSERT_EQ(image.width, 400);
  ASSERT_EQ(image.height, 300);
  // The light face's thin strokes are antialiased: ink is any pixel that
  // is not the picture, and the brightest of it is close to the text colour.
  int ink = 0;
  unsigned brightest = 0;
  long sumX = 0, sumY = 0;
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 400; ++x) {
      std::uint32_t pixel = image.Pixel(x, y);
      if (pixel == kFlatRgb) continue;
      ++ink, sumX += x, sumY += y;
      brightest = std::max(brightest, std::min({pixel >> 16, (pixel >> 8) & 0xFF, pixel & 0xFF}));
      EXPECT_TRUE(x >= 40 && x < 360 && y >= 30 && y < 270) << "ink outside the margins at " << x << "," << y;
    }
  }
  EXPECT_GT(ink, 300) << "the quote was drawn";
  EXPECT_GE(brightest, 0xC0u) << "in the text colour";
  // Centred both ways: the ink's middle is near the bitmap's middle.
  EXPECT_NEAR(static_cast<double>(sumX) / ink, 200, 12);
  EXPECT_NEAR(static_cast<double>(sumY) / ink, 150, 8);
  EXPECT_EQ(FilesInOutput(), std::vector<fs::path>{"Kvillo.bmp"}) << "no temporary file is left behind";
}

TEST_F(Render, ColourShowsOnlyWithoutAPictureOrAroundACentredOne) {
  ASSERT_EQ(DrawOk({.background = "", .quote = "x"}), 1);
  EXPECT_EQ(kvtest::ReadBmp24(output_).Pixel(5, 5), 0x800000u) << "the background colour, 0x00BBGGRR read as RGB";
  // The file's 24-bit pixels are blue, green, red: its first pixel is 00 00 80.
  const std::string file = kvtest::ReadFile(output_);
  ASSERT_GT(file.size(), 60u);
  const std::size_t pixels = static_cast<unsigned char>(file[10]) | static_cast<unsigned char>(file[11]) << 8;
  EXPECT_EQ(file.substr(pixels, 6), std::string("\0\0\x80\0\0\x80", 6));
  ASSERT_EQ(DrawOk({.mode = 0}), 1);
  EXPECT_EQ(kvtest::ReadBmp24(output_).Pixel(399, 299), kFlatRgb);
  ASSERT_EQ(DrawOk({.mode = 2}), 1);
  kvtest::Image image = kvtest::ReadBmp24(output_);
  EXPECT_EQ(image.Pixel(5, 5), 0x800000u);
  EXPECT_EQ(image.Pixel(200 - 32, 150 - 24), kFlatRgb) << "the 64 x 48 picture in the middle";
  EXPECT_EQ(image.Pixel(200 - 33, 150 - 24), 0x800000u);
}

TEST_F(Render, TextThatDoesNotFitWritesNothing) {
  kvtest::WriteFile(output_, "the previous wallpaper");
  EXPECT_EQ(DrawOk({.size = 5000}), 0);
  setenv("KVILLO_SCREEN", "1x1", 1);
  EXPECT_EQ(DrawOk({}), 0) << "a 1 x 1 screen leaves no line free";
  EXPECT_EQ(kvtest::ReadFile(output_), "the previous wallpaper");
  EXPECT_EQ(FilesInOutput(), std::vector<fs::path>{"Kvillo.bmp"});
}

TEST_F(Render, AnUnwritableOutputIsAFailureThatKeepsTheOldFile) {
  kvtest::WriteFile(output_, "the previous wallpaper");
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
  EXPECT_EQ(kvtest::ReadFile(output_), "the previous wallpaper");
  EXPECT_EQ(FilesInOutput(), (std::vector<fs::path>{"Kvillo.bmp", "folder.bmp"})) << "no temporary file is left behind";
  EXPECT_FALSE(RenderWallpaper("", 0, 1, "DejaVu Sans", 24, kWhite, "x", "", 10, 10, 10, 10, 2, 2, true))
      << "no output path";
}

TEST_F(Render, BadInputGetsAClearResult) {
  Call call;
  for (std::int32_t size : {0, -24, 1, 5000, INT32_MIN, INT32_MAX}) {
    call.size = size;
    auto result = Draw(call);
    ASSERT_TRUE(result) << size << ": " << result.error().message;
    EXPECT_EQ(*result, size == 5000 || size == INT32_MIN || size == INT32_MAX ? 0 : 1) << size;
  }
  const auto drawsWith = [&](auto change, const char* what) {
    call = {};
    change(call);
    EXPECT_EQ(DrawOk(call), 1) << what;
  };
  drawsWith([](Call& c) { c.font = "No Such Face At All"; }, "the substitute font is used");
  for (const std::string& quote : {std::string("."), std::string("     "), std::string("tab\there\r\nand\x01\x7f"),
                                   std::string("\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 \xFF\xFE"),
                                   std::string("nul\0inside", 10)}) {
    drawsWith([&](Call& c) { c.quote = quote; }, quote.c_str());
  }
  drawsWith([](Call& c) { c.top = c.bottom = c.left = c.right = 90; }, "crossed margins are used as they are");
  drawsWith([](Call& c) { c.halign = 9, c.valign = -4, c.mode = 12; }, "unknown alignments and modes: edges, no picture");
  call = {};
  call.quote = "";
  EXPECT_FALSE(Draw(call)) << "an empty quote cannot be drawn";
  // A garbage picture, with a stretch of it asked for: the colour-less black
  // under the text, one line on stderr.
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Broken.bmp", std::string(3000, '\x42'));
  call = {};
  call.background = "Broken";
  testing::internal::CaptureStderr();
  EXPECT_EQ(DrawOk(call), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Broken.bmp"), std::string::npos);
  EXPECT_EQ(kvtest::ReadBmp24(output_).Pixel(0, 0), 0u);
}

}  // namespace
