#pragma once

// The monitors of a Wayland session that has no X server to ask.

#include <optional>
#include <vector>

#include "kvplatform/Screen.h"

namespace kv::platform {

// The outputs of the running Wayland compositor (WAYLAND_DISPLAY), the
// primary first; nullopt when there is no compositor or it cannot be asked.
std::optional<std::vector<Monitor>> QueryWaylandMonitors();

}  // namespace kv::platform
