#pragma once

#include <filesystem>
#include <optional>

#include "kvplatform/base/Result.h"

namespace kv::platform {

// An exclusive lock on a file (flock), held for the life of the object and
// released by the system when the process ends, however it ends. While it
// holds the lock, the file names the holder's process id, for the user and
// for tools; it is emptied again when the holder lets go, so a stale id
// never points at an unrelated process.
class InstanceLock {
 public:
  // The lock, or nullopt when another process holds it.
  [[nodiscard]] static Result<std::optional<InstanceLock>> TryAcquire(const std::filesystem::path& file);

  InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_), file_(std::move(other.file_)) { other.fd_ = -1; }
  InstanceLock& operator=(InstanceLock&&) = delete;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

  // True while the lock's path still names the locked file. A lock whose
  // file was removed (or its folder) no longer keeps a second holder out.
  bool StillInPlace() const;
  // Locks the file at the lock's path again after it was removed or
  // replaced (its folder must exist). False when another process got there
  // first and holds it now.
  [[nodiscard]] Result<bool> Reclaim();

 private:
  InstanceLock(int fd, std::filesystem::path file) : fd_(fd), file_(std::move(file)) {}
  int fd_ = -1;
  std::filesystem::path file_;
};

}  // namespace kv::platform
