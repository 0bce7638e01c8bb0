#include <climits>
#include <cstring>
#include <string>

#include "PictureDecode.h"

// stb_image, compiled here for the three formats it reads for us, from memory
// only, and with a bound on the sides so that no header can make it allocate
// more than a sane picture needs.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_ONLY_PNG
#define STBI_ONLY_GIF
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 32767
#include <stb_image.h>

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

// What every call of stb checks first: stb counts bytes in an int.
Status CheckLength(std::size_t size, const fs::path& file) {
  if (size > static_cast<std::size_t>(INT_MAX)) return Fail(ErrorCode::Corrupt, PictureName(file) + " is too large to decode");
  return Ok();
}

// What went wrong, in words for the message that follows the file's name.
std::string Fault(const char* doing) {
  std::string reason = stbi_failure_reason();
  // The bound on the sides above, reached by the header alone.
  if (reason == "too large") return " states a size larger than a background picture may be";
  return std::string(doing) + reason;
}

}  // namespace

Result<PixelSize> StbPictureSize(const std::uint8_t* bytes, std::size_t size, const fs::path& file) {
  KV_TRY(CheckLength(size, file));
  // PNG and GIF state their size at a fixed place; read there, a size too
  // large for stb is still told in the message, not just refused.
  auto big = [&](std::size_t at) {
    return (std::int64_t{bytes[at]} << 24) | (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3];
  };
  if (size >= 24 && bytes[0] == 0x89 && std::memcmp(bytes + 12, "IHDR", 4) == 0) {
    return PixelSize{big(16), big(20)};
  }
  if (size >= 10 && bytes[0] == 'G') return PixelSize{bytes[6] | (bytes[7] << 8), bytes[8] | (bytes[9] << 8)};
  int width = 0, height = 0, channels = 0;
  if (stbi_info_from_memory(bytes, static_cast<int>(size), &width, &height, &channels) == 0) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + Fault(" has a damaged header: "));
  }
  return PixelSize{width, height};
}

Result<DecodedPixels> StbDecode(const std::uint8_t* bytes, std::size_t size, int channels, const fs::path& file) {
  KV_TRY(CheckLength(size, file));
  DecodedPixels decoded;
  int width = 0, height = 0, stored = 0;
  stbi_uc* pixels = stbi_load_from_memory(bytes, static_cast<int>(size), &width, &height, &stored, channels);
  if (pixels == nullptr) {
    return Fail(ErrorCode::Corrupt, PictureName(file) + Fault(" cannot be decoded: "));
  }
  decoded.pixels = std::unique_ptr<std::uint8_t, void (*)(void*)>(pixels, &stbi_image_free);
  if (width <= 0 || height <= 0) return Fail(ErrorCode::Corrupt, PictureName(file) + " decodes to no pixels");
  decoded.width = width;
  decoded.height = height;
  return decoded;
}

}  // namespace kv::platform
