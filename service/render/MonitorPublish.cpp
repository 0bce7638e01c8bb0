#include "MonitorPublish.h"

#include <algorithm>
#include <cstring>

#include "../PublishWallpaper.h"
#include "kvplatform/base/Text.h"

namespace kv::render {
namespace {

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

Status CheckOutputPath(const std::string& OutputPath) {
  if (OutputPath.empty()) return Fail(ErrorCode::InvalidArgument, "no file was named for the wallpaper");
  return Ok();
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

bool AnyPicture(const std::vector<MonitorChoice>& Choices) {
  return std::any_of(Choices.begin(), Choices.end(), [](const MonitorChoice& choice) {
    return !platform::TrimSpaces(choice.BackgroundName).empty();
  });
}

Status PublishMonitors(const std::vector<platform::Monitor>& Monitors, const std::vector<platform::Bitmap>& Parts,
                       std::int32_t BackgroundColor, const std::string& OutputPath) {
  if (Parts.size() == 1) return service::PublishWallpaper(Parts.front(), OutputPath);
  KV_TRY_ASSIGN(platform::Bitmap whole, AssembleScreen(Monitors, Parts, BackgroundColor));
  std::vector<platform::MonitorImage> images;
  for (std::size_t i = 0; i < Monitors.size() && i < Parts.size(); ++i) images.push_back({Monitors[i], &Parts[i]});
  return service::PublishMonitorWallpapers(whole, OutputPath, images);
}

}  // namespace kv::render
