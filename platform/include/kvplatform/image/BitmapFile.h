#pragma once

// Saving finished bitmaps. Every save is atomic: the data goes to a
// temporary file in the target's folder, is flushed to disk, and is then
// renamed over the target, so a reader sees the old file or the new one and
// never a part of either. A failed save leaves the target as it was and no
// temporary file behind.

#include <filesystem>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/base/Result.h"

namespace kv::platform {

// Saves `bitmap` as an uncompressed 24-bit bottom-up Windows bitmap file.
[[nodiscard]] Status SaveBitmapFile(const Bitmap& bitmap, const std::filesystem::path& file);

// Saves `bitmap` as a PNG file (for image loaders without bitmap support).
[[nodiscard]] Status SavePngFile(const Bitmap& bitmap, const std::filesystem::path& file);

// Makes `alias` a second name of `file`: a hard link, or a copy where the
// file system has none. `alias` is replaced atomically, like a save.
[[nodiscard]] Status ReplaceWithAlias(const std::filesystem::path& file, const std::filesystem::path& alias);

}  // namespace kv::platform
