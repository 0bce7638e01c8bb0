#include "RenderWallpaper.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "../PublishWallpaper.h"
#include "CWPBackground.h"
#include "CWPFont.h"
#include "CWPText.h"
#include "LayoutText.h"
#include "TextEffects.h"
#include "kvplatform/Bitmap.h"
#include "kvplatform/Screen.h"
#include "kvplatform/Text.h"
#include "kvshared/CStatics.h"

namespace kv::render {

// The effects that paint around the text, from where the layout put it.
// The text's coverage is drawn only around its cells: a margin of a line
// height or the widest advance, whichever is larger, holds whatever ink a
// glyph puts outside its own cell.
Status PaintEffectsUnderText(platform::Bitmap& bitmap, CWPText& text, std::int32_t textColor, const Effects& chosen) {
  if (!chosen.AnyText()) return Ok();
  TextCoverage coverage;
  KV_TRY_ASSIGN(coverage.LineHeight, text.GetFontHeight());
  KV_TRY_ASSIGN(std::int32_t widest, text.GetCharacterWidest());
  KV_TRY_ASSIGN(std::int32_t last, text.GetNumberOfCharacters());
  std::int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
  for (std::int32_t i = 0; i <= last; ++i) {
    KV_TRY_ASSIGN(std::int32_t x, text.GetCharacterX(i));
    KV_TRY_ASSIGN(std::int32_t y, text.GetCharacterY(i));
    KV_TRY_ASSIGN(std::int32_t width, text.GetCharacterWidth(i));
    if (coverage.LineTops.empty() || coverage.LineTops.back() != y) coverage.LineTops.push_back(y);
    left = std::min<std::int64_t>(left, x), right = std::max<std::int64_t>(right, std::int64_t{x} + std::max(width, 0));
    top = std::min<std::int64_t>(top, y), bottom = std::max<std::int64_t>(bottom, y);
  }
  const std::int64_t margin = std::max({coverage.LineHeight, widest, 1});
  bottom += coverage.LineHeight;
  left = std::max<std::int64_t>(left - margin, 0), right = std::min<std::int64_t>(right + margin, bitmap.Width());
  top = std::max<std::int64_t>(top - margin, 0), bottom = std::min<std::int64_t>(bottom + margin, bitmap.Height());
  if (left >= right || top >= bottom) return Ok();  // the text lies wholly off the bitmap
  coverage.Left = static_cast<std::int32_t>(left), coverage.Top = static_cast<std::int32_t>(top);
  coverage.Width = static_cast<std::int32_t>(right - left), coverage.Height = static_cast<std::int32_t>(bottom - top);
  coverage.Pixels.assign(static_cast<std::size_t>(coverage.Width) * static_cast<std::size_t>(coverage.Height), 0);
  KV_TRY(text.PaintTextCoverage(coverage.Pixels.data(), coverage.Width, coverage.Height, coverage.Left, coverage.Top));
  PaintTextEffects(bitmap, coverage, textColor, chosen);
  return Ok();
}

Result<std::optional<platform::Bitmap>> ComposeWallpaper(
    const platform::ScreenInfo& screen, const std::string& DataFolder, const std::string& BackgroundName,
    std::int32_t BackgroundColor, std::int32_t BackgroundMode, const std::string& FontName, std::int32_t FontSize,
    std::int32_t FontColor, const std::string& Quote, std::int32_t TopMargin, std::int32_t BottomMargin,
    std::int32_t LeftMargin, std::int32_t RightMargin, std::int32_t HAlign, std::int32_t VAlign, bool AllowViolation,
    const Effects& Chosen) {
  // The screen, less the taskbar's band along its edge.
  std::int32_t W = screen.width, H = screen.height;
  const platform::Taskbar taskbar = screen.taskbar.value_or(platform::Taskbar{});
  const platform::ScreenRect& band = taskbar.rect;
  if (taskbar.edge == platform::kTaskbarTop || taskbar.edge == platform::kTaskbarBottom) {
    H = H + band.top - band.bottom;
  } else {
    W = W + band.left - band.right;
  }
  // A taskbar that leaves no room leaves no room for any text either.
  if (W < 1 || H < 1) return std::nullopt;

  // A new bitmap is black; its memory is only touched once the text fits.
  KV_TRY_ASSIGN(platform::Bitmap bitmap, platform::Bitmap::Create(W, H));

  CWPBackground background;
  KV_TRY(background.Init(&bitmap, W, H, BackgroundName, BackgroundMode, BackgroundColor, DataFolder));
  auto font = std::make_shared<CWPFont>();
  KV_TRY(font->Init(&bitmap, FontName, FontSize, FontColor));
  CWPText text;
  KV_TRY(text.Init(&bitmap, font, Quote));

  KV_TRY_ASSIGN(std::int32_t ok, LayoutText(text, W, H, TopMargin, BottomMargin, LeftMargin, RightMargin, HAlign,
                                            VAlign, AllowViolation));

  // Every character moves away from the taskbar's edge by its thickness;
  // what moves past the bitmap's edges is cut off when drawn.
  std::int32_t dx = 0, dy = 0;
  switch (taskbar.edge) {
    case platform::kTaskbarBottom:
      dy = band.top - band.bottom;
      break;
    case platform::kTaskbarTop:
      dy = band.bottom - band.top;
      break;
    case platform::kTaskbarRight:
      dx = band.left - band.right;
      break;
    default:
      dx = band.right - band.left;
      break;
  }
  if (dx != 0 || dy != 0) {
    KV_TRY_ASSIGN(std::int32_t last, text.GetNumberOfCharacters());
    for (std::int32_t i = 0; i <= last; ++i) {
      KV_TRY_ASSIGN(std::int32_t x, text.GetCharacterX(i));
      KV_TRY_ASSIGN(std::int32_t y, text.GetCharacterY(i));
      KV_TRY(text.SetCharacterPosition(i, x + dx, y + dy));
    }
  }

  if (ok == 0) return std::nullopt;
  background.SetSmoothScaling(Chosen.Smooth);
  KV_TRY(background.PaintBackground());
  if (Chosen.AnyText()) KV_TRY(PaintEffectsUnderText(bitmap, text, FontColor, Chosen));
  KV_TRY(text.PaintText());
  return std::optional<platform::Bitmap>(std::move(bitmap));
}

Result<std::int32_t> RenderWallpaper(const std::string& BackgroundName, std::int32_t BackgroundColor,
                                     std::int32_t BackgroundMode, const std::string& FontName, std::int32_t FontSize,
                                     std::int32_t FontColor, const std::string& Quote, const std::string& OutputPath,
                                     std::int32_t TopMargin, std::int32_t BottomMargin, std::int32_t LeftMargin,
                                     std::int32_t RightMargin, std::int32_t HAlign, std::int32_t VAlign,
                                     bool AllowViolation, const Effects& Chosen) {
  if (OutputPath.empty()) return Fail(ErrorCode::InvalidArgument, "no file was named for the wallpaper");
  // The data folder is only asked for when there is a picture to find.
  std::string dataFolder;
  if (!platform::TrimSpaces(BackgroundName).empty()) {
    KV_TRY_ASSIGN(dataFolder, Statics().GetApplicationPath());
  }
  KV_TRY_ASSIGN(std::optional<platform::Bitmap> bitmap,
                ComposeWallpaper(platform::QueryScreen(), dataFolder, BackgroundName, BackgroundColor, BackgroundMode,
                                 FontName, FontSize, FontColor, Quote, TopMargin, BottomMargin, LeftMargin,
                                 RightMargin, HAlign, VAlign, AllowViolation, Chosen));
  if (!bitmap) return 0;
  KV_TRY(service::PublishWallpaper(*bitmap, OutputPath));
  return 1;
}

}  // namespace kv::render
