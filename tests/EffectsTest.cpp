// The wallpaper effects on small in-memory bitmaps (a square "glyph" whose
// coverage the test writes itself), the readability effect on pictures that
// defeat plain text, smooth scaling of tiny pictures, and whole renders with
// every effect on.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <filesystem>

#include "PictureFiles.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "render/RenderWallpaper.h"
#include "render/SmoothScale.h"
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

// Coverage of a bitmap-sized mask with full squares at the given corners,
// one line of height `size` at `lineTop`.
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

Bitmap Filled(int width, int height, ColorRef color) {
  Bitmap bitmap = std::move(*Bitmap::Create(width, height));
  bitmap.Fill(color);
  return bitmap;
}

int Grey(const Bitmap& bitmap, int x, int y) { return bitmap.PixelAt(x, y) & 0xFF; }

TEST(TextEffects, ShadowOutlineAndBoxPaintAroundTheGlyphInTheOppositeTone) {
  // White text: the opposite tone is black. A 20-pixel square at (40, 30);
  // the line is 20 high, so the box's padding and corner radius are 5.
  const auto paint = [](Effects chosen) {
    Bitmap bitmap = Filled(120, 90, kGrey);
    PaintTextEffects(bitmap, Squares(bitmap, {{40, 30}}, 20, 30), kWhite, chosen);
    return bitmap;
  };
  EXPECT_EQ(kv::render::OppositeTone(kWhite), kBlack);
  EXPECT_EQ(kv::render::OppositeTone(0x00FFFF), kBlack) << "yellow text";
  EXPECT_EQ(kv::render::OppositeTone(0x800000), kWhite) << "dark blue text";

  // At this size the shadow lies 1 pixel off, blurred by 1 pixel twice.
  Bitmap shadow = paint({.Shadow = true});
  EXPECT_LT(Grey(shadow, 50, 51), 110) << "darker just below the glyph";
  EXPECT_LT(Grey(shadow, 61, 40), 110) << "and right of it";
  EXPECT_LT(Grey(shadow, 61, 51), 128) << "and below-right";
  EXPECT_EQ(Grey(shadow, 50, 28), 128) << "nothing above it";
  EXPECT_EQ(Grey(shadow, 38, 40), 128) << "nor left of it";

  // The ring is 1 pixel wide at this size, its diagonal antialiased.
  Bitmap outline = paint({.Outline = true});
  EXPECT_EQ(Grey(outline, 39, 40), 0) << "a ring right beside the glyph";
  EXPECT_EQ(Grey(outline, 60, 40), 0);
  EXPECT_EQ(Grey(outline, 50, 50), 0);
  EXPECT_EQ(Grey(outline, 50, 29), 0);
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

TEST(TextEffects, ACoverageOfPartOfTheBitmapPaintsAsTheWholeOne) {
  // Two glyphs on a picture with detail, every effect on: a coverage of
  // just the part of the bitmap around them paints the same pixels.
  const auto picture = [] {
    Bitmap bitmap = Filled(160, 100, 0);
    for (int y = 0; y < 100; ++y) {
      for (int x = 0; x < 160; ++x) bitmap.SetPixel(x, y, static_cast<ColorRef>((x * 37 + y * 11) % 256 * 0x010203));
    }
    return bitmap;
  };
  const Effects all{.Shadow = true, .Outline = true, .Box = true, .Contrast = true};
  Bitmap whole = picture(), part = picture();
  const TextCoverage full = Squares(whole, {{40, 30}, {70, 34}}, 24, 30);
  PaintTextEffects(whole, full, kWhite, all);
  TextCoverage cropped{70, 50, {}, {30}, 24, 30, 20};
  for (int y = 20; y < 70; ++y) {
    for (int x = 30; x < 100; ++x) cropped.Pixels.push_back(full.Pixels[static_cast<size_t>(y * 160 + x)]);
  }
  PaintTextEffects(part, cropped, kWhite, all);
  int differing = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 160; ++x) differing += whole.PixelAt(x, y) != part.PixelAt(x, y);
  }
  EXPECT_EQ(differing, 0);
  EXPECT_NE(whole.PixelAt(38, 40), picture().PixelAt(38, 40)) << "the effects were painted at all";

  // A coverage that reaches outside the bitmap, or whose pixels do not fill
  // its rectangle, paints nothing and reads nothing outside its memory.
  for (TextCoverage bad : {TextCoverage{70, 50, cropped.Pixels, {30}, 24, 100, 20},
                           TextCoverage{70, 50, cropped.Pixels, {30}, 24, -1, 20},
                           TextCoverage{70, 50, std::vector<std::uint8_t>(100, 255), {30}, 24, 30, 20}}) {
    Bitmap untouched = picture();
    PaintTextEffects(untouched, bad, kWhite, all);
    EXPECT_EQ(untouched.PixelAt(45, 40), picture().PixelAt(45, 40));
    EXPECT_EQ(untouched.PixelAt(38, 40), picture().PixelAt(38, 40));
  }
}

TEST(TextEffects, ReadableReachesTheRatioUnderEveryGlyphOnAnyPictureAndNoMore) {
  struct Picture {
    const char* name;
    std::function<ColorRef(int, int)> pixel;
  };
  std::uint32_t seed = 12345;
  std::vector<ColorRef> noise(160 * 100);
  for (ColorRef& value : noise) {
    seed = seed * 1664525u + 1013904223u;
    value = static_cast<ColorRef>(seed >> 8);
  }
  const std::vector<Picture> pictures = {
      {"white", [](int, int) { return kWhite; }},
      {"black", [](int, int) { return kBlack; }},
      {"noise", [&](int x, int y) { return noise[static_cast<size_t>(y * 160 + x)]; }},
  };
  for (ColorRef textColor : {kWhite, kBlack, ColorRef{0x00FFFF}, ColorRef{0x8080A0}}) {
    for (const Picture& picture : pictures) {
      SCOPED_TRACE(std::string(picture.name) + " picture, text colour " + std::to_string(textColor));
      Bitmap bitmap = Filled(160, 100, 0);
      for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 160; ++x) bitmap.SetPixel(x, y, picture.pixel(x, y));
      }
      TextCoverage text = Squares(bitmap, {{30, 40}, {60, 40}, {90, 40}}, 16, 40);
      PaintTextEffects(bitmap, text, textColor, {.Contrast = true});
      double worst = 21;
      for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 160; ++x) {
          bool glyph = text.Pixels[static_cast<size_t>(y * 160 + x)] != 0;
          if (glyph) worst = std::min(worst, ContrastRatio(textColor, bitmap.PixelAt(x, y)));
          // Outside the padded line box (4 pixels around 30..106 x 40..56) nothing changes.
          bool outside = x < 26 || x >= 110 || y < 36 || y >= 60;
          if (outside) {
            ASSERT_EQ(bitmap.PixelAt(x, y), picture.pixel(x, y)) << x << "," << y;
          }
        }
      }
      EXPECT_GE(worst, kv::render::kReadableContrast);
      double before = 21;
      for (int x = 30; x < 106; ++x) before = std::min(before, ContrastRatio(textColor, picture.pixel(x, 45)));
      if (before < kv::render::kReadableContrast) {
        EXPECT_LT(worst, 5.0) << "just enough, not as dark or light as it could be";
      } else {
        EXPECT_EQ(bitmap.PixelAt(45, 45), picture.pixel(45, 45)) << "a readable picture is left alone";
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

  void AddPicture(const std::string& name, int width, int height, const kvtest::PixelFunction& pixel) {
    kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / (name + ".bmp"), kvtest::MakeBmp(width, height, 24, pixel));
  }
  kvtest::Image Draw(const std::string& background, int mode, const std::string& quote, Effects chosen,
                     std::int32_t* result = nullptr, int size = 24, ColorRef backgroundColor = 0) {
    std::string output = (home_.Root() / "out" / "Kvillo.bmp").string();
    fs::remove(output);
    auto drawn = kv::render::RenderWallpaper(background, backgroundColor, mode, "DejaVu Sans", size, 0xFFFFFF, quote, output, 10,
                                             10, 10, 10, 2, 2, true, chosen);
    EXPECT_TRUE(drawn) << (drawn ? "" : drawn.error().message);
    if (result) *result = drawn ? *drawn : -1;
    return drawn && *drawn == 1 ? kvtest::ReadBmp24(output) : kvtest::Image{};
  }

  kvtest::TempHome home_;
};

TEST_F(EffectsRender, SmoothScalingFiltersStretchedAndLargeCentredPictures) {
  // Black and white corners: nearest pixels give only those two colours.
  AddPicture("Tiny", 2, 2, [](int x, int y) { return (x + y) % 2 == 0 ? 0x000000u : 0xFFFFFFu; });
  const Effects smooth{.Smooth = true};
  kvtest::Image nearest = Draw("Tiny", 1, " ", {});
  kvtest::Image filtered = Draw("Tiny", 1, " ", smooth);
  ASSERT_EQ(filtered.width, 240);
  auto grey = [](const kvtest::Image& image, int x, int y) { return static_cast<int>(image.Pixel(x, y) & 0xFF); };
  EXPECT_TRUE(grey(nearest, 120, 60) == 0 || grey(nearest, 120, 60) == 255);
  EXPECT_EQ(grey(filtered, 0, 0), 0) << "the corners keep the picture's own colours";
  EXPECT_EQ(grey(filtered, 239, 0), 255);
  EXPECT_NEAR(grey(filtered, 120, 60), 128, 3) << "the middle is between black and white";
  EXPECT_GT(grey(filtered, 90, 30), 40);
  EXPECT_LT(grey(filtered, 90, 30), 128);

  // A 480 x 120 checkerboard of 1-pixel squares is twice the screen's width:
  // in centre mode it is shrunk to 240 x 60 and every pixel averages to grey.
  AddPicture("Fine", 480, 120, [](int x, int y) { return (x + y) % 2 == 0 ? 0x000000u : 0xFFFFFFu; });
  kvtest::Image centred = Draw("Fine", 2, " ", smooth);
  EXPECT_EQ(centred.Pixel(120, 10), 0u) << "the background colour above the shrunk picture";
  EXPECT_NEAR(grey(centred, 120, 60), 128, 2);
  EXPECT_NEAR(grey(centred, 5, 40), 128, 2);
  EXPECT_EQ(Draw("Fine", 2, " ", {}).Pixel(120, 10) & 0xFF, 0u) << "without smoothing it is cropped, unscaled";

  // The same size copies the picture exactly.
  AddPicture("Same", 240, 120, [](int x, int y) { return static_cast<std::uint32_t>(x * 7 + y * 13) & 0xFFFFFF; });
  kvtest::Image same = Draw("Same", 1, " ", smooth);
  for (int y = 0; y < 120; y += 7) {
    for (int x = 0; x < 240; x += 5) ASSERT_EQ(same.Pixel(x, y), static_cast<std::uint32_t>(x * 7 + y * 13) & 0xFFFFFF);
  }
}

TEST_F(EffectsRender, EffectsNeverMoveTheTextOrChangeWhatFits) {
  const Effects all{.Shadow = true, .Outline = true, .Box = true, .Contrast = true, .Smooth = true};
  const std::string quote = "Small steps.";
  // On grey, white text's solid pixels are pure white; with every effect on,
  // each of them is still white (its faint rim now blends over darker tones).
  kvtest::Image plain = Draw("", 1, quote, {}, nullptr, 36, kGrey);
  kvtest::Image effects = Draw("", 1, quote, all, nullptr, 36, kGrey);
  ASSERT_EQ(effects.width, 240);
  int solid = 0, changed = 0;
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 240; ++x) {
      if (plain.Pixel(x, y) == 0xFFFFFFu) {
        ++solid;
        std::uint32_t p = effects.Pixel(x, y);
        EXPECT_GE(std::min({p >> 16, (p >> 8) & 0xFF, p & 0xFF}), 0xF0u) << "still the text colour at " << x << "," << y;
      }
      if (plain.Pixel(x, y) != effects.Pixel(x, y)) ++changed;
    }
  }
  EXPECT_GT(solid, 20);
  EXPECT_GT(changed, 1000) << "the effects were drawn around the text";

  std::int32_t result = -1;
  Draw("", 1, std::string(400, 'W'), all, &result);
  EXPECT_EQ(result, 0) << "a word wider than the screen still does not fit";
  Draw("", 1, quote, all, &result, 5000);
  EXPECT_EQ(result, 0);
  Draw("", 1, quote, all, &result, 36);
  EXPECT_EQ(result, 1);
}

TEST_F(EffectsRender, EachEffectOnABusyPictureIsLeftAsAScreenshot) {
  // A photo-like picture: bright sky, dark hills, and fine detail everywhere,
  // so that neither white nor black text is readable on all of it.
  setenv("KVILLO_SCREEN", "960x540", 1);
  AddPicture("Busy", 640, 360, [](int x, int y) {
    std::uint32_t hash = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
    hash = (hash ^ (hash >> 13)) * 0x5bd1e995u;
    int detail = static_cast<int>(hash >> 26) - 32;
    double hill = 200 + 60 * std::sin(x / 40.0) + 30 * std::sin(x / 9.0);
    bool sky = y < hill;
    int band = ((x / 24 + y / 24) % 2) * 40;
    auto clamp = [](int v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
    int r = sky ? 235 - y / 3 + detail : 40 + band + detail;
    int g = sky ? 225 - y / 4 + detail : 90 + band / 2 + detail;
    int b = sky ? 250 + detail : 30 + detail;
    return (clamp(r) << 16) | (clamp(g) << 8) | clamp(b);
  });
  const std::string quote = "Small steps every day add up to a long walk.";
  const std::vector<std::pair<std::string, Effects>> shots = {
      {"none", {}},
      {"shadow", {.Shadow = true}},
      {"outline", {.Outline = true}},
      {"box", {.Box = true}},
      {"contrast", {.Contrast = true}},
      {"smooth", {.Smooth = true}},
      {"all", {.Shadow = true, .Outline = true, .Box = true, .Contrast = true, .Smooth = true}},
  };
  kvtest::Image none;
  for (const auto& [name, chosen] : shots) {
    kvtest::Image image = Draw("Busy", 1, quote, chosen, nullptr, 48);
    ASSERT_EQ(image.width, 960) << name;
    if (name == "none") none = image;
    EXPECT_TRUE(name == "none" || image.rgb != none.rgb) << name << " changes the wallpaper";
    kvtest::SavePng(image, kvtest::ScreenshotDir() / ("effects-" + name + ".png"));
  }
}

}  // namespace
