#pragma once

// Bitmap files written and read by the tests themselves, independently of
// the code under test, so that a fault in its decoder or writer cannot hide
// behind the same fault in the check.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Xvfb.h"  // Image

namespace kvtest {

// The colour of pixel (x, y), counted from the top-left, as 0xRRGGBB.
using PixelFunction = std::function<std::uint32_t(int x, int y)>;

// The bytes of an uncompressed .bmp file of `bits` per pixel (1, 4, 8 with a
// palette of the colours the pixel function yields, at most 2^bits of them;
// 24 or 32), bottom-up unless `topDown`.
std::string MakeBmp(int width, int height, int bits, const PixelFunction& pixel, bool topDown = false);

// The bytes of a run-length compressed .bmp file, bottom-up: `bits` 8 for
// RLE8, 4 for RLE4, the palette `colours` (0xRRGGBB) and the compressed
// pixels `data` exactly as given.
std::string MakeRleBmp(int width, int height, int bits, const std::vector<std::uint32_t>& colours,
                       const std::string& data);

// Reads a 24-bit uncompressed bottom-up .bmp file strictly: every header
// field the renderer writes is checked; any difference throws.
Image ReadBmp24(const std::filesystem::path& file);

}  // namespace kvtest
