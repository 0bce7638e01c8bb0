#pragma once

// Background pictures: BMP, PNG, JPEG, GIF and WebP files read into memory,
// and the two ways a picture reaches the wallpaper bitmap: copied unscaled
// at a position, or stretched over the whole bitmap without smoothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/image/PageBlock.h"
#include "kvplatform/base/Result.h"

namespace kv::platform {

// A decoded picture, read-only. Its rows are either the file's own pixel
// rows (uncompressed 24- and 32-bit files are used in place) or a decoded
// copy; either way Row(y) counts from the top.
class Picture {
 public:
  // Pictures larger than this are refused before anything is allocated.
  static constexpr std::int32_t kMaxSide = 32767;
#ifdef KV_FUZZ
  // The fuzz build holds pictures to a million pixels: every check runs as
  // it does in the product, at a smaller bound, and no input costs a decode
  // of a hundred million pixels under the sanitizers, so that thousands of
  // inputs run each second instead of hundreds.
  static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 20;
#else
  static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 27;
#endif

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  // 3 or 4 bytes per pixel; blue first when IsBgr(), else red first.
  int BytesPerPixel() const { return bytesPerPixel_; }
  bool IsBgr() const { return bgr_; }
  const std::uint8_t* Row(std::int32_t y) const { return top_ + static_cast<std::ptrdiff_t>(y) * rowStep_; }
  ColorRef PixelAt(std::int32_t x, std::int32_t y) const;

 private:
  friend class PictureLoader;
  friend class FormatLoader;
  Picture() = default;

  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  int bytesPerPixel_ = 3;
  bool bgr_ = true;
  const std::uint8_t* top_ = nullptr;
  std::ptrdiff_t rowStep_ = 0;
  PageBlock storage_;  // the file's bytes (used in place) or the decoded pixels
  std::unique_ptr<std::uint8_t, void (*)(void*)> decoded_{nullptr, nullptr};
};

// The extensions of the picture files the backgrounds folder offers, in any
// letter case, in the order in which one is chosen when several files share
// a name: ".bmp" first, so that a name that found a bitmap before still
// finds the same file.
inline constexpr std::array<std::string_view, 6> kPictureExtensions = {".bmp", ".png", ".jpg", ".jpeg", ".gif", ".webp"};

// What a picture file's header states. A top-down bitmap states a
// negative height.
struct BmpHeaderSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Reads the size stated in the header of the .bmp file `file`. Fails when
// the file cannot be opened, is no regular file or is too short to hold a
// header.
[[nodiscard]] Result<BmpHeaderSize> ReadBmpHeaderSize(const std::filesystem::path& file);

// Reads the size stated in the header of the picture file `file`, whatever
// its format (told by its first bytes, not its name): for a bitmap as
// ReadBmpHeaderSize, for the other formats the size LoadPicture gives it
// (a JPEG turned upright by its Exif orientation has its sides swapped).
// Nothing is decoded.
[[nodiscard]] Result<BmpHeaderSize> ReadPictureHeaderSize(const std::filesystem::path& file);

enum class BmpDecoder {
  Automatic,  // uncompressed 24- and 32-bit files in place, run-length files through their own
              // decoder, everything else through the general decoder
  General,    // the general decoder for every uncompressed file (tests compare the two)
};

// Reads and decodes the .bmp file `file`: 1, 4, 8, 16, 24 and 32 bits per
// pixel, bottom-up or top-down, and run-length compressed 4- and 8-bit
// files. A file that is not a regular file (a FIFO or device is refused
// without waiting), not a bitmap, holds an embedded JPEG or PNG, is shorter
// than its header promises, or is larger than kMaxSide / kMaxPixels fails
// with a message naming the file and the fault; its size is checked against
// the file's length before anything is decoded.
[[nodiscard]] Result<Picture> LoadBmpPicture(const std::filesystem::path& file,
                                             BmpDecoder decoder = BmpDecoder::Automatic);

// Reads and decodes the picture file `file`, whatever its format: a bitmap
// exactly as LoadBmpPicture; PNG, JPEG, GIF (its first frame) and WebP with
// their size checked from the header before any pixel is decoded (the same
// limits as for a bitmap, and no more pixels than the file's length can
// plausibly hold), a JPEG turned upright by its Exif orientation,
// and transparent pixels blended over `background`. A truncated, damaged or
// unknown file fails with a message naming the file and the fault.
[[nodiscard]] Result<Picture> LoadPicture(const std::filesystem::path& file, ColorRef background);

// Copies `picture` unscaled with its top-left corner at (x, y); whatever
// falls outside `target` is cut off.
void CopyPicture(Bitmap& target, const Picture& picture, std::int32_t x, std::int32_t y);

// Stretches the whole `picture` over the whole `target`, nearest neighbour
// (no smoothing), aspect ratio not kept. Target pixel (x, y) takes the
// source pixel under its centre.
void StretchPicture(Bitmap& target, const Picture& picture);

}  // namespace kv::platform
