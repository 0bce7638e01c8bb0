#include "RenderWallpaper.h"

#include "MonitorWallpapers.h"
#include "kvplatform/Screen.h"

namespace kv::render {

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
