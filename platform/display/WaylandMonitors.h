#pragma once

// The monitors of a Wayland session that has no X server to ask.

#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

#include "kvplatform/base/Result.h"
#include "kvplatform/display/Screen.h"

namespace kv::platform {

// How long a compositor may take to answer before it counts as not
// answering: a stopped or stuck compositor must never hold up a render.
inline constexpr std::chrono::milliseconds kWaylandQueryTimeout{10'000};

// The outputs of the running Wayland compositor (WAYLAND_DISPLAY), the
// primary first; nullopt when there is no compositor or it cannot be asked
// (one line on stderr). Hyprland is asked with hyprctl when
// HYPRLAND_INSTANCE_SIGNATURE is set, sway with swaymsg when SWAYSOCK is,
// any other compositor through its wl_output and xdg_output globals.
// Sizes are physical pixels (the mode, turned with the output); positions
// are the compositor's layout, so outputs scaled differently may overlap.
// Connector names that are unsafe to hand to a desktop tool or to put in a
// file name (anything but letters, digits and "_.:+-", or a leading "." or
// "-") are left empty.
std::optional<std::vector<Monitor>> QueryWaylandMonitors();

// The single ways of asking, for QueryWaylandMonitors and for tests. Each
// answers the active outputs, the primary first, or fails: with
// ErrorCode::Busy when the compositor did not answer within `timeout`,
// ErrorCode::NotFound when the tool is not installed or no compositor
// listens, ErrorCode::Corrupt for an answer that makes no sense.
[[nodiscard]] Result<std::vector<Monitor>> QuerySwayOutputs(std::chrono::milliseconds timeout);
[[nodiscard]] Result<std::vector<Monitor>> QueryHyprlandMonitors(std::chrono::milliseconds timeout);
[[nodiscard]] Result<std::vector<Monitor>> QueryWlOutputs(std::chrono::milliseconds timeout);

// The answers of `swaymsg -t get_outputs -r` and `hyprctl monitors -j`.
[[nodiscard]] Result<std::vector<Monitor>> ParseSwayOutputs(std::string_view json);
[[nodiscard]] Result<std::vector<Monitor>> ParseHyprlandMonitors(std::string_view json);

}  // namespace kv::platform
