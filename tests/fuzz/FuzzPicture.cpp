// Picture file bytes (any format) -> header size, decode, and the background painter in all three modes on a small
// bitmap. Whatever the bytes, the painter finishes and succeeds, every pixel it reads or writes lies inside, and a
// picture that decodes has the size its header read states.

#include <stdlib.h>

#include <array>
#include <cstdint>

#include "CWPBackground.h"
#include "FuzzSupport.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/image/Picture.h"
#include "kvplatform/store/Store.h"

namespace {

// A private home whose data folder holds the picture under test.
const std::filesystem::path& PictureFile() {
  static const std::filesystem::path file = [] {
    const std::filesystem::path& home = FuzzFolder("picture");
    std::filesystem::create_directories(home / "data" / "Backgrounds");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "share").c_str(), 1);
    auto store = kv::platform::Store::Open(home / "config" / "lexora" / "registry.sqlite");
    Check(store.has_value());
    auto key = (*store)->CreateKey("software\\Lexora\\wallpaper");
    Check(key && key->SetValue("Path", (home / "data").string()));
    return home / "data" / "Backgrounds" / "fuzz.bmp";
  }();
  return file;
}

// A painter for each mode, set up once: Init (finding the file through the store) does not depend on the bytes.
struct Painter {
  explicit Painter(std::int32_t mode) { Check(painter.Init(&bitmap, 37, 23, "fuzz", mode, 0x00336699).has_value()); }
  kv::platform::Bitmap bitmap = *kv::platform::Bitmap::Create(37, 23);
  kv::render::CWPBackground painter;
};

std::array<Painter, 4>& Painters() {
  static std::array<Painter, 4> painters{Painter(0), Painter(1), Painter(2), Painter(3)};
  return painters;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::filesystem::path& file = PictureFile();
  WriteBytes(file, {reinterpret_cast<const char*>(data), size});
  auto stated = kv::render::ReadBitmapSize(file.string());
  auto any = kv::platform::LoadPicture(file, 0x00336699);
  const bool bitmap = size >= 2 && data[0] == 'B' && data[1] == 'M';
  if (any) {
    Check(any->Width() > 0 && any->Height() > 0);
    Check(any->PixelAt(any->Width() - 1, any->Height() - 1) >= 0);
    // A bitmap's header states a top-down height as negative, a damaged one anything the decoder then corrects.
    if (!bitmap) Check(stated && stated->Width == any->Width() && stated->Height == any->Height());
  }
  // The bitmap reader refuses anything else by its first two bytes.
  if (bitmap) for (auto decoder : {kv::platform::BmpDecoder::Automatic, kv::platform::BmpDecoder::General}) {
    auto picture = kv::platform::LoadBmpPicture(file, decoder);
    if (!picture) continue;
    Check(picture->Width() > 0 && picture->Height() > 0);
    Check(picture->Width() <= kv::platform::Picture::kMaxSide && picture->Height() <= kv::platform::Picture::kMaxSide);
    // Every pixel is readable: a row pointer past the decoded data shows here under AddressSanitizer.
    for (std::int32_t y = 0; y < picture->Height(); y += std::max(1, picture->Height() / 64)) {
      for (std::int32_t x = 0; x < picture->Width(); x += std::max(1, picture->Width() / 64)) Check(picture->PixelAt(x, y) >= 0);
    }
  }
  // A picture a few times larger than the bitmap reaches every way of painting; large ones would only slow the search.
  // A picture that cannot be loaded fails alike in every mode: one will do.
  if (any && std::int64_t{any->Width()} * any->Height() > (std::int64_t{1} << 16)) return 0;
  for (Painter& painter : Painters()) {
    Check(painter.painter.PaintBackground().has_value());
    if (!any) break;
  }
  return 0;
}
