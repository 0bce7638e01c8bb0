#pragma once

// Runs outside programs (desktop tools) as argument lists, never through a
// shell, and never waits on them without a limit.

#include <chrono>
#include <string>
#include <vector>

#include "kvplatform/base/Result.h"

namespace kv::platform {

struct CommandOutcome {
  int exitCode = -1;      // the exit status, or -1 when it did not exit by itself
  int signal = 0;         // the signal that ended it, or 0
  bool timedOut = false;  // it was still running at the limit and was killed
  std::string out;        // the first 64 KiB it printed on stdout
  std::string err;        // the first 64 KiB it printed on stderr

  bool Succeeded() const { return exitCode == 0; }
  // "exit status 3: <last line of stderr>", "killed after 10 s", ...
  std::string Describe() const;
};

// Runs `args` (args[0] is looked up on PATH) with standard input from
// /dev/null and its output collected, in a process group of its own, and
// waits for it at most `timeout`; a program still running then is killed
// with its group. Fails (ErrorCode::NotFound for a program that is not
// installed) only when it cannot be started.
[[nodiscard]] Result<CommandOutcome> RunCommand(const std::vector<std::string>& args,
                                                std::chrono::milliseconds timeout);

}  // namespace kv::platform
