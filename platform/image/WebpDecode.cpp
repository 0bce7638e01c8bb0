#include <webp/decode.h>

#include <string>

#include "PictureDecode.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

void FreeWebp(void* pixels) { WebPFree(pixels); }

}  // namespace

Result<PixelSize> WebpPictureSize(const std::uint8_t* bytes, std::size_t size, const fs::path& file) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(bytes, size, &features) != VP8_STATUS_OK) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " has a damaged WebP header");
  }
  if (features.has_animation) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " is an animated WebP, which is not supported; "
                                                        "save its first frame as a still picture");
  }
  return PixelSize{features.width, features.height};
}

Result<DecodedPixels> WebpDecode(const std::uint8_t* bytes, std::size_t size, const fs::path& file) {
  DecodedPixels decoded;
  int width = 0, height = 0;
  std::uint8_t* pixels = WebPDecodeRGBA(bytes, size, &width, &height);
  if (pixels == nullptr) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + " cannot be decoded: its WebP data is damaged or truncated");
  }
  decoded.pixels = std::unique_ptr<std::uint8_t, void (*)(void*)>(pixels, &FreeWebp);
  if (width <= 0 || height <= 0) return Fail(ErrorCode::Corrupt, PictureName(file) + " decodes to no pixels");
  decoded.width = width;
  decoded.height = height;
  return decoded;
}

}  // namespace kv::platform
