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

// For a child process doing work for its parent: every message goes to
// `sink` instead of stderr, whole, with whether it is to be written once, so
// the parent writes it under its own name and memory of what was written.
using LogSink = void (*)(std::string_view message, bool once);
void DivertLog(LogSink sink);

}  // namespace kv::platform
