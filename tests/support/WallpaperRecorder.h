#pragma once

// A stand-in wallpaper setter: stored as the WallpaperCommand, it records
// every wallpaper the code under test publishes, so a test counts renders.

#include <filesystem>

namespace kvtest {

class WallpaperRecorder {
 public:
  // Writes the recording script into `folder` and stores it as the
  // settings' WallpaperCommand.
  explicit WallpaperRecorder(const std::filesystem::path& folder);

  // How many wallpapers were published so far.
  int Published() const;

 private:
  std::filesystem::path log_;
};

}  // namespace kvtest
