#pragma once

// Pictures in the formats other than BMP, written by the tests themselves (stb_image_write, libjpeg, libwebp, GIF by
// hand) so that each decoder is checked against a writer of its own.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvtest {

// The colour of pixel (x, y), counted from the top-left, as 0xAARRGGBB (alpha 0xFF: opaque).
using RgbaFunction = std::function<std::uint32_t(int x, int y)>;

std::string MakePng(int width, int height, const RgbaFunction& pixel);
// Quality 1..100; the alpha is dropped.
std::string MakeJpeg(int width, int height, const RgbaFunction& pixel, int quality = 100);
enum class JpegKind {
  Grey,         // one channel of grey (the pixels' luminance)
  Progressive,  // colour, in several scans
  AdobeCmyk,    // CMYK, inverted, with the marker Adobe's programs write
  PlainCmyk,    // CMYK as stored plainly, no such marker
};
// Written through libjpeg at quality 95; the alpha is dropped.
std::string MakeJpegOfKind(int width, int height, const RgbaFunction& pixel, JpegKind kind);
// Lossless, alpha kept.
std::string MakeWebp(int width, int height, const RgbaFunction& pixel);
// A GIF of up to 256 colours (0xRRGGBB), LZW-compressed as a photo saver does; `index` picks each pixel's colour;
// `transparent` >= 0 makes that index transparent.
std::string MakeGif(int width, int height, const std::vector<std::uint32_t>& colours,
                    const std::function<int(int x, int y)>& index, int transparent = -1);
// The JPEG with an Exif block stating `orientation` (1..8) after its start mark, in either byte order.
std::string WithExifOrientation(const std::string& jpeg, int orientation, bool bigEndian);

}  // namespace kvtest
