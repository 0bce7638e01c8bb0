#include "kvplatform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kv::platform {

Result<std::optional<InstanceLock>> InstanceLock::TryAcquire(const std::filesystem::path& file) {
  // O_NOFOLLOW: the lock file lives in a private folder, but a link planted
  // there must still not be followed.
  int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Fail("cannot open the lock file " + file.string() + ": " + std::strerror(errno));
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return std::optional<InstanceLock>();
    return Fail("cannot lock " + file.string() + ": " + std::strerror(error));
  }
  // The id is a courtesy for the user and tools; the lock holds without it.
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, pid.data(), pid.size(), 0);
  return std::optional<InstanceLock>(InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace kv::platform
