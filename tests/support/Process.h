#pragma once

// Runs the real programs of the system as child processes, as a user's shell would, and collects what they print.

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kvplatform/process/Command.h"

namespace kvtest {

using ProcessResult = kv::platform::CommandOutcome;
// Variables set on top of the current environment; a value of nullopt removes the variable.
using Env = std::map<std::string, std::optional<std::string>>;

// Runs `program` with `args` in the current environment changed by `env`, waits at most `timeout`, and answers its
// exit status and all its output. A process still running at the timeout is killed with everything it started.
ProcessResult Run(const std::filesystem::path& program, const std::vector<std::string>& args, const Env& env = {},
                  std::chrono::milliseconds timeout = std::chrono::seconds(30));

// A child left running while the test goes on; killed (SIGKILL, with its process group) if running when destroyed.
class Child {
 public:
  Child(const std::filesystem::path& program, const std::vector<std::string>& args, const Env& env = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  pid_t Pid() const { return pid_; }
  bool Running();
  // Waits for the child to end; nullopt when it is still running at the timeout.
  std::optional<ProcessResult> Wait(std::chrono::milliseconds timeout);
  void Signal(int signal);
  std::string ErrSoFar() const;  // what the child has printed so far
  std::string OutSoFar() const;

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  std::optional<ProcessResult> result_;
};

// Polls `condition` every 10 ms until it holds or `timeout` passes.
template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout) {
  for (auto deadline = std::chrono::steady_clock::now() + timeout; !condition(); usleep(10'000))
    if (std::chrono::steady_clock::now() >= deadline) return false;
  return true;
}

// True when `future` is ready within `bound`. Code stuck opening the FIFO `fifo` (a fault) is let go by opening its
// writing end, so the test fails instead of hanging.
template <class Future>
bool ReadyOrReleased(Future& future, const std::filesystem::path& fifo, std::chrono::milliseconds bound) {
  if (future.wait_for(bound) == std::future_status::ready) return true;
  while (future.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) ::close(writer);
  }
  return false;
}

}  // namespace kvtest
