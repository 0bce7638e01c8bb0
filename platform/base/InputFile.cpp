#include "kvplatform/base/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kv::platform {

Result<InputFile> InputFile::Open(const std::filesystem::path& file, std::string_view what, std::int64_t maxBytes) {
  std::string name = std::string(what) + " " + file.string();
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
  // writer for ever, and some devices wait for a carrier. O_NOCTTY: a
  // terminal named here must not become the program's terminal.
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    int error = errno;
    return Fail(error == ENOENT || error == ENOTDIR ? ErrorCode::NotFound : ErrorCode::Failed,
                name + " cannot be opened: " + std::strerror(error));
  }
  InputFile opened(fd, 0, std::move(name));
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Fail(opened.name_ + " cannot be read: " + std::strerror(errno));
  if (S_ISDIR(info.st_mode)) return Fail(ErrorCode::Corrupt, opened.name_ + " is a folder, not a file");
  if (!S_ISREG(info.st_mode)) {
    return Fail(ErrorCode::Corrupt, opened.name_ + " is not a regular file (a FIFO, socket or device); it is not read");
  }
  if (info.st_size > maxBytes) {
    return Fail(ErrorCode::Corrupt, opened.name_ + " is " + std::to_string(info.st_size >> 20) +
                                        " MiB, larger than such a file may be (" + std::to_string(maxBytes >> 20) +
                                        " MiB)");
  }
  // Reads of a regular file never wait anyway; blocking mode keeps a
  // short read meaning what it usually means.
  (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  opened.size_ = info.st_size;
  return opened;
}

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), name_(std::move(other.name_)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
    name_ = std::move(other.name_);
  }
  return *this;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::size_t> InputFile::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    ssize_t got = ::read(fd_, bytes + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(name_ + " cannot be read: " + std::strerror(errno));
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

Status InputFile::Rewind() {
  if (::lseek(fd_, 0, SEEK_SET) != 0) return Fail(name_ + " cannot be read again: " + std::strerror(errno));
  return Ok();
}

}  // namespace kv::platform
