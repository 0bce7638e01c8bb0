#pragma once

// A stand-in wallpaper setter: stored as the WallpaperCommand, it records every wallpaper published, to count renders.

#include <filesystem>

namespace kvtest {

class WallpaperRecorder {
 public:
  // Writes the recording script into `folder` and stores it as the WallpaperCommand.
  explicit WallpaperRecorder(const std::filesystem::path& folder);
  int Published() const;  // how many wallpapers were published so far

 private:
  std::filesystem::path log_;
};

}  // namespace kvtest
