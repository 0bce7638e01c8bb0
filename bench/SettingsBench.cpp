// How quickly the settings window handles long font lists: filling and
// checking a check list of several hundred families, rebuilding the selection
// from its check marks, moving the highlight (and so the preview) through
// it with the preview drawn, and opening the whole window on the real store and catalog.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QListWidget>
#include <QPixmap>
#include <filesystem>
#include <string>
#include <vector>

#include "CheckList.h"
#include "PreviewRender.h"
#include "TempHome.h"
#include "frmSettings.h"

namespace {

using kv::settings::CollectCheckedItems;
using kv::settings::FillCheckedList;
using kv::settings::ListOrder;

std::vector<std::string> Families(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("Family " + std::to_string((i * 7919) % count) + " Sans");
  return names;
}

std::vector<std::string> EveryOther(const std::vector<std::string>& names) {
  std::vector<std::string> chosen;
  for (size_t i = 0; i < names.size(); i += 2) chosen.push_back(names[i]);
  return chosen;
}

void FillFontList(benchmark::State& state) {
  std::vector<std::string> available = Families(static_cast<int>(state.range(0)));
  std::vector<std::string> selected = EveryOther(available);
  QListWidget list;
  for (auto _ : state) FillCheckedList(&list, available, selected, ListOrder::Alphabetical);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(FillFontList)->Arg(100)->Arg(800)->Arg(3000)->Unit(benchmark::kMillisecond);

void CollectCheckMarks(benchmark::State& state) {
  std::vector<std::string> available = Families(static_cast<int>(state.range(0)));
  QListWidget list;
  FillCheckedList(&list, available, EveryOther(available), ListOrder::Alphabetical);
  std::vector<std::string> selected;
  for (auto _ : state) {
    CollectCheckedItems(&list, selected, "Arial");
    benchmark::DoNotOptimize(selected.data());
  }
}
BENCHMARK(CollectCheckMarks)->Arg(800)->Unit(benchmark::kMicrosecond);

// The window on a store of its own, in a fresh temporary home (kvtest::TempHome).
void OpenWindow(benchmark::State& state) {
  kvtest::TempHome home;
  for (auto _ : state) {
    kv::settings::frmSettings window;
    benchmark::DoNotOptimize(window.Load().has_value());
  }
}
BENCHMARK(OpenWindow)->Unit(benchmark::kMillisecond);

void MoveFontHighlight(benchmark::State& state) {
  kvtest::TempHome home;
  kv::settings::frmSettings window;
  (void)window.Load();
  auto* fonts = window.findChild<QListWidget*>(QStringLiteral("lstFont"));
  std::vector<std::string> available = Families(static_cast<int>(state.range(0)));
  FillCheckedList(fonts, available, {}, ListOrder::Alphabetical);
  auto* preview = window.findChild<QWidget*>(QStringLiteral("txtFontPreview"));
  int row = 0;
  for (auto _ : state) {
    // The preview drawn in the newly highlighted family, as the user sees it.
    fonts->setCurrentRow(row);
    benchmark::DoNotOptimize(preview->grab());
    row = (row + 1) % fonts->count();
  }
}
BENCHMARK(MoveFontHighlight)->Arg(800)->Unit(benchmark::kMicrosecond);

// One preview of a 1920 x 1080 screen from the sample data, as the pane's
// worker makes it after a change (the choices kept, so no quotes file is
// read): the goal is well under the 200 ms the pane waits for changes to rest.
void RenderPreview(benchmark::State& state) {
  kv::settings::PreviewRequest request;
  request.DataFolder = kvtest::BinDir().string();
  request.Screen = {1920, 1080, std::nullopt};
  request.Settings.SelectedBackgrounds = "Aurora";
  request.Settings.SelectedFonts = "Arial";
  request.Settings.SelectedQuotesFiles = "Craft";
  request.Settings.Effects.Smooth = state.range(0) != 0;
  request.Pick = kv::settings::DrawPick(request.Settings, request.DataFolder, {});
  for (auto _ : state) {
    auto result = kv::settings::RenderPreview(request, [] { return false; });
    benchmark::DoNotOptimize(result.Picture.constBits());
  }
}
BENCHMARK(RenderPreview)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
