#include "frmKvillo.h"

#include <signal.h>

#include <algorithm>
#include <cstdlib>

#include "IsUpdateDue.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/base/Paths.h"
#include "kvshared/CStatics.h"
#include "kvshared/ServiceControl.h"

namespace kv::service {

frmKvillo::frmKvillo(Hooks hooks)
    : hooks_(std::move(hooks)), tmrTimer_(loop_.AddTimer(std::chrono::milliseconds(0), [this] { tmrTimer_Timer(); })) {}

Status frmKvillo::Load() {
  // Log-off and shut-down arrive as signals; they close the window the same
  // way. They are taken before the window shows, so whoever finds the
  // window can also end the service by a signal.
  KV_TRY(loop_.WatchSignals({SIGTERM, SIGINT, SIGHUP}, [this](int) {
    if (closed_) return;
    Form_QueryUnload();
    Close();
  }));
  auto window = platform::ServiceWindow::Create(platform::kServiceWindowClass, CStatics::SERVICENAME);
  if (!window) return Fail(window.error(), "cannot create the service's window");
  window_.emplace(std::move(*window));
  window_->Handle(kRenderRequest, [this] { return RenderNow(); });
  window_->Handle(kNextUpdateRequest, [this] {
    auto next = NextUpdate();
    return platform::ServiceWindow::Reply{next ? platform::FormatIso(*next) : std::string(), {}};
  });
  window_->Attach(loop_, [this] { Form_QueryUnload(); }, [this] { Close(); });
  return Ok();
}

void frmKvillo::Close() {
  closed_ = true;
  loop_.Quit();
}

Status frmKvillo::KeepInstance(platform::InstanceLock& lock, const std::filesystem::path& folder) {
  lock_ = &lock;
  auto watch = platform::FolderWatch::Create(loop_, folder, [this] { CheckInstance(); });
  if (!watch) return Fail(watch.error(), "cannot keep watch on the service's lock");
  folderWatch_.emplace(std::move(*watch));
  return Ok();
}

void frmKvillo::CheckInstance() {
  if (!lock_ || !window_ || closed_ || ended_) return;
  if (lock_->StillInPlace() && window_->StillInPlace()) return;
  // Someone removed the runtime folder or what the service keeps there (a
  // clean-up of old files, a hand); without them a second instance would
  // start and the settings window would not find this one.
  auto folder = platform::RuntimeDirectory();
  if (!folder) {
    platform::LogErrorOnce(folder.error().message);
    return;
  }
  auto reclaimed = lock_->Reclaim();
  if (!reclaimed) {
    platform::LogErrorOnce(reclaimed.error().message);
    return;
  }
  if (!*reclaimed) {
    // Another instance started in the meantime and runs now; two would
    // render against each other, so this one goes, leaving the status to it.
    platform::LogError("another Kvillo took over after the runtime folder was removed; this one ends");
    ended_ = true;
    loop_.Quit();
    return;
  }
  if (auto restored = window_->Restore(); !restored) platform::LogErrorOnce(restored.error().message);
  if (folderWatch_) {
    if (auto watched = folderWatch_->Rewatch(); !watched) platform::LogErrorOnce(watched.error().message);
  }
}

Status frmKvillo::DispatchPending() {
  auto dispatched = loop_.DispatchPending();
  if (!dispatched) return std::unexpected(dispatched.error());
  return Ok();
}

void frmKvillo::Unload() {
  folderWatch_.reset();
  window_.reset();
}

CycleOutcome frmKvillo::Update() {
  if (ended_) return CycleOutcome::EndProgram;
  CycleOutcome outcome = hooks_.update();
  if (outcome == CycleOutcome::SessionEnded) Form_QueryUnload();
  if (outcome == CycleOutcome::EndProgram || outcome == CycleOutcome::SessionEnded) {
    ended_ = true;
    loop_.Quit();
  }
  return outcome;
}

platform::ServiceWindow::Reply frmKvillo::RenderNow() {
  switch (Update()) {
    case CycleOutcome::Rendered: return {std::string(kRenderedAnswer), {}};
    case CycleOutcome::Skipped: return {std::string(kPausedAnswer), {}};
    case CycleOutcome::Failed: return {std::string(kFailedAnswer), {}};
    case CycleOutcome::EndProgram:
    case CycleOutcome::SessionEnded: break;
  }
  return {std::string(kEndedAnswer), {}};
}

std::optional<platform::LocalDateTime> frmKvillo::NextUpdate() const {
  if (interval_.count() <= 0) return std::nullopt;
  platform::LocalDateTime now = hooks_.now();
  if (UseDate) {
    // The stored date decides; the hourly check that follows it renders.
    auto stored = Statics().GetRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION, "UpdateDate", "");
    if (stored) {
      if (auto due = platform::ParseIso(*stored)) return due;
    }
  }
  // The update comes with the tick on which the count of ticks reaches
  // Minutes (every tick when Minutes is 0 or less).
  std::int64_t ticks = std::max<std::int64_t>(1, Minutes - ElapsedTicks_);
  auto due = lastTick_ + ticks * interval_;
  auto seconds = std::chrono::round<std::chrono::seconds>(due - std::chrono::steady_clock::now()).count();
  return platform::AddSeconds(now, std::max<std::int64_t>(0, seconds));
}

void frmKvillo::SetUpSchedule(std::int32_t Frequency) {
  if (Frequency > 4) {
    UseDate = true;
    Minutes = 60;
    if (Frequency == 5) Days = 1;
    if (Frequency == 6) Days = 7;
    if (Frequency == 7) Days = 30;
    if (IsUpdateDue(Days, hooks_.now)) {
      Update();
    } else {
      hooks_.showExisting();
    }
    return;
  }
  Update();
  UseDate = false;
  switch (Frequency) {
    case 0: Minutes = 1; break;
    case 1: Minutes = 5; break;
    case 2: Minutes = 15; break;
    case 3: Minutes = 30; break;
    case 4: Minutes = 60; break;
    default: break;  // a negative frequency leaves Minutes at 0: every tick checks
  }
}

void frmKvillo::StartTimer(std::chrono::milliseconds interval) {
  interval_ = interval;
  lastTick_ = std::chrono::steady_clock::now();
  loop_.SetTimerInterval(tmrTimer_, interval);
}

Status frmKvillo::Run() {
  if (Ended()) return Ok();
  return loop_.Run();
}

void frmKvillo::tmrTimer_Timer() {
  lastTick_ = std::chrono::steady_clock::now();
  // A backstop for a change the folder watch could not report.
  CheckInstance();
  if (ElapsedTicks_ < Minutes - 1) {
    ++ElapsedTicks_;
    return;
  }
  if (!UseDate) {
    Update();
  } else if (IsUpdateDue(Days, hooks_.now)) {
    Update();
  }
  ElapsedTicks_ = 0;
}

void frmKvillo::Form_QueryUnload() {
  if (auto written = Statics().SaveRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION,
                                                   CStatics::STATUSCODEKEY, CStatics::STATUSSTOPPED);
      !written) {
    platform::LogError("cannot store the stopped status: " + written.error().message);
  }
}

std::chrono::milliseconds TickInterval() {
  if (const char* text = std::getenv("KVILLO_TICK_MS")) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && value > 0) return std::chrono::milliseconds(value);
  }
  return std::chrono::milliseconds(60000);
}

}  // namespace kv::service
