// Smooth scaling against filtering worked out plainly in floating point, for every in-memory layout of a picture.

#include <array>
#include <cmath>
#include <cstdlib>

#include "BackgroundPaint.h"
#include "PictureWriters.h"
#include "render/SmoothScale.h"

namespace {

using kv::platform::Bitmap;

// The weights of the source positions along one axis for target index i: the covered area when shrinking, the two
// nearest centres when growing, the pixel itself when the size is kept.
std::vector<std::pair<int, double>> Weights(int from, int to, int i) {
  std::vector<std::pair<int, double>> weights;
  const double scale = static_cast<double>(from) / to;
  if (from == to) {
    weights.emplace_back(i, 1.0);
  } else if (from > to) {
    const double begin = i * scale, end = (i + 1) * scale;
    for (int j = static_cast<int>(std::floor(begin)); j < std::min(static_cast<int>(std::ceil(end)), from); ++j) {
      weights.emplace_back(j, (std::min(end, j + 1.0) - std::max(begin, static_cast<double>(j))) / scale);
    }
  } else {
    const double position = std::clamp((i + 0.5) * scale - 0.5, 0.0, from - 1.0);
    const int first = static_cast<int>(std::floor(position));
    weights.emplace_back(first, 1.0 - (position - first));
    if (first + 1 < from) weights.emplace_back(first + 1, position - first);
  }
  return weights;
}

TEST(SmoothScale, EveryPictureLayoutScalesAlikeAndCloseToPlainFiltering) {
  kvtest::TempHome home;
  struct Size { int fromW, fromH, toW, toH; };
  // Growing by odd and even factors, the same size, shrinking by less than two and by far more.
  const std::vector<Size> sizes = {{37, 23, 61, 40}, {40, 20, 60, 30}, {30, 17, 30, 17}, {45, 30, 30, 20}, {90, 60, 29, 19}};
  for (const Size& size : sizes) {
    SCOPED_TRACE(std::to_string(size.fromW) + "x" + std::to_string(size.fromH) + " to " + std::to_string(size.toW) +
                 "x" + std::to_string(size.toH));
    const kvtest::PixelFunction pixel = [](int x, int y) {
      return static_cast<std::uint32_t>(((x * 53 + y * 7) % 256) << 16 | ((x * 11 + y * 29) % 256) << 8 |
                                        ((x * y * 5 + 3) % 256));
    };
    // The same pixels as a 24-bit and a 32-bit bitmap (used in place) and a PNG (decoded, red first).
    const auto folder = home.Root();
    kvtest::WriteFile(folder / "p24.bmp", kvtest::MakeBmp(size.fromW, size.fromH, 24, pixel));
    kvtest::WriteFile(folder / "p32.bmp", kvtest::MakeBmp(size.fromW, size.fromH, 32, pixel));
    kvtest::WriteFile(folder / "p.png",
                      kvtest::MakePng(size.fromW, size.fromH, [&](int x, int y) { return 0xFF000000u | pixel(x, y); }));
    // The rectangle sticks out on every side, so a middle part whose first column is no multiple of 4 is painted, or
    // covers the bitmap exactly, so the last pixels of each row are painted too.
    for (auto [left, top, width, height] : {std::array{-5, -3, size.toW - 8, size.toH - 5}, std::array{0, 0, size.toW, size.toH}}) {
      SCOPED_TRACE(left == 0 ? "the whole bitmap" : "a middle part");
      std::vector<std::uint8_t> first;
      for (const char* name : {"p24.bmp", "p32.bmp", "p.png"}) {
        auto picture = kv::platform::LoadPicture(folder / name, 0);
        ASSERT_TRUE(picture) << name << ": " << picture.error().message;
        Bitmap bitmap = std::move(*Bitmap::Create(width, height));
        kv::render::SmoothScalePicture(bitmap, *picture, left, top, size.toW, size.toH);
        if (!first.empty()) {
          EXPECT_TRUE(kvtest::PixelsOf(bitmap) == first) << name << " scales differently from the 24-bit bitmap";
          continue;
        }
        first = kvtest::PixelsOf(bitmap);
        int worst = 0;
        for (int y = 0; y < height; ++y) {
          for (int x = 0; x < width; ++x) {
            double exact[3] = {0, 0, 0};
            for (auto [sy, wy] : Weights(size.fromH, size.toH, y - top)) {
              for (auto [sx, wx] : Weights(size.fromW, size.toW, x - left)) {
                for (int c = 0; c < 3; ++c) exact[c] += wy * wx * ((pixel(sx, sy) >> (8 * c)) & 0xFF);
              }
            }
            const kv::platform::ColorRef got = bitmap.PixelAt(x, y);  // 0x00BBGGRR
            const int channels[3] = {kv::platform::BlueOf(got), kv::platform::GreenOf(got), kv::platform::RedOf(got)};
            for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(channels[c] - static_cast<int>(std::lround(exact[c]))));
          }
        }
        EXPECT_LE(worst, 2) << "a pixel strays from the filtered value by more than the weights' rounding";
      }
    }
  }
  // A black row grown into a white one: each row alike along its whole width, whichever instructions blended it.
  const auto bandsFile = home.Root() / "bands.bmp";
  kvtest::WriteFile(bandsFile, kvtest::MakeBmp(40, 2, 24, [](int, int y) { return y ? 0xFFFFFFu : 0u; }));
  auto bands = kv::platform::LoadPicture(bandsFile, 0);
  Bitmap grown = std::move(*Bitmap::Create(40, 7));
  kv::render::SmoothScalePicture(grown, *bands, 0, 0, 40, 7);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 40; ++x) ASSERT_EQ(grown.PixelAt(x, y), grown.PixelAt(39, y)) << x << ", " << y;
  }
}

}  // namespace
