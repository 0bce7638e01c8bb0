#include <algorithm>
#include <cstring>
#include <string>

#include "PictureDecode.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::uint8_t* bytes, std::size_t size, const char* magic, std::size_t length,
                std::size_t at = 0) {
  return size >= at + length && std::memcmp(bytes + at, magic, length) == 0;
}

std::uint16_t BigEndian16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Walks a JPEG's marker segments from the start up to the first scan,
// handing every segment's marker and payload to `onSegment`. Returns the
// offset just past the first scan's header, or kNone when the walk ends
// without reaching one (the decoder judges such a file itself).
template <class OnSegment>
std::size_t WalkJpegHeaders(const std::uint8_t* bytes, std::size_t size, OnSegment onSegment) {
  std::size_t pos = 2;  // past the start mark
  while (pos + 4 <= size) {
    if (bytes[pos] != 0xFF) return kNone;
    std::uint8_t marker = bytes[pos + 1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++pos;
      continue;
    }
    if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length follows
      pos += 2;
      continue;
    }
    if (marker == 0xD9) return kNone;
    std::size_t length = BigEndian16(bytes + pos + 2);
    if (length < 2 || pos + 2 + length > size) return kNone;
    if (marker == 0xDA) return pos + 2 + length;
    onSegment(marker, bytes + pos + 4, length - 2);
    pos += 2 + length;
  }
  return kNone;
}

// The orientation tag (0x0112) of the first directory of a TIFF structure,
// as an Exif block holds it; 1 when there is none or it is out of range.
int TiffOrientation(const std::uint8_t* tiff, std::size_t size) {
  if (size < 8) return 1;
  bool little = tiff[0] == 'I' && tiff[1] == 'I';
  if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
  auto u16 = [&](std::size_t at) -> std::uint32_t {
    return little ? std::uint32_t{tiff[at]} | (std::uint32_t{tiff[at + 1]} << 8) : BigEndian16(tiff + at);
  };
  auto u32 = [&](std::size_t at) -> std::uint32_t {
    return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
  };
  if (u16(2) != 42) return 1;
  std::size_t directory = u32(4);
  if (directory > size - 2) return 1;
  std::size_t entries = u16(directory);
  for (std::size_t i = 0; i < entries; ++i) {
    std::size_t entry = directory + 2 + 12 * i;
    if (entry + 12 > size) break;
    if (u16(entry) != 0x0112) continue;
    // A SHORT (type 3) with at least one value, held in the entry itself.
    if (u16(entry + 2) != 3 || u32(entry + 4) < 1) return 1;
    std::uint32_t value = u16(entry + 8);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

// Skips a GIF's chain of data blocks starting at `pos`; kNone when the
// chain runs past the end of the file.
std::size_t SkipGifBlocks(const std::uint8_t* bytes, std::size_t size, std::size_t pos) {
  while (pos < size) {
    std::size_t length = bytes[pos++];
    if (length == 0) return pos;
    pos += length;
  }
  return kNone;
}

std::size_t GifColourTable(std::uint8_t flags) { return (flags & 0x80) ? 3 * (std::size_t{2} << (flags & 7)) : 0; }

// Whether the first picture of a GIF ends inside the file.
bool GifFirstPictureComplete(const std::uint8_t* bytes, std::size_t size) {
  if (size < 13) return false;
  std::size_t pos = 13 + GifColourTable(bytes[10]);
  while (pos < size) {
    switch (bytes[pos]) {
      case 0x21:  // an extension: its label, then its blocks
        pos = pos + 2 > size ? kNone : SkipGifBlocks(bytes, size, pos + 2);
        break;
      case 0x2C:  // a picture: its descriptor, colour table, code size and data
        if (pos + 10 > size) return false;
        pos += 10 + GifColourTable(bytes[pos + 9]) + 1;
        return SkipGifBlocks(bytes, size, pos) != kNone;
      default:  // the end mark or something unknown: the decoder judges it
        return true;
    }
    if (pos == kNone) return false;
  }
  return false;
}

// Whether every chunk of a PNG up to its end chunk lies inside the file.
// stb_image grows its buffer for the compressed data to what a chunk
// states before it reads the chunk, so a cut file stating a chunk of a
// gigabyte would cost a gigabyte.
bool PngChunksInside(const std::uint8_t* bytes, std::size_t size) {
  std::size_t pos = 8;  // past the signature
  while (pos + 8 <= size) {
    const std::size_t length = (std::size_t{bytes[pos]} << 24) | (std::size_t{bytes[pos + 1]} << 16) |
                               (std::size_t{bytes[pos + 2]} << 8) | bytes[pos + 3];
    if (length > size - pos - 8 || size - pos - 8 - length < 4) return false;  // data and checksum
    if (std::memcmp(bytes + pos + 4, "IEND", 4) == 0) return true;
    pos += 12 + length;
  }
  return pos == size;  // no end chunk: the decoder judges that
}

}  // namespace

PictureFormat SniffPictureFormat(const std::uint8_t* bytes, std::size_t size) {
  if (StartsWith(bytes, size, "BM", 2)) return PictureFormat::Bmp;
  if (StartsWith(bytes, size, "\x89PNG\r\n\x1A\n", 8)) return PictureFormat::Png;
  if (StartsWith(bytes, size, "\xFF\xD8\xFF", 3)) return PictureFormat::Jpeg;
  if (StartsWith(bytes, size, "GIF87a", 6) || StartsWith(bytes, size, "GIF89a", 6)) return PictureFormat::Gif;
  if (StartsWith(bytes, size, "RIFF", 4) && StartsWith(bytes, size, "WEBP", 4, 8)) return PictureFormat::Webp;
  return PictureFormat::Unknown;
}

int JpegExifOrientation(const std::uint8_t* bytes, std::size_t size) {
  int orientation = 0;
  WalkJpegHeaders(bytes, size, [&](std::uint8_t marker, const std::uint8_t* payload, std::size_t length) {
    // The first Exif block counts; a later one (some editors add their own) does not.
    if (orientation != 0 || marker != 0xE1 || !StartsWith(payload, length, "Exif\0\0", 6)) return;
    orientation = TiffOrientation(payload + 6, length - 6);
  });
  return orientation == 0 ? 1 : orientation;
}

Status CheckStructure(PictureFormat format, const std::uint8_t* bytes, std::size_t size, const fs::path& file) {
  bool complete = true;
  if (format == PictureFormat::Jpeg) {
    // Compressed data never holds the end mark's two bytes (0xFF is always
    // followed by 0 or a restart number there), so finding it after the
    // first scan's header tells a whole file from a cut one.
    std::size_t scan = WalkJpegHeaders(bytes, size, [](std::uint8_t, const std::uint8_t*, std::size_t) {});
    if (scan != kNone) {
      complete = false;
      for (std::size_t i = scan; i + 1 < size && !complete; ++i) complete = bytes[i] == 0xFF && bytes[i + 1] == 0xD9;
    }
  } else if (format == PictureFormat::Gif) {
    complete = GifFirstPictureComplete(bytes, size);
  } else if (format == PictureFormat::Png) {
    complete = PngChunksInside(bytes, size);
  }
  if (!complete) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " is truncated: the file ends inside its picture data");
  }
  return Ok();
}

}  // namespace kv::platform
