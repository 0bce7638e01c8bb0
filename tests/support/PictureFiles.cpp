#include "PictureFiles.h"

#include <map>
#include <stdexcept>
#include <vector>

#include "TempHome.h"

namespace kvtest {
namespace {

void Put(std::string& out, std::uint32_t v, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t Get(const std::string& in, size_t at, int bytes = 4) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in.at(at + static_cast<size_t>(i)));
  return v;
}

// The file and information headers and the palette, before `pixels` bytes.
std::string Headers(int width, int height, int bits, std::uint32_t compression, const std::vector<std::uint32_t>& palette,
                    size_t pixels) {
  const std::uint32_t offset = 14 + 40 + 4 * static_cast<std::uint32_t>(palette.size());
  std::string file = "BM";
  for (std::uint32_t v : {offset + static_cast<std::uint32_t>(pixels), 0u, offset, 40u, static_cast<std::uint32_t>(width),
                          static_cast<std::uint32_t>(height)}) Put(file, v);
  Put(file, 1, 2);
  Put(file, static_cast<std::uint32_t>(bits), 2);
  for (std::uint32_t v : {compression, static_cast<std::uint32_t>(pixels), 2835u, 2835u,
                          static_cast<std::uint32_t>(palette.size()), 0u}) Put(file, v);
  for (std::uint32_t colour : palette) Put(file, colour & 0xFFFFFF);
  return file;
}

}  // namespace

std::string MakeBmp(int width, int height, int bits, const PixelFunction& pixel, bool topDown) {
  std::vector<std::uint32_t> palette;
  std::map<std::uint32_t, std::uint32_t> index;
  for (int y = 0; bits <= 8 && y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t colour = pixel(x, y);
      if (index.try_emplace(colour, static_cast<std::uint32_t>(palette.size())).second) palette.push_back(colour);
    }
  }
  if (bits <= 8 && palette.size() > (1u << bits)) throw std::runtime_error("too many colours for the palette");
  const size_t stride = (static_cast<size_t>(width) * static_cast<size_t>(bits) + 31) / 32 * 4;
  std::string pixels;
  for (int row = 0; row < height; ++row) {
    const int y = topDown ? row : height - 1 - row;
    std::string line(stride, '\0');
    for (int x = 0; x < width; ++x) {
      const std::uint32_t colour = pixel(x, y);
      if (bits >= 24) {
        std::string bgra;
        Put(bgra, colour | 0xFF000000u);
        line.replace(static_cast<size_t>(x) * static_cast<size_t>(bits / 8), static_cast<size_t>(bits / 8), bgra, 0,
                     static_cast<size_t>(bits / 8));
      } else {
        const size_t bit = static_cast<size_t>(x) * static_cast<size_t>(bits);
        line[bit / 8] = static_cast<char>(static_cast<unsigned char>(line[bit / 8]) |
                                          (index[colour] << (8 - bits - static_cast<int>(bit % 8))));
      }
    }
    pixels += line;
  }
  return Headers(width, topDown ? -height : height, bits, 0, palette, pixels.size()) + pixels;
}

std::string MakeRleBmp(int width, int height, int bits, const std::vector<std::uint32_t>& colours,
                       const std::string& data) {
  return Headers(width, height, bits, bits == 8 ? 1 : 2, colours, data.size()) + data;
}

Image ReadBmp24(const std::filesystem::path& path) {
  std::string bytes = ReadFile(path);
  auto expect = [&](bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(path.string() + ": " + what);
  };
  expect(bytes.size() >= 54 && bytes[0] == 'B' && bytes[1] == 'M', "not a bitmap file");
  const int width = static_cast<int>(Get(bytes, 18)), height = static_cast<int>(Get(bytes, 22));
  expect(width > 0 && height > 0, "not a positive (bottom-up) size");
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  expect(Get(bytes, 10) == 54, "pixels do not follow the 54 header bytes");
  expect(Get(bytes, 14) == 40, "not a 40-byte information header");
  expect(Get(bytes, 26, 2) == 1 && Get(bytes, 28, 2) == 24, "not one plane of 24 bits");
  expect(Get(bytes, 30) == 0, "compressed");
  expect(Get(bytes, 2) == bytes.size(), "the file size field is wrong");
  expect(bytes.size() == 54 + stride * static_cast<size_t>(height), "the file is not headers plus rows");
  Image image{width, height, {}};
  for (int y = 0; y < height; ++y) {
    const char* row = bytes.data() + 54 + stride * static_cast<size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      for (int c = 2; c >= 0; --c) image.rgb.push_back(static_cast<std::uint8_t>(row[x * 3 + c]));
    }
  }
  return image;
}

}  // namespace kvtest
