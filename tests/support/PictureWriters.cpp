#include "PictureWriters.h"

#include <stdio.h>  // jpeglib.h uses FILE without including it
#include <jpeglib.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb_image_write.h>

namespace kvtest {

namespace {

std::vector<unsigned char> Rgba(int width, int height, const RgbaFunction& pixel) {
  std::vector<unsigned char> rgba;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t c = pixel(x, y);
      rgba.insert(rgba.end(), {static_cast<unsigned char>(c >> 16), static_cast<unsigned char>(c >> 8),
                               static_cast<unsigned char>(c), static_cast<unsigned char>(c >> 24)});
    }
  }
  return rgba;
}

void Append(void* context, void* data, int size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

// One pixel as `kind` stores it: grey, RGB, or CMYK (inverted for AdobeCmyk: 255 means no ink).
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

std::string MakePng(int width, int height, const RgbaFunction& pixel) {
  std::string out;
  auto rgba = Rgba(width, height, pixel);
  if (!stbi_write_png_to_func(Append, &out, width, height, 4, rgba.data(), width * 4)) throw std::runtime_error("png");
  return out;
}

std::string MakeJpeg(int width, int height, const RgbaFunction& pixel, int quality) {
  std::string out;
  auto rgba = Rgba(width, height, pixel);
  if (!stbi_write_jpg_to_func(Append, &out, width, height, 4, rgba.data(), quality)) throw std::runtime_error("jpeg");
  return out;
}

std::string MakeWebp(int width, int height, const RgbaFunction& pixel) {
  auto rgba = Rgba(width, height, pixel);
  std::uint8_t* encoded = nullptr;
  std::size_t size = WebPEncodeLosslessRGBA(rgba.data(), width, height, width * 4, &encoded);
  if (size == 0) throw std::runtime_error("webp");
  std::string out(reinterpret_cast<const char*>(encoded), size);
  WebPFree(encoded);
  return out;
}

std::string MakeGif(int width, int height, const std::vector<std::uint32_t>& colours,
                    const std::function<int(int x, int y)>& index, int transparent) {
  auto u16 = [](int v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; };
  int bits = 2;  // the smallest code size a GIF may state
  while ((std::size_t{1} << bits) < colours.size()) ++bits;
  std::string out = "GIF89a" + u16(width) + u16(height) + static_cast<char>(0x80 | (bits - 1)) + std::string(2, '\0');
  for (std::size_t i = 0; i < (std::size_t{1} << bits); ++i) {
    std::uint32_t c = i < colours.size() ? colours[i] : 0;
    out += {static_cast<char>(c >> 16), static_cast<char>(c >> 8), static_cast<char>(c)};
  }
  if (transparent >= 0) out += std::string("\x21\xF9\x04\x01\x00\x00", 6) + static_cast<char>(transparent) + '\0';
  out += '\x2C' + u16(0) + u16(0) + u16(width) + u16(height) + '\0' + static_cast<char>(bits);
  // LZW as a photo saver writes it: codes widen as the table grows, and a full table of 4096 is cleared.
  const int clear = 1 << bits, first = clear + 2;
  std::vector<std::int16_t> table(std::size_t{4096} << bits, -1);  // (prefix, index) -> code
  std::string data;
  std::uint32_t pending = 0;
  int count = 0, codeWidth = bits + 1, next = first, prefix = -1;
  auto put = [&](int code) {
    pending |= static_cast<std::uint32_t>(code) << count;
    count += codeWidth;
    while (count >= 8) data += static_cast<char>(pending & 0xFF), pending >>= 8, count -= 8;
  };
  put(clear);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int k = index(x, y);
      std::int16_t* entry =
          prefix < 0 ? nullptr : &table[(static_cast<std::size_t>(prefix) << bits) + static_cast<std::size_t>(k)];
      if (!entry || *entry >= 0) {
        prefix = entry ? *entry : k;
        continue;
      }
      put(prefix);
      *entry = static_cast<std::int16_t>(next++);
      // The decoder adds its entry one code later, so it widens its codes one entry past the width's reach.
      if (next == (1 << codeWidth) + 1 && codeWidth < 12) ++codeWidth;
      if (next == 4096) put(clear), std::fill(table.begin(), table.end(), -1), codeWidth = bits + 1, next = first;
      prefix = k;
    }
  }
  put(prefix);
  put(clear + 1);
  if (count > 0) data += static_cast<char>(pending & 0xFF);
  for (std::size_t at = 0; at < data.size(); at += 255) {
    std::string block = data.substr(at, 255);
    out += static_cast<char>(block.size()) + block;
  }
  return out + std::string("\x00\x3B", 2);
}

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

std::string WithExifOrientation(const std::string& jpeg, int orientation, bool bigEndian) {
  auto u16 = [&](int v) {
    char hi = static_cast<char>((v >> 8) & 0xFF), lo = static_cast<char>(v & 0xFF);
    return bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  };
  auto u32 = [&](int v) { return bigEndian ? u16(v >> 16) + u16(v & 0xFFFF) : u16(v & 0xFFFF) + u16(v >> 16); };
  std::string tiff = (bigEndian ? std::string("MM") : std::string("II")) + u16(42) + u32(8) + u16(2) +
                     // An unrelated entry first (image width), then the orientation.
                     u16(0x0100) + u16(3) + u32(1) + u16(640) + u16(0) +
                     u16(0x0112) + u16(3) + u32(1) + u16(orientation) + u16(0) + u32(0);
  std::string payload = std::string("Exif\0\0", 6) + tiff;
  int length = static_cast<int>(payload.size()) + 2;
  std::string segment = std::string("\xFF\xE1", 2) + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF);
  return jpeg.substr(0, 2) + segment + payload + jpeg.substr(2);
}

}  // namespace kvtest
