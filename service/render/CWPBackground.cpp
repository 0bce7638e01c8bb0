#include "CWPBackground.h"

#include <algorithm>

#include "LayoutText.h"
#include "SmoothScale.h"
#include "kvplatform/base/DirectoryList.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/image/Picture.h"
#include "kvplatform/base/Text.h"
#include "kvshared/CStatics.h"
#include "kvshared/Enums.h"

namespace kv::render {

Status CWPBackground::Init(platform::Bitmap* hDC, std::int32_t Width, std::int32_t Height,
                           const std::string& BitmapFileName, std::int32_t Mode, std::int32_t BackColor) {
  std::string folder;
  if (!platform::TrimSpaces(BitmapFileName).empty()) {
    KV_TRY_ASSIGN(folder, Statics().GetApplicationPath());
  }
  return Init(hDC, Width, Height, BitmapFileName, Mode, BackColor, folder);
}

Status CWPBackground::Init(platform::Bitmap* hDC, std::int32_t Width, std::int32_t Height,
                           const std::string& BitmapFileName, std::int32_t Mode, std::int32_t BackColor,
                           const std::string& DataFolder) {
  DeviceContext_ = hDC;
  Width_ = Width;
  Height_ = Height;
  Mode_ = Mode;
  BackColor_ = BackColor;
  PicturePath_.clear();
  Refusal_.clear();
  if (platform::TrimSpaces(BitmapFileName).empty()) return Ok();

  const std::string pictures = DataFolder + "/" + std::string(CStatics::FOLDERBACKGROUNDS);
  // Names come from the settings store, which any program of the user can
  // write: a name must never open a file outside the backgrounds folder.
  if (BitmapFileName.find('/') != std::string::npos || BitmapFileName.find('\0') != std::string::npos) {
    PicturePath_ = pictures + "/" + BitmapFileName + ".bmp";
    Refusal_ = "the background name \"" + BitmapFileName.substr(0, BitmapFileName.find('\0')) +
               "\" holds a \"/\" or a zero byte and cannot name a picture in " + pictures +
               "; the wallpaper is made without a picture";
    return Ok();
  }
  // The file the catalog listed under the name, whatever its format and the
  // letter case of its extension (CAMERA.BMP and Beach.jpeg are listed as
  // "CAMERA" and "Beach"); when files of several formats share the name,
  // the first of kPictureExtensions wins, as in the catalog.
  PicturePath_ = platform::ResolveListedFile(pictures, BitmapFileName, platform::kPictureExtensions).string();
  return Ok();
}

Status CWPBackground::PaintBackground() {
  if (DeviceContext_ == nullptr) return Fail(ErrorCode::InvalidArgument, "the background was painted before Init");
  platform::Bitmap& bitmap = *DeviceContext_;

  // The colour covers the whole bitmap, so a centred picture sits on it.
  if (PicturePath_.empty() || Mode_ == bgmCenter) bitmap.Fill(BackColor_);
  if (PicturePath_.empty()) return Ok();

  // From here on nothing ends the painting: a picture that cannot be had
  // leaves the bitmap as the colour (or the composition) left it.
  if (!Refusal_.empty()) {
    platform::LogErrorOnce(Refusal_);
    return Ok();
  }
  // Transparent parts of a picture show the background colour, in every mode.
  auto picture = platform::LoadPicture(PicturePath_, BackColor_);
  if (!picture) {
    platform::LogErrorOnce(picture.error().message + "; the wallpaper is made without it");
    return Ok();
  }
  // The decoded picture's own size is used, whatever its header states (a
  // top-down picture states a negative height); it is never zero, so the
  // tiling below always ends.
  const std::int64_t w = picture->Width(), h = picture->Height();
  switch (Mode_) {
    case bgmStretch:
      if (Smooth_) {
        SmoothScalePicture(bitmap, *picture, 0, 0, Width_, Height_);
      } else {
        platform::StretchPicture(bitmap, *picture);
      }
      break;
    case bgmTile:
      for (std::int64_t y = 0; y < Height_; y += h) {
        for (std::int64_t x = 0; x < Width_; x += w) {
          platform::CopyPicture(bitmap, *picture, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y));
        }
      }
      break;
    case bgmCenter:
      if (Smooth_ && (w > Width_ || h > Height_)) {
        PaintShrunkToFit(bitmap, *picture);
        break;
      }
      platform::CopyPicture(bitmap, *picture, RoundHalfEven(static_cast<double>(Width_ - w) / 2.0),
                            RoundHalfEven(static_cast<double>(Height_ - h) / 2.0));
      break;
    default:
      break;  // any other mode draws no picture
  }
  return Ok();
}

void CWPBackground::PaintShrunkToFit(platform::Bitmap& bitmap, const platform::Picture& picture) const {
  const double scale = std::min(static_cast<double>(Width_) / picture.Width(), static_cast<double>(Height_) / picture.Height());
  const std::int32_t w = std::clamp(RoundHalfEven(picture.Width() * scale), 1, Width_);
  const std::int32_t h = std::clamp(RoundHalfEven(picture.Height() * scale), 1, Height_);
  SmoothScalePicture(bitmap, picture, RoundHalfEven((Width_ - w) / 2.0), RoundHalfEven((Height_ - h) / 2.0), w, h);
}

Result<BitmapSize> ReadBitmapSize(const std::string& Path) {
  KV_TRY_ASSIGN(platform::BmpHeaderSize size, platform::ReadPictureHeaderSize(Path));
  return BitmapSize{size.width, size.height};
}

}  // namespace kv::render
