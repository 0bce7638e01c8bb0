#pragma once

// The ways of setting the wallpaper, one per kind of desktop, private to the
// platform layer. Each hands the desktop an image file and fails, with the
// reason, when the desktop refused it or its tool is missing.

#include <filesystem>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/process/Command.h"
#include "kvplatform/base/Result.h"
#include "kvplatform/display/Screen.h"

namespace kv::platform::wallpaper {

enum class Desktop { Unknown, Gnome, Cinnamon, Mate, Kde, Xfce, Lxqt, Sway };

// The desktop XDG_CURRENT_DESKTOP names (the first one known here).
Desktop CurrentDesktop();

// True when the user configured a wallpaper command that is not blank.
bool HasCommand(const std::optional<std::string>& command);

// Runs one tool with the configured time limit (KVILLO_COMMAND_TIMEOUT_MS,
// 10000 by default); anything but a clean exit is the tool's refusal.
[[nodiscard]] Status Run(const std::vector<std::string>& args);
[[nodiscard]] Result<CommandOutcome> RunForOutput(const std::vector<std::string>& args);

// A percent-encoded file:// URI.
std::string FileUri(const std::filesystem::path& file);

// The file a desktop is handed: `file` itself, a PNG copy when
// `pixbufLoader` and the session's image loader lacks bitmaps, or, when
// `alternating`, the next of two alternating copies beside `file`.
[[nodiscard]] Result<std::filesystem::path> ImageFor(const Bitmap& bitmap, const std::filesystem::path& file,
                                                     bool pixbufLoader, bool alternating);

// A PNG copy of `bitmap` beside `file` ("Kvillo.bmp" -> "Kvillo.png").
[[nodiscard]] Result<std::filesystem::path> PngCopy(const Bitmap& bitmap, const std::filesystem::path& file);

// `options` is the placement: "centered", or "spanned" for one picture
// across every monitor.
[[nodiscard]] Status SetGnomeLike(const std::string& schema, const std::filesystem::path& image,
                                  const std::string& options = "centered");
[[nodiscard]] Status SetMate(const std::filesystem::path& image, const std::string& options = "centered");
[[nodiscard]] Status SetKde(const std::filesystem::path& image);
[[nodiscard]] Status SetSway(const std::filesystem::path& image);

// Every xfdesktop backdrop property ending in "last-image", plus those of
// every active monitor connector and workspace of `display` (when given),
// gets `image` and the centred style.
[[nodiscard]] Status SetXfce(const std::filesystem::path& image, const std::string& display);

// pcmanfm-qt shows `image` now, and its settings file keeps it, centred,
// for its next start. Fails (after storing the settings) when its desktop
// is not running.
[[nodiscard]] Status SetLxqt(const std::filesystem::path& image);

// The X root window's background on `display`, kept by the server after
// this program ends: centred on the primary monitor, or from the root's
// origin when `spanned` or when the picture is as large as the root.
[[nodiscard]] Status SetRootWindow(const Bitmap& bitmap, const std::string& display, bool spanned = false);

// Per monitor: each connector's backdrop properties (every workspace) get
// its image, centred; any other backdrop property gets `primaryImage`.
[[nodiscard]] Status SetXfceMonitors(const std::vector<std::pair<std::string, std::filesystem::path>>& images,
                                     const std::filesystem::path& primaryImage, const std::string& display);

// Per monitor: every Plasma desktop whose screen lies at a rectangle's
// top-left corner gets that image, padded.
[[nodiscard]] Status SetKdeMonitors(const std::vector<std::pair<ScreenRect, std::filesystem::path>>& images);

// Per output: `swaymsg output NAME bg FILE center` for each.
[[nodiscard]] Status SetSwayMonitors(const std::vector<std::pair<std::string, std::filesystem::path>>& images);

}  // namespace kv::platform::wallpaper
