#pragma once

// The run-length compressed pixel data of 4- and 8-bit Windows bitmap files
// (RLE4, RLE8), decoded into blue-green-red rows.

#include <cstddef>
#include <cstdint>

#include "kvplatform/image/PageBlock.h"
#include "kvplatform/base/Result.h"

namespace kv::platform {

struct RleSource {
  const std::uint8_t* data = nullptr;  // the compressed pixels
  std::size_t size = 0;
  int bitsPerPixel = 8;                   // 8 for RLE8, 4 for RLE4
  const std::uint8_t* palette = nullptr;  // blue, green, red, unused
  std::size_t paletteEntries = 0;
  std::int32_t width = 0;  // both positive and within the picture limits
  std::int32_t height = 0;
  bool topDown = false;
};

// The picture as width x height pixels of 3 bytes, blue first, top row
// first. Pixels the data skips (by a move, an early end of a line or of the
// picture) and indexes past the palette are black. Data that ends before
// the picture is complete and without its end mark fails with a message
// (to follow the file's name). Time is bounded by the data's length.
[[nodiscard]] Result<PageBlock> DecodeBmpRle(const RleSource& source);

}  // namespace kv::platform
