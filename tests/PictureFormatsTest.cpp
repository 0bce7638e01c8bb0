// Pictures in PNG, JPEG, GIF and WebP: painted like the same bitmap in every mode, JPEGs upright and in their colours,
// transparency blended over the background colour, and damaged files refused before they cost memory.

#include "BackgroundPaint.h"
#include "PictureWriters.h"

namespace {

namespace fs = std::filesystem;
using kv::platform::Bitmap;
using kv::platform::LoadPicture;
using kvtest::kBackRef;
using kvtest::Ref;

// Four colours in a pattern that tells left from right and top from bottom.
const std::vector<std::uint32_t> kColours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
int Pattern(int x, int y) { return (x == 0 && y == 0) ? 3 : (x * 3 + y * 5 + x * y) % 3; }
std::uint32_t Opaque(int x, int y) { return 0xFF000000u | kColours[static_cast<std::size_t>(Pattern(x, y))]; }

using PictureFormats = kvtest::PaintTest;

TEST_F(PictureFormats, EveryFormatPaintsLikeTheSameBitmapInEveryModeAndBlendsTransparency) {
  Write("Reference.bmp", kvtest::MakeBmp(7, 5, 24, [](int x, int y) { return Opaque(x, y) & 0xFFFFFF; }));
  // Lossless formats, with extensions in any letter case.
  for (const auto& [file, bytes] : std::vector<std::pair<std::string, std::string>>{
           {"Png.PNG", kvtest::MakePng(7, 5, Opaque)}, {"Gif.gif", kvtest::MakeGif(7, 5, kColours, Pattern)},
           {"Webp.WebP", kvtest::MakeWebp(7, 5, Opaque)}}) {
    const std::string name = fs::path(Write(file, bytes)).stem().string();
    for (int mode : {0, 1, 2}) {
      EXPECT_EQ(kvtest::PixelsOf(Paint(23, 13, name, mode)), kvtest::PixelsOf(Paint(23, 13, "Reference", mode)))
          << name << ", mode " << mode;
    }
    auto size = kv::render::ReadBitmapSize((Folder() / file).string());
    ASSERT_TRUE(size) << name;
    EXPECT_EQ(std::pair(size->Width, size->Height), std::pair(7, 5)) << name;
  }
  // A shared name takes .bmp, then .png before .jpg and .gif; the content decides the format, not the name.
  auto plain = [](std::uint32_t rgb) { return [rgb](int, int) { return 0xFF000000u | rgb; }; };
  Write("Sea.BMP", kvtest::MakeBmp(2, 2, 24, [](int, int) { return 0xFF0000u; }));
  Write("Sea.png", kvtest::MakePng(2, 2, plain(0x00FF00)));
  Write("Sky.gif", kvtest::MakeGif(2, 2, {0x0000FF}, [](int, int) { return 0; }));
  Write("Sky.jpg", kvtest::MakeJpeg(2, 2, plain(0xFFFFFF)));
  Write("Sky.PNG", kvtest::MakePng(2, 2, plain(0x00FFFF)));
  Write("Misnamed.bmp", kvtest::MakePng(2, 2, plain(0xFF00FF)));
  EXPECT_EQ(Paint(4, 4, "Sea", 1).PixelAt(3, 3), Ref(0xFF0000));
  EXPECT_EQ(Paint(4, 4, "Sky", 1).PixelAt(3, 3), Ref(0x00FFFF));
  EXPECT_EQ(Paint(4, 4, "Misnamed", 1).PixelAt(0, 0), Ref(0xFF00FF));
  // Opaque red, half-transparent green, fully transparent: blended over the colour even where it is not painted.
  auto alpha = [](int x, int) { return x == 0 ? 0xFFFF0000u : x == 1 ? 0x8000FF00u : 0x00FFFFFFu; };
  auto blend = [](std::uint32_t c, std::uint32_t b) { return (c * 0x80 + b * (255 - 0x80) + 127) / 255; };
  const std::uint32_t half = (blend(0x00, 0x56) << 16) | (blend(0xFF, 0x34) << 8) | blend(0x00, 0x12);
  Write("AlphaPng.png", kvtest::MakePng(3, 1, alpha));
  Write("AlphaWebp.webp", kvtest::MakeWebp(3, 1, alpha));
  for (const char* name : {"AlphaPng", "AlphaWebp"}) {
    for (int mode : {0, 1}) {
      Bitmap bitmap = Paint(3, 1, name, mode);
      EXPECT_EQ(std::vector({bitmap.PixelAt(0, 0), bitmap.PixelAt(1, 0), bitmap.PixelAt(2, 0)}),
                std::vector({Ref(0xFF0000), Ref(half), kBackRef})) << name << ", mode " << mode;
    }
  }
  Write("Clear.gif", kvtest::MakeGif(2, 1, {0xFF0000, 0x00FF00}, [](int x, int) { return x; }, 1));
  Bitmap gif = Paint(2, 1, "Clear", 0);
  EXPECT_EQ(std::pair(gif.PixelAt(0, 0), gif.PixelAt(1, 0)), std::pair(Ref(0xFF0000), kBackRef))
      << "the GIF's transparent index shows the colour";
}

// Each channel of a lossy pixel within `tolerance` of the 0xRRGGBB wanted.
void ExpectNear(std::int32_t got, std::uint32_t rgb, int tolerance, const std::string& where) {
  const std::int32_t want = Ref(rgb & 0xFFFFFF);
  for (int shift : {0, 8, 16}) EXPECT_NEAR((got >> shift) & 0xFF, (want >> shift) & 0xFF, tolerance) << where;
}

TEST_F(PictureFormats, JpegsAreTurnedUprightByTheirExifOrientationAndDecodedInTheirColours) {
  // 32 x 16, four blocks of one colour: red, green over blue, white.
  auto stored = [](int x, int y) { return kColours[static_cast<std::size_t>((x / 16) + 2 * (y / 8))]; };
  const std::string jpeg = kvtest::MakeJpeg(32, 16, [&](int x, int y) { return 0xFF000000u | stored(x, y); });
  for (int orientation = 1; orientation <= 8; ++orientation) {
    for (bool bigEndian : {false, true}) {
      fs::path file = Write("Turned.jpg", kvtest::WithExifOrientation(jpeg, orientation, bigEndian));
      const int w = orientation >= 5 ? 16 : 32, h = 48 - w;
      auto picture = LoadPicture(file, kBackRef);
      auto size = kv::render::ReadBitmapSize(file.string());
      ASSERT_TRUE(picture && size) << "orientation " << orientation;
      ASSERT_EQ(std::pair(picture->Width(), picture->Height()), std::pair(w, h)) << "orientation " << orientation;
      EXPECT_EQ(std::pair(size->Width, size->Height), std::pair(w, h)) << "the header size is the upright size";
      // The corners, where a pixel taken one column off would come from another block.
      for (auto [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}}) {
        const std::pair<int, int> from[9] = {{}, {x, y}, {31 - x, y}, {31 - x, 15 - y}, {x, 15 - y},
                                             {y, x}, {y, 15 - x}, {31 - y, 15 - x}, {31 - y, x}};
        auto [sx, sy] = from[orientation];
        ExpectNear(picture->PixelAt(x, y), stored(sx, sy), 6, "orientation " + std::to_string(orientation));
      }
    }
  }
  // Grey, progressive and CMYK (with and without Adobe's inverted ink).
  using kvtest::JpegKind;
  const std::vector<std::uint32_t> colours = {0x804020, 0x20C040, 0x3050A0, 0xFFFFFF},
                                   greys = {0x202020, 0x606060, 0xA0A0A0, 0xF0F0F0};
  for (JpegKind kind : {JpegKind::Grey, JpegKind::Progressive, JpegKind::AdobeCmyk, JpegKind::PlainCmyk}) {
    const auto& used = kind == JpegKind::Grey ? greys : colours;
    auto blocks = [&](int x, int y) { return 0xFF000000u | used[static_cast<std::size_t>(x / 8 + 2 * (y / 8))]; };
    auto picture = LoadPicture(Write("Kind.jpg", kvtest::MakeJpegOfKind(16, 16, blocks, kind)), kBackRef);
    ASSERT_TRUE(picture) << static_cast<int>(kind) << ": " << picture.error().message;
    ASSERT_EQ(std::pair(picture->Width(), picture->Height()), std::pair(16, 16));
    for (auto [x, y] : std::vector<std::pair<int, int>>{{3, 3}, {12, 4}, {4, 12}, {12, 12}}) {
      ExpectNear(picture->PixelAt(x, y), blocks(x, y), 8, "kind " + std::to_string(static_cast<int>(kind)));
    }
  }
}

TEST_F(PictureFormats, DamagedFilesOfEveryFormatAreRefusedBeforeDecoding) {
  const std::string png = kvtest::MakePng(40, 30, Opaque), gif = kvtest::MakeGif(40, 30, kColours, Pattern),
                    webp = kvtest::MakeWebp(40, 30, Opaque), jpeg = kvtest::MakeJpeg(40, 30, Opaque, 90),
                    bmp = kvtest::MakeBmp(64, 64, 24, [](int x, int y) { return Opaque(x, y) & 0xFFFFFF; });
  auto patched = [](std::string bytes, std::size_t at, std::initializer_list<int> values) {
    for (int v : values) bytes[at++] = static_cast<char>(v);
    return bytes;
  };
  std::string rleCut = kvtest::MakeRleBmp(4, 2, 8, {0xFFFFFF}, std::string("\x04\x00\x00\x00\x04\x00\x00\x01", 8));
  rleCut.resize(rleCut.size() - 2);  // the stated length of the pixels runs past the end
  const std::string rleWrongBits = patched(kvtest::MakeRleBmp(4, 2, 4, {0xFFFFFF}, std::string("\x00\x01", 2)), 30, {1});
  const std::size_t sof = jpeg.find("\xFF\xC0"), dht = jpeg.find("\xFF\xC4");
  ASSERT_TRUE(sof != std::string::npos && dht != std::string::npos);
  std::string overlongTable = jpeg;  // 16 x 32 codes: the decoder would write past its table of 256
  for (std::size_t i = 0; i < 16; ++i) overlongTable[dht + 5 + i] = 32;
  // The same table in a segment stating a length of 3: reading the table beyond it would write past it as well.
  std::string tableBeyond = overlongTable;
  tableBeyond[dht + 2] = 0, tableBeyond[dht + 3] = 3;
  // A progressive picture's last scan repeated: each scan runs over the whole picture, so thousands would take minutes.
  const std::string progressive = kvtest::MakeJpegOfKind(40, 30, Opaque, kvtest::JpegKind::Progressive);
  const std::size_t lastScan = progressive.rfind("\xFF\xDA"), end = progressive.rfind("\xFF\xD9");
  ASSERT_LT(lastScan, end);
  std::string manyScans = progressive.substr(0, lastScan);
  for (int i = 0; i < 2000; ++i) manyScans += progressive.substr(lastScan, end - lastScan);
  manyScans += progressive.substr(end);
  struct Case { std::string name, bytes, says; };
  const std::vector<Case> cases = {
      {"empty", "", ""}, {"bmp garbage", std::string(5000, '\x5A'), ""},
      {"bmp cut", bmp.substr(0, bmp.size() / 2), "truncated"},
      {"bmp header only", bmp.substr(0, 54), ""},
      {"bmp huge", patched(bmp, 18, {0xA0, 0x86, 0x01, 0, 0xA0, 0x86, 0x01, 0}), "100000 x 100000"},
      {"rle cut", rleCut, ""},
      {"rle without its end", kvtest::MakeRleBmp(4, 2, 8, {0xFFFFFF}, std::string("\x04\x00\x00\x00\x04", 5)), ""},
      {"rle8 at 4 bits", rleWrongBits, ""}, {"bmp zero width", patched(bmp, 18, {0, 0, 0, 0}), ""},
      {"bmp negative width", patched(bmp, 21, {0xFF}), ""}, {"bmp odd header", patched(bmp, 14, {0x14}), ""},
      {"bmp offset inside the header", patched(bmp, 10, {0x14}), ""},
      {"B without M", patched(bmp, 1, {'X'}), "BMP, PNG, JPEG, GIF or WebP"}, {"bmp short", "BM", ""},
      {"png cut", png.substr(0, png.size() / 2), "truncated"},
      // A chunk stating a gigabyte in a file of a few hundred bytes: refused before a gigabyte is set aside for it.
      {"png chunk past the end", patched(png, png.find("IDAT") - 4, {0x46, 0x85, 0x05, 0x27}), "truncated"},
      {"png huge", patched(png, 16, {0, 0, 0x75, 0x30, 0, 0, 0x75, 0x30}), "30000 x 30000"},
      {"png over the side limit", patched(png, 16, {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0}), "larger than"},
      {"png garbage", png.substr(0, 8) + std::string(3000, '\x5A'), ""},
      {"jpeg cut", jpeg.substr(0, jpeg.size() * 2 / 3), "truncated"},
      {"jpeg huge", patched(jpeg, sof + 5, {0x75, 0x30, 0x75, 0x30}), "30000 x 30000"},
      {"jpeg table", overlongTable, "Huffman"}, {"jpeg table beyond its segment", tableBeyond, "damaged"},
      {"jpeg garbage", jpeg.substr(0, 3) + std::string(3000, '\x5A'), ""},
      {"jpeg scans without end", manyScans, "more scans than any real picture has"},
      {"gif cut", gif.substr(0, gif.size() - 40), "truncated"},
      {"gif huge", patched(gif, 6, {0x30, 0x75, 0x30, 0x75}), "30000 x 30000"},
      {"gif tiny for its size", patched(gif, 6, {0x01, 0x10, 0x01, 0x10}), "4097 x 4097 pixels, far more than"},
      {"gif garbage", gif.substr(0, 6) + std::string(3000, '\x5A'), ""},
      // A block the checks do not know is left to the decoder to judge.
      {"gif unknown block", gif.substr(0, 25) + "\x5A" + gif.substr(25), "cannot be decoded"},
      {"webp cut", webp.substr(0, webp.size() / 2), ""},
      {"webp huge", patched(webp, 21, {0xFF, 0xFF, 0xFF, (webp[24] & 0xF0) | 0x0F}), "16384 x 16384"},
      {"webp garbage", webp.substr(0, 12) + std::string(3000, '\x5A'), ""},
      {"unknown", "II*\0" + std::string(3000, '\x5A'), "BMP, PNG, JPEG, GIF or WebP"},
  };
  for (const Case& c : cases) {
    const fs::path file = Write(c.name + ".png", c.bytes);
    // Refused by the reader of any format, and by the bitmap reader on its own.
    for (const auto& picture : {LoadPicture(file, kBackRef), kv::platform::LoadBmpPicture(file)}) {
      ASSERT_FALSE(picture) << c.name << " was accepted";
      EXPECT_NE(picture.error().message.find(file.string()), std::string::npos) << picture.error().message;
    }
    const std::string message = LoadPicture(file, kBackRef).error().message;
    EXPECT_NE(message.find(c.says), std::string::npos) << c.name << ": " << message;
    EXPECT_NE(PaintQuietly(4, 4, c.name, 2, kBackRef).find(c.name), std::string::npos) << "the painter names " << c.name;
  }
}

}  // namespace
