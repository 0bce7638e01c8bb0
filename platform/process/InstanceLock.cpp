#include "kvplatform/process/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kv::platform {
namespace {

// Opens and locks `file`: the descriptor, -1 when another process holds the
// lock, or the failure.
Result<int> OpenLocked(const std::filesystem::path& file) {
  // O_NOFOLLOW: the lock file lives in a private folder, but a link planted
  // there must still not be followed.
  int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Fail("cannot open the lock file " + file.string() + ": " + std::strerror(errno));
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return -1;
    return Fail("cannot lock " + file.string() + ": " + std::strerror(error));
  }
  // The id is a courtesy for the user and tools; the lock holds without it.
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, pid.data(), pid.size(), 0);
  return fd;
}

}  // namespace

Result<std::optional<InstanceLock>> InstanceLock::TryAcquire(const std::filesystem::path& file) {
  KV_TRY_ASSIGN(int fd, OpenLocked(file));
  if (fd < 0) return std::optional<InstanceLock>();
  return std::optional<InstanceLock>(InstanceLock(fd, file));
}

bool InstanceLock::StillInPlace() const {
  struct stat held {}, named {};
  return fd_ >= 0 && fstat(fd_, &held) == 0 && lstat(file_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

Result<bool> InstanceLock::Reclaim() {
  if (StillInPlace()) return true;
  KV_TRY_ASSIGN(int fd, OpenLocked(file_));
  if (fd < 0) return false;
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  return true;
}

InstanceLock::~InstanceLock() {
  if (fd_ < 0) return;
  // Still holding the lock, so no other holder can have written its id yet.
  (void)!ftruncate(fd_, 0);
  close(fd_);
}

}  // namespace kv::platform
