#pragma once

#include <filesystem>
#include <optional>

#include "kvplatform/Result.h"

namespace kv::platform {

// An exclusive lock on a file (flock), held for the life of the object and
// released by the system when the process ends, however it ends. The holder
// writes its process id into the file, for the user and for tools.
class InstanceLock {
 public:
  // The lock, or nullopt when another process holds it.
  [[nodiscard]] static Result<std::optional<InstanceLock>> TryAcquire(const std::filesystem::path& file);

  InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  InstanceLock& operator=(InstanceLock&&) = delete;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace kv::platform
