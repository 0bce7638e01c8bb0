#include "kvplatform/process/ServiceWindow.h"

// The requester's side of the service's socket: finding the service without
// waiting on it, and one bounded request-and-answer exchange.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "ServiceSocket.h"

namespace kv::platform {
using namespace socket_detail;

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

namespace {

// Sends `request` (one line) and waits for the answer line. nullopt: the
// service hung up before it answered (a service that ends on a close
// request may do so). `timeout` bounds the whole exchange.
Result<std::optional<std::string>> Exchange(std::string_view className, std::string_view title,
                                            std::string_view request, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  auto left = [&] {
    return std::max<std::chrono::milliseconds::rep>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
  };
  const std::string limit = std::to_string((timeout.count() + 999) / 1000) + " seconds";
  const std::string line = std::string(request) + "\n";
  const std::string what = "the " + std::string(request) + " request";

  // A service whose queue is full takes no request yet: try again until it
  // has room or the time is up.
  ClientConnection connection = ConnectWithoutWaiting(className, title);
  while (connection.State() == ServiceWindowState::NotResponding) {
    if (left() == 0) return Fail("the service did not take " + what + " within " + limit);
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
    sent = send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0 && (errno == EPIPE || errno == ECONNRESET)) return std::optional<std::string>();
  if (sent != static_cast<ssize_t>(line.size())) return Fail("cannot send " + what + ": " + Errno());

  std::string answer;
  char buffer[64];
  while (answer.find('\n') == std::string::npos) {
    auto wait = left();
    if (wait == 0) return Fail("the service did not answer " + what + " within " + limit);
    pollfd entry{fd, POLLIN, 0};
    int ready = poll(&entry, 1, static_cast<int>(std::min<std::chrono::milliseconds::rep>(wait, 1000)));
    if (ready <= 0) continue;
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return std::optional<std::string>();
    answer.append(buffer, static_cast<size_t>(got));
  }
  return std::optional<std::string>(answer.substr(0, answer.find('\n')));
}

}  // namespace

Status CloseServiceWindow(std::string_view className, std::string_view title, std::chrono::milliseconds timeout) {
  KV_TRY_ASSIGN(auto answer, Exchange(className, title, kCloseRequest.substr(0, kCloseRequest.size() - 1), timeout));
  // A service that ends before it answers has closed all the same.
  (void)answer;
  return Ok();
}

Result<std::string> SendServiceRequest(std::string_view className, std::string_view title, std::string_view request,
                                       std::chrono::milliseconds timeout) {
  KV_TRY_ASSIGN(auto answer, Exchange(className, title, request, timeout));
  if (!answer) return Fail("the service ended before it answered the " + std::string(request) + " request");
  return *answer;
}

}  // namespace kv::platform
