#pragma once

// The publishing half of a wallpaper of one or more monitors: what needs no
// font, shaping or picture decoding, so the resident service can publish
// bitmaps that were composed elsewhere.

#include <cstdint>
#include <string>
#include <vector>

#include "MonitorWallpapers.h"
#include "kvplatform/base/Result.h"
#include "kvplatform/display/Screen.h"
#include "kvplatform/image/Bitmap.h"

namespace kv::render {

// Refuses an empty output path, before anything is composed.
[[nodiscard]] Status CheckOutputPath(const std::string& OutputPath);

// Whether any monitor shows a picture, so the data folder is needed.
bool AnyPicture(const std::vector<MonitorChoice>& Choices);

// Publishes the bitmaps ComposeMonitors made at `OutputPath`: one monitor's
// exactly as a single-screen wallpaper; several as the whole virtual screen
// (AssembleScreen) plus one picture per monitor for desktops that set them so.
[[nodiscard]] Status PublishMonitors(const std::vector<platform::Monitor>& Monitors,
                                     const std::vector<platform::Bitmap>& Parts, std::int32_t BackgroundColor,
                                     const std::string& OutputPath);

// The virtual screen's picture: `Parts[i]` centred on `Monitors[i]` (the
// first, the primary, over any other it overlaps), the rest in
// `BackgroundColor`; the origin is the screen's (0, 0) unless a monitor
// lies left of or above it. Fails when the screen is too large for a bitmap.
[[nodiscard]] Result<platform::Bitmap> AssembleScreen(const std::vector<platform::Monitor>& Monitors,
                                                      const std::vector<platform::Bitmap>& Parts,
                                                      std::int32_t BackgroundColor);

}  // namespace kv::render
