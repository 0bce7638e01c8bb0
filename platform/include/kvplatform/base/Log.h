#pragma once

// The system logs nothing in normal operation; these write the one line a
// user needs when something goes wrong, to stderr.

#include <cstddef>
#include <string_view>

namespace kv::platform {

// A longer message is cut to this many bytes (at a character boundary) and
// says how much was left out.
inline constexpr std::size_t kMaxLogMessageBytes = 2000;

// Writes "<program>: <message>" to stderr.
void LogError(std::string_view message);

// As LogError, but a message already written by this process is not repeated,
// so a store that cannot be opened is reported once, not at every read.
void LogErrorOnce(std::string_view message);

// The program name used as the prefix; defaults to the executable's name.
void SetLogProgramName(std::string_view name);

}  // namespace kv::platform
