// LoadPicture of one 1920 x 1080 photo-like picture in every format the
// backgrounds folder takes, so that the decoders can be compared: each
// figure is reading the file, checking it and decoding it into the
// blue-green-red rows the painter copies.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>

#include "PictureFiles.h"
#include "TempHome.h"
#include "PictureWriters.h"
#include "kvplatform/Picture.h"

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

struct Files {
  Files() {
    std::string pattern = (fs::temp_directory_path() / "kvbench-pictures-XXXXXX").string();
    root = mkdtemp(pattern.data());
    auto write = [&](const std::string& name, const std::string& bytes) { kvtest::WriteFile(root / name, bytes); };
    write("photo.bmp", kvtest::MakeBmp(kWidth, kHeight, 24, [](int x, int y) { return Photo(x, y) & 0xFFFFFF; }));
    write("photo.png", kvtest::MakePng(kWidth, kHeight, Photo));
    write("photo.jpg", kvtest::MakeJpeg(kWidth, kHeight, Photo, 90));
    write("photo.gif", kvtest::MakePhotoGif(kWidth, kHeight, Photo));
    write("photo.webp", kvtest::MakeWebp(kWidth, kHeight, Photo));
  }
  ~Files() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  fs::path root;
};

const Files& TheFiles() {
  static Files files;
  return files;
}

void LoadPhoto(benchmark::State& state, const char* name) {
  const fs::path file = TheFiles().root / name;
  for (auto _ : state) {
    auto picture = kv::platform::LoadPicture(file, 0);
    if (!picture) {
      state.SkipWithError(picture.error().message.c_str());
      break;
    }
    benchmark::DoNotOptimize(picture->Row(0));
  }
  state.counters["file_kB"] = static_cast<double>(fs::file_size(file)) / 1000.0;
}

void BM_LoadPhotoBmp(benchmark::State& state) { LoadPhoto(state, "photo.bmp"); }
void BM_LoadPhotoPng(benchmark::State& state) { LoadPhoto(state, "photo.png"); }
void BM_LoadPhotoJpeg(benchmark::State& state) { LoadPhoto(state, "photo.jpg"); }
void BM_LoadPhotoGif(benchmark::State& state) { LoadPhoto(state, "photo.gif"); }
void BM_LoadPhotoWebp(benchmark::State& state) { LoadPhoto(state, "photo.webp"); }

}  // namespace

#define KV_BENCH(name) BENCHMARK(name)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)

KV_BENCH(BM_LoadPhotoBmp);
KV_BENCH(BM_LoadPhotoPng);
KV_BENCH(BM_LoadPhotoJpeg);
KV_BENCH(BM_LoadPhotoGif);
KV_BENCH(BM_LoadPhotoWebp);

BENCHMARK_MAIN();
