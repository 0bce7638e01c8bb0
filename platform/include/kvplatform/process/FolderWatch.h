#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "kvplatform/base/Result.h"

namespace kv::platform {

class EventLoop;

// Tells, through an event loop, when entries of a folder are removed or
// renamed, or the folder itself is: the signal to check that what the
// program keeps there is still in place.
class FolderWatch {
 public:
  // Watches `folder` on `loop` (which must outlive the watch) and calls
  // `onChange` after each such change.
  [[nodiscard]] static Result<FolderWatch> Create(EventLoop& loop, const std::filesystem::path& folder,
                                                  std::function<void()> onChange);

  FolderWatch(FolderWatch&&) noexcept;
  FolderWatch& operator=(FolderWatch&&) = delete;
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;
  ~FolderWatch();

  // Watches the folder now at the path, after it was made anew.
  [[nodiscard]] Status Rewatch();

 private:
  struct State;
  explicit FolderWatch(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace kv::platform
