#include "PublishWallpaper.h"

#include <optional>

#include "kvplatform/BitmapFile.h"
#include "kvplatform/Log.h"
#include "kvplatform/Store.h"
#include "kvplatform/Wallpaper.h"
#include "kvshared/CStatics.h"

namespace kv::service {
namespace {

// The user's own wallpaper command, when one is stored. Read straight from
// the store: a missing value must stay missing, not become a default.
std::optional<std::string> WallpaperCommand() {
  std::string keyPath = std::string(CStatics::REGAPPLICATION) + "\\" + std::string(CStatics::REGSECTION);
  auto store = platform::Store::ForCurrentUser();
  if (!store) {
    platform::LogErrorOnce(store.error().message + "; a stored WallpaperCommand cannot be used");
    return std::nullopt;
  }
  auto key = (*store)->OpenKey(keyPath);
  if (!key) {
    if (key.error().code != ErrorCode::NotFound) platform::LogErrorOnce(key.error().message);
    return std::nullopt;
  }
  auto value = key->QueryValue("WallpaperCommand");
  if (!value) {
    platform::LogErrorOnce(value.error().message);
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

}  // namespace kv::service
