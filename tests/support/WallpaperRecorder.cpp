#include "WallpaperRecorder.h"

#include <algorithm>

#include "StoreProbe.h"
#include "TempHome.h"

namespace kvtest {

WallpaperRecorder::WallpaperRecorder(const std::filesystem::path& folder) : log_(folder / "published.log") {
  std::filesystem::path script = folder / "record-wallpaper";
  WriteFile(script, "#!/bin/sh\necho \"$1\" >> '" + log_.string() + "'\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  StoreSetting("WallpaperCommand", script.string() + " %f");
}

int WallpaperRecorder::Published() const {
  std::string log = ReadFile(log_);
  return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

}  // namespace kvtest
