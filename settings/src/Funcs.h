#pragma once

// The settings program's routines for the log-on entry: whether the service
// starts at log-on, and switching it on or off.

#include <filesystem>
#include <string>
#include <vector>

#include "kvplatform/base/Result.h"

namespace kv::settings {

// The name of the log-on entry ("Kvillo.desktop" in the autostart folder).
inline constexpr std::string_view kAutoStartName = "Kvillo";

// The service's program file: Kvillo beside this program.
[[nodiscard]] Result<std::filesystem::path> ServiceProgram();

// True when the log-on entry exists and its command fits the 254 characters
// a command of the entry may have; a longer one counts as none.
bool IsAutoStartEnabled();

// Writes (Enable) or removes the log-on entry, unless it already is as
// asked. The entry runs the service beside this program with "/boot".
[[nodiscard]] Status SetAutoStart(const bool& Enable);

}  // namespace kv::settings
