#pragma once

// The user's log-on entries: XDG autostart files,
// $XDG_CONFIG_HOME/autostart/<name>.desktop, whose Exec line holds the
// command that the desktop runs at log-on.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvplatform/base/Result.h"

namespace kv::platform {

std::filesystem::path AutostartFile(std::string_view name);

// The command of the entry as its arguments, or nullopt when there is no
// entry (or the entry is hidden, which the desktop treats as none).
[[nodiscard]] Result<std::optional<std::vector<std::string>>> ReadAutostartEntry(std::string_view name);

// Writes the entry atomically (a temporary file renamed over the old one),
// quoting each argument as desktop entries require.
[[nodiscard]] Status WriteAutostartEntry(std::string_view name, std::string_view comment,
                                         const std::vector<std::string>& command);

// True when an entry was removed, false when there was none.
[[nodiscard]] Result<bool> DeleteAutostartEntry(std::string_view name);

// The Exec value for `command`, and back; exposed for tests.
std::string QuoteExec(const std::vector<std::string>& command);
std::optional<std::vector<std::string>> UnquoteExec(std::string_view exec);

}  // namespace kv::platform
