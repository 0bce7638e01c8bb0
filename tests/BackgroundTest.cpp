// Bitmap pictures and the background painter: every bitmap format decoded, damaged and special files refused before
// they cost memory or time, and the three modes checked pixel by pixel on small bitmaps.

#include <sys/stat.h>

#include "BackgroundPaint.h"
#include "Process.h"

namespace {

namespace fs = std::filesystem;
using kv::platform::Bitmap;
using kv::platform::BmpDecoder;
using kv::platform::LoadBmpPicture;
using kvtest::kBackRef;
using kvtest::Ref;

std::uint32_t Coordinates(int x, int y) {  // a picture whose every pixel tells where it is; (0, 0) is marked white
  if (x == 0 && y == 0) return 0xFFFFFF;
  return (static_cast<std::uint32_t>(x & 0x7F) << 16) | (static_cast<std::uint32_t>(y & 0x7F) << 8) | 0x01;
}

class Background : public kvtest::PaintTest {
 protected:
  fs::path Picture(const std::string& name) const { return Folder() / (name + ".bmp"); }
  void WritePicture(const std::string& name, const std::string& bytes) const { Write(name + ".bmp", bytes); }
  void ExpectPixels(const std::string& name, const std::vector<std::vector<std::uint32_t>>& rows,
                    BmpDecoder decoder = BmpDecoder::Automatic) {
    auto picture = LoadBmpPicture(Picture(name), decoder);
    ASSERT_TRUE(picture) << name << ": " << picture.error().message;
    const std::pair size(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    ASSERT_EQ(std::pair(picture->Width(), picture->Height()), size) << name << ": a top-down height is its size";
    for (int y = 0; y < picture->Height(); ++y) {
      for (int x = 0; x < picture->Width(); ++x) ASSERT_EQ(picture->PixelAt(x, y), Ref(rows[y][x])) << name << " at " << x << "," << y;
    }
  }
};

TEST_F(Background, DecodesEveryUncompressedFormatTheRightWayUpInItsColours) {
  auto quadrants = [](int x, int y) { return x < 3 ? (y < 2 ? 0xFF0000u : 0x00FF00u) : (y < 2 ? 0x0000FFu : 0xFFFFFFu); };
  auto checks = [](int x, int y) { return (x + y) % 2 ? 0xFFFFFFu : 0u; };
  for (int bits : {1, 4, 8, 24, 32}) {
    for (bool topDown : {false, true}) {
      auto pattern = bits == 1 ? kvtest::PixelFunction(checks) : kvtest::PixelFunction(quadrants);
      const std::string name = std::to_string(bits) + (topDown ? " top-down" : "");
      WritePicture(name, kvtest::MakeBmp(7, 5, bits, pattern, topDown));
      auto size = kv::render::ReadBitmapSize(Picture(name).string());
      EXPECT_TRUE(size && size->Width == 7 && size->Height == (topDown ? -5 : 5)) << name << ": the header read states";
      std::vector<std::vector<std::uint32_t>> rows(5);
      for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) rows[static_cast<size_t>(y)].push_back(pattern(x, y));
      }
      for (BmpDecoder decoder : {BmpDecoder::Automatic, BmpDecoder::General}) ExpectPixels(name, rows, decoder);
    }
  }
  // A 24-bit picture's file holds blue, green, red: written here byte by byte.
  std::string bgr = kvtest::MakeBmp(2, 1, 24, checks);
  WritePicture("bgr", bgr.replace(54, 6, "\x11\x22\x33\x44\x55\x66"));
  for (BmpDecoder decoder : {BmpDecoder::Automatic, BmpDecoder::General}) ExpectPixels("bgr", {{0x332211, 0x665544}}, decoder);
  EXPECT_EQ(Paint(2, 1, "bgr", 1).PixelAt(1, 0), Ref(0x665544)) << "and painted so";
}

TEST_F(Background, RunLengthPicturesDecodeExactly) {
  const std::uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF, black = 0;
  // RLE8, bottom row first: a run, an odd absolute run and its pad byte, a move over a row and two pixels, a run, and
  // the end mark mid-row. What the data skips is black, not palette entry 0 (red).
  WritePicture("rle8", kvtest::MakeRleBmp(6, 4, 8, {red, green, blue, white},
                                          std::string("\x03\x01\x00\x03\x02\x03\x02\x00\x00\x00"
                                                      "\x00\x02\x02\x01\x04\x03\x00\x00\x02\x02\x00\x01", 22)));
  ExpectPixels("rle8", {{blue, blue, black, black, black, black}, {black, black, white, white, white, white},
                        {black, black, black, black, black, black}, {green, green, green, blue, white, blue}});
  // RLE4: a run alternates its two indexes; an absolute run of five packs two a byte, padded to an even byte count.
  WritePicture("rle4", kvtest::MakeRleBmp(5, 2, 4, {red, green, blue},
                                          std::string("\x05\x12\x00\x00\x00\x05\x20\x10\x01\x00\x00\x01", 12)));
  ExpectPixels("rle4", {{blue, red, green, red, red}, {green, blue, green, blue, green}});
  EXPECT_EQ(Paint(6, 4, "rle8", 1).PixelAt(4, 3), Ref(white)) << "the painter draws it like any other picture";
}

TEST_F(Background, NamesFindTheirPictureWhateverTheExtensionsCaseButNoFileOutsideTheFolder) {
  auto plain = [](std::uint32_t rgb) { return kvtest::MakeBmp(2, 2, 24, [rgb](int, int) { return rgb; }); };
  for (auto [file, rgb] : std::initializer_list<std::pair<const char*, std::uint32_t>>{
           {"CAMERA.BMP", 0xFF0000}, {"Field.Bmp", 0x00FF00}, {"Two.BMP", 0x0000FF}, {"Two.bmp", 0xFFFFFF},
           {"trail .bmp", 0xFF00FF}}) {
    Write(file, plain(rgb));
  }
  EXPECT_EQ(Paint(4, 4, "CAMERA", 1).PixelAt(3, 3), Ref(0xFF0000));
  EXPECT_EQ(Paint(4, 4, "Field", 1).PixelAt(3, 3), Ref(0x00FF00));
  EXPECT_EQ(Paint(4, 4, "Two", 1).PixelAt(3, 3), Ref(0xFFFFFF)) << "the name as written comes first";
  EXPECT_EQ(Paint(4, 4, "trail ", 1).PixelAt(3, 3), Ref(0xFF00FF)) << "a trailing space is part of the file name";
  std::string err = PaintQuietly(4, 4, "camera", 1, 0);
  EXPECT_NE(err.find("camera.bmp"), std::string::npos) << "the name keeps its case, and is named as looked for: " << err;
  EXPECT_EQ(Paint(4, 4, "trail", 1).PixelAt(3, 3), 0) << "the name is not trimmed";
  // A name leading out of the folder does not open the file there.
  kvtest::WriteFile(home_.DataFolder() / "outside.bmp", plain(0xFFFFFF));
  for (const std::string name : {"../outside", "../../etc/passwd", "a/b"}) {
    EXPECT_NE(PaintQuietly(8, 8, name, 1, 0).find(name), std::string::npos) << "the refusal names " << name;
    PaintQuietly(8, 8, name, 2, kBackRef);
  }
}

TEST_F(Background, SpecialShortAndMissingFilesAreRefusedWithoutWaitingAndLinksAreFollowed) {
  WritePicture("short", "BM");
  ASSERT_EQ(::mkfifo((Folder() / "fifo.bmp").c_str(), 0600), 0);
  fs::create_directories(Folder() / "folder.bmp");
  fs::create_symlink("/dev/zero", Folder() / "zero.bmp");
  fs::create_symlink(Folder() / "fifo.bmp", Folder() / "to fifo.bmp");
  kvtest::WriteFile(home_.Root() / "elsewhere" / "linked.bmp", kvtest::MakeBmp(2, 2, 24, [](int, int) { return 0xFFu; }));
  fs::create_symlink(home_.Root() / "elsewhere" / "linked.bmp", Folder() / "Linked.bmp");
  for (const char* name : {"fifo", "to fifo", "folder", "zero", "short", "missing"}) {
    auto load = std::async(std::launch::async, [&] {
      return std::make_pair(LoadBmpPicture(Picture(name)), kv::render::ReadBitmapSize(Picture(name).string()));
    });
    ASSERT_TRUE(kvtest::ReadyOrReleased(load, Folder() / "fifo.bmp", std::chrono::seconds(60)))
        << name << ": the picture reader waits on a special file";
    auto [picture, size] = load.get();
    ASSERT_FALSE(picture) << name;
    EXPECT_NE(picture.error().message.find(Picture(name).string()), std::string::npos) << picture.error().message;
    EXPECT_FALSE(size) << name << ": the header read refuses it too";
    EXPECT_NE(PaintQuietly(4, 4, name, 2, kBackRef).find(name), std::string::npos) << "one line names " << name;
  }
  EXPECT_EQ(Paint(4, 4, "Linked", 1).PixelAt(3, 3), Ref(0xFF)) << "a picture linked in from elsewhere is the user's own";
}

TEST_F(Background, WithoutAUsablePictureStretchIsBlackCentreTheColourAndTileNothing) {
  for (const std::string name : {"", "   "}) {
    Bitmap bitmap = Paint(31, 17, name, 1, 0xFF0000);
    for (int y = 0; y < 17; ++y) {
      for (int x = 0; x < 31; ++x) ASSERT_EQ(bitmap.PixelAt(x, y), 0xFF0000) << "no picture: the colour at " << x << "," << y;
    }
  }
  EXPECT_EQ(Paint(1, 1, "", 0, 0xFF0000).PixelAt(0, 0), 0xFF0000) << "even a one-pixel bitmap gets its colour";
  WritePicture("damaged", "BM not really");
  EXPECT_NE(PaintQuietly(8, 8, "damaged", 1, 0).find(Picture("damaged").string()), std::string::npos);
  PaintQuietly(8, 8, "nowhere", 2, kBackRef);
  PaintQuietly(8, 8, "nowhere", 0, 0);
  WritePicture("real", kvtest::MakeBmp(4, 4, 24, Coordinates));
  EXPECT_EQ(Paint(8, 8, "real", 7).PixelAt(4, 4), 0) << "an unknown mode draws no picture and no colour";
}

TEST_F(Background, CentreRoundsHalvesToEvenTileRepeatsFromTheTopLeftAndStretchCovers) {
  WritePicture("square", kvtest::MakeBmp(100, 100, 24, Coordinates));
  WritePicture("wide", kvtest::MakeBmp(101, 100, 24, Coordinates));
  Bitmap centred = Paint(1024, 738, "square", 2), odd = Paint(1024, 738, "wide", 2);
  EXPECT_EQ(centred.PixelAt(462, 319), Ref(0xFFFFFF)) << "the picture's corner at (462, 319)";
  EXPECT_EQ(centred.PixelAt(561, 418), Ref(Coordinates(99, 99)));
  for (auto [x, y] : std::vector<std::pair<int, int>>{{461, 319}, {462, 318}, {562, 418}, {561, 419}, {0, 0}, {1023, 737}}) {
    EXPECT_EQ(centred.PixelAt(x, y), kBackRef) << "colour around the picture at " << x << "," << y;
  }
  EXPECT_EQ(odd.PixelAt(462, 319), Ref(0xFFFFFF)) << "461.5 rounds to 462, the even neighbour";
  EXPECT_EQ(odd.PixelAt(461, 319), kBackRef);
  EXPECT_EQ(Paint(10, 10, "square", 2).PixelAt(0, 0), Ref(Coordinates(45, 45))) << "a larger picture shows its middle";
  Bitmap tiled = Paint(1024, 738, "square", 0);
  for (int y = 0; y < 738; ++y) {
    for (int x = 0; x < 1024; ++x) ASSERT_EQ(tiled.PixelAt(x, y), Ref(Coordinates(x % 100, y % 100))) << x << "," << y;
  }
  WritePicture("stripes", kvtest::MakeBmp(3, 2, 8, [](int x, int y) { return y == 0 ? 0xFF0000u : x == 0 ? 0xFFu : 0u; }, true));
  Bitmap stripes = Paint(7, 5, "stripes", 0);
  EXPECT_EQ(stripes.PixelAt(6, 4), Ref(0xFF0000)) << "a top-down 8-bit picture tiles the right way up";
  EXPECT_EQ(stripes.PixelAt(3, 1), Ref(0xFF));
  auto four = [](int x, int y) { return x == 0 ? (y == 0 ? 0xFF0000u : 0x00FF00u) : (y == 0 ? 0x0000FFu : 0xFFFF00u); };
  WritePicture("four", kvtest::MakeBmp(2, 2, 24, four));
  Bitmap stretched = Paint(10, 6, "four", 1);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 10; ++x) ASSERT_EQ(stretched.PixelAt(x, y), Ref(four(x / 5, y / 3))) << x << "," << y;
  }
  // Shrinking samples the source pixel under each target pixel's centre.
  WritePicture("ramp", kvtest::MakeBmp(100, 1, 32, [](int x, int) { return static_cast<std::uint32_t>(x); }));
  Bitmap shrunk = Paint(10, 3, "ramp", 1);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(shrunk.PixelAt(x, 2), Ref(static_cast<std::uint32_t>(10 * x + 5)));
}

}  // namespace
