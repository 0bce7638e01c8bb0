#pragma once

#include <string>

#include "PictureWriters.h"

namespace kvtest {

// A GIF of 256 fixed colours (3 bits of red and green, 2 of blue; each
// pixel takes the nearest below) with real LZW compression.
std::string MakePhotoGif(int width, int height, const RgbaFunction& pixel);

}  // namespace kvtest
