#include "ReadSettings.h"

#include <vector>

#include "QuoteSelection.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/base/Paths.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"
#include "kvshared/Convert.h"

namespace kv::service {

std::int32_t SettingNumber(std::string_view name, const std::string& text, std::int32_t defaultValue) {
  auto value = TextToInt32(text);
  if (value) return *value;
  platform::LogErrorOnce("the setting " + std::string(name) + " holds \"" + text + "\", which is not a number; using " +
                         std::to_string(defaultValue));
  return defaultValue;
}

Result<SettingsSnapshot> ReadSettings() {
  SettingsSnapshot snapshot;
  KV_TRY_ASSIGN(std::filesystem::path folder, platform::WindowsDirectory());
  snapshot.WallpaperFile = (folder / "Kvillo.bmp").string();

  CSettings settings;
  auto resources = CResources::Create();
  if (!resources) return Fail(resources.error(), "cannot read the settings");
  if (auto loaded = settings.LoadSettings(&*resources); !loaded) {
    // Settings that loaded but whose first-run set-up could not be saved
    // still serve; without loaded lists there is nothing to run with.
    std::vector<std::string> probe;
    if (!settings.GetSelectedFonts(probe)) return Fail(loaded.error(), "cannot read the settings");
    platform::LogError(loaded.error().message);
  }
  if (auto bound = resources->Init(&settings); !bound) return Fail(bound.error(), "cannot read the settings");

  KV_TRY_ASSIGN(SettingsSnapshot taken, SnapshotOf(settings));
  taken.WallpaperFile = snapshot.WallpaperFile;
  return taken;
}

Result<SettingsSnapshot> SnapshotOf(const CSettings& settings) {
  SettingsSnapshot snapshot;
  snapshot.BackgroundColor = SettingNumber("BackgroundColor", settings.BackgroundColor(), 0);
  snapshot.BackgroundMode = SettingNumber("BackgroundMode", settings.BackgroundMode(), 1);
  snapshot.FontColor = SettingNumber("FontColor", settings.FontColor(), 16777215);
  snapshot.FontSize = settings.FontSize();
  snapshot.Frequency = SettingNumber("Frequency", settings.Frequency(), 4);
  snapshot.HAlign = SettingNumber("HAlign", settings.HAlign(), 3);
  snapshot.VAlign = SettingNumber("VAlign", settings.VAlign(), 3);
  snapshot.TopMargin = SettingNumber("TopMargin", settings.TopMargin(), 10);
  snapshot.BottomMargin = SettingNumber("BottomMargin", settings.BottomMargin(), 10);
  snapshot.LeftMargin = SettingNumber("LeftMargin", settings.LeftMargin(), 10);
  snapshot.RightMargin = SettingNumber("RightMargin", settings.RightMargin(), 10);
  snapshot.AllowViolation = settings.AllowViolation();
  snapshot.QuoteOnEachMonitor = settings.QuoteMonitors() == "each";
  if (settings.QuoteMonitors() != "each" && settings.QuoteMonitors() != "primary") {
    platform::LogErrorOnce("the setting QuoteMonitors holds \"" + settings.QuoteMonitors() +
                           "\", which is neither \"primary\" nor \"each\"; the quote goes on the primary monitor");
  }

  std::vector<std::string> names;
  KV_TRY(settings.GetSelectedBackgrounds(names));
  snapshot.SelectedBackgrounds = JoinList(names);
  KV_TRY(settings.GetSelectedFonts(names));
  snapshot.SelectedFonts = JoinList(names);
  KV_TRY(settings.GetSelectedQuotesFiles(names));
  snapshot.SelectedQuotesFiles = JoinList(names);
  KV_TRY(settings.GetSelectedEffects(names));
  snapshot.Effects = render::EffectsFromNames(names);
  return snapshot;
}

}  // namespace kv::service
