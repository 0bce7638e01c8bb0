#include "PictureFiles.h"

#include <map>
#include <stdexcept>
#include <vector>

#include "TempHome.h"

namespace kvtest {
namespace {

void Put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t Get32(const std::string& in, size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in.at(at + static_cast<size_t>(i)));
  return v;
}
std::uint32_t Get16(const std::string& in, size_t at) {
  return static_cast<unsigned char>(in.at(at)) | (static_cast<std::uint32_t>(static_cast<unsigned char>(in.at(at + 1))) << 8);
}

}  // namespace

std::string MakeBmp(int width, int height, int bits, const PixelFunction& pixel, bool topDown) {
  std::vector<std::uint32_t> palette;
  std::map<std::uint32_t, std::uint32_t> index;
  if (bits <= 8) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        std::uint32_t colour = pixel(x, y);
        if (!index.contains(colour)) {
          index[colour] = static_cast<std::uint32_t>(palette.size());
          palette.push_back(colour);
        }
      }
    }
    if (palette.size() > (1u << bits)) throw std::runtime_error("too many colours for the palette");
  }
  size_t stride = (static_cast<size_t>(width) * static_cast<size_t>(bits) + 31) / 32 * 4;
  std::string pixels;
  for (int row = 0; row < height; ++row) {
    int y = topDown ? row : height - 1 - row;
    std::string line(stride, '\0');
    for (int x = 0; x < width; ++x) {
      std::uint32_t colour = pixel(x, y);
      if (bits == 24 || bits == 32) {
        size_t at = static_cast<size_t>(x) * static_cast<size_t>(bits / 8);
        line[at] = static_cast<char>(colour & 0xFF);
        line[at + 1] = static_cast<char>((colour >> 8) & 0xFF);
        line[at + 2] = static_cast<char>((colour >> 16) & 0xFF);
        if (bits == 32) line[at + 3] = static_cast<char>(0xFF);
      } else {
        std::uint32_t value = index[colour];
        size_t bit = static_cast<size_t>(x) * static_cast<size_t>(bits);
        line[bit / 8] = static_cast<char>(static_cast<unsigned char>(line[bit / 8]) |
                                          (value << (8 - bits - static_cast<int>(bit % 8))));
      }
    }
    pixels += line;
  }
  std::uint32_t offset = 14 + 40 + 4 * static_cast<std::uint32_t>(palette.size());
  std::string file = "BM";
  Put32(file, offset + static_cast<std::uint32_t>(pixels.size()));
  Put32(file, 0);
  Put32(file, offset);
  Put32(file, 40);
  Put32(file, static_cast<std::uint32_t>(width));
  Put32(file, static_cast<std::uint32_t>(topDown ? -height : height));
  Put16(file, 1);
  Put16(file, static_cast<std::uint32_t>(bits));
  Put32(file, 0);
  Put32(file, static_cast<std::uint32_t>(pixels.size()));
  Put32(file, 2835);
  Put32(file, 2835);
  Put32(file, static_cast<std::uint32_t>(palette.size()));
  Put32(file, 0);
  for (std::uint32_t colour : palette) Put32(file, colour & 0xFFFFFF);
  return file + pixels;
}

std::string MakeRleBmp(int width, int height, int bits, const std::vector<std::uint32_t>& colours,
                       const std::string& data) {
  std::uint32_t offset = 14 + 40 + 4 * static_cast<std::uint32_t>(colours.size());
  std::string file = "BM";
  Put32(file, offset + static_cast<std::uint32_t>(data.size()));
  Put32(file, 0);
  Put32(file, offset);
  Put32(file, 40);
  Put32(file, static_cast<std::uint32_t>(width));
  Put32(file, static_cast<std::uint32_t>(height));
  Put16(file, 1);
  Put16(file, static_cast<std::uint32_t>(bits));
  Put32(file, bits == 8 ? 1 : 2);
  Put32(file, static_cast<std::uint32_t>(data.size()));
  Put32(file, 2835);
  Put32(file, 2835);
  Put32(file, static_cast<std::uint32_t>(colours.size()));
  Put32(file, 0);
  for (std::uint32_t colour : colours) Put32(file, colour & 0xFFFFFF);
  return file + data;
}

Image ReadBmp24(const std::filesystem::path& path) {
  std::string bytes = ReadFile(path);
  auto expect = [&](bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(path.string() + ": " + what);
  };
  expect(bytes.size() >= 54 && bytes[0] == 'B' && bytes[1] == 'M', "not a bitmap file");
  int width = static_cast<int>(Get32(bytes, 18));
  int height = static_cast<int>(Get32(bytes, 22));
  expect(width > 0 && height > 0, "not a positive (bottom-up) size");
  size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  expect(Get32(bytes, 10) == 54, "pixels do not follow the 54 header bytes");
  expect(Get32(bytes, 14) == 40, "not a 40-byte information header");
  expect(Get16(bytes, 26) == 1 && Get16(bytes, 28) == 24, "not one plane of 24 bits");
  expect(Get32(bytes, 30) == 0, "compressed");
  expect(Get32(bytes, 2) == bytes.size(), "the file size field is wrong");
  expect(bytes.size() == 54 + stride * static_cast<size_t>(height), "the file is not headers plus rows");
  Image image;
  image.width = width;
  image.height = height;
  image.rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int y = 0; y < height; ++y) {
    const char* row = bytes.data() + 54 + stride * static_cast<size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      size_t out = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
      image.rgb[out] = static_cast<std::uint8_t>(row[x * 3 + 2]);
      image.rgb[out + 1] = static_cast<std::uint8_t>(row[x * 3 + 1]);
      image.rgb[out + 2] = static_cast<std::uint8_t>(row[x * 3]);
    }
  }
  return image;
}

}  // namespace kvtest
