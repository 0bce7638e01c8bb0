#include "kvplatform/ServiceWindow.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

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

namespace {

// A connection to the service's socket made without waiting: the kernel
// either queues it at once, refuses it, or says that the service's queue of
// unaccepted connections is full (a service that is busy or stopped). A
// blocking connect would wait in that last case for as long as the service
// does not accept, with no bound.
class ClientConnection {
 public:
  ClientConnection() = default;
  ClientConnection(ServiceWindowState state, int fd) : state_(state), fd_(fd) {}
  ClientConnection(ClientConnection&& other) noexcept : state_(other.state_), fd_(std::exchange(other.fd_, -1)) {}
  ClientConnection& operator=(ClientConnection&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) close(fd_);
      state_ = other.state_;
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;
  ~ClientConnection() {
    if (fd_ >= 0) close(fd_);
  }

  ServiceWindowState State() const { return state_; }
  int Get() const { return fd_; }

 private:
  ServiceWindowState state_ = ServiceWindowState::Absent;
  int fd_ = -1;
};

ClientConnection ConnectWithoutWaiting(std::string_view className, std::string_view title) {
  auto path = ServiceWindowPath(className, title);
  if (!path) return {};
  auto address = Address(*path);
  if (!address) return {};
  Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) return {};
  int result = 0;
  do {
    result = connect(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return {ServiceWindowState::Present, fd.Release()};
  // Someone listens there, but takes no connection now.
  if (errno == EAGAIN || errno == EINPROGRESS) return {ServiceWindowState::NotResponding, -1};
  return {};
}

}  // namespace

ServiceWindowState ProbeServiceWindow(std::string_view className, std::string_view title) {
  return ConnectWithoutWaiting(className, title).State();
}

bool FindServiceWindow(std::string_view className, std::string_view title) {
  return ProbeServiceWindow(className, title) != ServiceWindowState::Absent;
}

Status CloseServiceWindow(std::string_view className, std::string_view title, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  auto left = [&] {
    return std::max<std::chrono::milliseconds::rep>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
  };
  const std::string limit = std::to_string((timeout.count() + 999) / 1000) + " seconds";

  // A service whose queue is full takes no request yet: try again until it
  // has room or the time is up.
  ClientConnection connection = ConnectWithoutWaiting(className, title);
  while (connection.State() == ServiceWindowState::NotResponding) {
    if (left() == 0) return Fail("the service did not take the close request within " + limit);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(50, left())));
    connection = ConnectWithoutWaiting(className, title);
  }
  if (connection.State() == ServiceWindowState::Absent) {
    return Fail(ErrorCode::NotFound, "the service is not running");
  }
  int fd = connection.Get();

  // The request is a few bytes into an empty socket, so it fits at once; a
  // service that hangs up meanwhile gives an error, never SIGPIPE.
  ssize_t sent = 0;
  do {
    sent = send(fd, kCloseRequest.data(), kCloseRequest.size(), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0 && (errno == EPIPE || errno == ECONNRESET)) return Ok();  // it ended before it read the request
  if (sent != static_cast<ssize_t>(kCloseRequest.size())) return Fail("cannot send the close request: " + Errno());

  std::string answer;
  char buffer[64];
  while (answer.find('\n') == std::string::npos) {
    auto wait = left();
    if (wait == 0) return Fail("the service did not answer the close request within " + limit);
    pollfd entry{fd, POLLIN, 0};
    int ready = poll(&entry, 1, static_cast<int>(std::min<std::chrono::milliseconds::rep>(wait, 1000)));
    if (ready <= 0) continue;
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // A service that ends before it answers has closed all the same.
    if (got <= 0) return Ok();
    answer.append(buffer, static_cast<size_t>(got));
  }
  return Ok();
}

}  // namespace kv::platform
