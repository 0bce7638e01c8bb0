#include "kvplatform/ServiceWindow.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "kvplatform/EventLoop.h"
#include "kvplatform/Paths.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCloseRequest = "close\n";
constexpr std::string_view kCloseAnswer = "closed\n";

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::string Errno() { return std::strerror(errno); }

Result<sockaddr_un> Address(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.native().size() >= sizeof address.sun_path) {
    return Fail("the socket path " + path.string() + " is too long; set XDG_RUNTIME_DIR to a shorter folder");
  }
  std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
  return address;
}

// Connects to the socket at `path`; -1 when nothing answers there.
int Connect(const fs::path& path) {
  auto address = Address(path);
  if (!address) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SameUser(int client) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  return getsockopt(client, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && credentials.uid == getuid();
}

}  // namespace

Result<fs::path> ServiceWindowPath(std::string_view className, std::string_view title) {
  KV_TRY_ASSIGN(fs::path folder, RuntimeDirectory());
  return folder / (std::string(className) + "." + std::string(title));
}

Result<ServiceWindow> ServiceWindow::Create(std::string_view className, std::string_view title) {
  KV_TRY_ASSIGN(fs::path path, ServiceWindowPath(className, title));
  KV_TRY_ASSIGN(sockaddr_un address, Address(path));

  // A socket file that refuses connections was left by a process that
  // died; it is no window and is replaced. Anything else there is not ours.
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) return Fail(path.string() + " exists and is not a socket; remove it");
    if (int other = Connect(path); other >= 0) {
      close(other);
      return Fail("another service already answers at " + path.string());
    }
    if (unlink(path.c_str()) != 0) return Fail("cannot replace the stale socket " + path.string() + ": " + Errno());
  }

  Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) return Fail("cannot create a socket: " + Errno());
  if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Fail("cannot create the socket " + path.string() + ": " + Errno());
  }
  chmod(path.c_str(), 0600);
  if (listen(fd.Get(), 8) != 0) return Fail("cannot listen on " + path.string() + ": " + Errno());
  return ServiceWindow(fd.Release(), path);
}

ServiceWindow::ServiceWindow(ServiceWindow&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), onClose_(std::move(other.onClose_)),
      afterClose_(std::move(other.afterClose_)) {
  other.fd_ = -1;
  other.path_.clear();
}

ServiceWindow::~ServiceWindow() {
  if (fd_ < 0) return;
  close(fd_);
  // Only our own socket is removed: a successor may already have replaced it.
  std::error_code ignored;
  fs::remove(path_, ignored);
}

void ServiceWindow::Attach(EventLoop& loop, std::function<void()> onClose, std::function<void()> afterClose) {
  onClose_ = std::move(onClose);
  afterClose_ = std::move(afterClose);
  loop.WatchReadable(fd_, [this] {
    while (true) {
      int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      Serve(client);
    }
  });
}

void ServiceWindow::Serve(int client) {
  Fd guard(client);
  if (!SameUser(client)) return;
  // A finder connects and hangs up at once; a closer sends its request
  // straight away. Neither may keep the service waiting long.
  std::string request;
  char buffer[64];
  pollfd entry{client, POLLIN, 0};
  while (request.find('\n') == std::string::npos && request.size() < sizeof buffer) {
    if (poll(&entry, 1, 1000) <= 0) return;
    ssize_t got = read(client, buffer, sizeof buffer);
    if (got <= 0) return;
    request.append(buffer, static_cast<size_t>(got));
  }
  if (request != kCloseRequest) return;
  if (onClose_) onClose_();
  (void)!write(client, kCloseAnswer.data(), kCloseAnswer.size());
  if (afterClose_) afterClose_();
}

bool FindServiceWindow(std::string_view className, std::string_view title) {
  auto path = ServiceWindowPath(className, title);
  if (!path) return false;
  int fd = Connect(*path);
  if (fd < 0) return false;
  close(fd);
  return true;
}

Status CloseServiceWindow(std::string_view className, std::string_view title, std::chrono::milliseconds timeout) {
  KV_TRY_ASSIGN(fs::path path, ServiceWindowPath(className, title));
  Fd fd(Connect(path));
  if (fd.Get() < 0) return Fail(ErrorCode::NotFound, "the service is not running");
  if (write(fd.Get(), kCloseRequest.data(), kCloseRequest.size()) != static_cast<ssize_t>(kCloseRequest.size())) {
    return Fail("cannot send the close request: " + Errno());
  }
  std::string answer;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[64];
  while (answer.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Fail("the service did not answer the close request in time");
    pollfd entry{fd.Get(), POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    ssize_t got = read(fd.Get(), buffer, sizeof buffer);
    // A service that ends before it answers has closed all the same.
    if (got <= 0) return Ok();
    answer.append(buffer, static_cast<size_t>(got));
  }
  return Ok();
}

}  // namespace kv::platform
