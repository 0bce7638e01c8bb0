#pragma once

// Making a finished wallpaper file the desktop's wallpaper, shown 1:1 and
// unscaled, by whatever the session has: a command the user configured, the
// running desktop's own setting, or the X root window.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/base/Result.h"
#include "kvplatform/display/Screen.h"

namespace kv::platform {

// Splits a configured command into its arguments, without a shell: blanks
// separate; '...' keeps everything literally; "..." keeps everything but
// \" and \\; a backslash outside quotes keeps the next character. Outside
// single quotes every "%f" becomes `file`, every "%p" `pngFile` and "%%" a
// single "%". Fails on an unterminated quote or an empty command.
[[nodiscard]] Result<std::vector<std::string>> ExpandWallpaperCommand(std::string_view command,
                                                                      const std::string& file,
                                                                      const std::string& pngFile = {});

// Makes `file` (which holds `bitmap`) the desktop wallpaper, in this order:
// `command` when given (a command that names "%p" is handed a PNG copy
// beside `file`, for setters that cannot read bitmaps); else the desktop named by XDG_CURRENT_DESKTOP
// (GNOME, Unity, Budgie, Cinnamon, MATE, KDE, XFCE, LXQt, sway); else,
// with DISPLAY, the X root window's background; else nothing (the file
// alone). Desktops that keep showing a path they already show are handed
// alternating copies beside `file`; desktops whose image loader has no
// bitmap support get a PNG copy. Every tool runs as an argument list with a
// time limit (KVILLO_COMMAND_TIMEOUT_MS, 10000 by default). Fails, with the
// reason, when the wallpaper could not be set; the old wallpaper then stays.
[[nodiscard]] Status SetDesktopWallpaper(const Bitmap& bitmap, const std::filesystem::path& file,
                                         const std::optional<std::string>& command);

// One monitor's own wallpaper, for desktops that set a picture per monitor.
struct MonitorImage {
  Monitor Screen;
  const Bitmap* Picture = nullptr;  // not owned; lives through the call
};

// Makes `file` (which holds `whole`, the virtual screen with every monitor's
// picture at its place) the wallpaper of a screen with several monitors:
// `command` when given, with the whole file; GNOME, Cinnamon and MATE show
// the whole file spanned; plain X shows it on the root window from its
// origin; XFCE (by connector), KDE (by screen geometry) and sway (by output)
// get each monitor's picture in a file of its own beside `file`
// ("Kvillo-<connector>.bmp", with alternating copies or a PNG copy where the
// desktop needs them); LXQt gets the primary monitor's picture. Fails as
// SetDesktopWallpaper does.
[[nodiscard]] Status SetMonitorWallpapers(const Bitmap& whole, const std::filesystem::path& file,
                                          const std::vector<MonitorImage>& monitors,
                                          const std::optional<std::string>& command);

// The file beside `file` that holds the picture of monitor `screen`
// ("Kvillo-HDMI-1.bmp"); characters a file name cannot hold become "_", and
// a monitor without a name is numbered by `index`.
std::filesystem::path MonitorFile(const std::filesystem::path& file, const Monitor& screen, std::size_t index);

// True when the wallpaper SetDesktopWallpaper sets with `command` is kept
// by the desktop itself across log-ons (the desktops named above store it in
// their settings), or when there is no display to show it on. False for a
// command and for the X root window, whose picture ends with the X session,
// and for LXQt, whose pcmanfm-qt may write back a placement of "none" when
// it ends: those need the existing file shown again after a new log-on.
bool WallpaperOutlivesSession(const std::optional<std::string>& command);

}  // namespace kv::platform
