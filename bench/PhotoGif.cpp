// GIFs of 256 colours with real LZW compression, as a photo saved as GIF
// is: what the benchmarks decode. (The tests' MakeGif writes a few colours
// and codes that never grow, which suits exact tests but not a measurement.)

#include "PhotoGif.h"

#include <cstdint>
#include <vector>

namespace kvtest {

namespace {

// A fixed palette of 3 bits of red and green and 2 of blue.
int PaletteIndex(std::uint32_t c) {
  return static_cast<int>((((c >> 16) & 0xE0)) | (((c >> 8) & 0xE0) >> 3) | ((c & 0xC0) >> 6));
}

class CodeWriter {
 public:
  void Put(int code, int width) {
    bits_ |= static_cast<std::uint32_t>(code) << count_;
    count_ += width;
    while (count_ >= 8) data_ += static_cast<char>(bits_ & 0xFF), bits_ >>= 8, count_ -= 8;
  }
  std::string Finish() {
    if (count_ > 0) data_ += static_cast<char>(bits_ & 0xFF);
    std::string out;
    for (std::size_t at = 0; at < data_.size(); at += 255) {
      std::string block = data_.substr(at, 255);
      out += static_cast<char>(block.size()) + block;
    }
    return out + '\0';
  }

 private:
  std::string data_;
  std::uint32_t bits_ = 0;
  int count_ = 0;
};

}  // namespace

std::string MakePhotoGif(int width, int height, const RgbaFunction& pixel) {
  auto u16 = [](int v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; };
  std::string out = "GIF89a" + u16(width) + u16(height) + std::string("\xF7\x00\x00", 3);  // 256-entry table
  for (int i = 0; i < 256; ++i) {
    out += {static_cast<char>(((i >> 5) & 7) * 255 / 7), static_cast<char>(((i >> 2) & 7) * 255 / 7),
            static_cast<char>((i & 3) * 255 / 3)};
  }
  out += '\x2C' + u16(0) + u16(0) + u16(width) + u16(height) + '\0' + '\x08';

  constexpr int kClear = 256, kEnd = 257, kFirst = 258, kMaxCodes = 4096;
  std::vector<std::int16_t> table(std::size_t{kMaxCodes} * 256, -1);  // (prefix, byte) -> code
  CodeWriter writer;
  int codeWidth = 9, next = kFirst, prefix = -1;
  writer.Put(kClear, codeWidth);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int k = PaletteIndex(pixel(x, y));
      if (prefix < 0) {
        prefix = k;
        continue;
      }
      std::int16_t& entry = table[static_cast<std::size_t>(prefix) * 256 + static_cast<std::size_t>(k)];
      if (entry >= 0) {
        prefix = entry;
        continue;
      }
      writer.Put(prefix, codeWidth);
      entry = static_cast<std::int16_t>(next++);
      // The decoder adds its entry one code later, so it widens its codes
      // when this side's table has grown one past the width's reach.
      if (next == (1 << codeWidth) + 1 && codeWidth < 12) ++codeWidth;
      if (next == kMaxCodes) {
        writer.Put(kClear, codeWidth);
        std::fill(table.begin(), table.end(), -1);
        codeWidth = 9, next = kFirst;
      }
      prefix = k;
    }
  }
  writer.Put(prefix, codeWidth);
  writer.Put(kEnd, codeWidth);
  return out + writer.Finish() + '\x3B';
}

}  // namespace kvtest
