// The wallpaper effects on small bitmaps with a square "glyph" of known coverage.

#include <gtest/gtest.h>
#include <algorithm>

#include "render/TextEffects.h"

namespace {

using kv::platform::Bitmap;
using kv::platform::ColorRef;
using kv::render::ContrastRatio;
using kv::render::Effects;
using kv::render::PaintTextEffects;
using kv::render::TextCoverage;

constexpr ColorRef kWhite = 0xFFFFFF, kBlack = 0, kGrey = 0x808080;
const Effects kAll{.Shadow = true, .Outline = true, .Box = true, .Contrast = true, .Smooth = true};

// A bitmap-sized coverage with full squares at the given corners, one line of height `size` at `lineTop`.
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
  // White text on grey: the opposite tone is black. A 20-pixel square at (40, 30) on a line 20 high: the box's padding
  // and corner radius are 5.
  const auto paint = [](Effects chosen) {
    Bitmap bitmap = Painted(120, 90, [](int, int) { return kGrey; });
    // Ink below the line at the left edge (a mark of the next line) leaves the line's box as it is.
    PaintTextEffects(bitmap, Squares(bitmap, {{40, 30}, {0, 50}}, 20, 30), kWhite, chosen);
    return bitmap;
  };
  EXPECT_EQ(kv::render::OppositeTone(kWhite), kBlack);
  EXPECT_EQ(kv::render::OppositeTone(0x00FFFF), kBlack) << "yellow text";
  EXPECT_EQ(kv::render::OppositeTone(0x800000), kWhite) << "dark blue text";
  struct Probe { Effects chosen; int x, y, low, high; const char* what; };
  const Effects shadow{.Shadow = true}, outline{.Outline = true}, box{.Box = true};
  const Probe probes[] = {
      // A shadow 1 pixel off, blurred by 1 pixel twice.
      {shadow, 50, 51, 0, 109, "darker just below the glyph"}, {shadow, 61, 40, 0, 109, "and right of it"},
      {shadow, 50, 28, 128, 128, "nothing above it"}, {shadow, 38, 40, 128, 128, "nor left of it"},
      // A 1-pixel ring, its diagonal antialiased.
      {outline, 39, 40, 0, 0, "the ring left of the glyph"}, {outline, 60, 40, 0, 0, "right"}, {outline, 50, 50, 0, 0, "below"},
      {outline, 50, 29, 0, 0, "above"}, {outline, 39, 29, 1, 127, "a rounded corner"}, {outline, 38, 40, 128, 128, "past it"},
      {outline, 50, 52, 128, 128, "below it"},
      // Black at 60 % over grey 128 inside the padding.
      {box, 36, 40, 51, 51, "the padding"}, {box, 64, 49, 51, 51, "its far corner"}, {box, 34, 40, 128, 128, "past it"},
      {box, 35, 25, 128, 128, "the rounded corner"}, {box, 40, 25, 51, 51, "beside the corner"},
      {box, 66, 40, 128, 128, "past its right"},
  };
  for (const Probe& probe : probes) {
    const int grey = Grey(paint(probe.chosen), probe.x, probe.y);
    EXPECT_TRUE(grey >= probe.low && grey <= probe.high) << probe.what << " at " << probe.x << "," << probe.y << ": " << grey;
  }
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
  EXPECT_TRUE(std::equal(whole.Pixels(), whole.Pixels() + whole.PixelBytes(), part.Pixels()));
  EXPECT_NE(whole.PixelAt(38, 40), picture().PixelAt(38, 40)) << "the effects were painted at all";
  // Reaching outside the bitmap, or pixels that do not fill the rectangle: nothing painted, no memory overread.
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
          const bool outside = x < 26 || x >= 110 || y < 36 || y >= 60;
          ASSERT_TRUE(!outside || bitmap.PixelAt(x, y) == pixel(x, y)) << x << "," << y;
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

}  // namespace
