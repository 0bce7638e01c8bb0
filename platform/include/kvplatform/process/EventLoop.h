#pragma once

// One poll-based event loop per program: periodic timers, readable file
// descriptors and the termination signals, all handled on the one thread
// that runs the loop. Between events the process sleeps in poll() and wakes
// for nothing else.

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

#include "kvplatform/base/Result.h"

namespace kv::platform {

class EventLoop {
 public:
  using TimerId = std::uint32_t;

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // A periodic timer; an interval of zero means stopped. Ticks that fall
  // due while a handler still runs are merged into one, so a long handler
  // delays the next tick instead of causing a burst.
  TimerId AddTimer(std::chrono::milliseconds interval, std::function<void()> handler);
  void SetTimerInterval(TimerId timer, std::chrono::milliseconds interval);
  void RemoveTimer(TimerId timer);

  // Calls `handler` whenever `fd` is readable (or hung up), until Unwatch.
  void WatchReadable(int fd, std::function<void()> handler);
  void Unwatch(int fd);

  // Delivers the given signals to `handler` through the loop instead of
  // their default action. Blocks them for the whole process.
  [[nodiscard]] Status WatchSignals(std::initializer_list<int> signals, std::function<void(int)> handler);

  // Runs until Quit is called from a handler.
  [[nodiscard]] Status Run();
  // Handles what is ready right now (readable descriptors, signals, due
  // timers) without waiting, so a long start-up can answer what arrived
  // meanwhile. True when a handler called Quit.
  [[nodiscard]] Result<bool> DispatchPending();
  void Quit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::platform
