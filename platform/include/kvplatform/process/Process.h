#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "kvplatform/base/Result.h"

namespace kv::platform {

// Starts `program` (a path, run as it is: no shell, no PATH search) with
// `args`, detached into its own session so that it outlives its starter and
// never becomes its starter's zombie. Answers the new process's id once the
// program has really been started; a missing or non-executable file fails
// with a message naming it.
[[nodiscard]] Result<pid_t> StartDetached(const std::filesystem::path& program, const std::vector<std::string>& args);

// Lowers this process to the idle class: nice 19, and the idle scheduling
// class where the system allows it. Programs started afterwards, with
// StartDetached or RunCommand, still get the priority the process had before. With
// KVILLO_IDLE_PRIORITY=0 in the environment the priority stays as it is.
void EnterIdlePriority();

// A write to a pipe or socket whose reader has gone fails with an error
// instead of ending the process (programs it starts are not affected).
void IgnoreBrokenPipes();

}  // namespace kv::platform
