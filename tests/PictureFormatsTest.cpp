// Pictures in PNG, JPEG, GIF and WebP: decoded to the same pixels as the
// same picture in a bitmap and painted the same in every mode, turned
// upright by a JPEG's Exif orientation, grey, CMYK and progressive JPEGs
// in their colours, transparency blended over the background colour, and
// damaged files refused before they cost memory or time.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "CWPBackground.h"
#include "PictureFiles.h"
#include "PictureWriters.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/image/Picture.h"

namespace {

namespace fs = std::filesystem;
using kv::platform::Bitmap;
using kv::platform::LoadPicture;

constexpr std::int32_t kBackRef = 0x00123456;  // 0x00BBGGRR

std::int32_t Ref(std::uint32_t rgb) {
  return static_cast<std::int32_t>(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

// Four colours in a pattern that tells left from right and top from bottom.
const std::vector<std::uint32_t> kColours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
int Pattern(int x, int y) { return (x == 0 && y == 0) ? 3 : (x * 3 + y * 5 + x * y) % 3; }
std::uint32_t Opaque(int x, int y) { return 0xFF000000u | kColours[static_cast<std::size_t>(Pattern(x, y))]; }

class PictureFormats : public testing::Test {
 protected:
  void SetUp() override {
    kvtest::StoreSetting("Path", home_.DataFolder().string());
    kvtest::StoreSetting("FirstTime", "1");
  }
  fs::path Write(const std::string& file, const std::string& bytes) const {
    fs::path path = home_.DataFolder() / "Backgrounds" / file;
    kvtest::WriteFile(path, bytes);
    return path;
  }
  Bitmap Paint(int w, int h, const std::string& name, int mode, std::int32_t colour = kBackRef) {
    auto bitmap = Bitmap::Create(w, h);
    EXPECT_TRUE(bitmap);
    kv::render::CWPBackground painter;
    EXPECT_TRUE(painter.Init(&*bitmap, w, h, name, mode, colour));
    EXPECT_TRUE(painter.PaintBackground());
    return std::move(*bitmap);
  }

  kvtest::TempHome home_;
};

TEST_F(PictureFormats, EveryFormatPaintsLikeTheSameBitmapInEveryMode) {
  Write("Reference.bmp", kvtest::MakeBmp(7, 5, 24, [](int x, int y) { return Opaque(x, y) & 0xFFFFFF; }));
  // Lossless formats, with extensions in any letter case.
  Write("Png.PNG", kvtest::MakePng(7, 5, Opaque));
  Write("Gif.gif", kvtest::MakeGif(7, 5, kColours, Pattern));
  Write("Webp.WebP", kvtest::MakeWebp(7, 5, Opaque));
  for (const char* file : {"Png.PNG", "Gif.gif", "Webp.WebP"}) {
    const std::string name = fs::path(file).stem().string();
    for (int mode : {0, 1, 2}) {
      Bitmap expected = Paint(23, 13, "Reference", mode), painted = Paint(23, 13, name, mode);
      for (int y = 0; y < 13; ++y) {
        for (int x = 0; x < 23; ++x) {
          ASSERT_EQ(painted.PixelAt(x, y), expected.PixelAt(x, y)) << name << ", mode " << mode << ", " << x << "," << y;
        }
      }
    }
    auto size = kv::render::ReadBitmapSize((home_.DataFolder() / "Backgrounds" / file).string());
    ASSERT_TRUE(size) << name;
    EXPECT_EQ(size->Width, 7) << name;
    EXPECT_EQ(size->Height, 5) << name;
  }

  // JPEG is lossy: blocks of one colour, aligned to its 8 x 8 cells, come
  // back within a few levels.
  auto blocks = [](int x, int y) { return 0xFF000000u | kColours[static_cast<std::size_t>((x / 8 + 2 * (y / 8)) % 4)]; };
  Write("Photo.JpEg", kvtest::MakeJpeg(16, 16, blocks));
  Bitmap photo = Paint(16, 16, "Photo", 0);
  for (auto [x, y] : std::vector<std::pair<int, int>>{{3, 3}, {12, 4}, {4, 12}, {12, 12}}) {
    std::int32_t want = Ref(blocks(x, y) & 0xFFFFFF), got = photo.PixelAt(x, y);
    for (int shift : {0, 8, 16}) {
      EXPECT_NEAR((got >> shift) & 0xFF, (want >> shift) & 0xFF, 6) << "JPEG pixel " << x << "," << y;
    }
  }
}

TEST_F(PictureFormats, ASharedNameFindsTheFirstFormatOfTheFixedOrder) {
  auto plain = [](std::uint32_t rgb) { return [rgb](int, int) { return 0xFF000000u | rgb; }; };
  Write("Sea.BMP", kvtest::MakeBmp(2, 2, 24, [](int, int) { return 0xFF0000u; }));
  Write("Sea.png", kvtest::MakePng(2, 2, plain(0x00FF00)));
  Write("Sky.gif", kvtest::MakeGif(2, 2, {0x0000FF}, [](int, int) { return 0; }));
  Write("Sky.jpg", kvtest::MakeJpeg(2, 2, plain(0xFFFFFF)));
  Write("Sky.PNG", kvtest::MakePng(2, 2, plain(0x00FFFF)));
  EXPECT_EQ(Paint(4, 4, "Sea", 1).PixelAt(3, 3), Ref(0xFF0000)) << "a bitmap keeps its name";
  EXPECT_EQ(Paint(4, 4, "Sky", 1).PixelAt(3, 3), Ref(0x00FFFF)) << ".png comes before .jpg and .gif";
  // The content decides the format, not the name: a PNG saved as .bmp is drawn.
  Write("Misnamed.bmp", kvtest::MakePng(2, 2, plain(0xFF00FF)));
  EXPECT_EQ(Paint(4, 4, "Misnamed", 1).PixelAt(0, 0), Ref(0xFF00FF));
}

TEST_F(PictureFormats, TransparencyIsBlendedOverTheBackgroundColour) {
  // Opaque red, half-transparent green, fully transparent.
  auto alpha = [](int x, int) { return x == 0 ? 0xFFFF0000u : x == 1 ? 0x8000FF00u : 0x00FFFFFFu; };
  const std::uint32_t back = 0x563412;  // kBackRef as 0xRRGGBB
  auto blend = [](std::uint32_t c, std::uint32_t b, std::uint32_t a) { return (c * a + b * (255 - a) + 127) / 255; };
  const std::uint32_t half = (blend(0x00, 0x56, 0x80) << 16) | (blend(0xFF, 0x34, 0x80) << 8) | blend(0x00, 0x12, 0x80);
  Write("Png.png", kvtest::MakePng(3, 1, alpha));
  Write("Webp.webp", kvtest::MakeWebp(3, 1, alpha));
  for (const char* name : {"Png", "Webp"}) {
    for (int mode : {0, 1}) {  // blended over the colour even where the colour is not painted
      Bitmap bitmap = Paint(3, 1, name, mode);
      EXPECT_EQ(bitmap.PixelAt(0, 0), Ref(0xFF0000)) << name;
      EXPECT_EQ(bitmap.PixelAt(1, 0), Ref(half)) << name;
      EXPECT_EQ(bitmap.PixelAt(2, 0), Ref(back)) << name;
    }
  }
  Write("Gif.gif", kvtest::MakeGif(2, 1, {0xFF0000, 0x00FF00}, [](int x, int) { return x; }, 1));
  Bitmap gif = Paint(2, 1, "Gif", 0);
  EXPECT_EQ(gif.PixelAt(0, 0), Ref(0xFF0000));
  EXPECT_EQ(gif.PixelAt(1, 0), kBackRef) << "the GIF's transparent index shows the colour";
}

TEST_F(PictureFormats, JpegExifOrientationTurnsThePictureUpright) {
  // 32 x 16, four blocks of one colour: red, green over blue, white.
  auto stored = [](int x, int y) { return kColours[static_cast<std::size_t>((x / 16) + 2 * (y / 8))]; };
  const std::string jpeg = kvtest::MakeJpeg(32, 16, [&](int x, int y) { return 0xFF000000u | stored(x, y); });
  for (int orientation = 1; orientation <= 8; ++orientation) {
    for (bool bigEndian : {false, true}) {
      fs::path file = Write("Turned.jpg", kvtest::WithExifOrientation(jpeg, orientation, bigEndian));
      const bool quarter = orientation >= 5;
      const int w = quarter ? 16 : 32, h = quarter ? 32 : 16;
      auto picture = LoadPicture(file, kBackRef);
      ASSERT_TRUE(picture) << picture.error().message;
      ASSERT_EQ(picture->Width(), w) << "orientation " << orientation;
      ASSERT_EQ(picture->Height(), h) << "orientation " << orientation;
      auto size = kv::render::ReadBitmapSize(file.string());
      ASSERT_TRUE(size);
      EXPECT_EQ(size->Width, w) << "the header size is the upright size, orientation " << orientation;
      EXPECT_EQ(size->Height, h);
      // Where each upright pixel comes from, written out per orientation.
      for (auto [x, y] : std::vector<std::pair<int, int>>{{3, 3}, {w - 4, 3}, {3, h - 4}, {w - 4, h - 4}}) {
        int sx = x, sy = y;
        switch (orientation) {
          case 2: sx = 31 - x; break;
          case 3: sx = 31 - x, sy = 15 - y; break;
          case 4: sy = 15 - y; break;
          case 5: sx = y, sy = x; break;
          case 6: sx = y, sy = 15 - x; break;
          case 7: sx = 31 - y, sy = 15 - x; break;
          case 8: sx = 31 - y, sy = x; break;
        }
        std::int32_t want = Ref(stored(sx, sy)), got = picture->PixelAt(x, y);
        for (int shift : {0, 8, 16}) {
          ASSERT_NEAR((got >> shift) & 0xFF, (want >> shift) & 0xFF, 6)
              << "orientation " << orientation << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST_F(PictureFormats, GreyCmykAndProgressiveJpegsDecodeToTheirColours) {
  using kvtest::JpegKind;
  const std::vector<std::uint32_t> colours = {0x804020, 0x20C040, 0x3050A0, 0xFFFFFF},
                                   greys = {0x202020, 0x606060, 0xA0A0A0, 0xF0F0F0};
  for (JpegKind kind : {JpegKind::Grey, JpegKind::Progressive, JpegKind::AdobeCmyk, JpegKind::PlainCmyk}) {
    const auto& used = kind == JpegKind::Grey ? greys : colours;
    auto blocks = [&](int x, int y) { return 0xFF000000u | used[static_cast<std::size_t>(x / 8 + 2 * (y / 8))]; };
    fs::path file = Write("Kind.jpg", kvtest::MakeJpegOfKind(16, 16, blocks, kind));
    auto picture = LoadPicture(file, kBackRef);
    ASSERT_TRUE(picture) << static_cast<int>(kind) << ": " << picture.error().message;
    ASSERT_EQ(picture->Width(), 16);
    ASSERT_EQ(picture->Height(), 16);
    for (auto [x, y] : std::vector<std::pair<int, int>>{{3, 3}, {12, 4}, {4, 12}, {12, 12}}) {
      std::int32_t want = Ref(blocks(x, y) & 0xFFFFFF), got = picture->PixelAt(x, y);
      for (int shift : {0, 8, 16}) {
        EXPECT_NEAR((got >> shift) & 0xFF, (want >> shift) & 0xFF, 8)
            << "kind " << static_cast<int>(kind) << " at " << x << "," << y;
      }
    }
  }
}

TEST_F(PictureFormats, DamagedFilesOfEveryFormatAreRefusedBeforeDecoding) {
  const std::string png = kvtest::MakePng(40, 30, Opaque), gif = kvtest::MakeGif(40, 30, kColours, Pattern),
                    webp = kvtest::MakeWebp(40, 30, Opaque), jpeg = kvtest::MakeJpeg(40, 30, Opaque, 90);
  auto patched = [](std::string bytes, std::size_t at, std::initializer_list<int> values) {
    for (int v : values) bytes[at++] = static_cast<char>(v);
    return bytes;
  };
  const std::size_t sof = jpeg.find("\xFF\xC0"), dht = jpeg.find("\xFF\xC4");
  ASSERT_NE(sof, std::string::npos);
  ASSERT_NE(dht, std::string::npos);
  std::string overlongTable = jpeg;  // 16 x 32 codes: the decoder would write past its table of 256
  for (std::size_t i = 0; i < 16; ++i) overlongTable[dht + 5 + i] = 32;
  // The same table where its segment states a length of 3: a decoder that
  // read the whole table beyond it would write past it as well.
  std::string tableBeyond = overlongTable;
  tableBeyond[dht + 2] = 0, tableBeyond[dht + 3] = 3;
  // A progressive picture whose last scan is repeated: each scan runs over
  // the whole picture again, so thousands would take minutes.
  const std::string progressive = kvtest::MakeJpegOfKind(40, 30, Opaque, kvtest::JpegKind::Progressive);
  const std::size_t lastScan = progressive.rfind("\xFF\xDA"), end = progressive.rfind("\xFF\xD9");
  ASSERT_LT(lastScan, end);
  std::string manyScans = progressive.substr(0, lastScan);
  for (int i = 0; i < 2000; ++i) manyScans += progressive.substr(lastScan, end - lastScan);
  manyScans += progressive.substr(end);
  struct Case {
    std::string name, bytes, says;
  };
  const std::vector<Case> cases = {
      {"png cut", png.substr(0, png.size() / 2), "truncated"},
      // A chunk stating a gigabyte in a file of a few hundred bytes: refused
      // before the decoder sets a gigabyte aside for it.
      {"png chunk past the end", patched(png, png.find("IDAT") - 4, {0x46, 0x85, 0x05, 0x27}), "truncated"},
      {"png huge", patched(png, 16, {0, 0, 0x75, 0x30, 0, 0, 0x75, 0x30}), "30000 x 30000"},
      {"png over the side limit", patched(png, 16, {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0}), "larger than"},
      {"png garbage", png.substr(0, 8) + std::string(3000, '\x5A'), ""},
      {"jpeg cut", jpeg.substr(0, jpeg.size() * 2 / 3), "truncated"},
      {"jpeg huge", patched(jpeg, sof + 5, {0x75, 0x30, 0x75, 0x30}), "30000 x 30000"},
      {"jpeg table", overlongTable, "Huffman"},
      {"jpeg table beyond its segment", tableBeyond, "damaged"},
      {"jpeg garbage", jpeg.substr(0, 3) + std::string(3000, '\x5A'), ""},
      {"jpeg scans without end", manyScans, "more scans than any real picture has"},
      {"gif cut", gif.substr(0, gif.size() - 40), "truncated"},
      {"gif huge", patched(gif, 6, {0x30, 0x75, 0x30, 0x75}), "30000 x 30000"},
      {"gif tiny for its size", patched(gif, 6, {0x01, 0x10, 0x01, 0x10}), "4097 x 4097 pixels, far more than"},
      {"gif garbage", gif.substr(0, 6) + std::string(3000, '\x5A'), ""},
      {"webp cut", webp.substr(0, webp.size() / 2), ""},
      {"webp huge", patched(webp, 21, {0xFF, 0xFF, 0xFF, (webp[24] & 0xF0) | 0x0F}), "16384 x 16384"},
      {"webp garbage", webp.substr(0, 12) + std::string(3000, '\x5A'), ""},
      {"unknown", "II*\0" + std::string(3000, '\x5A'), "BMP, PNG, JPEG, GIF or WebP"},
  };
  for (const Case& c : cases) {
    fs::path file = Write(c.name + ".png", c.bytes);
    auto picture = LoadPicture(file, kBackRef);
    ASSERT_FALSE(picture) << c.name << " was accepted";
    EXPECT_NE(picture.error().message.find(file.string()), std::string::npos) << picture.error().message;
    EXPECT_NE(picture.error().message.find(c.says), std::string::npos) << c.name << ": " << picture.error().message;
    // The painter draws the colour and names the file once.
    testing::internal::CaptureStderr();
    EXPECT_EQ(Paint(4, 4, c.name, 2).PixelAt(3, 3), kBackRef) << c.name;
    EXPECT_NE(testing::internal::GetCapturedStderr().find(c.name), std::string::npos) << c.name;
  }
}

}  // namespace
