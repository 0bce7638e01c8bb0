// Background pictures and the painter: decoding every bitmap format a user
// may have, refusing damaged files before they cost memory, and the three
// modes checked pixel by pixel on small bitmaps.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>

#include "CWPBackground.h"
#include "PictureFiles.h"
#include "Process.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/image/Picture.h"

namespace {

namespace fs = std::filesystem;
using kv::platform::Bitmap;
using kv::platform::BmpDecoder;
using kv::platform::LoadBmpPicture;
using kv::render::CWPBackground;

constexpr std::int32_t kBlueRef = 0x00FF0000;  // 0x00BBGGRR
constexpr std::int32_t kBackRef = 0x00123456;

// 0xRRGGBB as the store's 0x00BBGGRR.
std::int32_t Ref(std::uint32_t rgb) {
  return static_cast<std::int32_t>(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

// A picture whose every pixel tells where it is; (0, 0) is marked white.
std::uint32_t Coordinates(int x, int y) {
  if (x == 0 && y == 0) return 0xFFFFFF;
  return (static_cast<std::uint32_t>(x & 0x7F) << 16) | (static_cast<std::uint32_t>(y & 0x7F) << 8) | 0x01;
}

class Background : public testing::Test {
 protected:
  void SetUp() override {
    kvtest::StoreSetting("Path", home_.DataFolder().string());
    kvtest::StoreSetting("FirstTime", "1");
  }
  fs::path Picture(const std::string& name) const { return home_.DataFolder() / "Backgrounds" / (name + ".bmp"); }
  void WritePicture(const std::string& name, const std::string& bytes) const { kvtest::WriteFile(Picture(name), bytes); }

  Bitmap Paint(int w, int h, const std::string& name, int mode, std::int32_t colour = kBackRef) {
    auto bitmap = Bitmap::Create(w, h);
    EXPECT_TRUE(bitmap);
    CWPBackground painter;
    auto init = painter.Init(&*bitmap, w, h, name, mode, colour);
    EXPECT_TRUE(init) << (init ? "" : init.error().message);
    auto painted = painter.PaintBackground();
    EXPECT_TRUE(painted) << (painted ? "" : painted.error().message);
    return std::move(*bitmap);
  }

  kvtest::TempHome home_;
};

TEST_F(Background, DecodesEveryUncompressedFormatTheRightWayUp) {
  auto quadrants = [](int x, int y) -> std::uint32_t {
    return x < 3 ? (y < 2 ? 0xFF0000u : 0x00FF00u) : (y < 2 ? 0x0000FFu : 0xFFFFFFu);
  };
  for (int bits : {1, 4, 8, 24, 32}) {
    for (bool topDown : {false, true}) {
      auto pattern = bits == 1 ? kvtest::PixelFunction([](int x, int y) { return (x + y) % 2 ? 0xFFFFFFu : 0u; })
                               : kvtest::PixelFunction(quadrants);
      WritePicture("p", kvtest::MakeBmp(7, 5, bits, pattern, topDown));
      for (BmpDecoder decoder : {BmpDecoder::Automatic, BmpDecoder::General}) {
        auto picture = LoadBmpPicture(Picture("p"), decoder);
        ASSERT_TRUE(picture) << bits << " bits: " << picture.error().message;
        ASSERT_EQ(picture->Width(), 7);
        ASSERT_EQ(picture->Height(), 5) << "a top-down picture's negative height is its size";
        for (int y = 0; y < 5; ++y) {
          for (int x = 0; x < 7; ++x) {
            ASSERT_EQ(picture->PixelAt(x, y), Ref(pattern(x, y)))
                << bits << " bits, top-down " << topDown << ", pixel " << x << "," << y;
          }
        }
      }
    }
  }
}

TEST_F(Background, DamagedPicturesAreRefusedWithTheirName) {
  std::string good = kvtest::MakeBmp(64, 64, 24, Coordinates);
  std::string huge = good;
  huge[18] = '\xA0', huge[19] = '\x86', huge[20] = '\x01', huge[21] = 0;  // 100000
  huge[22] = '\xA0', huge[23] = '\x86', huge[24] = '\x01', huge[25] = 0;
  std::string rleCut = kvtest::MakeRleBmp(4, 2, 8, {0xFFFFFF}, std::string("\x04\x00\x00\x00\x04\x00\x00\x01", 8));
  rleCut.resize(rleCut.size() - 2);  // the stated length of the pixels runs past the end
  std::string rleRunsOut = kvtest::MakeRleBmp(4, 2, 8, {0xFFFFFF}, std::string("\x04\x00\x00\x00\x04", 5));
  std::string rleWrongBits = kvtest::MakeRleBmp(4, 2, 4, {0xFFFFFF}, std::string("\x00\x01", 2));
  rleWrongBits[30] = 1;  // RLE8 at 4 bits per pixel
  std::string zeroWidth = good;
  zeroWidth[18] = zeroWidth[19] = zeroWidth[20] = zeroWidth[21] = 0;
  std::string negativeWidth = good;
  negativeWidth[21] = '\xFF';
  std::string oddHeader = good;
  oddHeader[14] = 20;
  std::string offsetInside = good;
  offsetInside[10] = 20;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"garbage", std::string(5000, '\x5A')},
      {"truncated", good.substr(0, good.size() / 2)},
      {"header only", good.substr(0, 54)},
      {"huge", huge},
      {"rle cut", rleCut},
      {"rle without its end", rleRunsOut},
      {"rle of the wrong depth", rleWrongBits},
      {"zero width", zeroWidth},
      {"negative width", negativeWidth},
      {"odd header", oddHeader},
      {"offset inside the header", offsetInside},
      {"short", "BM"},
  };
  for (const auto& [name, bytes] : cases) {
    WritePicture(name, bytes);
    auto picture = LoadBmpPicture(Picture(name));
    ASSERT_FALSE(picture) << name << " was accepted";
    EXPECT_NE(picture.error().message.find(Picture(name).string()), std::string::npos) << picture.error().message;
  }
  EXPECT_NE(LoadBmpPicture(Picture("truncated")).error().message.find("truncated"), std::string::npos);
  EXPECT_NE(LoadBmpPicture(Picture("huge")).error().message.find("100000 x 100000"), std::string::npos);
  EXPECT_FALSE(LoadBmpPicture(Picture("missing")));
  EXPECT_FALSE(LoadBmpPicture(home_.DataFolder())) << "a folder is no picture";

  // The header routine reads the stated size, negative for top-down.
  WritePicture("down", kvtest::MakeBmp(3, 2, 24, Coordinates, true));
  auto size = kv::render::ReadBitmapSize(Picture("down").string());
  ASSERT_TRUE(size);
  EXPECT_EQ(size->Width, 3);
  EXPECT_EQ(size->Height, -2);
  EXPECT_FALSE(kv::render::ReadBitmapSize(Picture("short").string()));
  EXPECT_FALSE(kv::render::ReadBitmapSize(Picture("missing").string()));
}

TEST_F(Background, RunLengthPicturesDecodeExactly) {
  const std::uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF, black = 0;
  auto expectPixels = [&](const std::string& name, const std::vector<std::vector<std::uint32_t>>& rows) {
    auto picture = LoadBmpPicture(Picture(name));
    ASSERT_TRUE(picture) << name << ": " << picture.error().message;
    ASSERT_EQ(picture->Height(), static_cast<int>(rows.size()));
    ASSERT_EQ(picture->Width(), static_cast<int>(rows[0].size()));
    for (int y = 0; y < picture->Height(); ++y) {
      for (int x = 0; x < picture->Width(); ++x) {
        EXPECT_EQ(picture->PixelAt(x, y), Ref(rows[y][x])) << name << " at " << x << "," << y;
      }
    }
  };
  // RLE8, bottom row first: a run, an odd absolute run and its pad byte, a
  // move over a row and two pixels, a run, and the end mark mid-row. What
  // the data skips is black, not palette entry 0 (red).
  WritePicture("rle8", kvtest::MakeRleBmp(6, 4, 8, {red, green, blue, white},
                                          std::string("\x03\x01\x00\x03\x02\x03\x02\x00\x00\x00"
                                                      "\x00\x02\x02\x01\x04\x03\x00\x00\x02\x02\x00\x01",
                                                      22)));
  expectPixels("rle8", {{blue, blue, black, black, black, black},
                        {black, black, white, white, white, white},
                        {black, black, black, black, black, black},
                        {green, green, green, blue, white, blue}});
  // RLE4: a run alternates its two indexes; an absolute run of five packs
  // them two to a byte and is padded to an even byte count.
  WritePicture("rle4", kvtest::MakeRleBmp(5, 2, 4, {red, green, blue},
                                          std::string("\x05\x12\x00\x00\x00\x05\x20\x10\x01\x00\x00\x01", 12)));
  expectPixels("rle4", {{blue, red, green, red, red}, {green, blue, green, blue, green}});

  // A wide picture, compressed as an encoder does (runs of up to 255, and
  // absolute runs between them), decodes like the same picture uncompressed.
  auto colour = [](int x, int y) -> std::uint32_t {
    int band = x < 270 ? (x / 90 + y) % 4 : (x * 7 + y) % 8;  // long runs, then no runs at all
    return 0x203040u * static_cast<std::uint32_t>(band + 1);
  };
  WritePicture("plain", kvtest::MakeBmp(300, 9, 8, colour));
  auto plain = LoadBmpPicture(Picture("plain"));
  ASSERT_TRUE(plain);
  std::vector<std::uint32_t> palette;
  std::string data;
  for (int y = 8; y >= 0; --y) {
    std::vector<unsigned char> row;
    for (int x = 0; x < 300; ++x) {
      std::uint32_t c = colour(x, y);
      auto at = std::find(palette.begin(), palette.end(), c);
      if (at == palette.end()) at = palette.insert(palette.end(), c);
      row.push_back(static_cast<unsigned char>(at - palette.begin()));
    }
    for (size_t x = 0; x < row.size();) {
      size_t run = 1;
      while (x + run < row.size() && run < 255 && row[x + run] == row[x]) ++run;
      if (run >= 2 || row.size() - x < 3) {
        data += static_cast<char>(run), data += static_cast<char>(row[x]);
        x += run;
        continue;
      }
      size_t literal = 3;
      while (x + literal < row.size() && literal < 255 && row[x + literal] != row[x + literal - 1]) ++literal;
      data += '\0', data += static_cast<char>(literal);
      data.append(row.begin() + static_cast<long>(x), row.begin() + static_cast<long>(x + literal));
      if (literal % 2) data += '\0';
      x += literal;
    }
    data += y == 0 ? std::string("\0\x01", 2) : std::string("\0\0", 2);
  }
  WritePicture("encoded", kvtest::MakeRleBmp(300, 9, 8, palette, data));
  auto encoded = LoadBmpPicture(Picture("encoded"));
  ASSERT_TRUE(encoded) << encoded.error().message;
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 300; ++x) ASSERT_EQ(encoded->PixelAt(x, y), plain->PixelAt(x, y)) << x << "," << y;
  }
  // The painter draws it like any other picture.
  EXPECT_EQ(Paint(6, 4, "rle8", 1).PixelAt(5, 0), Ref(black));
  EXPECT_EQ(Paint(6, 4, "rle8", 1).PixelAt(4, 3), Ref(white));
}

TEST_F(Background, ANameFindsItsPictureWhateverTheCaseOfItsExtension) {
  auto plain = [](std::uint32_t rgb) { return [rgb](int, int) { return rgb; }; };
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "CAMERA.BMP", kvtest::MakeBmp(2, 2, 24, plain(0xFF0000)));
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Field.Bmp", kvtest::MakeBmp(2, 2, 24, plain(0x00FF00)));
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Two.BMP", kvtest::MakeBmp(2, 2, 24, plain(0x0000FF)));
  kvtest::WriteFile(home_.DataFolder() / "Backgrounds" / "Two.bmp", kvtest::MakeBmp(2, 2, 24, plain(0xFFFFFF)));
  EXPECT_EQ(Paint(4, 4, "CAMERA", 1).PixelAt(3, 3), Ref(0xFF0000));
  EXPECT_EQ(Paint(4, 4, "Field", 1).PixelAt(3, 3), Ref(0x00FF00));
  EXPECT_EQ(Paint(4, 4, "Two", 1).PixelAt(3, 3), Ref(0xFFFFFF)) << "the name as written comes first";
  testing::internal::CaptureStderr();
  EXPECT_EQ(Paint(4, 4, "camera", 1).PixelAt(3, 3), 0) << "the name itself keeps its letter case";
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("camera.bmp"), std::string::npos) << "a missing picture is named as looked for: " << err;
}

TEST_F(Background, SpecialFilesAreRefusedWithoutWaitingAndLinksAreFollowed) {
  const fs::path folder = home_.DataFolder() / "Backgrounds";
  ASSERT_EQ(::mkfifo((folder / "fifo.bmp").c_str(), 0600), 0);
  fs::create_directories(folder / "folder.bmp");
  fs::create_symlink("/dev/zero", folder / "zero.bmp");
  fs::create_symlink(folder / "fifo.bmp", folder / "to fifo.bmp");
  kvtest::WriteFile(home_.Root() / "elsewhere" / "linked.bmp", kvtest::MakeBmp(2, 2, 24, [](int, int) { return 0xFFu; }));
  fs::create_symlink(home_.Root() / "elsewhere" / "linked.bmp", folder / "Linked.bmp");

  for (const char* name : {"fifo", "to fifo", "folder", "zero"}) {
    auto load = std::async(std::launch::async, [&] {
      return std::make_pair(LoadBmpPicture(Picture(name)), kv::render::ReadBitmapSize(Picture(name).string()));
    });
    ASSERT_TRUE(kvtest::ReadyOrReleased(load, folder / "fifo.bmp", std::chrono::seconds(60)))
        << name << ": the picture reader waits on a special file";
    auto [picture, size] = load.get();
    ASSERT_FALSE(picture) << name;
    EXPECT_NE(picture.error().message.find(Picture(name).string()), std::string::npos) << picture.error().message;
    EXPECT_FALSE(size) << name << ": the header read refuses it too";
    testing::internal::CaptureStderr();
    EXPECT_EQ(Paint(4, 4, name, 2).PixelAt(3, 3), kBackRef) << name;
    EXPECT_NE(testing::internal::GetCapturedStderr().find(name), std::string::npos) << "one line names " << name;
  }
  // A picture linked in from elsewhere is drawn: the link is the user's own.
  EXPECT_EQ(Paint(4, 4, "Linked", 1).PixelAt(3, 3), Ref(0xFF));
}

TEST_F(Background, NoPictureMeansTheColourEverywhere) {
  for (const std::string& name : {std::string(), std::string("   ")}) {
    Bitmap bitmap = Paint(31, 17, name, 1, kBlueRef);
    for (int y = 0; y < 17; ++y) {
      for (int x = 0; x < 31; ++x) ASSERT_EQ(bitmap.PixelAt(x, y), kBlueRef) << "\"" << name << "\" at " << x << "," << y;
    }
  }
  // Even a one-pixel bitmap gets its colour.
  EXPECT_EQ(Paint(1, 1, "", 0, kBlueRef).PixelAt(0, 0), kBlueRef);
}

TEST_F(Background, CentreRoundsHalvesToEvenOnTheColour) {
  WritePicture("square", kvtest::MakeBmp(100, 100, 24, Coordinates));
  Bitmap bitmap = Paint(1024, 738, "square", 2);
  EXPECT_EQ(bitmap.PixelAt(462, 319), Ref(0xFFFFFF)) << "the picture's corner at (462, 319)";
  EXPECT_EQ(bitmap.PixelAt(561, 418), Ref(Coordinates(99, 99)));
  for (auto [x, y] : std::vector<std::pair<int, int>>{{461, 319}, {462, 318}, {562, 418}, {561, 419}, {0, 0}, {1023, 737}}) {
    EXPECT_EQ(bitmap.PixelAt(x, y), kBackRef) << "colour around the picture at " << x << "," << y;
  }
  // 461.5 rounds to 462, the even neighbour.
  WritePicture("wide", kvtest::MakeBmp(101, 100, 24, Coordinates));
  Bitmap odd = Paint(1024, 738, "wide", 2);
  EXPECT_EQ(odd.PixelAt(462, 319), Ref(0xFFFFFF));
  EXPECT_EQ(odd.PixelAt(461, 319), kBackRef);
  // A picture larger than the bitmap shows its middle.
  Bitmap small = Paint(10, 10, "square", 2);
  EXPECT_EQ(small.PixelAt(0, 0), Ref(Coordinates(45, 45)));
}

TEST_F(Background, TileRepeatsFromTheTopLeftWithoutTheColour) {
  WritePicture("square", kvtest::MakeBmp(100, 100, 24, Coordinates));
  Bitmap bitmap = Paint(1024, 738, "square", 0);
  int corners = 0;
  for (int y = 0; y < 738; ++y) {
    for (int x = 0; x < 1024; ++x) {
      std::int32_t pixel = bitmap.PixelAt(x, y);
      ASSERT_EQ(pixel, Ref(Coordinates(x % 100, y % 100))) << x << "," << y;
      corners += pixel == Ref(0xFFFFFF);
    }
  }
  EXPECT_EQ(corners, 11 * 8) << "88 copies, the last at (1000, 700)";
  // A top-down 8-bit picture tiles the right way up too.
  WritePicture("stripes", kvtest::MakeBmp(3, 2, 8, [](int x, int y) { return y == 0 ? 0xFF0000u : x == 0 ? 0xFFu : 0u; }, true));
  Bitmap stripes = Paint(7, 5, "stripes", 0);
  EXPECT_EQ(stripes.PixelAt(6, 4), Ref(0xFF0000));
  EXPECT_EQ(stripes.PixelAt(3, 1), Ref(0xFF));
}

TEST_F(Background, StretchCoversTheBitmapExactly) {
  WritePicture("four", kvtest::MakeBmp(2, 2, 24, [](int x, int y) {
                 return x == 0 ? (y == 0 ? 0xFF0000u : 0x00FF00u) : (y == 0 ? 0x0000FFu : 0xFFFF00u);
               }));
  Bitmap bitmap = Paint(10, 6, "four", 1);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 10; ++x) {
      std::uint32_t expected = x < 5 ? (y < 3 ? 0xFF0000u : 0x00FF00u) : (y < 3 ? 0x0000FFu : 0xFFFF00u);
      ASSERT_EQ(bitmap.PixelAt(x, y), Ref(expected)) << x << "," << y;
    }
  }
  // Shrinking samples the source pixel under each target pixel's centre.
  WritePicture("ramp", kvtest::MakeBmp(100, 1, 32, [](int x, int) { return static_cast<std::uint32_t>(x); }));
  Bitmap shrunk = Paint(10, 3, "ramp", 1);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(shrunk.PixelAt(x, 2), Ref(static_cast<std::uint32_t>(10 * x + 5)));
}

TEST_F(Background, UnusableNamesAndFilesDrawNoPicture) {
  WritePicture("trail ", kvtest::MakeBmp(4, 4, 24, [](int, int) { return 0xFF00FFu; }));
  EXPECT_EQ(Paint(8, 8, "trail ", 1).PixelAt(7, 7), Ref(0xFF00FF)) << "a trailing space is part of the file name";
  EXPECT_EQ(Paint(8, 8, "trail", 1).PixelAt(7, 7), 0) << "the name is not trimmed";

  // A name that would lead out of the folder must not open the file there.
  kvtest::WriteFile(home_.DataFolder() / "outside.bmp", kvtest::MakeBmp(4, 4, 24, [](int, int) { return 0xFFFFFFu; }));
  for (const std::string& name : {std::string("../outside"), std::string("../../etc/passwd"), std::string("a/b")}) {
    testing::internal::CaptureStderr();
    Bitmap stretched = Paint(8, 8, name, 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(stretched.PixelAt(3, 3), 0) << name;
    EXPECT_NE(err.find(name), std::string::npos) << "the refusal names the name: " << err;
    EXPECT_EQ(Paint(8, 8, name, 2).PixelAt(3, 3), kBackRef) << "centre mode keeps its colour";
  }

  // A missing or damaged picture: black in stretch mode, the colour in
  // centre mode, and one line on stderr naming the file.
  WritePicture("damaged", "BM not really");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Paint(8, 8, "damaged", 1).PixelAt(4, 4), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(Picture("damaged").string()), std::string::npos) << err;
  EXPECT_EQ(Paint(8, 8, "nowhere", 2).PixelAt(4, 4), kBackRef);
  EXPECT_EQ(Paint(8, 8, "nowhere", 0).PixelAt(4, 4), 0) << "the tiling ends without a picture";
  // An unknown mode draws no picture and no colour.
  EXPECT_EQ(Paint(8, 8, "trail ", 7).PixelAt(4, 4), 0);
}

}  // namespace
