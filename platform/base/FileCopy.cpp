#include "kvplatform/base/FileCopy.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "kvplatform/base/InputFile.h"

namespace kv::platform {
namespace {

namespace fs = std::filesystem;

std::string Why() { return std::strerror(errno); }

// A file descriptor closed on every path.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The temporary file, removed unless it was given its name.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& Path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

Status WriteAll(int fd, const char* data, std::size_t size, const fs::path& target) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return Fail("cannot write " + target.string() + ": " + Why());
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return Ok();
}

}  // namespace

Result<bool> CopyFileNoReplace(const fs::path& source, const fs::path& target, std::int64_t maxBytes) {
  KV_TRY_ASSIGN(InputFile input, InputFile::Open(source, "the file", maxBytes));

  std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return Fail("cannot create a file in " + target.parent_path().string() + ": " + Why());
  Descriptor output(fd);
  TemporaryFile temporary(pattern);
  // The copy is readable by everyone, as a file the user saved would be.
  fchmod(output.Get(), 0644);

  constexpr std::size_t kBlock = 256 * 1024;
  auto buffer = std::make_unique<char[]>(kBlock);
  std::int64_t total = 0;
  while (true) {
    KV_TRY_ASSIGN(std::size_t got, input.Read(buffer.get(), kBlock));
    if (got == 0) break;
    total += static_cast<std::int64_t>(got);
    if (total > maxBytes) return Fail(ErrorCode::Corrupt, input.Name() + " grew too large while it was copied");
    KV_TRY(WriteAll(output.Get(), buffer.get(), got, target));
  }
  if (fsync(output.Get()) != 0) return Fail("cannot write " + target.string() + ": " + Why());
  if (close(output.Release()) != 0) return Fail("cannot write " + target.string() + ": " + Why());

  // The name is given without replacing a file that took it meanwhile.
  if (renameat2(AT_FDCWD, temporary.Path().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    temporary.Keep();
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) return Fail("cannot name the copy " + target.string() + ": " + Why());
  // A file system without that kind of rename: a hard link refuses an
  // existing name just the same.
  if (link(temporary.Path().c_str(), target.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  return Fail("cannot name the copy " + target.string() + ": " + Why());
}

bool CanWriteFolder(const fs::path& folder) {
  // access() answers for the real user: a program running for this user
  // learns exactly what the user may do there.
  return access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace kv::platform
