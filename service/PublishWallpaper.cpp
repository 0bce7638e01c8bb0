#include "PublishWallpaper.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "kvplatform/image/BitmapFile.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/image/Picture.h"
#include "kvplatform/display/Screen.h"
#include "kvplatform/wallpaper/Wallpaper.h"
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

// The part of the virtual screen's picture `whole` that lies on `rect`
// (`left`, `top` being the picture's origin on the screen); what lies
// outside the picture stays black.
Result<platform::Bitmap> Cut(const platform::Bitmap& whole, const platform::ScreenRect& rect, std::int32_t left,
                             std::int32_t top) {
  KV_TRY_ASSIGN(platform::Bitmap part, platform::Bitmap::Create(rect.right - rect.left, rect.bottom - rect.top));
  std::int32_t x0 = rect.left - left, y0 = rect.top - top;
  std::int32_t from = std::max(0, -x0), to = std::min(part.Width(), whole.Width() - x0);
  for (std::int32_t y = std::max(0, -y0); y < part.Height() && y0 + y < whole.Height() && from < to; ++y) {
    std::memcpy(part.Row(y) + static_cast<std::size_t>(from) * 3,
                whole.Row(y0 + y) + static_cast<std::size_t>(x0 + from) * 3, static_cast<std::size_t>(to - from) * 3);
  }
  return part;
}

// Shows the picture of a screen with several monitors again, each monitor
// its own part of it where the desktop sets them one by one.
Status ShowOnMonitors(const platform::Bitmap& whole, const std::string& path,
                      const std::vector<platform::Monitor>& monitors, const std::optional<std::string>& command) {
  std::int32_t left = 0, top = 0;
  for (const platform::Monitor& monitor : monitors) {
    left = std::min(left, monitor.rect.left), top = std::min(top, monitor.rect.top);
  }
  std::vector<platform::Bitmap> parts;
  for (const platform::Monitor& monitor : monitors) {
    KV_TRY_ASSIGN(platform::Bitmap part, Cut(whole, monitor.rect, left, top));
    parts.push_back(std::move(part));
  }
  std::vector<platform::MonitorImage> images;
  for (std::size_t i = 0; i < monitors.size(); ++i) images.push_back({monitors[i], &parts[i]});
  return platform::SetMonitorWallpapers(whole, path, images, command);
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
  std::vector<platform::Monitor> monitors = platform::QueryMonitors();
  auto set = monitors.size() > 1 ? ShowOnMonitors(*bitmap, path, monitors, command)
                                 : platform::SetDesktopWallpaper(*bitmap, path, command);
  if (!set) {
    platform::LogError("the desktop wallpaper could not be set to " + path + ": " + set.error().message);
  }
}

}  // namespace kv::service
