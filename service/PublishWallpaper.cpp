#include "PublishWallpaper.h"

#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "kvplatform/BitmapFile.h"
#include "kvplatform/Log.h"
#include "kvplatform/Picture.h"
#include "kvplatform/Wallpaper.h"
#include "kvshared/CStatics.h"
#include "kvshared/Funcs.h"

namespace kv::service {
namespace {

// The user's own wallpaper command, when one is stored. Only queried: a
// missing value must stay missing, not become a stored default.
std::optional<std::string> WallpaperCommand() {
  auto value = QueryRegistryValue(CStatics::REGAPPLICATION, CStatics::REGSECTION, "WallpaperCommand");
  if (!value) {
    platform::LogErrorOnce(value.error().message + "; a stored WallpaperCommand cannot be used");
    return std::nullopt;
  }
  return *value;
}

}  // namespace

Status PublishWallpaper(const platform::Bitmap& bitmap, const std::string& path) {
  if (auto saved = platform::SaveBitmapFile(bitmap, path); !saved) {
    return Fail(saved.error(), "the wallpaper was not changed");
  }
  if (auto set = platform::SetDesktopWallpaper(bitmap, path, WallpaperCommand()); !set) {
    platform::LogError("the desktop wallpaper could not be set to " + path + ": " + set.error().message);
  }
  return Ok();
}

Status PublishMonitorWallpapers(const platform::Bitmap& whole, const std::string& path,
                                const std::vector<platform::MonitorImage>& monitors) {
  if (auto saved = platform::SaveBitmapFile(whole, path); !saved) {
    return Fail(saved.error(), "the wallpaper was not changed");
  }
  if (auto set = platform::SetMonitorWallpapers(whole, path, monitors, WallpaperCommand()); !set) {
    platform::LogError("the desktop wallpaper could not be set to " + path + ": " + set.error().message);
  }
  return Ok();
}

void ShowExistingWallpaper(const std::string& path) {
  std::optional<std::string> command = WallpaperCommand();
  if (platform::WallpaperOutlivesSession(command)) return;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) return;
  auto picture = platform::LoadBmpPicture(path);
  if (!picture) {
    platform::LogError("the existing wallpaper cannot be shown: " + picture.error().message);
    return;
  }
  auto bitmap = platform::Bitmap::Create(picture->Width(), picture->Height());
  if (!bitmap) {
    platform::LogError("the existing wallpaper " + path + " cannot be shown: " + bitmap.error().message);
    return;
  }
  platform::CopyPicture(*bitmap, *picture, 0, 0);
  if (auto set = platform::SetDesktopWallpaper(*bitmap, path, command); !set) {
    platform::LogError("the desktop wallpaper could not be set to " + path + ": " + set.error().message);
  }
}

}  // namespace kv::service
