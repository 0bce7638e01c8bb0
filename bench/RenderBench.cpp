// RenderWallpaper at 1920 x 1080 as the service calls it, and the parts it
// is made of, so that the figures say where the time goes.
//
// Every run renders into fresh memory, as every render of the service does:
// nothing is kept from one render to the next but fontconfig's own cache.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "TempHome.h"
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
    unsetenv("DISPLAY");
    setenv("KVILLO_SCREEN", "1920x1080", 1);
  }
  kvtest::TempHome home;
  std::string output = (home.Root() / "Kvillo.bmp").string();
};

Home& TheHome() { static Home home; return home; }

fs::path Sample(const std::string& name) { return kvtest::BinDir() / "Backgrounds" / (name + ".bmp"); }

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

std::string LongQuote() {  // 4 000 characters: too many lines at 40 px
  std::string quote;
  while (quote.size() < 4000) quote += kQuote + " ";
  return quote;
}

// The parts.
void BM_PartFreshBitmapPainted(benchmark::State& state) {
  for (auto _ : state) {
    auto bitmap = kv::platform::Bitmap::Create(1920, 1080);
    bitmap->Fill(0x203040);
    benchmark::DoNotOptimize(bitmap->Pixels());
  }
}
// With the automatic decoder (argument 0) and the general one (1).
void BM_PartLoadPicture(benchmark::State& state) {
  const auto decoder = state.range(0) ? kv::platform::BmpDecoder::General : kv::platform::BmpDecoder::Automatic;
  for (auto _ : state) benchmark::DoNotOptimize(kv::platform::LoadBmpPicture(Sample("Aurora"), decoder));
}
// Nearest neighbour (argument 0) and smoothed (1).
void BM_PartStretchIntoWarmBitmap(benchmark::State& state) {
  auto picture = kv::platform::LoadBmpPicture(Sample("Aurora"));
  auto bitmap = kv::platform::Bitmap::Create(1920, 1080);
  for (auto _ : state) {
    state.range(0) ? kv::render::SmoothScalePicture(*bitmap, *picture, 0, 0, 1920, 1080)
                   : kv::platform::StretchPicture(*bitmap, *picture);
  }
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
#define KV_RENDER(name, ...) \
  BENCHMARK_CAPTURE(Render, name, __VA_ARGS__)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(1)

// Stretched 1280 x 720 picture (the sample "Aurora"), two lines at 40 px; with every effect on, and every effect but
// smoothing (what the effects around the text add).
KV_RENDER(Stretched, "Aurora", 1, kQuote);
KV_RENDER(StretchedAllEffects, "Aurora", 1, kQuote,
          {.Shadow = true, .Outline = true, .Box = true, .Contrast = true, .Smooth = true});
KV_RENDER(StretchedTextEffects, "Aurora", 1, kQuote, {.Shadow = true, .Outline = true, .Box = true, .Contrast = true});
// Tiled 100 x 100 picture (the sample "Weave"); centred 1024 x 768 picture (the sample "Dune Evening") on the colour.
KV_RENDER(Tiled, "Weave", 0, kQuote);
KV_RENDER(Centred, "Dune Evening", 2, kQuote);
// Several scripts: shaping, right-to-left order and fallback fonts for Arabic, Chinese and an emoji.
KV_RENDER(ManyScripts, "Aurora", 1,
          "Every morning \u0643\u0644 \u0635\u0628\u0627\u062D \u0628\u062F\u0627\u064A\u0629 "
          "\u6BCF\u5929\u65E9\u4E0A \U0001F600 is a new beginning.");
KV_RENDER(DoesNotFit, "Aurora", 1, LongQuote());  // a failed attempt
KV_BENCH(BM_PartFreshBitmapPainted);
KV_BENCH(BM_PartLoadPicture)->Arg(0)->Arg(1);
KV_BENCH(BM_PartStretchIntoWarmBitmap)->Arg(0)->Arg(1);
KV_BENCH(BM_PartTextEffects);
KV_BENCH(BM_PartOpenFont);
KV_BENCH(BM_PartSaveBitmapFile);

}  // namespace

BENCHMARK_MAIN();
