#pragma once

// Controlling the resident service from another program (the settings
// window, kvctl): finding it, starting it, closing it, pausing and resuming
// it through its stored status, and asking it for a wallpaper now.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "kvplatform/base/Result.h"
#include "kvshared/Export.h"

namespace kv {

// How long a service may take to answer a close request and to end.
inline constexpr std::chrono::milliseconds kServiceEndTimeout{30000};

// What a look for the service finds; never waits.
enum class ServicePresence { Absent, Present, NotResponding };
KV_EXPORT ServicePresence ProbeService();

// The service's program file: Kvillo beside the running program.
[[nodiscard]] KV_EXPORT Result<std::filesystem::path> ServiceProgram();

// Starts the service beside the running program, detached.
[[nodiscard]] KV_EXPORT Status StartService();

// Sends the close request and waits for its answer (the service has stored
// "Stopped"). NotFound when no service runs.
[[nodiscard]] KV_EXPORT Status CloseService(std::chrono::milliseconds timeout = kServiceEndTimeout);

// Stores the service status ("Running", "Paused") that the running service
// reads before each update.
[[nodiscard]] KV_EXPORT Status SaveServiceStatus(std::string_view status);

// The request that asks the service for one update cycle now, and its
// answers: the cycle's outcome.
inline constexpr std::string_view kRenderRequest = "render";
inline constexpr std::string_view kRenderedAnswer = "rendered";
inline constexpr std::string_view kPausedAnswer = "paused";
inline constexpr std::string_view kFailedAnswer = "failed";
inline constexpr std::string_view kEndedAnswer = "ended";
// The request for the time of the next due update ("YYYY-MM-DDTHH:MM:SS",
// local time), answered with an empty line when none is planned.
inline constexpr std::string_view kNextUpdateRequest = "nextupdate";

// Sends a request to the service and answers its answer. NotFound when no
// service runs.
[[nodiscard]] KV_EXPORT Result<std::string> AskService(std::string_view request, std::chrono::milliseconds timeout);

}  // namespace kv
