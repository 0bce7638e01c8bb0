#include "kvplatform/process/FolderWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "kvplatform/process/EventLoop.h"

namespace kv::platform {

namespace {
constexpr uint32_t kChanges = IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF;
}

struct FolderWatch::State {
  int fd = -1;
  int watch = -1;
  std::filesystem::path folder;
  EventLoop* loop = nullptr;
  std::function<void()> onChange;

  ~State() {
    if (fd < 0) return;
    loop->Unwatch(fd);
    close(fd);
  }

  void Drain() {
    alignas(inotify_event) char buffer[4096];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    onChange();
  }
};

Result<FolderWatch> FolderWatch::Create(EventLoop& loop, const std::filesystem::path& folder,
                                        std::function<void()> onChange) {
  auto state = std::make_unique<State>();
  state->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (state->fd < 0) return Fail(std::string("cannot watch the folder ") + folder.string() + ": " + std::strerror(errno));
  state->folder = folder;
  state->loop = &loop;
  state->onChange = std::move(onChange);
  loop.WatchReadable(state->fd, [raw = state.get()] { raw->Drain(); });
  FolderWatch watch(std::move(state));
  KV_TRY(watch.Rewatch());
  return watch;
}

FolderWatch::FolderWatch(std::unique_ptr<State> state) : state_(std::move(state)) {}
FolderWatch::FolderWatch(FolderWatch&&) noexcept = default;
FolderWatch::~FolderWatch() = default;

Status FolderWatch::Rewatch() {
  // A folder that was moved away keeps its old watch; it is not ours any more.
  if (state_->watch >= 0) inotify_rm_watch(state_->fd, state_->watch);
  state_->watch = inotify_add_watch(state_->fd, state_->folder.c_str(), kChanges | IN_ONLYDIR | IN_DONT_FOLLOW);
  if (state_->watch < 0) {
    return Fail("cannot watch the folder " + state_->folder.string() + ": " + std::strerror(errno));
  }
  return Ok();
}

}  // namespace kv::platform
