#pragma once

#include <string>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/base/Result.h"
#include "kvplatform/wallpaper/Wallpaper.h"
#include <vector>

namespace kv::service {

// Saves the finished wallpaper `bitmap` as a 24-bit bitmap file at `path`
// and makes it the desktop wallpaper.
//
// The file is written to a temporary file in the same folder, flushed to
// disk and renamed over `path`: no reader ever sees a torn file, and a
// failure (folder missing or read-only, disk full) is the error, naming the
// path and the reason, with the previous file intact, no temporary file
// left behind and the wallpaper not set.
//
// The wallpaper is then set with the setting "WallpaperCommand" when the
// user stored one (it is only read, never given a default), else by the
// running desktop or the X root window. A backend that refuses, is missing
// or hangs past its time limit is one line on stderr; the old wallpaper
// stays and the publication still counts as done.
[[nodiscard]] Status PublishWallpaper(const platform::Bitmap& bitmap, const std::string& path);

// As PublishWallpaper for a screen of several monitors: `whole` (the
// virtual screen) is saved at `path` the same way; the desktop then shows
// it spanned across the monitors, or, where it sets a picture per monitor,
// each monitor's own bitmap from files beside `path`.
[[nodiscard]] Status PublishMonitorWallpapers(const platform::Bitmap& whole, const std::string& path,
                                              const std::vector<platform::MonitorImage>& monitors);

// Shows the wallpaper file `path` made earlier again, where the wallpaper
// does not outlive the X session (the root window, a WallpaperCommand, LXQt): after
// a new log-on with no update due, the desktop would otherwise stay empty.
// Desktops that keep the wallpaper in their own settings are left alone, as
// is a file that was never made. A failure is one line on stderr.
void ShowExistingWallpaper(const std::string& path);

}  // namespace kv::service
