#include "PreviewRender.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "QuoteSelection.h"
#include "UpdateWallpaper.h"
#include "kvplatform/base/Random.h"
#include "render/RenderWallpaper.h"

namespace kv::settings {
namespace {

std::int32_t RandomBelow(int n) { return static_cast<std::int32_t>(std::floor(n * platform::Rnd())); }

bool Selected(const std::string& joined, const std::string& name) {
  std::vector<std::string> items = service::SplitList(joined);
  return std::find(items.begin(), items.end(), name) != items.end();
}

// The item of the selection `previous` showed, when it is still selected.
std::string KeepOrPick(const std::string& joined, bool drawn, const std::string& previous) {
  if (drawn && Selected(joined, previous)) return previous;
  return service::PickRandomItem(joined);
}

// A fixed alignment as set; a random one as drawn before, or drawn now.
std::int32_t Alignment(std::int32_t setting, bool drawn, std::int32_t previous) {
  if (setting != 3) return setting;
  return drawn && previous >= 0 && previous < 3 ? previous : RandomBelow(3);
}

// A margin in 0..100 as set; any other value as drawn before, or drawn now,
// below `randomLimit` as the service draws it.
std::int32_t Margin(std::int32_t setting, int randomLimit, bool drawn, std::int32_t previous) {
  if (setting >= 0 && setting <= 100) return setting;
  return drawn && previous >= 0 && previous < randomLimit ? previous : RandomBelow(randomLimit);
}

// The wallpaper as the desktop shows it (centred, 1:1) on the whole
// screen, shrunk to `width` pixels; the taskbar's band drawn grey.
QImage ScreenPicture(const platform::Bitmap& bitmap, const platform::ScreenInfo& screen, int width) {
  QImage full(bitmap.Width(), bitmap.Height(), QImage::Format_BGR888);
  const auto rowBytes = static_cast<std::size_t>(bitmap.Width()) * 3;
  for (std::int32_t y = 0; y < bitmap.Height(); ++y) std::memcpy(full.scanLine(y), bitmap.Row(y), rowBytes);

  const double scale = static_cast<double>(width) / std::max(1, screen.width);
  const int height = std::max(1, static_cast<int>(std::lround(screen.height * scale)));
  QImage shown(width, height, QImage::Format_RGB32);
  shown.fill(Qt::black);
  QPainter painter(&shown);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRectF place((screen.width - bitmap.Width()) / 2.0 * scale, (screen.height - bitmap.Height()) / 2.0 * scale,
                     bitmap.Width() * scale, bitmap.Height() * scale);
  painter.drawImage(place, full);
  if (screen.taskbar) {
    const platform::ScreenRect& band = screen.taskbar->rect;
    painter.fillRect(QRectF(band.left * scale, band.top * scale, (band.right - band.left) * scale,
                            (band.bottom - band.top) * scale),
                     QColor(64, 64, 64));
  }
  return shown;
}

}  // namespace

PreviewPick DrawPick(const service::SettingsSnapshot& settings, const std::string& dataFolder,
                     const PreviewPick& previous) {
  const bool drawn = previous.Drawn;
  PreviewPick pick;
  pick.Drawn = true;
  pick.BackgroundName = KeepOrPick(settings.SelectedBackgrounds, drawn, previous.BackgroundName);
  pick.FontName = KeepOrPick(settings.SelectedFonts, drawn, previous.FontName);
  pick.QuotesFile = KeepOrPick(settings.SelectedQuotesFiles, drawn, previous.QuotesFile);
  if (drawn && pick.QuotesFile == previous.QuotesFile && !previous.Quote.empty()) {
    pick.Quote = previous.Quote;
  } else {
    pick.Quote = service::PickRandomQuote(service::QuotesFilePath(dataFolder, pick.QuotesFile));
  }
  pick.HAlign = Alignment(settings.HAlign, drawn, previous.HAlign);
  pick.VAlign = Alignment(settings.VAlign, drawn, previous.VAlign);
  pick.TopMargin = Margin(settings.TopMargin, 100, drawn, previous.TopMargin);
  pick.BottomMargin = Margin(settings.BottomMargin, 100, drawn, previous.BottomMargin);
  pick.LeftMargin = Margin(settings.LeftMargin, 75, drawn, previous.LeftMargin);
  pick.RightMargin = Margin(settings.RightMargin, 75, drawn, previous.RightMargin);
  return pick;
}

PreviewResult RenderPreview(const PreviewRequest& request, const std::function<bool()>& superseded) {
  const service::SettingsSnapshot& settings = request.Settings;
  const std::int32_t fontSize = service::SettingNumber("FontSize", settings.FontSize, 40);
  PreviewResult result;
  PreviewPick pick = DrawPick(settings, request.DataFolder, request.Pick);
  // When nothing fits, the pane keeps the first choices for the next
  // change of settings (a smaller font shows the same quote).
  const PreviewPick first = pick;
  for (int attempt = 1;; ++attempt) {
    if (superseded()) {
      result.Outcome = PreviewResult::Kind::Superseded;
      return result;
    }
    auto composed = render::ComposeWallpaper(
        request.Screen, request.DataFolder, pick.BackgroundName, settings.BackgroundColor, settings.BackgroundMode,
        pick.FontName, fontSize, settings.FontColor, pick.Quote, pick.TopMargin, pick.BottomMargin, pick.LeftMargin,
        pick.RightMargin, pick.HAlign, pick.VAlign, settings.AllowViolation, settings.Effects);
    if (!composed) {
      result.Outcome = PreviewResult::Kind::Failed;
      result.Message = QString::fromStdString("No preview: " + composed.error().message);
      result.Pick = pick;
      return result;
    }
    if (*composed) {
      result.Outcome = PreviewResult::Kind::Picture;
      result.Picture = ScreenPicture(**composed, request.Screen, request.Width);
      result.Pick = pick;
      return result;
    }
    if (attempt >= service::kAttemptLimit) break;
    pick = DrawPick(settings, request.DataFolder, PreviewPick{});
  }
  result.Outcome = PreviewResult::Kind::DoesNotFit;
  result.Message = QString::fromUtf8(service::kFailureMessage.data(), static_cast<qsizetype>(service::kFailureMessage.size()));
  result.Pick = first;
  return result;
}

}  // namespace kv::settings
