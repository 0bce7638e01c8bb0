#pragma once

// The off-screen picture a wallpaper is painted into: 24 bits per pixel, held
// in memory exactly as a bottom-up Windows bitmap file stores its pixel rows
// (blue, green, red; every row padded to a multiple of 4 bytes; the bottom
// row first), so that saving it is one write of the whole block.

#include <cstddef>
#include <cstdint>
#include <utility>

#include "kvplatform/image/PageBlock.h"
#include "kvplatform/base/Result.h"

namespace kv::platform {

// A colour as the settings store it: 0x00BBGGRR, red in the low byte.
using ColorRef = std::int32_t;

constexpr std::uint8_t RedOf(ColorRef color) { return static_cast<std::uint8_t>(color & 0xFF); }
constexpr std::uint8_t GreenOf(ColorRef color) { return static_cast<std::uint8_t>((color >> 8) & 0xFF); }
constexpr std::uint8_t BlueOf(ColorRef color) { return static_cast<std::uint8_t>((color >> 16) & 0xFF); }
constexpr ColorRef MakeColorRef(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<ColorRef>(std::uint32_t{red} | (std::uint32_t{green} << 8) | (std::uint32_t{blue} << 16));
}

class Bitmap {
 public:
  // The largest side a bitmap may have, and the most memory its pixels may
  // take; beyond that the size is refused, not allocated.
  static constexpr std::int32_t kMaxSide = 32767;
  static constexpr std::size_t kMaxBytes = std::size_t{1} << 30;

  // A black bitmap of `width` x `height` pixels (both at least 1). Fresh
  // pages are zero, which is black, so a bitmap costs no memory traffic
  // until it is painted.
  [[nodiscard]] static Result<Bitmap> Create(std::int32_t width, std::int32_t height);

  Bitmap(Bitmap&&) noexcept = default;
  Bitmap& operator=(Bitmap&&) noexcept = default;
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  // Bytes from one row to the next in memory.
  std::size_t Stride() const { return stride_; }

  // The pixels of row `y`, counted from the top: 3 bytes (blue, green, red)
  // per pixel, left to right. `y` must lie in 0..Height()-1.
  std::uint8_t* Row(std::int32_t y) { return memory_.Data() + static_cast<std::size_t>(height_ - 1 - y) * stride_; }
  const std::uint8_t* Row(std::int32_t y) const {
    return memory_.Data() + static_cast<std::size_t>(height_ - 1 - y) * stride_;
  }

  // All pixel rows as a bottom-up bitmap file holds them.
  const std::uint8_t* Pixels() const { return memory_.Data(); }
  std::size_t PixelBytes() const { return stride_ * static_cast<std::size_t>(height_); }

  // The colour at (x, y); both must lie inside the bitmap.
  ColorRef PixelAt(std::int32_t x, std::int32_t y) const;
  void SetPixel(std::int32_t x, std::int32_t y, ColorRef color);

  // Paints every pixel in `color`.
  void Fill(ColorRef color);
  // Paints the part of the rectangle that lies inside the bitmap.
  void FillRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height, ColorRef color);

 private:
  Bitmap(std::int32_t width, std::int32_t height, std::size_t stride, PageBlock memory)
      : width_(width), height_(height), stride_(stride), memory_(std::move(memory)) {}

  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::size_t stride_ = 0;
  PageBlock memory_;
};

}  // namespace kv::platform
