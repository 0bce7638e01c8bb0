#pragma once

// Work done in a child process of its own. What the work touches (the
// libraries it pages in, the memory it allocates, the caches it maps) goes
// away with the child, so a resident process stays small; and a crash in the
// work costs that piece of work, not the process that asked for it.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "kvplatform/base/Result.h"

namespace kv::platform {

class ChildOutput;
class ChildInput;

// Runs `work` in a forked child while `receive` reads here what it writes.
// `work` must not use anything the parent holds open and shares (a database
// connection, a display connection); the child ends when `work` returns. The
// answer is the child's own failure, else `receive`'s; a child that dies (a
// crash) or runs past `limit` is stopped, and the failure says so, naming
// the work as `name` ("the renderer").
[[nodiscard]] Status RunInChild(std::string_view name, const std::function<Status(ChildOutput&)>& work,
                                const std::function<Status(ChildInput&)>& receive, std::chrono::milliseconds limit);

// The child's side: bytes for the parent, in order.
class ChildOutput {
 public:
  explicit ChildOutput(int fd) : fd_(fd) {}
  [[nodiscard]] Status Write(const void* data, std::size_t size);

 private:
  int fd_;
};

// The parent's side: the bytes the child wrote, in order. Lines the child
// logs are logged here as they come (a line to be written once, once for
// this process).
class ChildInput {
 public:
  ChildInput(int fd, std::chrono::steady_clock::time_point deadline) : fd_(fd), deadline_(deadline) {}
  // Exactly `size` bytes; fails when the child failed, ended or ran past
  // its time before writing them.
  [[nodiscard]] Status Read(void* data, std::size_t size);
  // Reads to the child's end: its failure, if it failed.
  [[nodiscard]] Status Finish();

 private:
  friend Status RunInChild(std::string_view, const std::function<Status(ChildOutput&)>&,
                           const std::function<Status(ChildInput&)>&, std::chrono::milliseconds);
  Status NextRecord();
  Status ReadRaw(void* data, std::size_t size);

  int fd_;
  std::chrono::steady_clock::time_point deadline_;
  std::size_t dataLeft_ = 0;
  std::optional<Error> ended_;  // set once the child said how it ended
  bool succeeded_ = false;
  bool cutShort_ = false;  // the pipe closed before the child said how it ended
  bool timedOut_ = false;
};

}  // namespace kv::platform
