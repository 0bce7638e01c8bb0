#include "RenderWallpaper.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "CWPText.h"
#include "TextEffects.h"
#include "MonitorPublish.h"
#include "MonitorWallpapers.h"
#include "kvshared/CStatics.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/display/Screen.h"

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
  platform::Monitor monitor{{}, {0, 0, screen.width, screen.height}, true, screen.taskbar};
  MonitorChoice choice{BackgroundName, true, FontName, Quote, TopMargin, BottomMargin, LeftMargin, RightMargin,
                       HAlign, VAlign};
  SharedLook look{BackgroundColor, BackgroundMode, FontSize, FontColor, AllowViolation, Chosen};
  return ComposeMonitor(monitor, choice, look, DataFolder);
}

Result<std::int32_t> RenderMonitorWallpapers(const std::vector<platform::Monitor>& Monitors,
                                             const std::vector<MonitorChoice>& Choices, const SharedLook& Look,
                                             const std::string& OutputPath) {
  KV_TRY(CheckOutputPath(OutputPath));
  if (Monitors.empty() || Choices.size() != Monitors.size()) {
    return Fail(ErrorCode::InvalidArgument, "the wallpaper needs one choice for every monitor");
  }
  // The data folder is only asked for when there is a picture to find.
  std::string dataFolder;
  if (AnyPicture(Choices)) {
    KV_TRY_ASSIGN(dataFolder, Statics().GetApplicationPath());
  }
  KV_TRY_ASSIGN(std::optional<std::vector<platform::Bitmap>> parts, ComposeMonitors(Monitors, Choices, Look, dataFolder));
  if (!parts) return 0;
  KV_TRY(PublishMonitors(Monitors, *parts, Look.BackgroundColor, OutputPath));
  return 1;
}

Result<std::int32_t> RenderWallpaper(const std::string& BackgroundName, std::int32_t BackgroundColor,
                                     std::int32_t BackgroundMode, const std::string& FontName, std::int32_t FontSize,
                                     std::int32_t FontColor, const std::string& Quote, const std::string& OutputPath,
                                     std::int32_t TopMargin, std::int32_t BottomMargin, std::int32_t LeftMargin,
                                     std::int32_t RightMargin, std::int32_t HAlign, std::int32_t VAlign,
                                     bool AllowViolation, const Effects& Chosen) {
  if (OutputPath.empty()) return Fail(ErrorCode::InvalidArgument, "no file was named for the wallpaper");
  std::vector<platform::Monitor> monitors = platform::QueryMonitors();
  // The quote goes on the primary monitor; the others show the same
  // background alone.
  std::vector<MonitorChoice> choices(monitors.size(), MonitorChoice{BackgroundName, false, {}, {}});
  choices.front() = {BackgroundName, true, FontName, Quote, TopMargin, BottomMargin, LeftMargin, RightMargin, HAlign,
                     VAlign};
  SharedLook look{BackgroundColor, BackgroundMode, FontSize, FontColor, AllowViolation, Chosen};
  return RenderMonitorWallpapers(monitors, choices, look, OutputPath);
}

}  // namespace kv::render
