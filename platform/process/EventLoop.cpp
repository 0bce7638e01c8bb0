#include "kvplatform/process/EventLoop.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace kv::platform {

using Clock = std::chrono::steady_clock;

struct EventLoop::Impl {
  struct Timer {
    std::chrono::milliseconds interval{0};
    Clock::time_point due{};
    std::function<void()> handler;
  };
  std::map<TimerId, Timer> timers;
  TimerId nextTimer = 1;
  std::map<int, std::function<void()>> watches;
  int signalFd = -1;
  std::function<void(int)> signalHandler;
  bool quit = false;

  ~Impl() {
    if (signalFd >= 0) close(signalFd);
  }

  // One round: waits (when `wait`) for the first event or due timer, then
  // handles everything that is ready.
  // Answers how many descriptors were ready.
  Result<int> Step(bool wait);
};

EventLoop::EventLoop() : impl_(std::make_unique<Impl>()) {}
EventLoop::~EventLoop() = default;

EventLoop::TimerId EventLoop::AddTimer(std::chrono::milliseconds interval, std::function<void()> handler) {
  TimerId id = impl_->nextTimer++;
  impl_->timers[id] = Impl::Timer{interval, Clock::now() + interval, std::move(handler)};
  return id;
}

void EventLoop::SetTimerInterval(TimerId timer, std::chrono::milliseconds interval) {
  auto it = impl_->timers.find(timer);
  if (it == impl_->timers.end()) return;
  it->second.interval = interval;
  it->second.due = Clock::now() + interval;
}

void EventLoop::RemoveTimer(TimerId timer) { impl_->timers.erase(timer); }

void EventLoop::WatchReadable(int fd, std::function<void()> handler) { impl_->watches[fd] = std::move(handler); }

void EventLoop::Unwatch(int fd) { impl_->watches.erase(fd); }

Status EventLoop::WatchSignals(std::initializer_list<int> signals, std::function<void(int)> handler) {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : signals) sigaddset(&set, signal);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return Fail(std::string("cannot block signals: ") + std::strerror(errno));
  int fd = signalfd(impl_->signalFd, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd < 0) return Fail(std::string("cannot watch signals: ") + std::strerror(errno));
  impl_->signalFd = fd;
  impl_->signalHandler = std::move(handler);
  return Ok();
}

void EventLoop::Quit() { impl_->quit = true; }

Status EventLoop::Run() {
  impl_->quit = false;
  while (!impl_->quit) KV_TRY(impl_->Step(true));
  return Ok();
}

Result<bool> EventLoop::DispatchPending() {
  impl_->quit = false;
  // A handler can make more work ready at once (an accepted peer's request
  // is already waiting); the rounds end when nothing is left. The bound
  // keeps a peer that floods the loop from holding up the start-up.
  for (int round = 0; round < 100 && !impl_->quit; ++round) {
    KV_TRY_ASSIGN(int ready, impl_->Step(false));
    if (ready == 0) break;
  }
  return impl_->quit;
}

Result<int> EventLoop::Impl::Step(bool wait) {
  // Sleep until the earliest running timer is due.
  int timeout = -1;
  Clock::time_point now = Clock::now();
  for (const auto& [id, timer] : timers) {
    if (timer.interval.count() <= 0) continue;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timer.due - now).count();
    // Round up, so poll never returns a hair before the deadline and spins.
    if (timer.due > now && std::chrono::milliseconds(ms) < timer.due - now) ++ms;
    int bounded = ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 1 << 30));
    timeout = timeout < 0 ? bounded : std::min(timeout, bounded);
  }
  if (!wait) timeout = 0;

  std::vector<pollfd> fds;
  if (signalFd >= 0) fds.push_back({signalFd, POLLIN, 0});
  for (const auto& [fd, handler] : watches) fds.push_back({fd, POLLIN, 0});
  int ready = poll(fds.data(), fds.size(), timeout);
  if (ready < 0 && errno != EINTR) return Fail(std::string("the event loop failed: ") + std::strerror(errno));

  for (const pollfd& entry : fds) {
    if (quit) break;
    if (!(entry.revents & (POLLIN | POLLHUP | POLLERR))) continue;
    if (entry.fd == signalFd) {
      signalfd_siginfo info{};
      while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (signalHandler) signalHandler(static_cast<int>(info.ssi_signo));
      }
      continue;
    }
    auto it = watches.find(entry.fd);
    if (it != watches.end()) {
      auto handler = it->second;  // the handler may unwatch its own fd
      handler();
    }
  }

  now = Clock::now();
  std::vector<TimerId> due;
  for (auto& [id, timer] : timers) {
    if (timer.interval.count() <= 0 || timer.due > now) continue;
    // Missed deadlines collapse into this one tick; the rhythm stays.
    while (timer.due <= now) timer.due += timer.interval;
    due.push_back(id);
  }
  for (TimerId id : due) {
    if (quit) break;
    auto it = timers.find(id);
    if (it != timers.end() && it->second.interval.count() > 0) {
      auto handler = it->second.handler;
      handler();
    }
  }
  return ready < 0 ? 0 : ready;
}

}  // namespace kv::platform
