#include "kvplatform/image/BitmapFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Writes all of `count` buffers, resuming after short writes and signals.
bool WriteAll(int fd, iovec* parts, int count) {
  while (count > 0) {
    ssize_t written = ::writev(fd, parts, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    auto left = static_cast<std::size_t>(written);
    while (count > 0 && left >= parts->iov_len) {
      left -= parts->iov_len;
      ++parts, --count;
    }
    if (count > 0) {
      parts->iov_base = static_cast<char*>(parts->iov_base) + left;
      parts->iov_len -= left;
    }
  }
  return true;
}

// A temporary file beside the target that is removed unless committed.
// It is written unnamed (O_TMPFILE), so a program killed while it writes
// leaves nothing behind; it gets a name, holding the writer's process id,
// only for the instant between linking it into the folder and renaming it
// over the target (or for the whole write where the file system cannot make
// unnamed files). Every save first clears away the names of writers that no
// longer run, so nothing piles up however often a writer is killed.
class TemporaryFile {
 public:
  static Result<TemporaryFile> Create(const fs::path& target) {
    RemoveStale(target);
    int fd = ::open(Folder(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) return TemporaryFile(fd, std::string(), target);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = NameFor(target, attempt);
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd >= 0) return TemporaryFile(fd, name, target);
      if (errno != EEXIST) break;
    }
    return Fail("cannot write " + target.string() + ": " + ErrnoText(errno));
  }
  TemporaryFile(TemporaryFile&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), target_(std::move(other.target_)) {
    other.path_.clear();
  }
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  int Fd() const { return fd_; }
  Status Failed(int error) const { return Fail("cannot write " + target_.string() + ": " + ErrnoText(error)); }

  // Flushes the data to disk and renames the file over the target.
  Status Commit() {
    // Readable by everyone, like any wallpaper file; desktop tools of the
    // same user read it as another process.
    if (::fchmod(fd_, 0644) != 0) return Failed(errno);
    if (::fdatasync(fd_) != 0) return Failed(errno);
    if (path_.empty()) KV_TRY(LinkIntoFolder());
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) return Failed(errno);
    if (::rename(path_.c_str(), target_.c_str()) != 0) return Failed(errno);
    path_.clear();
    return Ok();
  }

 private:
  TemporaryFile(int fd, std::string path, fs::path target) : fd_(fd), path_(std::move(path)), target_(std::move(target)) {}

  static fs::path Folder(const fs::path& target) { return target.has_parent_path() ? target.parent_path() : fs::path("."); }
  static std::string Prefix(const fs::path& target) { return "." + target.filename().string() + ".tmp-"; }

  // ".Kvillo.bmp.tmp-<pid>-<n>": a name of this process's own.
  static std::string NameFor(const fs::path& target, int attempt) {
    static unsigned counter = 0;
    return (Folder(target) / (Prefix(target) + std::to_string(::getpid()) + "-" + std::to_string(counter++ + static_cast<unsigned>(attempt)))).string();
  }

  // Temporary names of writers that are gone: their process no longer
  // exists, or the name is older than any write takes (the id may have been
  // reused).
  static void RemoveStale(const fs::path& target) {
    constexpr std::time_t kStaleSeconds = 600;
    std::error_code error;
    std::string prefix = Prefix(target);
    std::time_t now = std::time(nullptr);
    for (fs::directory_iterator it(Folder(target), error), end; !error && it != end; it.increment(error)) {
      std::string name = it->path().filename().string();
      if (!name.starts_with(prefix)) continue;
      long writer = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
      bool gone = writer <= 0 || (::kill(static_cast<pid_t>(writer), 0) != 0 && errno == ESRCH);
      struct stat info {};
      if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
      if (gone || now - info.st_mtime > kStaleSeconds) ::unlink(it->path().c_str());
    }
  }

  Status LinkIntoFolder() {
    std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = NameFor(target_, attempt);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        path_ = name;
        return Ok();
      }
      if (errno != EEXIST) return Failed(errno);
    }
    return Failed(EEXIST);
  }

  int fd_;
  std::string path_;
  fs::path target_;
};

}  // namespace

Status SaveBitmapFile(const Bitmap& bitmap, const fs::path& file) {
  constexpr std::uint32_t kHeaders = 14 + 40;
  constexpr std::uint32_t kPixelsPerMetre = 3780;  // 96 dots per inch
  auto pixelBytes = static_cast<std::uint32_t>(bitmap.PixelBytes());
  std::uint8_t header[kHeaders] = {};
  header[0] = 'B', header[1] = 'M';
  Put32(header + 2, kHeaders + pixelBytes);
  Put32(header + 10, kHeaders);
  Put32(header + 14, 40);
  Put32(header + 18, static_cast<std::uint32_t>(bitmap.Width()));
  Put32(header + 22, static_cast<std::uint32_t>(bitmap.Height()));  // positive: bottom-up rows
  Put16(header + 26, 1);
  Put16(header + 28, 24);
  Put32(header + 30, 0);
  Put32(header + 34, pixelBytes);
  Put32(header + 38, kPixelsPerMetre);
  Put32(header + 42, kPixelsPerMetre);

  KV_TRY_ASSIGN(TemporaryFile temporary, TemporaryFile::Create(file));
  iovec parts[2] = {{header, sizeof header},
                    {const_cast<std::uint8_t*>(bitmap.Pixels()), bitmap.PixelBytes()}};
  if (!WriteAll(temporary.Fd(), parts, 2)) return temporary.Failed(errno);
  return temporary.Commit();
}

Status SavePngFile(const Bitmap& bitmap, const fs::path& file) {
  const auto width = static_cast<std::size_t>(bitmap.Width());
  std::vector<std::uint8_t> rgb(width * 3 * static_cast<std::size_t>(bitmap.Height()));
  for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* in = bitmap.Row(y);
    std::uint8_t* out = rgb.data() + static_cast<std::size_t>(y) * width * 3;
    for (std::size_t x = 0; x < width; ++x) {
      out[x * 3] = in[x * 3 + 2];
      out[x * 3 + 1] = in[x * 3 + 1];
      out[x * 3 + 2] = in[x * 3];
    }
  }
  KV_TRY_ASSIGN(TemporaryFile temporary, TemporaryFile::Create(file));
  struct Sink {
    int fd;
    bool ok = true;
    int error = 0;
  } sink{temporary.Fd()};
  auto write = [](void* context, void* data, int size) {
    auto* out = static_cast<Sink*>(context);
    iovec part{data, static_cast<std::size_t>(size)};
    if (out->ok && !WriteAll(out->fd, &part, 1)) out->ok = false, out->error = errno;
  };
  if (!stbi_write_png_to_func(write, &sink, bitmap.Width(), bitmap.Height(), 3, rgb.data(),
                              static_cast<int>(width * 3))) {
    return Fail("cannot write " + file.string() + ": the PNG encoder failed");
  }
  if (!sink.ok) return temporary.Failed(sink.error);
  return temporary.Commit();
}

Status ReplaceWithAlias(const fs::path& file, const fs::path& alias) {
  fs::path folder = alias.has_parent_path() ? alias.parent_path() : fs::path(".");
  std::string temporary = (folder / ("." + alias.filename().string() + ".link")).string();
  ::unlink(temporary.c_str());
  if (::link(file.c_str(), temporary.c_str()) == 0) {
    if (::rename(temporary.c_str(), alias.c_str()) == 0) return Ok();
    int error = errno;
    ::unlink(temporary.c_str());
    return Fail("cannot write " + alias.string() + ": " + ErrnoText(error));
  }
  // No hard links here: copy the bytes instead.
  int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail("cannot read " + file.string() + ": " + ErrnoText(errno));
  std::unique_ptr<int, void (*)(int*)> closeIn(&in, [](int* fd) { ::close(*fd); });
  KV_TRY_ASSIGN(TemporaryFile copy, TemporaryFile::Create(alias));
  std::vector<char> buffer(1 << 20);
  while (true) {
    ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail("cannot read " + file.string() + ": " + ErrnoText(errno));
    if (got == 0) break;
    iovec part{buffer.data(), static_cast<std::size_t>(got)};
    if (!WriteAll(copy.Fd(), &part, 1)) return copy.Failed(errno);
  }
  return copy.Commit();
}

}  // namespace kv::platform
