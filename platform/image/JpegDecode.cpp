// JPEG through libjpeg-turbo. The library reports a fatal error by calling
// back into us, and the only way back out is longjmp. So everything that
// runs between setjmp and a possible longjmp lives in RunJpeg below: a
// C-style function whose locals are plain data, so no destructor is ever
// skipped; the C++ functions after it only read what it left in a JpegJob.

#include <stdio.h>  // jpeglib.h uses FILE without including it

#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PictureDecode.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

// A real progressive picture has about ten scans. A damaged one may state
// thousands, and each scan runs over the whole picture again.
constexpr int kMaxScans = 256;

// Our own codes beside the library's message codes (which are all >= 0).
constexpr int kTooManyScans = -1;
constexpr int kOutOfMemory = -2;

// What RunJpeg is asked to do and what it found: plain data only.
struct JpegJob {
  const unsigned char* bytes = nullptr;
  unsigned long size = 0;
  bool decode = false;  // false: read the header only

  unsigned width = 0;
  unsigned height = 0;
  bool cmyk = false;          // pixels are C, M, Y, K instead of R, G, B, A
  bool invertedCmyk = false;  // CMYK as Adobe's programs store it: 255 is no ink
  unsigned char* pixels = nullptr;  // from std::malloc; 4 bytes a pixel, top row first
  int code = 0;               // why it failed: a library message code or one of ours
  char message[JMSG_LENGTH_MAX] = {};
};

struct ErrorManager {
  jpeg_error_mgr pub;  // first, so the library's pointer to it is a pointer to this
  std::jmp_buf jump;
  JpegJob* job;
};

[[noreturn]] void JumpOut(j_common_ptr cinfo, int code, const char* text) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  manager->job->code = code;
  if (text != nullptr) {
    std::snprintf(manager->job->message, sizeof manager->job->message, "%s", text);
  } else {
    cinfo->err->format_message(cinfo, manager->job->message);
  }
  std::longjmp(manager->jump, 1);
}

void OnError(j_common_ptr cinfo) { JumpOut(cinfo, cinfo->err->msg_code, nullptr); }

// Warnings are not printed. The library steps over damaged data as other
// decoders do, but a file that ends early would be filled with grey, so
// that one warning ends the decode.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) JumpOut(cinfo, JWRN_JPEG_EOF, nullptr);
}

void OnProgress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    JumpOut(cinfo, kTooManyScans, "more scans than any real picture has");
  }
}

// Reads the header and, when asked, every pixel. Returns false with
// job->code and job->message set when the library gives up.
bool RunJpeg(JpegJob* job) {
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  jpeg_progress_mgr progress;
  std::memset(&cinfo, 0, sizeof cinfo);
  std::memset(&progress, 0, sizeof progress);
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = OnError;
  errors.pub.emit_message = OnMessage;
  errors.job = job;
  progress.progress_monitor = OnProgress;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    std::free(job->pixels);
    job->pixels = nullptr;
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, job->bytes, job->size);
  jpeg_read_header(&cinfo, TRUE);
  job->width = cinfo.image_width;
  job->height = cinfo.image_height;
  job->cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  job->invertedCmyk = cinfo.saw_Adobe_marker != 0;
  if (job->decode) {
    // Grey and colour pictures come out as red, green, blue and alpha;
    // the library cannot turn CMYK into those, so that is done after.
    cinfo.out_color_space = job->cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t{cinfo.output_width} * 4;
    job->width = cinfo.output_width;
    job->height = cinfo.output_height;
    job->pixels = static_cast<unsigned char*>(std::malloc(stride * cinfo.output_height));
    if (job->pixels == nullptr) JumpOut(reinterpret_cast<j_common_ptr>(&cinfo), kOutOfMemory, "not enough memory");
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = job->pixels + stride * cinfo.output_scanline;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    // Whatever follows the last row (trailing bytes, a damaged tail after
    // the end mark) is not read: the picture is complete.
  }
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// What went wrong, in words for the message that follows the file's name.
std::string Fault(const JpegJob& job, const char* doing) {
  switch (job.code) {
    case JERR_IMAGE_TOO_BIG:
      return " states a size larger than a background picture may be";
    case JWRN_JPEG_EOF:
      return " is truncated: the file ends inside its picture data";
    default:
      return std::string(doing) + job.message;
  }
}

// Turns CMYK pixels into red, green, blue and alpha in place.
void CmykToRgba(std::uint8_t* pixels, std::size_t count, bool inverted) {
  for (std::size_t i = 0; i < count; ++i, pixels += 4) {
    std::uint32_t c = pixels[0], m = pixels[1], y = pixels[2], k = pixels[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    pixels[0] = static_cast<std::uint8_t>((c * k + 127) / 255);
    pixels[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    pixels[2] = static_cast<std::uint8_t>((y * k + 127) / 255);
    pixels[3] = 255;
  }
}

}  // namespace

Result<PixelSize> JpegPictureSize(const std::uint8_t* bytes, std::size_t size, const fs::path& file) {
  JpegJob job;
  job.bytes = bytes;
  job.size = size;
  if (!RunJpeg(&job)) return Fail(ErrorCode::Corrupt, PictureName(file) + Fault(job, " has a damaged header: "));
  return PixelSize{job.width, job.height};
}

Result<DecodedPixels> JpegDecode(const std::uint8_t* bytes, std::size_t size, const fs::path& file) {
  JpegJob job;
  job.bytes = bytes;
  job.size = size;
  job.decode = true;
  bool done = RunJpeg(&job);
  DecodedPixels decoded;
  decoded.pixels = std::unique_ptr<std::uint8_t, void (*)(void*)>(job.pixels, &std::free);
  if (!done) return Fail(ErrorCode::Corrupt, PictureName(file) + Fault(job, " cannot be decoded: "));
  if (job.width == 0 || job.height == 0) return Fail(ErrorCode::Corrupt, PictureName(file) + " decodes to no pixels");
  if (job.cmyk) CmykToRgba(decoded.pixels.get(), std::size_t{job.width} * job.height, job.invertedCmyk);
  decoded.width = static_cast<std::int32_t>(job.width);
  decoded.height = static_cast<std::int32_t>(job.height);
  return decoded;
}

}  // namespace kv::platform
