#include "BmpRle.h"

#include <algorithm>

namespace kv::platform {

Result<PageBlock> DecodeBmpRle(const RleSource& source) {
  const std::int64_t width = source.width, height = source.height;
  KV_TRY_ASSIGN(PageBlock pixels, PageBlock::Allocate(static_cast<std::size_t>(width * height * 3)));
  const std::uint8_t* data = source.data;
  const std::size_t size = source.size;

  // x and y count from the first pixel of the data, which is the bottom-left
  // one unless the picture is top-down. A move may take x far past the
  // row; such pixels are dropped, as are those past the last row.
  std::int64_t x = 0, y = 0;
  auto put = [&](unsigned index) {
    std::int64_t row = source.topDown ? y : height - 1 - y;
    std::uint8_t* out = pixels.Data() + (row * width + x) * 3;
    if (index < source.paletteEntries) {
      const std::uint8_t* colour = source.palette + std::size_t{index} * 4;
      out[0] = colour[0], out[1] = colour[1], out[2] = colour[2];
    }
    ++x;
  };
  auto nibble = [](std::uint8_t pair, std::size_t k) -> unsigned { return k % 2 == 0 ? pair >> 4 : pair & 0x0F; };
  // How many of `count` pixels from x on still fall inside the row; the
  // rest are stepped over at once, so data that runs past the row's end
  // costs no time.
  auto inside = [&](std::size_t count) -> std::size_t {
    return x >= width ? 0 : static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), width - x));
  };

  std::size_t i = 0;
  while (y < height) {
    if (size - i < 2) return Fail(ErrorCode::Corrupt, "its run-length data ends before the picture does");
    const std::uint8_t count = data[i], value = data[i + 1];
    i += 2;
    if (count > 0) {  // a run: `count` pixels of one index (RLE4: two alternating indexes)
      const std::size_t drawn = inside(count);
      for (std::size_t k = 0; k < drawn; ++k) put(source.bitsPerPixel == 8 ? value : nibble(value, k));
      x += static_cast<std::int64_t>(count - drawn);
      continue;
    }
    switch (value) {
      case 0:  // end of the line
        x = 0;
        ++y;
        break;
      case 1:  // end of the picture
        return pixels;
      case 2:  // a move right and up (down in a top-down picture)
        if (size - i < 2) return Fail(ErrorCode::Corrupt, "its run-length data ends inside a move");
        x += data[i];
        y += data[i + 1];
        i += 2;
        break;
      default: {  // `value` indexes as they are, padded to an even number of bytes
        const std::size_t bytes = source.bitsPerPixel == 8 ? value : (std::size_t{value} + 1) / 2;
        if (size - i < bytes) return Fail(ErrorCode::Corrupt, "its run-length data ends inside a run of pixels");
        const std::size_t drawn = inside(value);
        for (std::size_t k = 0; k < drawn; ++k) {
          put(source.bitsPerPixel == 8 ? data[i + k] : nibble(data[i + k / 2], k));
        }
        x += static_cast<std::int64_t>(value - drawn);
        i += std::min(bytes + bytes % 2, size - i);
        break;
      }
    }
  }
  // Every row is done; whatever follows (at best the end mark) is not needed.
  return pixels;
}

}  // namespace kv::platform
