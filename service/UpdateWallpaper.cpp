#include "UpdateWallpaper.h"

#include <cmath>

#include "ComposeInChild.h"
#include "QuoteSelection.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/display/MessageBox.h"
#include "kvplatform/base/Paths.h"
#include "kvplatform/process/Process.h"
#include "kvplatform/base/Random.h"
#include "kvplatform/display/Screen.h"
#include "kvshared/CStatics.h"
#include "kvshared/Funcs.h"
#include "render/MonitorWallpapers.h"
#include "render/MonitorPublish.h"

namespace kv::service {
namespace {

std::int32_t RandomBelow(int n) { return static_cast<std::int32_t>(std::floor(n * platform::Rnd())); }

std::int32_t MarginOrRandom(std::int32_t margin, int randomLimit) {
  return margin >= 0 && margin <= 100 ? margin : RandomBelow(randomLimit);
}

// What the wallpaper shows, for `kvctl status`. A failure to store it costs
// only that report, never the wallpaper.
void SaveLastWallpaper(const RenderArguments& shown) {
  const std::pair<std::string_view, const std::string&> values[] = {
      {kLastQuoteKey, shown.Quote}, {kLastBackgroundKey, shown.BackgroundName}, {kLastFontKey, shown.FontName}};
  for (const auto& [name, value] : values) {
    if (auto written = Statics().SaveRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION, name, value);
        !written) {
      platform::LogErrorOnce("cannot store what the wallpaper shows: " + written.error().message);
      return;
    }
  }
}

}  // namespace

RenderArguments DrawChoices(const SettingsSnapshot& snapshot) {
  RenderArguments a;
  a.HAlign = snapshot.HAlign == 3 ? RandomBelow(3) : snapshot.HAlign;
  a.VAlign = snapshot.VAlign == 3 ? RandomBelow(3) : snapshot.VAlign;
  a.TopMargin = MarginOrRandom(snapshot.TopMargin, 100);
  a.BottomMargin = MarginOrRandom(snapshot.BottomMargin, 100);
  a.LeftMargin = MarginOrRandom(snapshot.LeftMargin, 75);
  a.RightMargin = MarginOrRandom(snapshot.RightMargin, 75);
  a.BackgroundName = PickRandomItem(snapshot.SelectedBackgrounds);
  a.FontName = PickRandomItem(snapshot.SelectedFonts);
  std::string quotesFile = PickRandomItem(snapshot.SelectedQuotesFiles);
  auto dataFolder = Statics().GetApplicationPath();
  a.Quote = PickRandomQuote(dataFolder ? QuotesFilePath(*dataFolder, quotesFile) : std::string());

  a.BackgroundColor = snapshot.BackgroundColor;
  a.BackgroundMode = snapshot.BackgroundMode;
  a.FontSize = SettingNumber("FontSize", snapshot.FontSize, 40);
  a.FontColor = snapshot.FontColor;
  a.OutputPath = snapshot.WallpaperFile;
  a.AllowViolation = snapshot.AllowViolation;
  a.Effects = snapshot.Effects;
  a.Snapshot = &snapshot;
  return a;
}

Result<std::int32_t> RenderWithRenderer(const RenderArguments& a) {
  KV_TRY(render::CheckOutputPath(a.OutputPath));
  std::vector<platform::Monitor> monitors = platform::QueryMonitors();
  std::vector<render::MonitorChoice> choices;
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    // Choices made without settings go on the primary alone; the others
    // show the same background.
    if (!a.Snapshot) {
      if (i == 0) {
        choices.push_back({a.BackgroundName, true, a.FontName, a.Quote, a.TopMargin, a.BottomMargin, a.LeftMargin,
                           a.RightMargin, a.HAlign, a.VAlign});
      } else {
        choices.push_back({a.BackgroundName, false, {}, {}});
      }
      continue;
    }
    // The primary shows these choices; every other monitor draws its own
    // background, and with a quote on each monitor its own quote as well.
    bool quote = i == 0 || a.Snapshot->QuoteOnEachMonitor;
    if (!quote) {
      choices.push_back({PickRandomItem(a.Snapshot->SelectedBackgrounds), false, {}, {}});
      continue;
    }
    RenderArguments drawn = i == 0 ? a : DrawChoices(*a.Snapshot);
    choices.push_back({drawn.BackgroundName, quote, drawn.FontName, drawn.Quote, drawn.TopMargin, drawn.BottomMargin,
                       drawn.LeftMargin, drawn.RightMargin, drawn.HAlign, drawn.VAlign});
  }
  render::SharedLook look{a.BackgroundColor, a.BackgroundMode, a.FontSize, a.FontColor, a.AllowViolation, a.Effects};
  // Settings are read here: the child that composes must not share this
  // process's connection to the store.
  std::string dataFolder;
  if (render::AnyPicture(choices)) {
    KV_TRY_ASSIGN(dataFolder, Statics().GetApplicationPath());
  }
  KV_TRY_ASSIGN(std::optional<std::vector<platform::Bitmap>> parts,
                ComposeInChild(monitors, choices, look, dataFolder));
  if (!parts) return 0;
  KV_TRY(render::PublishMonitors(monitors, *parts, look.BackgroundColor, a.OutputPath));
  return 1;
}

void GiveUp() {
  platform::ShowMessageBox(kFailureTitle, kFailureMessage, platform::MessageIcon::Error);
  auto folder = platform::ExecutableFolder();
  if (!folder) {
    platform::LogError("cannot start the settings program: " + folder.error().message);
    return;
  }
  if (auto started = platform::StartDetached(*folder / "KvSettings", {}); !started) {
    platform::LogError(started.error().message);
  }
}

CycleOutcome UpdateWallpaper(const SettingsSnapshot& snapshot, const RenderFunction& render,
                             const std::function<void()>& giveUp, StatusGate gate) {
  SettingsOperation operation;  // a locked store costs one wait per cycle, not one per value
  Result<std::string> status = std::string(CStatics::STATUSRUNNING);
  if (gate == StatusGate::Read) {
    status = Statics().GetRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION, CStatics::STATUSCODEKEY, "");
  }
  // A store that cannot be read (damaged, unreadable) says nothing about the
  // user's wish; the service was started, so it goes on working on what it
  // has rather than ending or idling for ever.
  if (!status) {
    platform::LogErrorOnce("the service status cannot be read; the wallpaper is renewed as if the service were running");
  } else if (*status == CStatics::STATUSPAUSED) {
    return CycleOutcome::Skipped;
  } else if (*status != CStatics::STATUSRUNNING) {
    return CycleOutcome::EndProgram;
  }

  for (int attempt = 1;; ++attempt) {
    RenderArguments choices = DrawChoices(snapshot);
    auto rendered = render(choices);
    // The X server went away under the render: the user logged off, and
    // nothing shown now would be seen.
    if (platform::DisplayWasLost()) return CycleOutcome::SessionEnded;
    if (!rendered) {
      platform::LogError("no new wallpaper this time: " + rendered.error().message);
      return CycleOutcome::Failed;
    }
    if (*rendered != 0) {
      SaveLastWallpaper(choices);
      return CycleOutcome::Rendered;
    }
    if (attempt >= kAttemptLimit) break;
  }
  giveUp();
  return CycleOutcome::EndProgram;
}

}  // namespace kv::service
