#include "kvplatform/process/ServiceWindow.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kvplatform/process/EventLoop.h"
#include "kvplatform/base/Paths.h"
#include "ServiceSocket.h"

namespace kv::platform {
namespace fs = std::filesystem;
using namespace socket_detail;

namespace {

// True when a process listens on the socket at `path`, also one too busy
// to take the connection now. Never waits.
bool SomeoneListens(const fs::path& path) {
  auto address = Address(path);
  if (!address) return false;
  Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) return false;
  int result = 0;
  do {
    result = connect(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno == EAGAIN || errno == EINPROGRESS;
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

namespace {

// A request must arrive whole within this time; a peer that is slower is
// dropped. Real requesters send theirs right after connecting.
constexpr auto kRequestDeadline = std::chrono::seconds(10);
// Requests are short words; a longer line is no request of ours.
constexpr size_t kRequestLimit = 256;
// Peers served at once; beyond this the one waiting longest is dropped, so
// hanging peers cannot use up the service's descriptors.
constexpr size_t kPeerLimit = 32;
constexpr auto kSweepInterval = std::chrono::milliseconds(250);

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
};

std::optional<Identity> IdentityOf(const fs::path& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return std::nullopt;
  return Identity{info.st_dev, info.st_ino};
}

// A listening socket at `path`, replacing a stale socket file left there.
Result<int> Listen(const fs::path& path) {
  KV_TRY_ASSIGN(sockaddr_un address, Address(path));
  // A socket file that refuses connections was left by a process that
  // died; it is no window and is replaced. Anything else there is not ours.
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) return Fail(path.string() + " exists and is not a socket; remove it");
    if (SomeoneListens(path)) return Fail("another service already answers at " + path.string());
    if (unlink(path.c_str()) != 0) return Fail("cannot replace the stale socket " + path.string() + ": " + Errno());
  }

  Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) return Fail("cannot create a socket: " + Errno());
  if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Fail("cannot create the socket " + path.string() + ": " + Errno());
  }
  chmod(path.c_str(), 0600);
  // Room for the requests that arrive while the service is busy starting up
  // or rendering; they are answered once it gets to them.
  if (listen(fd.Get(), 64) != 0) return Fail("cannot listen on " + path.string() + ": " + Errno());
  return fd.Release();
}

}  // namespace

struct ServiceWindow::State {
  struct Peer {
    std::string request;
    std::chrono::steady_clock::time_point deadline;
  };

  int fd = -1;
  fs::path path;
  std::optional<Identity> identity;
  EventLoop* loop = nullptr;
  EventLoop::TimerId sweeper = 0;
  std::map<std::string, Handler, std::less<>> handlers;
  std::map<int, Peer> peers;

  ~State() {
    for (const auto& [peer, pending] : peers) {
      if (loop) loop->Unwatch(peer);
      close(peer);
    }
    if (loop) {
      loop->RemoveTimer(sweeper);
      if (fd >= 0) loop->Unwatch(fd);
    }
    if (fd < 0) return;
    close(fd);
    // Only our own socket is removed: a successor may already have replaced it.
    if (StillInPlace()) unlink(path.c_str());
  }

  bool StillInPlace() const {
    auto now = IdentityOf(path);
    return now && identity && now->device == identity->device && now->inode == identity->inode;
  }

  void WatchListener() {
    loop->WatchReadable(fd, [this] { AcceptAll(); });
  }

  void AcceptAll() {
    while (true) {
      int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (client < 0) return;
      if (!SameUser(client)) {
        close(client);
        continue;
      }
      if (peers.size() >= kPeerLimit) {
        auto oldest = std::min_element(peers.begin(), peers.end(),
                                       [](const auto& a, const auto& b) { return a.second.deadline < b.second.deadline; });
        Drop(oldest->first);
      }
      peers[client] = Peer{{}, std::chrono::steady_clock::now() + kRequestDeadline};
      loop->WatchReadable(client, [this, client] { Read(client); });
      loop->SetTimerInterval(sweeper, kSweepInterval);
    }
  }

  void Drop(int peer) {
    loop->Unwatch(peer);
    close(peer);
    peers.erase(peer);
    if (peers.empty()) loop->SetTimerInterval(sweeper, std::chrono::milliseconds(0));
  }

  void Read(int peer) {
    auto it = peers.find(peer);
    if (it == peers.end()) return;
    std::string& request = it->second.request;
    char buffer[256];
    while (request.find('\n') == std::string::npos) {
      ssize_t got = read(peer, buffer, sizeof buffer);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;  // the rest comes later
      if (got <= 0) {
        // A finder connects and hangs up; a peer that goes mid-request
        // asked for nothing.
        Drop(peer);
        return;
      }
      request.append(buffer, static_cast<size_t>(got));
      if (request.size() > kRequestLimit && request.find('\n') == std::string::npos) {
        Drop(peer);
        return;
      }
    }
    std::string line = request.substr(0, request.find('\n'));
    auto handler = handlers.find(line);
    Reply reply = handler == handlers.end() ? Reply{"unknown", {}} : handler->second();
    std::string answer = reply.answer + "\n";
    // The requester may have hung up already: that must cost it its answer
    // only, never end the service by SIGPIPE.
    (void)!send(peer, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    Drop(peer);
    if (reply.after) reply.after();
  }

  void Sweep() {
    auto now = std::chrono::steady_clock::now();
    std::vector<int> late;
    for (const auto& [peer, pending] : peers) {
      if (pending.deadline <= now) late.push_back(peer);
    }
    for (int peer : late) Drop(peer);
  }
};

Result<ServiceWindow> ServiceWindow::Create(std::string_view className, std::string_view title) {
  KV_TRY_ASSIGN(fs::path path, ServiceWindowPath(className, title));
  KV_TRY_ASSIGN(int fd, Listen(path));
  auto state = std::make_unique<State>();
  state->fd = fd;
  state->path = path;
  state->identity = IdentityOf(path);
  return ServiceWindow(std::move(state));
}

ServiceWindow::ServiceWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}
ServiceWindow::ServiceWindow(ServiceWindow&& other) noexcept = default;
ServiceWindow::~ServiceWindow() = default;

void ServiceWindow::Handle(std::string_view request, Handler handler) {
  state_->handlers[std::string(request)] = std::move(handler);
}

void ServiceWindow::Attach(EventLoop& loop) {
  state_->loop = &loop;
  state_->sweeper = loop.AddTimer(std::chrono::milliseconds(0), [state = state_.get()] { state->Sweep(); });
  state_->WatchListener();
}

void ServiceWindow::Attach(EventLoop& loop, std::function<void()> onClose, std::function<void()> afterClose) {
  Handle(kCloseRequest.substr(0, kCloseRequest.size() - 1), [onClose = std::move(onClose), afterClose = std::move(afterClose)] {
    if (onClose) onClose();
    return Reply{std::string(kCloseAnswer.substr(0, kCloseAnswer.size() - 1)), afterClose};
  });
  Attach(loop);
}

bool ServiceWindow::StillInPlace() const { return state_->StillInPlace(); }

Status ServiceWindow::Restore() {
  if (StillInPlace()) return Ok();
  KV_TRY_ASSIGN(int fd, Listen(state_->path));
  if (state_->loop) state_->loop->Unwatch(state_->fd);
  close(state_->fd);
  state_->fd = fd;
  state_->identity = IdentityOf(state_->path);
  if (state_->loop) state_->WatchListener();
  return Ok();
}

}  // namespace kv::platform
