// LoadPicture of one 1920 x 1080 photo-like picture in every format the
// backgrounds folder takes, so that the decoders can be compared: each
// figure is reading the file, checking it and decoding it into the
// blue-green-red rows the painter copies.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <string>

#include "PictureFiles.h"
#include "PictureWriters.h"
#include "TempHome.h"
#include "kvplatform/image/Picture.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1920, kHeight = 1080;

// Soft gradients with hills of colour and a little grain, as a photo has:
// neither a flat picture nor noise, which would flatter or punish the
// compressed formats.
std::uint32_t Photo(int x, int y) {
  const double u = x / double{kWidth}, v = y / double{kHeight};
  std::uint32_t grain = (static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u) >> 28;
  auto channel = [&](double value) {
    return static_cast<std::uint32_t>(std::clamp(value * 255.0 + grain - 8.0, 0.0, 255.0));
  };
  const double r = 0.55 + 0.35 * std::sin(6.0 * u + 2.0 * v) * std::cos(3.0 * v);
  const double g = 0.45 + 0.30 * std::sin(4.0 * v - 3.0 * u + 1.0);
  const double b = 0.50 + 0.40 * std::cos(5.0 * u * v + 2.0 * u);
  return 0xFF000000u | (channel(r) << 16) | (channel(g) << 8) | channel(b);
}

// The colour GIF's fixed palette gives a pixel.
std::uint32_t Quantized(std::uint32_t c) {
  const std::uint32_t r = ((c >> 21) & 7) * 255 / 7, g = ((c >> 13) & 7) * 255 / 7, b = ((c >> 6) & 3) * 255 / 3;
  return (r << 16) | (g << 8) | b;
}

// The photo in every format, in a private home of its own.
struct Files {
  Files() {
    std::vector<std::uint32_t> palette;  // 3 bits of red and green, 2 of blue
    for (std::uint32_t i = 0; i < 256; ++i) {
      palette.push_back(Quantized((i & 0xE0) << 16 | (i & 0x1C) << 11 | (i & 3) << 6));
    }
    auto paletteIndex = [](int x, int y) {  // the entry below the pixel's colour
      const std::uint32_t c = Photo(x, y);
      return static_cast<int>(((c >> 16) & 0xE0) | (((c >> 8) & 0xE0) >> 3) | ((c & 0xC0) >> 6));
    };
    auto write = [&](const std::string& name, const std::string& bytes) { kvtest::WriteFile(root / name, bytes); };
    write("photo.bmp", kvtest::MakeBmp(kWidth, kHeight, 24, [](int x, int y) { return Photo(x, y) & 0xFFFFFF; }));
    write("photo.png", kvtest::MakePng(kWidth, kHeight, Photo));
    write("photo.jpg", kvtest::MakeJpeg(kWidth, kHeight, Photo, 90));
    write("photo.gif", kvtest::MakeGif(kWidth, kHeight, palette, paletteIndex));
    write("photo.webp", kvtest::MakeWebp(kWidth, kHeight, Photo));
  }
  kvtest::TempHome home;
  fs::path root = home.Root();
};

const Files& TheFiles() { static Files files; return files; }

// Whether the picture shows the photo, within `tolerance` per channel: a
// figure for a decode that went wrong would mean nothing.
bool ShowsThePhoto(const kv::platform::Picture& picture, bool quantized, int tolerance) {
  if (picture.Width() != kWidth || picture.Height() != kHeight) return false;
  for (int y = 0; y < kHeight; y += 97) {
    for (int x = 0; x < kWidth; x += 89) {
      const std::uint32_t want = quantized ? Quantized(Photo(x, y)) : Photo(x, y);
      const auto got = static_cast<std::uint32_t>(picture.PixelAt(x, y));  // 0x00BBGGRR
      for (int channel = 0; channel < 3; ++channel) {
        const int w = static_cast<int>((want >> (16 - 8 * channel)) & 0xFF);
        const int g = static_cast<int>((got >> (8 * channel)) & 0xFF);
        if (std::abs(w - g) > tolerance) return false;
      }
    }
  }
  return true;
}

void LoadPhoto(benchmark::State& state, const char* name, bool quantized = false, int tolerance = 0) {
  const fs::path file = TheFiles().root / name;
  auto first = kv::platform::LoadPicture(file, 0);
  if (!first || !ShowsThePhoto(*first, quantized, tolerance)) {
    state.SkipWithError(first ? "the decoded picture differs from the photo" : first.error().message.c_str());
    return;
  }
  for (auto _ : state) {
    auto picture = kv::platform::LoadPicture(file, 0);
    benchmark::DoNotOptimize(picture->Row(0));
  }
  state.counters["file_kB"] = static_cast<double>(fs::file_size(file)) / 1000.0;
}

}  // namespace

#define KV_BENCH(name, ...)                                                                \
  BENCHMARK_CAPTURE(LoadPhoto, name, __VA_ARGS__)->Unit(benchmark::kMillisecond)->Repetitions(5) \
      ->ReportAggregatesOnly(true)

KV_BENCH(Bmp, "photo.bmp");
KV_BENCH(Png, "photo.png");
KV_BENCH(Jpeg, "photo.jpg", false, 40);
KV_BENCH(Gif, "photo.gif", true);
KV_BENCH(Webp, "photo.webp");

BENCHMARK_MAIN();
