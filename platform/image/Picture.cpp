#include "kvplatform/image/Picture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BmpRle.h"
#include "PictureDecode.h"
#include "kvplatform/base/InputFile.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFileHeaderBytes = 14;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}
std::int32_t I32(const std::uint8_t* p) { return static_cast<std::int32_t>(U32(p)); }


struct BmpInfo {
  std::uint32_t pixelOffset = 0;
  std::uint32_t headerBytes = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;  // negative: top-down
  std::uint16_t bitsPerPixel = 0;
  std::uint32_t compression = 0;
  std::uint32_t imageBytes = 0;  // the compressed pixel data's length, or 0 (unstated)
  std::uint32_t coloursUsed = 0;
};

bool IsRunLength(const BmpInfo& info) { return info.compression == 1 || info.compression == 2; }

// Parses the two headers from the first bytes of a file.
Result<BmpInfo> ParseHeaders(const std::uint8_t* bytes, std::size_t size, const fs::path& file) {
  if (size < kFileHeaderBytes + 4 || bytes[0] != 'B' || bytes[1] != 'M') {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " is not a Windows bitmap file");
  }
  BmpInfo info;
  info.pixelOffset = U32(bytes + 10);
  info.headerBytes = U32(bytes + 14);
  if (info.headerBytes == 12) {
    if (size < kFileHeaderBytes + 12) return Fail(ErrorCode::Corrupt, PictureName(file) + " ends inside its header");
    info.width = U16(bytes + 18);
    info.height = static_cast<std::int16_t>(U16(bytes + 20));
    info.bitsPerPixel = U16(bytes + 24);
  } else if (info.headerBytes >= 40) {
    if (size < kFileHeaderBytes + 40) return Fail(ErrorCode::Corrupt, PictureName(file) + " ends inside its header");
    info.width = I32(bytes + 18);
    info.height = I32(bytes + 22);
    info.bitsPerPixel = U16(bytes + 28);
    info.compression = U32(bytes + 30);
    info.imageBytes = U32(bytes + 34);
    info.coloursUsed = U32(bytes + 46);
  } else {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " has an unknown kind of bitmap header (" +
                                        std::to_string(info.headerBytes) + " bytes)");
  }
  return info;
}

// Everything that can be told from the headers and the file's length,
// checked before a single pixel is decoded.
Status CheckHeaders(const BmpInfo& info, std::size_t fileBytes, const fs::path& file) {
  if (info.headerBytes > fileBytes - kFileHeaderBytes) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " ends inside its header");
  }
  std::int64_t width = info.width;
  std::int64_t height = info.height < 0 ? -std::int64_t{info.height} : std::int64_t{info.height};
  std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width <= 0 || height == 0) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " states a size of " + size + " pixels");
  }
  if (width > Picture::kMaxSide || height > Picture::kMaxSide || width * height > Picture::kMaxPixels) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " states a size of " + size +
                                        " pixels, larger than a background picture may be");
  }
  switch (info.compression) {
    case 0:  // uncompressed
    case 3:  // uncompressed with colour masks
      break;
    case 1:  // RLE8
    case 2:  // RLE4
      if (info.headerBytes < 40 || info.bitsPerPixel != (info.compression == 1 ? 8 : 4)) {
        return Fail(ErrorCode::Corrupt, PictureName(file) + " states run-length compression at " +
                                            std::to_string(info.bitsPerPixel) + " bits per pixel, which no bitmap has");
      }
      break;
    case 4:
    case 5:
      return Fail(ErrorCode::Corrupt, PictureName(file) + " holds an embedded JPEG or PNG, which is not supported; "
                                                     "save it as a plain bitmap");
    default:
      return Fail(ErrorCode::Corrupt, PictureName(file) + " uses an unknown compression (" +
                                          std::to_string(info.compression) + ")");
  }
  switch (info.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return Fail(ErrorCode::Corrupt, PictureName(file) + " states " + std::to_string(info.bitsPerPixel) +
                                          " bits per pixel, which no bitmap has");
  }
  if (std::int64_t{info.pixelOffset} < std::int64_t{kFileHeaderBytes} + info.headerBytes) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " states that its pixels begin inside its header");
  }
  // Compressed pixels state their own length; at the least they hold the
  // two bytes of the end mark.
  std::int64_t stride = (width * info.bitsPerPixel + 31) / 32 * 4;
  std::int64_t needed = std::int64_t{info.pixelOffset} +
                        (IsRunLength(info) ? std::max<std::int64_t>(info.imageBytes, 2) : stride * height);
  if (static_cast<std::int64_t>(fileBytes) < needed) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " is truncated: its header promises " + size + " pixels (" +
                                        std::to_string(needed) + " bytes) but the file holds " +
                                        std::to_string(fileBytes) + " bytes");
  }
  return Ok();
}

// The run-length compressed pixels, with the palette they index.
Result<PageBlock> DecodeRunLength(const PageBlock& bytes, const BmpInfo& info, const fs::path& file) {
  const std::size_t paletteStart = kFileHeaderBytes + info.headerBytes;
  const std::size_t maxEntries = std::size_t{1} << info.bitsPerPixel;
  std::size_t entries = info.coloursUsed == 0 ? maxEntries : std::min<std::size_t>(info.coloursUsed, maxEntries);
  entries = std::min(entries, (info.pixelOffset - paletteStart) / 4);
  RleSource source;
  source.data = bytes.Data() + info.pixelOffset;
  source.size = bytes.Size() - info.pixelOffset;
  if (info.imageBytes != 0) source.size = std::min<std::size_t>(source.size, info.imageBytes);
  source.bitsPerPixel = info.bitsPerPixel;
  source.palette = bytes.Data() + paletteStart;
  source.paletteEntries = entries;
  source.width = info.width;
  source.topDown = info.height < 0;
  source.height = source.topDown ? -info.height : info.height;
  auto pixels = DecodeBmpRle(source);
  if (!pixels) return Fail(ErrorCode::Corrupt, PictureName(file) + " is damaged: " + pixels.error().message);
  return pixels;
}

}  // namespace

std::string PictureName(const fs::path& file) { return "the picture " + file.string(); }

// The whole file, opened so that no special file can make the reader wait
// and checked for its size before anything is allocated.
Result<PageBlock> ReadPictureFile(const fs::path& file) {
  KV_TRY_ASSIGN(InputFile input, InputFile::Open(file, "the picture", kMaxPictureFileBytes));
  KV_TRY_ASSIGN(PageBlock bytes, PageBlock::Allocate(static_cast<std::size_t>(input.Size())));
  // A file that shrank while being read is judged by what is there.
  KV_TRY_ASSIGN(std::size_t done, input.Read(bytes.Data(), bytes.Size()));
  if (done < bytes.Size()) {
    KV_TRY_ASSIGN(PageBlock shorter, PageBlock::Allocate(done));
    if (done > 0) std::memcpy(shorter.Data(), bytes.Data(), done);
    return shorter;
  }
  return bytes;
}

// Builds pictures; the friend of Picture that sets its fields.
class PictureLoader {
 public:
  // Open safely, check the size, then decode: every picture format goes
  // this one way.
  static Result<Picture> Load(PageBlock bytes, const fs::path& file, BmpDecoder decoder) {
    KV_TRY_ASSIGN(BmpInfo info, ParseHeaders(bytes.Data(), bytes.Size(), file));
    KV_TRY(CheckHeaders(info, bytes.Size(), file));

    Picture picture;
    if (IsRunLength(info)) {
      KV_TRY_ASSIGN(PageBlock pixels, DecodeRunLength(bytes, info, file));
      picture.width_ = info.width;
      picture.height_ = info.height < 0 ? -info.height : info.height;
      picture.bytesPerPixel_ = 3;
      picture.bgr_ = true;
      picture.top_ = pixels.Data();
      picture.rowStep_ = static_cast<std::ptrdiff_t>(info.width) * 3;
      picture.storage_ = std::move(pixels);
      return picture;
    }
    bool inPlace = decoder == BmpDecoder::Automatic && info.compression == 0 && info.headerBytes >= 40 &&
                   (info.bitsPerPixel == 24 || info.bitsPerPixel == 32);
    if (inPlace) {
      // The file's rows are already blue-green-red pixels: no decoding,
      // no second copy of the picture.
      picture.width_ = info.width;
      picture.height_ = info.height < 0 ? -info.height : info.height;
      picture.bytesPerPixel_ = info.bitsPerPixel / 8;
      picture.bgr_ = true;
      auto stride = static_cast<std::ptrdiff_t>((static_cast<std::size_t>(info.width) * info.bitsPerPixel + 31) / 32 * 4);
      const std::uint8_t* first = bytes.Data() + info.pixelOffset;
      if (info.height < 0) {
        picture.top_ = first;
        picture.rowStep_ = stride;
      } else {
        picture.top_ = first + stride * (picture.height_ - 1);
        picture.rowStep_ = -stride;
      }
      picture.storage_ = std::move(bytes);
      return picture;
    }

    KV_TRY_ASSIGN(DecodedPixels decoded, StbDecode(bytes.Data(), bytes.Size(), 3, file));
    const std::int32_t width = decoded.width, height = decoded.height;
    picture.top_ = decoded.pixels.get();
    picture.decoded_ = std::move(decoded.pixels);
    // The decoded size is the truth; a header that disagreed has already
    // passed the length check, so nothing was read past the file.
    picture.width_ = width;
    picture.height_ = height;
    picture.bytesPerPixel_ = 3;
    picture.bgr_ = false;
    picture.rowStep_ = static_cast<std::ptrdiff_t>(width) * 3;
    return picture;
  }
};

ColorRef Picture::PixelAt(std::int32_t x, std::int32_t y) const {
  const std::uint8_t* p = Row(y) + static_cast<std::size_t>(x) * static_cast<std::size_t>(bytesPerPixel_);
  return bgr_ ? MakeColorRef(p[2], p[1], p[0]) : MakeColorRef(p[0], p[1], p[2]);
}

Result<BmpHeaderSize> ReadBmpHeaderSize(const fs::path& file) {
  KV_TRY_ASSIGN(InputFile input, InputFile::Open(file, "the picture", kMaxPictureFileBytes));
  std::uint8_t header[kFileHeaderBytes + 40] = {};
  KV_TRY_ASSIGN(std::size_t done, input.Read(header, sizeof header));
  KV_TRY_ASSIGN(BmpInfo info, ParseHeaders(header, done, file));
  return BmpHeaderSize{info.width, info.height};
}

Result<Picture> DecodeBmpPicture(PageBlock bytes, const fs::path& file, BmpDecoder decoder) {
  return PictureLoader::Load(std::move(bytes), file, decoder);
}

Result<Picture> LoadBmpPicture(const fs::path& file, BmpDecoder decoder) {
  KV_TRY_ASSIGN(PageBlock bytes, ReadPictureFile(file));
  return DecodeBmpPicture(std::move(bytes), file, decoder);
}

namespace {

// One target row from one source row, through a table of source offsets.
// Blue-green-red sources move a pixel as one 4-byte load and store (the
// fourth byte is overwritten by the next pixel); the first `wide` pixels
// are those whose 4 bytes lie inside both rows, the rest go byte by byte.
template <int kBytes, bool kBgr>
void GatherRow(std::uint8_t* out, const std::uint8_t* in, const std::uint32_t* offsets, std::size_t count,
               std::size_t wide) {
  std::size_t i = 0;
  if constexpr (kBgr) {
    for (; i < wide; ++i) {
      std::uint32_t pixel;
      std::memcpy(&pixel, in + offsets[i], 4);
      std::memcpy(out + i * 3, &pixel, 4);
    }
  }
  for (; i < count; ++i) {
    const std::uint8_t* p = in + offsets[i];
    std::uint8_t* o = out + i * 3;
    if constexpr (kBgr) {
      o[0] = p[0], o[1] = p[1], o[2] = p[2];
    } else {
      o[0] = p[2], o[1] = p[1], o[2] = p[0];
    }
  }
}

// A run of source pixels converted to the bitmap's blue-green-red.
template <int kBytes, bool kBgr>
void ConvertRun(std::uint8_t* out, const std::uint8_t* in, std::size_t count) {
  if constexpr (kBytes == 3 && kBgr) {
    std::memcpy(out, in, count * 3);
  } else {
    for (std::size_t i = 0; i < count; ++i, in += kBytes, out += 3) {
      if constexpr (kBgr) {
        out[0] = in[0], out[1] = in[1], out[2] = in[2];
      } else {
        out[0] = in[2], out[1] = in[1], out[2] = in[0];
      }
    }
  }
}

template <int kBytes, bool kBgr>
void Copy(Bitmap& target, const Picture& picture, std::int32_t x, std::int32_t y) {
  std::int64_t x0 = std::max<std::int64_t>(x, 0);
  std::int64_t x1 = std::min<std::int64_t>(std::int64_t{x} + picture.Width(), target.Width());
  std::int64_t y0 = std::max<std::int64_t>(y, 0);
  std::int64_t y1 = std::min<std::int64_t>(std::int64_t{y} + picture.Height(), target.Height());
  if (x0 >= x1 || y0 >= y1) return;
  auto count = static_cast<std::size_t>(x1 - x0);
  auto sourceX = static_cast<std::size_t>(x0 - x);
  for (std::int64_t row = y0; row < y1; ++row) {
    const std::uint8_t* in = picture.Row(static_cast<std::int32_t>(row - y)) + sourceX * kBytes;
    ConvertRun<kBytes, kBgr>(target.Row(static_cast<std::int32_t>(row)) + static_cast<std::size_t>(x0) * 3, in, count);
  }
}

template <int kBytes, bool kBgr>
void Stretch(Bitmap& target, const Picture& picture) {
  const auto width = static_cast<std::size_t>(target.Width());
  const std::int64_t targetW = target.Width(), targetH = target.Height();
  const std::int64_t sourceW = picture.Width(), sourceH = picture.Height();
  std::vector<std::uint32_t> offsets(width);
  for (std::int64_t x = 0; x < targetW; ++x) {
    offsets[static_cast<std::size_t>(x)] = static_cast<std::uint32_t>((2 * x + 1) * sourceW / (2 * targetW) * kBytes);
  }
  // The last target pixel would spill a byte past its row, and a source
  // pixel at the end of its row would be read a byte past it.
  const auto sourceRowBytes = static_cast<std::uint32_t>(sourceW * kBytes);
  std::size_t wide = width > 0 ? width - 1 : 0;
  while (wide > 0 && offsets[wide - 1] + 4 > sourceRowBytes) --wide;
  std::int64_t previous = -1;
  for (std::int64_t y = 0; y < targetH; ++y) {
    std::int64_t sourceY = (2 * y + 1) * sourceH / (2 * targetH);
    std::uint8_t* out = target.Row(static_cast<std::int32_t>(y));
    if (sourceY == previous) {
      // An enlarged picture repeats rows: the row above is already right.
      std::memcpy(out, target.Row(static_cast<std::int32_t>(y - 1)), width * 3);
    } else {
      GatherRow<kBytes, kBgr>(out, picture.Row(static_cast<std::int32_t>(sourceY)), offsets.data(), width, wide);
    }
    previous = sourceY;
  }
}

}  // namespace

void CopyPicture(Bitmap& target, const Picture& picture, std::int32_t x, std::int32_t y) {
  if (picture.Width() <= 0 || picture.Height() <= 0) return;
  if (picture.IsBgr()) {
    picture.BytesPerPixel() == 4 ? Copy<4, true>(target, picture, x, y) : Copy<3, true>(target, picture, x, y);
  } else {
    Copy<3, false>(target, picture, x, y);
  }
}

void StretchPicture(Bitmap& target, const Picture& picture) {
  if (picture.Width() <= 0 || picture.Height() <= 0) return;
  if (picture.IsBgr()) {
    picture.BytesPerPixel() == 4 ? Stretch<4, true>(target, picture) : Stretch<3, true>(target, picture);
  } else {
    Stretch<3, false>(target, picture);
  }
}

}  // namespace kv::platform
