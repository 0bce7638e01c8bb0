#pragma once

// The decoders behind LoadPicture, one file per topic: stb_image for BMP,
// PNG and GIF (StbDecode.cpp), libjpeg-turbo for JPEG (JpegDecode.cpp),
// libwebp for WebP (WebpDecode.cpp), and the structure checks that those
// decoders leave out (PictureChecks.cpp).
// Every function works on a whole file already in memory and names the
// file in its messages.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "kvplatform/image/PageBlock.h"
#include "kvplatform/image/Picture.h"
#include "kvplatform/base/Result.h"

namespace kv::platform {

enum class PictureFormat { Bmp, Png, Jpeg, Gif, Webp, Unknown };

// The format a file's first bytes announce, whatever its name says.
PictureFormat SniffPictureFormat(const std::uint8_t* bytes, std::size_t size);

// Pixels from a decoder, released by the decoder's own function.
struct DecodedPixels {
  std::unique_ptr<std::uint8_t, void (*)(void*)> pixels{nullptr, nullptr};
  std::int32_t width = 0;
  std::int32_t height = 0;
};

struct PixelSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
};

// The largest picture allowed, at 32 bits per pixel, plus generous headers.
constexpr std::int64_t kMaxPictureFileBytes = Picture::kMaxPixels * 4 + (std::int64_t{1} << 20);

// The whole file, opened so that no special file can make the reader wait,
// and no larger than the largest picture allowed can be.
[[nodiscard]] Result<PageBlock> ReadPictureFile(const std::filesystem::path& file);

// "the picture /path/name.png", for messages.
std::string PictureName(const std::filesystem::path& file);

// Decodes the bytes of a bitmap file as LoadBmpPicture does.
[[nodiscard]] Result<Picture> DecodeBmpPicture(PageBlock bytes, const std::filesystem::path& file,
                                               BmpDecoder decoder);

// The size a PNG or GIF header states, read without decoding.
[[nodiscard]] Result<PixelSize> StbPictureSize(const std::uint8_t* bytes, std::size_t size,
                                               const std::filesystem::path& file);
// Decodes a BMP, PNG or GIF (its first frame) into `channels` bytes
// per pixel (3: red, green, blue; 4: with alpha), top row first.
[[nodiscard]] Result<DecodedPixels> StbDecode(const std::uint8_t* bytes, std::size_t size, int channels,
                                              const std::filesystem::path& file);

// The same for WebP; pixels are always red, green, blue, alpha.
[[nodiscard]] Result<PixelSize> WebpPictureSize(const std::uint8_t* bytes, std::size_t size,
                                                const std::filesystem::path& file);
[[nodiscard]] Result<DecodedPixels> WebpDecode(const std::uint8_t* bytes, std::size_t size,
                                               const std::filesystem::path& file);

// The same for JPEG: grey, colour and CMYK pictures, baseline or
// progressive; pixels are always red, green, blue, alpha (opaque). A file
// that ends before its last row fails as truncated.
[[nodiscard]] Result<PixelSize> JpegPictureSize(const std::uint8_t* bytes, std::size_t size,
                                                const std::filesystem::path& file);
[[nodiscard]] Result<DecodedPixels> JpegDecode(const std::uint8_t* bytes, std::size_t size,
                                               const std::filesystem::path& file);

// The orientation (1..8, 1 = as stored) a JPEG's Exif block states; 1 when
// it states none or a value out of range.
int JpegExifOrientation(const std::uint8_t* bytes, std::size_t size);

// Fails for a JPEG without its end mark after the first scan, a GIF whose
// first picture's data runs past the end of the file (the decoders would
// fill the missing part with grey or the background), or a PNG with a
// chunk that does (its decoder would first allocate what the chunk states).
[[nodiscard]] Status CheckStructure(PictureFormat format, const std::uint8_t* bytes, std::size_t size,
                                   const std::filesystem::path& file);

}  // namespace kv::platform
