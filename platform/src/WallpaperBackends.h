#pragma once

// The ways of setting the wallpaper, one per kind of desktop, private to the
// platform layer. Each hands the desktop an image file and fails, with the
// reason, when the desktop refused it or its tool is missing.

#include <filesystem>
#include <string>
#include <vector>

#include "kvplatform/Bitmap.h"
#include "kvplatform/Command.h"
#include "kvplatform/Result.h"

namespace kv::platform::wallpaper {

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

[[nodiscard]] Status SetGnomeLike(const std::string& schema, const std::filesystem::path& image);
[[nodiscard]] Status SetMate(const std::filesystem::path& image);
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
// this program ends.
[[nodiscard]] Status SetRootWindow(const Bitmap& bitmap, const std::string& display);

}  // namespace kv::platform::wallpaper
