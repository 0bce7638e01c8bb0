// JPEG variants that stb_image_write cannot make (grey, CMYK, progressive),
// written through libjpeg's encoder.

#include <stdio.h>  // jpeglib.h uses FILE without including it

#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "PictureWriters.h"

namespace kvtest {

namespace {

// One pixel in the form `kind` stores: 1 byte of grey, 3 of red, green and
// blue, or 4 of CMYK (inverted for AdobeCmyk: 255 means no ink).
void PutPixel(std::vector<unsigned char>& row, std::uint32_t c, JpegKind kind) {
  const unsigned r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  if (kind == JpegKind::Grey) {
    row.push_back(static_cast<unsigned char>((r * 299 + g * 587 + b * 114 + 500) / 1000));
  } else if (kind == JpegKind::Progressive) {
    row.insert(row.end(), {static_cast<unsigned char>(r), static_cast<unsigned char>(g), static_cast<unsigned char>(b)});
  } else {
    // Black takes what all three share; the inks make up the rest.
    const unsigned most = std::max({r, g, b}), k = 255 - most;
    auto ink = [&](unsigned v) { return most == 0 ? 0u : (most - v) * 255 / most; };
    unsigned cmyk[4] = {ink(r), ink(g), ink(b), k};
    for (unsigned v : cmyk) row.push_back(static_cast<unsigned char>(kind == JpegKind::AdobeCmyk ? 255 - v : v));
  }
}

}  // namespace

std::string MakeJpegOfKind(int width, int height, const RgbaFunction& pixel, JpegKind kind) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);  // a writer given sound arguments does not fail
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = kind == JpegKind::Grey ? 1 : kind == JpegKind::Progressive ? 3 : 4;
  cinfo.in_color_space = kind == JpegKind::Grey ? JCS_GRAYSCALE : kind == JpegKind::Progressive ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  if (kind == JpegKind::Progressive) jpeg_simple_progression(&cinfo);
  // Without Adobe's marker a decoder takes CMYK as stored plainly.
  cinfo.write_Adobe_marker = kind == JpegKind::AdobeCmyk ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row;
  for (int y = 0; y < height; ++y) {
    row.clear();
    for (int x = 0; x < width; ++x) PutPixel(row, pixel(x, y), kind);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return out;
}

}  // namespace kvtest
