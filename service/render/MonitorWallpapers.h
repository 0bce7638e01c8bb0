#pragma once

// The wallpaper of a screen with several monitors: one composition per
// monitor, at its own size less its own taskbar band, and the whole virtual
// screen assembled from them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Effects.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/base/Result.h"
#include "kvplatform/display/Screen.h"

namespace kv::render {

// What one monitor shows: a background pick and, when ShowQuote, a quote
// laid out with its own font, margins and alignment.
struct MonitorChoice {
  std::string BackgroundName;
  bool ShowQuote = false;
  std::string FontName;
  std::string Quote;  // UTF-8
  std::int32_t TopMargin = 0;
  std::int32_t BottomMargin = 0;
  std::int32_t LeftMargin = 0;
  std::int32_t RightMargin = 0;
  std::int32_t HAlign = 0;
  std::int32_t VAlign = 0;
};

// What every monitor shares.
struct SharedLook {
  std::int32_t BackgroundColor = 0;
  std::int32_t BackgroundMode = 0;
  std::int32_t FontSize = 0;
  std::int32_t FontColor = 0;
  bool AllowViolation = true;
  Effects Chosen;
};

// The wallpaper of one monitor: a bitmap of its size less the taskbar band
// with the background (its picture found in `DataFolder`) and, when the
// choice shows one, the quote moved away from the taskbar's edge. nullopt
// when the quote does not fit (then nothing was painted); an error for
// anything else. Reads no settings and writes no file.
[[nodiscard]] Result<std::optional<platform::Bitmap>> ComposeMonitor(const platform::Monitor& Screen,
                                                                    const MonitorChoice& Choice,
                                                                    const SharedLook& Look,
                                                                    const std::string& DataFolder);

// Every monitor's bitmap (`Choices` pairs with `Monitors`), laid out before
// any is painted; nullopt when a quote does not fit on its monitor (nothing
// painted). Reads no settings and writes no file: pictures come from
// `DataFolder`.
[[nodiscard]] Result<std::optional<std::vector<platform::Bitmap>>> ComposeMonitors(
    const std::vector<platform::Monitor>& Monitors, const std::vector<MonitorChoice>& Choices,
    const SharedLook& Look, const std::string& DataFolder);

// Renders every monitor with its choice (`Choices` pairs with `Monitors`,
// the primary first) and publishes the result at `OutputPath`: with one
// monitor its bitmap exactly as a single-screen wallpaper; with several the
// whole virtual screen, each monitor's bitmap centred on its place and the
// rest in the background colour, plus one picture per monitor for desktops
// that set them so. 1 when published, 0 when a quote did not fit on its
// monitor (nothing painted or written).
[[nodiscard]] Result<std::int32_t> RenderMonitorWallpapers(const std::vector<platform::Monitor>& Monitors,
                                                           const std::vector<MonitorChoice>& Choices,
                                                           const SharedLook& Look, const std::string& OutputPath);

}  // namespace kv::render
