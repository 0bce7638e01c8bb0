#pragma once

#include <cstdint>
#include <string>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/image/Picture.h"
#include "kvplatform/base/Result.h"

namespace kv::render {

// Paints a wallpaper's background into its bitmap: the background colour,
// a picture (BMP, PNG, JPEG, GIF or WebP) from the data folder's
// "Backgrounds" (tiled from the top-left corner, stretched over the whole
// bitmap, or centred on the colour), or both. It holds no resources
// between its two calls.
class CWPBackground {
 public:
  // Keeps the values and works out the picture's file: the data folder's
  // Backgrounds/<BitmapFileName> with the extension the catalog found it
  // by (the first of kPictureExtensions that has a file, in whatever letter
  // case), the name used as given (not trimmed); none when the name is
  // empty or spaces. A name that would lead out of that folder (it holds
  // "/") names no file: it is reported when painting and draws no
  // picture. Mode: 0 tile, 1 stretch, 2 centre. Nothing is drawn here. Fails only when the data folder is unknown.
  [[nodiscard]] Status Init(platform::Bitmap* hDC, std::int32_t Width, std::int32_t Height,
                            const std::string& BitmapFileName, std::int32_t Mode, std::int32_t BackColor);
  // The same with the data folder given, so nothing asks the settings store
  // for it (a render on a thread of its own).
  [[nodiscard]] Status Init(platform::Bitmap* hDC, std::int32_t Width, std::int32_t Height,
                            const std::string& BitmapFileName, std::int32_t Mode, std::int32_t BackColor,
                            const std::string& DataFolder);

  // Paints the colour (without a picture, or in centre mode) and then the
  // picture, its transparent parts blended over the background colour. A
  // picture that cannot be read (missing, damaged, truncated, of a format
  // not read) is reported once on stderr and draws nothing; the
  // painting still succeeds and always finishes.
  [[nodiscard]] Status PaintBackground();

  // Scales with filtering instead of nearest pixels from the next paint on:
  // a stretched picture, and a centred picture larger than the bitmap, which
  // is then shrunk to fit inside it with its proportions kept. Off at first.
  void SetSmoothScaling(bool Smooth) { Smooth_ = Smooth; }

  // The full path of the picture, or "" for none.
  const std::string& PicturePath() const { return PicturePath_; }

 private:
  void PaintShrunkToFit(platform::Bitmap& bitmap, const platform::Picture& picture) const;

  platform::Bitmap* DeviceContext_ = nullptr;
  std::string PicturePath_;
  std::string Refusal_;  // why the name names no file, when it does not
  std::int32_t BackColor_ = 0;
  std::int32_t Mode_ = 0;
  std::int32_t Width_ = 0;
  std::int32_t Height_ = 0;
  bool Smooth_ = false;
};

// The size a picture file's header states (a top-down bitmap states a
// negative height; a JPEG is measured upright, as it is painted). Fails when
// the file cannot be opened or read.
struct BitmapSize {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
};
[[nodiscard]] Result<BitmapSize> ReadBitmapSize(const std::string& Path);

}  // namespace kv::render
