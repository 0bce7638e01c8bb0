#pragma once

// The composing code as a module of its own (libkvcompose.so), loaded only
// by the child process that composes a wallpaper for the service: the font,
// shaping and picture libraries it needs never enter the resident service.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MonitorWallpapers.h"

namespace kv::render {

using ComposeFunction = Result<std::optional<std::vector<platform::Bitmap>>>(
    const std::vector<platform::Monitor>&, const std::vector<MonitorChoice>&, const SharedLook&, const std::string&);
using LogFunction = void(std::string_view);
// The module's one entry: its log lines go to `error` and `once` (the
// loading program's LogError and LogErrorOnce); the answer is its
// ComposeMonitors.
using ComposeEntry = ComposeFunction*(LogFunction* error, LogFunction* once);

inline constexpr char kComposeModule[] = "libkvcompose.so";
inline constexpr char kComposeEntry[] = "kv_compose_entry";

}  // namespace kv::render
