#pragma once

#include <cstdint>
#include <string>

#include "kvplatform/base/Result.h"
#include "render/Effects.h"

namespace kv::service {

// The settings the service runs with: taken once at start-up and never
// re-read (new settings arrive through a restart).
struct SettingsSnapshot {
  std::int32_t BackgroundColor = 0;
  std::int32_t BackgroundMode = 1;
  std::int32_t FontColor = 16777215;
  std::string FontSize = "40";  // converted at each attempt
  std::int32_t Frequency = 4;
  std::int32_t HAlign = 3;
  std::int32_t VAlign = 3;
  std::int32_t TopMargin = 10;
  std::int32_t BottomMargin = 10;
  std::int32_t LeftMargin = 10;
  std::int32_t RightMargin = 10;
  bool AllowViolation = true;
  std::string SelectedBackgrounds;  // joined lists
  std::string SelectedFonts;
  std::string SelectedQuotesFiles;
  std::string WallpaperFile;
  render::Effects Effects;  // unknown names left out
  bool QuoteOnEachMonitor = false;  // QuoteMonitors is "each"
};

}  // namespace kv::service

namespace kv {
class CSettings;
}

namespace kv::service {

// The values of loaded (or edited) settings, as ReadSettings takes them;
// WallpaperFile is left empty. Fails when the lists were never loaded.
[[nodiscard]] Result<SettingsSnapshot> SnapshotOf(const CSettings& settings);

// Loads the settings through the library. A setting whose text is not a
// number is reported on stderr, naming it, and its default is used.
[[nodiscard]] Result<SettingsSnapshot> ReadSettings();

// A setting's text as a number, or its default after one line on stderr.
std::int32_t SettingNumber(std::string_view name, const std::string& text, std::int32_t defaultValue);

}  // namespace kv::service
