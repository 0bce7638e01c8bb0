#include <algorithm>
#include <climits>
#include <string>

#include "PictureDecode.h"
#include "kvplatform/base/InputFile.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

Result<PixelSize> StatedSize(PictureFormat format, const PageBlock& bytes, const fs::path& file) {
  switch (format) {
    case PictureFormat::Png:
    case PictureFormat::Gif:
      return StbPictureSize(bytes.Data(), bytes.Size(), file);
    case PictureFormat::Jpeg:
      return JpegPictureSize(bytes.Data(), bytes.Size(), file);
    case PictureFormat::Webp:
      return WebpPictureSize(bytes.Data(), bytes.Size(), file);
    default:
      return Fail(ErrorCode::Corrupt, PictureName(file) + " is not a picture file that can be read; "
                                                          "use BMP, PNG, JPEG, GIF or WebP");
  }
}

// Up to this many pixels a compressed picture may hold whatever its length:
// more than a 4K screen, so a plain picture of one colour is always read.
// (The fuzz build's smaller bound on pictures lowers it too, so the check
// after it is still reached there.)
constexpr std::int64_t kAlwaysPlausiblePixels = std::min(std::int64_t{1} << 24, Picture::kMaxPixels / 8);
// Beyond that, no real picture holds more pixels per byte of its file; a
// tiny file stating a huge picture would only cost time and memory.
constexpr std::int64_t kMaxPixelsPerByte = 1024;

// The limits a bitmap's header is held to, before anything is allocated,
// and a bound on what the file's length can hold.
Status CheckSize(PixelSize size, std::size_t fileBytes, const fs::path& file) {
  const std::int64_t width = size.width, height = size.height;
  std::string stated = std::to_string(width) + " x " + std::to_string(height);
  if (width <= 0 || height <= 0) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " states a size of " + stated + " pixels");
  }
  if (width > Picture::kMaxSide || height > Picture::kMaxSide || width * height > Picture::kMaxPixels) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " states a size of " + stated +
                                        " pixels, larger than a background picture may be");
  }
  if (width * height > std::max(kAlwaysPlausiblePixels, static_cast<std::int64_t>(fileBytes) * kMaxPixelsPerByte)) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " states a size of " + stated + " pixels, far more than its " +
                                        std::to_string(fileBytes) + " bytes can hold; the file is damaged");
  }
  return Ok();
}

int Orientation(PictureFormat format, const PageBlock& bytes) {
  return format == PictureFormat::Jpeg ? JpegExifOrientation(bytes.Data(), bytes.Size()) : 1;
}

// Orientations 5 to 8 turn the picture by a quarter.
bool SwapsSides(int orientation) { return orientation >= 5; }

// Where output pixel (x, y) of the upright picture lies in the stored one:
// source x = ax·x + bx·y + cx, source y = ay·x + by·y + cy.
struct SourceMap {
  std::int64_t ax, bx, cx, ay, by, cy;
};

SourceMap MapFor(int orientation, std::int64_t w, std::int64_t h) {
  switch (orientation) {
    case 2: return {-1, 0, w - 1, 0, 1, 0};           // mirrored left to right
    case 3: return {-1, 0, w - 1, 0, -1, h - 1};      // turned half round
    case 4: return {1, 0, 0, 0, -1, h - 1};           // mirrored top to bottom
    case 5: return {0, 1, 0, 1, 0, 0};                // mirrored along the main diagonal
    case 6: return {0, 1, 0, -1, 0, h - 1};           // stored a quarter turn anticlockwise
    case 7: return {0, -1, w - 1, -1, 0, h - 1};      // mirrored along the other diagonal
    case 8: return {0, -1, w - 1, 1, 0, 0};           // stored a quarter turn clockwise
    default: return {1, 0, 0, 0, 1, 0};
  }
}

// A colour channel over the background, rounded to the nearest value.
std::uint8_t Blend(std::uint32_t colour, std::uint32_t back, std::uint32_t alpha) {
  return static_cast<std::uint8_t>((colour * alpha + back * (255 - alpha) + 127) / 255);
}

}  // namespace

// Builds pictures from decoded pixels; the friend of Picture that sets its fields.
class FormatLoader {
 public:
  // The red-green-blue-alpha pixels turned upright and blended over the
  // background, as blue-green-red rows ready to copy into the bitmap.
  static Result<Picture> Compose(const DecodedPixels& decoded, int orientation, ColorRef background) {
    const std::int64_t w = decoded.width, h = decoded.height;
    const std::int64_t outW = SwapsSides(orientation) ? h : w, outH = SwapsSides(orientation) ? w : h;
    KV_TRY_ASSIGN(PageBlock block, PageBlock::Allocate(static_cast<std::size_t>(outW * outH * 3)));
    const SourceMap map = MapFor(orientation, w, h);
    const std::int64_t step = (map.ax + map.ay * w) * 4;
    const std::uint32_t backR = RedOf(background), backG = GreenOf(background), backB = BlueOf(background);
    for (std::int64_t y = 0; y < outH; ++y) {
      const std::uint8_t* in = decoded.pixels.get() + ((map.bx * y + map.cx) + (map.by * y + map.cy) * w) * 4;
      std::uint8_t* out = block.Data() + y * outW * 3;
      for (std::int64_t x = 0; x < outW; ++x, in += step, out += 3) {
        out[0] = Blend(in[2], backB, in[3]);
        out[1] = Blend(in[1], backG, in[3]);
        out[2] = Blend(in[0], backR, in[3]);
      }
    }
    Picture picture;
    picture.width_ = static_cast<std::int32_t>(outW);
    picture.height_ = static_cast<std::int32_t>(outH);
    picture.bytesPerPixel_ = 3;
    picture.bgr_ = true;
    picture.top_ = block.Data();
    picture.rowStep_ = static_cast<std::ptrdiff_t>(outW * 3);
    picture.storage_ = std::move(block);
    return picture;
  }
};

Result<Picture> LoadPicture(const fs::path& file, ColorRef background) {
  KV_TRY_ASSIGN(PageBlock bytes, ReadPictureFile(file));
  const PictureFormat format = SniffPictureFormat(bytes.Data(), bytes.Size());
  if (format == PictureFormat::Bmp) return DecodeBmpPicture(std::move(bytes), file, BmpDecoder::Automatic);

  KV_TRY_ASSIGN(PixelSize stated, StatedSize(format, bytes, file));
  KV_TRY(CheckSize(stated, bytes.Size(), file));
  KV_TRY(CheckStructure(format, bytes.Data(), bytes.Size(), file));
  auto decoded = format == PictureFormat::Webp   ? WebpDecode(bytes.Data(), bytes.Size(), file)
                 : format == PictureFormat::Jpeg ? JpegDecode(bytes.Data(), bytes.Size(), file)
                                                 : StbDecode(bytes.Data(), bytes.Size(), 4, file);
  if (!decoded) return std::unexpected(decoded.error());
  // The size was checked as the header states it; a decoder that disagreed
  // would make the header size and the painted size differ.
  if (decoded->width != stated.width || decoded->height != stated.height) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " decodes to another size than its header states");
  }
  return FormatLoader::Compose(*decoded, Orientation(format, bytes), background);
}

Result<BmpHeaderSize> ReadPictureHeaderSize(const fs::path& file) {
  std::uint8_t start[12] = {};
  {
    KV_TRY_ASSIGN(InputFile input, InputFile::Open(file, "the picture", kMaxPictureFileBytes));
    KV_TRY_ASSIGN(std::size_t done, input.Read(start, sizeof start));
    PictureFormat format = SniffPictureFormat(start, done);
    // A bitmap's size is read from its header alone, as it always was.
    if (format == PictureFormat::Bmp || format == PictureFormat::Unknown) return ReadBmpHeaderSize(file);
  }
  // The other formats keep their size where their own structure puts it
  // (a JPEG's frame header may follow a large Exif block): read it all.
  KV_TRY_ASSIGN(PageBlock bytes, ReadPictureFile(file));
  const PictureFormat format = SniffPictureFormat(bytes.Data(), bytes.Size());
  KV_TRY_ASSIGN(PixelSize stated, StatedSize(format, bytes, file));
  if (SwapsSides(Orientation(format, bytes))) std::swap(stated.width, stated.height);
  auto side = [](std::int64_t value) { return static_cast<std::int32_t>(std::min<std::int64_t>(value, INT32_MAX)); };
  return BmpHeaderSize{side(stated.width), side(stated.height)};
}

}  // namespace kv::platform
