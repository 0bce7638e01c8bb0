#pragma once

// Background pictures: Windows bitmap (.bmp) files read into memory, and the
// two ways a picture reaches the wallpaper bitmap: copied unscaled at a
// position, or stretched over the whole bitmap without smoothing.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "kvplatform/Bitmap.h"
#include "kvplatform/PageBlock.h"
#include "kvplatform/Result.h"

namespace kv::platform {

// A decoded picture, read-only. Its rows are either the file's own pixel
// rows (uncompressed 24- and 32-bit files are used in place) or a decoded
// copy; either way Row(y) counts from the top.
class Picture {
 public:
  // Pictures larger than this are refused before anything is allocated.
  static constexpr std::int32_t kMaxSide = 32767;
  static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 27;

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  // 3 or 4 bytes per pixel; blue first when IsBgr(), else red first.
  int BytesPerPixel() const { return bytesPerPixel_; }
  bool IsBgr() const { return bgr_; }
  const std::uint8_t* Row(std::int32_t y) const { return top_ + static_cast<std::ptrdiff_t>(y) * rowStep_; }
  ColorRef PixelAt(std::int32_t x, std::int32_t y) const;

 private:
  friend class PictureLoader;
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

// What a bitmap file's information header states. A top-down picture
// states a negative height.
struct BmpHeaderSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Reads the size stated in the header of the .bmp file `file`. Fails when
// the file cannot be opened, is no regular file or is too short to hold a
// header.
[[nodiscard]] Result<BmpHeaderSize> ReadBmpHeaderSize(const std::filesystem::path& file);

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

// Copies `picture` unscaled with its top-left corner at (x, y); whatever
// falls outside `target` is cut off.
void CopyPicture(Bitmap& target, const Picture& picture, std::int32_t x, std::int32_t y);

// Stretches the whole `picture` over the whole `target`, nearest neighbour
// (no smoothing), aspect ratio not kept. Target pixel (x, y) takes the
// source pixel under its centre.
void StretchPicture(Bitmap& target, const Picture& picture);

}  // namespace kv::platform
