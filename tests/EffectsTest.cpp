// The wallpaper effects on small bitmaps with a square "glyph" of known
// coverage, and whole renders with the effects on.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "PictureFiles.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "render/RenderWallpaper.h"
#include "render/TextEffects.h"

namespace {

namespace fs = std::filesystem;
using kv::platform::Bitmap;
using kv::platform::ColorRef;
using kv::render::ContrastRatio;
using kv::render::Effects;
using kv::render::PaintTextEffects;
using kv::render::TextCoverage;

constexpr ColorRef kWhite = 0xFFFFFF, kBlack = 0, kGrey = 0x808080;
const Effects kAll{.Shadow = true, .Outline = true, .Box = true, .Contrast = true, .Smooth = true};

// A bitmap-sized coverage with full squares at the given corners, one line
// of height `size` at `lineTop`.
TextCoverage Squares(const Bitmap& bitmap, std::initializer_list<std::pair<int, int>> corners, int size, int lineTop) {
  TextCoverage text{bitmap.Width(), bitmap.Height(), {}, {lineTop}, size};
  text.Pixels.assign(static_cast<size_t>(bitmap.Width()) * static_cast<size_t>(bitmap.Height()), 0);
  for (auto [left, top] : corners) {
    for (int y = top; y < top + size; ++y) {
      for (int x = left; x < left + size; ++x) text.Pixels[static_cast<size_t>(y * bitmap.Width() + x)] = 255;
    }
  }
  return text;
}

Bitmap Painted(int width, int height, const std::function<ColorRef(int, int)>& pixel) {
  Bitmap bitmap = std::move(*Bitmap::Create(width, height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) bitmap.SetPixel(x, y, pixel(x, y));
  }
  return bitmap;
}

int Grey(const Bitmap& bitmap, int x, int y) { return bitmap.PixelAt(x, y) & 0xFF; }

TEST(TextEffects, ShadowOutlineAndBoxPaintAroundTheGlyphInTheOppositeTone) {
  // White text on grey: the opposite tone is black. A 20-pixel square at
  // (40, 30) on a line 20 high: the box's padding and corner radius are 5.
  const auto paint = [](Effects chosen) {
    Bitmap bitmap = Painted(120, 90, [](int, int) { return kGrey; });
    PaintTextEffects(bitmap, Squares(bitmap, {{40, 30}}, 20, 30), kWhite, chosen);
    return bitmap;
  };
  EXPECT_EQ(kv::render::OppositeTone(kWhite), kBlack);
  EXPECT_EQ(kv::render::OppositeTone(0x00FFFF), kBlack) << "yellow text";
  EXPECT_EQ(kv::render::OppositeTone(0x800000), kWhite) << "dark blue text";

  Bitmap shadow = paint({.Shadow = true});  // 1 pixel off, blurred by 1 pixel twice
  EXPECT_LT(Grey(shadow, 50, 51), 110) << "darker just below the glyph";
  EXPECT_LT(Grey(shadow, 61, 40), 110) << "and right of it";
  EXPECT_EQ(Grey(shadow, 50, 28), 128) << "nothing above it";
  EXPECT_EQ(Grey(shadow, 38, 40), 128) << "nor left of it";

  Bitmap outline = paint({.Outline = true});  // a 1-pixel ring, its diagonal antialiased
  for (auto [x, y] : std::vector<std::pair<int, int>>{{39, 40}, {60, 40}, {50, 50}, {50, 29}}) {
    EXPECT_EQ(Grey(outline, x, y), 0) << "the ring right beside the glyph at " << x << "," << y;
  }
  EXPECT_GT(Grey(outline, 39, 29), 0) << "a rounded corner";
  EXPECT_LT(Grey(outline, 39, 29), 128);
  EXPECT_EQ(Grey(outline, 38, 40), 128);
  EXPECT_EQ(Grey(outline, 50, 52), 128);

  Bitmap box = paint({.Box = true});
  EXPECT_EQ(Grey(box, 36, 40), 51) << "black at 60 % over grey 128 inside the padding";
  EXPECT_EQ(Grey(box, 64, 49), 51);
  EXPECT_EQ(Grey(box, 34, 40), 128) << "nothing past the padding";
  EXPECT_EQ(Grey(box, 35, 25), 128) << "the corner is rounded";
  EXPECT_EQ(Grey(box, 40, 25), 51);

  Bitmap none = paint({.Smooth = true});
  for (int y = 0; y < 90; ++y) {
    for (int x = 0; x < 120; ++x) ASSERT_EQ(Grey(none, x, y), 128) << "smoothing paints nothing around text";
  }
}

TEST(TextEffects, ACoverageOfPartOfTheBitmapPaintsAsTheWholeOneAndABadOneNothing) {
  const auto picture = [] { return Painted(160, 100, [](int x, int y) { return (x * 37 + y * 11) % 256 * 0x010203u; }); };
  Bitmap whole = picture(), part = picture();
  const TextCoverage full = Squares(whole, {{40, 30}, {70, 34}}, 24, 30);
  PaintTextEffects(whole, full, kWhite, kAll);
  TextCoverage cropped{70, 50, {}, {30}, 24, 30, 20};
  for (int y = 20; y < 70; ++y) {
    for (int x = 30; x < 100; ++x) cropped.Pixels.push_back(full.Pixels[static_cast<size_t>(y * 160 + x)]);
  }
  PaintTextEffects(part, cropped, kWhite, kAll);
  int differing = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 160; ++x) differing += whole.PixelAt(x, y) != part.PixelAt(x, y);
  }
  EXPECT_EQ(differing, 0);
  EXPECT_NE(whole.PixelAt(38, 40), picture().PixelAt(38, 40)) << "the effects were painted at all";
  // Reaching outside the bitmap, or pixels that do not fill the rectangle:
  // nothing is painted and nothing outside the memory read.
  for (TextCoverage bad : {TextCoverage{70, 50, cropped.Pixels, {30}, 24, 100, 20},
                           TextCoverage{70, 50, cropped.Pixels, {30}, 24, -1, 20},
                           TextCoverage{70, 50, std::vector<std::uint8_t>(100, 255), {30}, 24, 30, 20}}) {
    Bitmap untouched = picture();
    PaintTextEffects(untouched, bad, kWhite, kAll);
    EXPECT_EQ(untouched.PixelAt(38, 40), picture().PixelAt(38, 40));
  }
}

TEST(TextEffects, ReadableReachesTheRatioUnderEveryGlyphOnAnyPictureAndNoMore) {
  std::uint32_t seed = 12345;
  std::vector<ColorRef> noise(160 * 100);
  for (ColorRef& value : noise) value = static_cast<ColorRef>((seed = seed * 1664525u + 1013904223u) >> 8);
  const std::vector<std::pair<const char*, std::function<ColorRef(int, int)>>> pictures = {
      {"white", [](int, int) { return kWhite; }},
      {"black", [](int, int) { return kBlack; }},
      {"noise", [&](int x, int y) { return noise[static_cast<size_t>(y * 160 + x)]; }},
  };
  for (ColorRef textColor : {kWhite, kBlack, ColorRef{0x00FFFF}, ColorRef{0x8080A0}}) {
    for (const auto& [name, pixel] : pictures) {
      SCOPED_TRACE(std::string(name) + " picture, text colour " + std::to_string(textColor));
      Bitmap bitmap = Painted(160, 100, pixel);
      TextCoverage text = Squares(bitmap, {{30, 40}, {60, 40}, {90, 40}}, 16, 40);
      PaintTextEffects(bitmap, text, textColor, {.Contrast = true});
      double worst = 21, before = 21;
      for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 160; ++x) {
          if (text.Pixels[static_cast<size_t>(y * 160 + x)] != 0) {
            worst = std::min(worst, ContrastRatio(textColor, bitmap.PixelAt(x, y)));
            before = std::min(before, ContrastRatio(textColor, pixel(x, y)));
          }
          // Outside the padded line box (4 pixels around 30..106 x 40..56) nothing changes.
          if (x < 26 || x >= 110 || y < 36 || y >= 60) {
            ASSERT_EQ(bitmap.PixelAt(x, y), pixel(x, y)) << x << "," << y;
          }
        }
      }
      EXPECT_GE(worst, kv::render::kReadableContrast);
      if (before < kv::render::kReadableContrast) {
        EXPECT_LT(worst, 5.0) << "just enough, not as dark or light as it could be";
      } else {
        EXPECT_EQ(bitmap.PixelAt(45, 45), pixel(45, 45)) << "a readable picture is left alone";
      }
    }
  }
}

class EffectsRender : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    setenv("KVILLO_SCREEN", "240x120", 1);
    kvtest::StoreSetting("Path", home_.DataFolder().string());
    kvtest::StoreSetting("FirstTime", "1");
    fs::create_directories(home_.Root() / "out");
  }
  void TearDown() override { unsetenv("KVILLO_SCREEN"); }

  kvtest::Image Draw(const std::string& background, int mode, const std::string& quote, Effects chosen,
                     std::int32_t* result = nullptr, int size = 24, ColorRef backgroundColor = 0) {
    std::string output = (home_.Root() / "out" / "Kvillo.bmp").string();
    fs::remove(output);
    auto drawn = kv::render::RenderWallpaper(background, backgroundColor, mode, "DejaVu Sans", size, 0xFFFFFF, quote,
                                             output, 10, 10, 10, 10, 2, 2, true, chosen);
    EXPECT_TRUE(drawn) << (drawn ? "" : drawn.error().message);
    if (result) *result = drawn ? *drawn : -1;
    return drawn && *drawn == 1 ? kvtest::ReadBmp24(output) : kvtest::Image{};
  }

  kvtest::TempHome home_;
};

TEST_F(EffectsRender, SmoothingFiltersStretchedAndShrinksLargeCentredPictures) {
  // Black and white 1-pixel squares: nearest pixels give only those two colours.
  auto checks = [](int x, int y) { return (x + y) % 2 == 0 ? 0x000000u : 0xFFFFFFu; };
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Tiny.bmp", kvtest::MakeBmp(2, 2, 24, checks));
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Fine.bmp", kvtest::MakeBmp(480, 120, 24, checks));
  auto grey = [](const kvtest::Image& image, int x, int y) { return static_cast<int>(image.Pixel(x, y) & 0xFF); };
  kvtest::Image nearest = Draw("Tiny", 1, " ", {}), filtered = Draw("Tiny", 1, " ", {.Smooth = true});
  ASSERT_EQ(filtered.width, 240);
  EXPECT_TRUE(grey(nearest, 120, 60) == 0 || grey(nearest, 120, 60) == 255);
  EXPECT_EQ(grey(filtered, 239, 0), 255) << "the corners keep the picture's own colours";
  EXPECT_NEAR(grey(filtered, 120, 60), 128, 3) << "the middle is between black and white";
  // Twice the screen's width: centred, it is shrunk to 240 x 60 and every pixel averages to grey.
  kvtest::Image centred = Draw("Fine", 2, " ", {.Smooth = true});
  EXPECT_EQ(centred.Pixel(120, 10), 0u) << "the background colour above the shrunk picture";
  EXPECT_NEAR(grey(centred, 5, 40), 128, 2);
  EXPECT_EQ(Draw("Fine", 2, " ", {}).Pixel(120, 10) & 0xFF, 0u) << "without smoothing it is cropped, unscaled";
}

TEST_F(EffectsRender, EffectsNeverMoveTheTextOrChangeWhatFits) {
  const std::string quote = "Small steps.";
  // On grey, white text's solid pixels are pure white; with every effect on
  // each is still white (its faint rim now blends over darker tones).
  kvtest::Image plain = Draw("", 1, quote, {}, nullptr, 36, kGrey), effects = Draw("", 1, quote, kAll, nullptr, 36, kGrey);
  ASSERT_EQ(effects.width, 240);
  int solid = 0, changed = 0;
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 240; ++x) {
      changed += plain.Pixel(x, y) != effects.Pixel(x, y);
      if (plain.Pixel(x, y) != 0xFFFFFFu) continue;
      ++solid;
      std::uint32_t p = effects.Pixel(x, y);
      EXPECT_GE(std::min({p >> 16, (p >> 8) & 0xFF, p & 0xFF}), 0xF0u) << "still the text colour at " << x << "," << y;
    }
  }
  EXPECT_GT(solid, 20);
  EXPECT_GT(changed, 1000) << "the effects were drawn around the text";
  std::int32_t result = -1;
  Draw("", 1, std::string(400, 'W'), kAll, &result);
  EXPECT_EQ(result, 0) << "a word wider than the screen still does not fit";
  Draw("", 1, quote, kAll, &result, 5000);
  EXPECT_EQ(result, 0);
  Draw("", 1, quote, kAll, &result, 36);
  EXPECT_EQ(result, 1);
}

}  // namespace
