#include "kvplatform/image/Bitmap.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kv::platform {

Result<Bitmap> Bitmap::Create(std::int32_t width, std::int32_t height) {
  auto size = std::to_string(width) + " x " + std::to_string(height);
  if (width < 1 || height < 1) {
    return Fail(ErrorCode::InvalidArgument, "a bitmap of " + size + " pixels has no area");
  }
  if (width > kMaxSide || height > kMaxSide) {
    return Fail(ErrorCode::InvalidArgument, "a bitmap of " + size + " pixels is larger than the " +
                                                std::to_string(kMaxSide) + " pixels a side may have");
  }
  std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  std::size_t bytes = stride * static_cast<std::size_t>(height);
  if (bytes > kMaxBytes) {
    return Fail(ErrorCode::InvalidArgument, "a bitmap of " + size + " pixels would need " +
                                                std::to_string(bytes >> 20) + " MiB, more than the " +
                                                std::to_string(kMaxBytes >> 20) + " MiB a wallpaper may use");
  }
  KV_TRY_ASSIGN(PageBlock memory, PageBlock::Allocate(bytes));
  return Bitmap(width, height, stride, std::move(memory));
}

ColorRef Bitmap::PixelAt(std::int32_t x, std::int32_t y) const {
  const std::uint8_t* pixel = Row(y) + static_cast<std::size_t>(x) * 3;
  return MakeColorRef(pixel[2], pixel[1], pixel[0]);
}

void Bitmap::SetPixel(std::int32_t x, std::int32_t y, ColorRef color) {
  std::uint8_t* pixel = Row(y) + static_cast<std::size_t>(x) * 3;
  pixel[0] = BlueOf(color);
  pixel[1] = GreenOf(color);
  pixel[2] = RedOf(color);
}

void Bitmap::Fill(ColorRef color) { FillRect(0, 0, width_, height_, color); }

void Bitmap::FillRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height, ColorRef color) {
  std::int64_t x0 = std::max<std::int64_t>(left, 0);
  std::int64_t y0 = std::max<std::int64_t>(top, 0);
  std::int64_t x1 = std::min<std::int64_t>(std::int64_t{left} + width, width_);
  std::int64_t y1 = std::min<std::int64_t>(std::int64_t{top} + height, height_);
  if (x0 >= x1 || y0 >= y1) return;
  const std::uint8_t blue = BlueOf(color), green = GreenOf(color), red = RedOf(color);
  auto count = static_cast<std::size_t>(x1 - x0);
  // The first row is painted pixel by pixel, every other row is a copy of it.
  std::uint8_t* first = Row(static_cast<std::int32_t>(y0)) + static_cast<std::size_t>(x0) * 3;
  if (blue == green && green == red) {
    std::memset(first, blue, count * 3);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      first[i * 3] = blue;
      first[i * 3 + 1] = green;
      first[i * 3 + 2] = red;
    }
  }
  for (std::int64_t y = y0 + 1; y < y1; ++y) {
    std::memcpy(Row(static_cast<std::int32_t>(y)) + static_cast<std::size_t>(x0) * 3, first, count * 3);
  }
}

}  // namespace kv::platform
