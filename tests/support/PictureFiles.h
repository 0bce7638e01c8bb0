#pragma once

// Bitmap files written and read by the tests themselves, so a fault of the code under test cannot hide behind the same
// fault in the check.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Xvfb.h"  // Image
#include "kvplatform/image/Bitmap.h"

namespace kvtest {

// The colour of pixel (x, y), counted from the top-left, as 0xRRGGBB.
using PixelFunction = std::function<std::uint32_t(int x, int y)>;

// An uncompressed .bmp file of `bits` per pixel (1, 4, 8 with a palette of the colours `pixel` yields; 24 or 32),
// bottom-up unless `topDown`.
std::string MakeBmp(int width, int height, int bits, const PixelFunction& pixel, bool topDown = false);

// A run-length compressed .bmp file (`bits` 8: RLE8, 4: RLE4), the palette `colours` and the pixels `data` as given.
std::string MakeRleBmp(int width, int height, int bits, const std::vector<std::uint32_t>& colours,
                       const std::string& data);

// An in-memory bitmap of one colour (0x00BBGGRR), for the tests that link the bitmap code.
inline kv::platform::Bitmap PlainBitmap(int width, int height, std::int32_t colour) {
  auto bitmap = kv::platform::Bitmap::Create(width, height);
  bitmap->Fill(colour);
  return std::move(*bitmap);
}

// Reads a 24-bit uncompressed bottom-up .bmp file strictly: any header field unlike what the renderer writes throws.
Image ReadBmp24(const std::filesystem::path& file);

}  // namespace kvtest
