#include "MonitorWallpapers.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "../PublishWallpaper.h"
#include "CWPBackground.h"
#include "CWPFont.h"
#include "CWPText.h"
#include "LayoutText.h"
#include "TextEffects.h"

namespace kv::render {
namespace {

// The effects that paint around the text, from where the layout put it.
Status PaintEffectsUnderText(platform::Bitmap& bitmap, CWPText& text, std::int32_t textColor, const Effects& chosen) {
  TextCoverage coverage;
  coverage.Width = bitmap.Width();
  coverage.Height = bitmap.Height();
  coverage.Pixels.assign(static_cast<std::size_t>(coverage.Width) * static_cast<std::size_t>(coverage.Height), 0);
  KV_TRY(text.PaintTextCoverage(coverage.Pixels.data(), coverage.Width, coverage.Height));
  KV_TRY_ASSIGN(coverage.LineHeight, text.GetFontHeight());
  KV_TRY_ASSIGN(std::int32_t last, text.GetNumberOfCharacters());
  for (std::int32_t i = 0; i <= last; ++i) {
    KV_TRY_ASSIGN(std::int32_t y, text.GetCharacterY(i));
    if (coverage.LineTops.empty() || coverage.LineTops.back() != y) coverage.LineTops.push_back(y);
  }
  PaintTextEffects(bitmap, coverage, textColor, chosen);
  return Ok();
}

// Copies `part` into `whole` with its top-left corner at (x, y), clipped.
void CopyInto(platform::Bitmap& whole, const platform::Bitmap& part, std::int32_t x, std::int32_t y) {
  std::int32_t fromX = std::max(0, -x), toX = std::min(part.Width(), whole.Width() - x);
  if (toX <= fromX) return;
  for (std::int32_t row = std::max(0, -y); row < part.Height() && y + row < whole.Height(); ++row) {
    std::memcpy(whole.Row(y + row) + static_cast<std::size_t>(x + fromX) * 3, part.Row(row) + static_cast<std::size_t>(fromX) * 3,
                static_cast<std::size_t>(toX - fromX) * 3);
  }
}

}  // namespace

Result<std::optional<platform::Bitmap>> ComposeMonitor(const platform::Monitor& Screen, const MonitorChoice& Choice,
                                                      const SharedLook& Look) {
  // The monitor, less the taskbar's band along its edge.
  std::int32_t W = Screen.rect.right - Screen.rect.left, H = Screen.rect.bottom - Screen.rect.top;
  const platform::Taskbar taskbar = Screen.taskbar.value_or(platform::Taskbar{});
  const platform::ScreenRect& band = taskbar.rect;
  if (taskbar.edge == platform::kTaskbarTop || taskbar.edge == platform::kTaskbarBottom) {
    H = H + band.top - band.bottom;
  } else {
    W = W + band.left - band.right;
  }
  // A taskbar that leaves no room leaves no room for any text either; a
  // monitor that shows the background alone still gets its pixel.
  if (W < 1 || H < 1) {
    if (Choice.ShowQuote) return std::optional<platform::Bitmap>();
    W = std::max(W, 1), H = std::max(H, 1);
  }

  // A new bitmap is black; its memory is only touched once the text fits.
  KV_TRY_ASSIGN(platform::Bitmap bitmap, platform::Bitmap::Create(W, H));
  CWPBackground background;
  KV_TRY(background.Init(&bitmap, W, H, Choice.BackgroundName, Look.BackgroundMode, Look.BackgroundColor));
  background.SetSmoothScaling(Look.Chosen.Smooth);
  if (!Choice.ShowQuote) {
    KV_TRY(background.PaintBackground());
    return std::optional<platform::Bitmap>(std::move(bitmap));
  }

  auto font = std::make_shared<CWPFont>();
  KV_TRY(font->Init(&bitmap, Choice.FontName, Look.FontSize, Look.FontColor));
  CWPText text;
  KV_TRY(text.Init(&bitmap, font, Choice.Quote));
  KV_TRY_ASSIGN(std::int32_t ok, LayoutText(text, W, H, Choice.TopMargin, Choice.BottomMargin, Choice.LeftMargin,
                                            Choice.RightMargin, Choice.HAlign, Choice.VAlign, Look.AllowViolation));
  if (ok == 0) return std::optional<platform::Bitmap>();

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

  KV_TRY(background.PaintBackground());
  if (Look.Chosen.AnyText()) KV_TRY(PaintEffectsUnderText(bitmap, text, Look.FontColor, Look.Chosen));
  KV_TRY(text.PaintText());
  return std::optional<platform::Bitmap>(std::move(bitmap));
}

Result<platform::Bitmap> AssembleScreen(const std::vector<platform::Monitor>& Monitors,
                                        const std::vector<platform::Bitmap>& Parts, std::int32_t BackgroundColor) {
  std::int32_t left = 0, top = 0, right = 1, bottom = 1;
  for (const platform::Monitor& monitor : Monitors) {
    left = std::min(left, monitor.rect.left), top = std::min(top, monitor.rect.top);
    right = std::max(right, monitor.rect.right), bottom = std::max(bottom, monitor.rect.bottom);
  }
  if (right - left > platform::Bitmap::kMaxSide || bottom - top > platform::Bitmap::kMaxSide) {
    return Fail(ErrorCode::InvalidArgument, "the monitors span " + std::to_string(right - left) + "x" +
                                                std::to_string(bottom - top) + " pixels, more than a wallpaper can be");
  }
  KV_TRY_ASSIGN(platform::Bitmap whole, platform::Bitmap::Create(right - left, bottom - top));
  whole.Fill(BackgroundColor);
  // The primary last: where monitors overlap (a mirrored one), it is the
  // primary's picture that shows.
  for (std::size_t i = std::min(Monitors.size(), Parts.size()); i-- > 0;) {
    const platform::ScreenRect& rect = Monitors[i].rect;
    CopyInto(whole, Parts[i], rect.left - left + (rect.right - rect.left - Parts[i].Width()) / 2,
             rect.top - top + (rect.bottom - rect.top - Parts[i].Height()) / 2);
  }
  return whole;
}

Result<std::int32_t> RenderMonitorWallpapers(const std::vector<platform::Monitor>& Monitors,
                                             const std::vector<MonitorChoice>& Choices, const SharedLook& Look,
                                             const std::string& OutputPath) {
  if (OutputPath.empty()) return Fail(ErrorCode::InvalidArgument, "no file was named for the wallpaper");
  if (Monitors.empty() || Choices.size() != Monitors.size()) {
    return Fail(ErrorCode::InvalidArgument, "the wallpaper needs one choice for every monitor");
  }
  // Every monitor is laid out before anything is published: a quote that
  // does not fit on one monitor leaves every file and the wallpaper alone.
  std::vector<platform::Bitmap> parts;
  for (std::size_t i = 0; i < Monitors.size(); ++i) {
    KV_TRY_ASSIGN(std::optional<platform::Bitmap> part, ComposeMonitor(Monitors[i], Choices[i], Look));
    if (!part) return 0;
    parts.push_back(std::move(*part));
  }
  if (Monitors.size() == 1) {
    KV_TRY(service::PublishWallpaper(parts.front(), OutputPath));
    return 1;
  }
  KV_TRY_ASSIGN(platform::Bitmap whole, AssembleScreen(Monitors, parts, Look.BackgroundColor));
  std::vector<platform::MonitorImage> images;
  for (std::size_t i = 0; i < Monitors.size(); ++i) images.push_back({Monitors[i], &parts[i]});
  KV_TRY(service::PublishMonitorWallpapers(whole, OutputPath, images));
  return 1;
}

}  // namespace kv::render
