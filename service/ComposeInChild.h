#pragma once

// The service composes each wallpaper in a child process of its own: the
// font, shaping and picture libraries, their caches and the bitmaps are then
// paged in only for the moments of a render, and the resident service stays
// small between updates. A crash while composing (a picture that trips a
// decoder) costs one update, not the service.

#include <optional>
#include <string>
#include <vector>

#include "kvplatform/base/Result.h"
#include "kvplatform/display/Screen.h"
#include "kvplatform/image/Bitmap.h"
#include "render/MonitorWallpapers.h"

namespace kv::service {

// What render::ComposeMonitors answers, composed in a child process: every
// monitor's bitmap, or nullopt when a quote does not fit. The child reads no
// settings and uses no connection of this process; what it logs is logged
// here.
[[nodiscard]] Result<std::optional<std::vector<platform::Bitmap>>> ComposeInChild(
    const std::vector<platform::Monitor>& monitors, const std::vector<render::MonitorChoice>& choices,
    const render::SharedLook& look, const std::string& dataFolder);

}  // namespace kv::service
