// RenderWallpaper at 1920 x 1080 as the service calls it, and the parts it
// is made of, so that the figures say where the time goes.
//
// Every run renders into fresh memory, as every render of the service does:
// nothing is kept from one render to the next but fontconfig's own cache.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/image/BitmapFile.h"
#include "kvplatform/text/Font.h"
#include "kvplatform/image/Picture.h"
#include "render/CWPFont.h"
#include "render/CWPText.h"
#include "render/LayoutText.h"
#include "render/RenderWallpaper.h"
#include "render/SmoothScale.h"

namespace {

namespace fs = std::filesystem;

const std::string kQuote =
    "Measure twice, cut once, and write down what you measured, so that the next cut is a better one.";

// A private home: the benchmark never touches the user's settings or wallpaper.
struct Home {
  Home() {
    std::string pattern = (fs::temp_directory_path() / "kvbench-XXXXXX").string();
    root = mkdtemp(pattern.data());
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("XDG_CURRENT_DESKTOP");
    setenv("KVILLO_SCREEN", "1920x1080", 1);
    output = (root / "Kvillo.bmp").string();
  }
  ~Home() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  fs::path root;
  std::string output;
};

Home& TheHome() {
  static Home home;
  return home;
}

fs::path Sample(const std::string& name) { return fs::path(KV_BENCH_BIN_DIR) / "Backgrounds" / (name + ".bmp"); }

void Render(benchmark::State& state, const std::string& background, std::int32_t mode, const std::string& quote,
            const kv::render::Effects& effects = {}) {
  Home& home = TheHome();
  std::int32_t fitted = -1;
  for (auto _ : state) {
    auto result = kv::render::RenderWallpaper(background, 0, mode, "Arial", 40, 0xFFFFFF, quote, home.output, 10, 10,
                                              10, 10, 2, 2, true, effects);
    if (!result) {
      state.SkipWithError(result.error().message.c_str());
      return;
    }
    fitted = *result;
  }
  state.counters["fitted"] = fitted;
}

// Stretched 1280 x 720 picture (the sample "Aurora"), two lines at 40 px.
void BM_RenderStretched(benchmark::State& state) { Render(state, "Aurora", 1, kQuote); }
// The same with every effect on: what the effects add.
void BM_RenderStretchedAllEffects(benchmark::State& state) {
  Render(state, "Aurora", 1, kQuote, {.Shadow = true, .Outline = true, .Box = true, .Contrast = true, .Smooth = true});
}
// Every effect but smoothing: what the effects around the text add.
void BM_RenderStretchedTextEffects(benchmark::State& state) {
  Render(state, "Aurora", 1, kQuote, {.Shadow = true, .Outline = true, .Box = true, .Contrast = true});
}
// Tiled 100 x 100 picture (the sample "Weave").
void BM_RenderTiled(benchmark::State& state) { Render(state, "Weave", 0, kQuote); }
// Centred 1024 x 768 picture (the sample "Dune Evening") on the colour.
void BM_RenderCentred(benchmark::State& state) { Render(state, "Dune Evening", 2, kQuote); }
// The same in several scripts: shaping, right-to-left order and fallback
// fonts for Arabic, Chinese and an emoji.
void BM_RenderManyScripts(benchmark::State& state) {
  Render(state, "Aurora", 1,
         "Every morning \u0643\u0644 \u0635\u0628\u0627\u062D \u0628\u062F\u0627\u064A\u0629 "
         "\u6BCF\u5929\u65E9\u4E0A \U0001F600 is a new beginning.");
}
// A failed attempt: a quote of 4 000 characters at 40 px has too many lines.
void BM_RenderDoesNotFit(benchmark::State& state) {
  std::string longQuote;
  while (longQuote.size() < 4000) longQuote += kQuote + " ";
  Render(state, "Aurora", 1, longQuote);
}

// The parts.
void BM_PartFreshBitmapPainted(benchmark::State& state) {
  for (auto _ : state) {
    auto bitmap = kv::platform::Bitmap::Create(1920, 1080);
    bitmap->Fill(0x203040);
    benchmark::DoNotOptimize(bitmap->Pixels());
  }
}
void BM_PartLoadPicture(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kv::platform::LoadBmpPicture(Sample("Aurora")));
}
void BM_PartLoadPictureGeneralDecoder(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(kv::platform::LoadBmpPicture(Sample("Aurora"), kv::platform::BmpDecoder::General));
  }
}
void BM_PartStretchIntoWarmBitmap(benchmark::State& state) {
  auto picture = kv::platform::LoadBmpPicture(Sample("Aurora"));
  auto bitmap = kv::platform::Bitmap::Create(1920, 1080);
  for (auto _ : state) kv::platform::StretchPicture(*bitmap, *picture);
}
void BM_PartSmoothStretchIntoWarmBitmap(benchmark::State& state) {
  auto picture = kv::platform::LoadBmpPicture(Sample("Aurora"));
  auto bitmap = kv::platform::Bitmap::Create(1920, 1080);
  for (auto _ : state) kv::render::SmoothScalePicture(*bitmap, *picture, 0, 0, 1920, 1080);
}
// The effects around the text alone, as the renders above paint them: the
// laid-out quote over the stretched picture in a warm bitmap.
void BM_PartTextEffects(benchmark::State& state) {
  auto bitmap = kv::platform::Bitmap::Create(1920, 1080);
  auto picture = kv::platform::LoadBmpPicture(Sample("Aurora"));
  auto font = std::make_shared<kv::render::CWPFont>();
  kv::render::CWPText text;
  if (!picture || !font->Init(&*bitmap, "Arial", 40, 0xFFFFFF) || !text.Init(&*bitmap, font, kQuote) ||
      !kv::render::LayoutText(text, 1920, 1080, 10, 10, 10, 10, 2, 2, true)) {
    state.SkipWithError("the quote could not be laid out");
    return;
  }
  kv::platform::StretchPicture(*bitmap, *picture);
  const std::vector<std::uint8_t> background(bitmap->Pixels(), bitmap->Pixels() + bitmap->PixelBytes());
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(background.begin(), background.end(), bitmap->Row(1079));
    state.ResumeTiming();
    if (!kv::render::PaintEffectsUnderText(*bitmap, text, 0xFFFFFF,
                                           {.Shadow = true, .Outline = true, .Box = true, .Contrast = true})) {
      return state.SkipWithError("the effects failed");
    }
  }
}
void BM_PartOpenFont(benchmark::State& state) {
  for (auto _ : state) {
    auto font = kv::platform::Font::Open("Arial", 40, 300);
    for (char32_t code = 0; code < 256; ++code) benchmark::DoNotOptimize(font->AdvanceWidth(code));
  }
}
void BM_PartSaveBitmapFile(benchmark::State& state) {
  auto bitmap = kv::platform::Bitmap::Create(1920, 1080);
  bitmap->Fill(0x203040);
  for (auto _ : state) {
    if (auto saved = kv::platform::SaveBitmapFile(*bitmap, TheHome().output); !saved) {
      state.SkipWithError(saved.error().message.c_str());
      return;
    }
  }
}

#define KV_BENCH(name) BENCHMARK(name)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)

KV_BENCH(BM_RenderStretched);
KV_BENCH(BM_RenderStretchedAllEffects);
KV_BENCH(BM_RenderStretchedTextEffects);
KV_BENCH(BM_RenderTiled);
KV_BENCH(BM_RenderCentred);
KV_BENCH(BM_RenderManyScripts);
KV_BENCH(BM_RenderDoesNotFit);
KV_BENCH(BM_PartFreshBitmapPainted);
KV_BENCH(BM_PartLoadPicture);
KV_BENCH(BM_PartLoadPictureGeneralDecoder);
KV_BENCH(BM_PartStretchIntoWarmBitmap);
KV_BENCH(BM_PartSmoothStretchIntoWarmBitmap);
KV_BENCH(BM_PartTextEffects);
KV_BENCH(BM_PartOpenFont);
KV_BENCH(BM_PartSaveBitmapFile);

}  // namespace

BENCHMARK_MAIN();
