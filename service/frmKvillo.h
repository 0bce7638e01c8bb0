#pragma once

// The service's hidden window: its identity for the settings program (a
// socket named after the window class and title), its one-minute timer and
// the schedule fields, and the close request that ends it.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "UpdateWallpaper.h"
#include "kvplatform/process/EventLoop.h"
#include "kvplatform/process/FolderWatch.h"
#include "kvplatform/process/InstanceLock.h"
#include "kvplatform/process/LocalTime.h"
#include "kvplatform/base/Result.h"
#include "kvplatform/process/ServiceWindow.h"

namespace kv::service {

class frmKvillo {
 public:
  struct Hooks {
    std::function<CycleOutcome()> update;  // one update cycle
    std::function<platform::LocalDateTime()> now = platform::Now;
    // Shows the wallpaper made earlier, at start-up when no update is due.
    std::function<void()> showExisting = [] {};
  };

  explicit frmKvillo(Hooks hooks);

  // Ticks from one update check to the next; 0 until set.
  std::int32_t Minutes = 0;
  // False: every check updates; true: only when the stored date is due.
  bool UseDate = false;
  // Whole days added to now when a due date is consumed; 0 until set.
  std::int32_t Days = 0;

  // Creates the hidden window (the socket) titled `SERVICENAME` and takes
  // the close signals, so that both reach the service from here on, also
  // while it is still starting up.
  [[nodiscard]] Status Load();

  // Keeps the instance lock and the window in their runtime folder: when
  // either is removed (or the whole folder), both are made anew, so the
  // window can be found and a second instance still ends. When another
  // instance has taken the lock meanwhile, this one ends.
  [[nodiscard]] Status KeepInstance(platform::InstanceLock& lock, const std::filesystem::path& folder);

  // Answers the requests and signals that arrived while the service was
  // busy, without waiting for more.
  [[nodiscard]] Status DispatchPending();

  // Removes the window again: the log-on run renders without one.
  void Unload();

  // Turns the frequency into the schedule fields and runs the start-up
  // update when the schedule says so.
  void SetUpSchedule(std::int32_t Frequency);

  // Starts the timer; from now on tmrTimer_Timer runs once per interval.
  void StartTimer(std::chrono::milliseconds interval);

  // Runs until the window is closed or an update cycle ends the program.
  [[nodiscard]] Status Run();

  // The timer's tick.
  void tmrTimer_Timer();

  // The render request (kvctl next): one update cycle now, whatever the
  // schedule, whose count of ticks goes on undisturbed. Answers the
  // cycle's outcome once the cycle has ended.
  platform::ServiceWindow::Reply RenderNow();

  // The local time at which the next update falls due, or nullopt when the
  // timer does not run.
  std::optional<platform::LocalDateTime> NextUpdate() const;

  // The close request (the settings program's Stop, log-off, SIGTERM):
  // writes the stopped status; never refuses.
  void Form_QueryUnload();

  // True once an update cycle has asked to end the program at once, or the
  // window was closed.
  bool Ended() const { return ended_ || closed_; }
  std::int32_t ElapsedTicks() const { return ElapsedTicks_; }

 private:
  CycleOutcome Update();
  void Close();
  void CheckInstance();

  Hooks hooks_;
  std::int32_t ElapsedTicks_ = 0;
  bool ended_ = false;
  bool closed_ = false;
  platform::EventLoop loop_;
  platform::EventLoop::TimerId tmrTimer_;
  std::chrono::milliseconds interval_{0};
  std::chrono::steady_clock::time_point lastTick_;
  std::optional<platform::ServiceWindow> window_;
  platform::InstanceLock* lock_ = nullptr;
  std::optional<platform::FolderWatch> folderWatch_;
};

// The timer's interval: KVILLO_TICK_MS when it holds a positive integer
// (tests shorten the minute with it), else 60000 ms.
std::chrono::milliseconds TickInterval();

}  // namespace kv::service
