#include "MonitorWallpapers.h"

#include <algorithm>
#include <memory>

#include "CWPBackground.h"
#include "CWPFont.h"
#include "CWPText.h"
#include "LayoutText.h"
#include "RenderWallpaper.h"
#include "TextEffects.h"
#include "kvplatform/base/Text.h"
#include "kvshared/CStatics.h"

namespace kv::render {
namespace {

// One monitor's composition between its layout and its painting. The
// drawing objects point at the bitmap, so it lives on the heap and never
// moves while they do; Finish() ends them and hands the bitmap out.
struct Composition {
  explicit Composition(platform::Bitmap made) : bitmap(std::move(made)) {}

  platform::Bitmap Finish() {
    text.reset(), font.reset(), background.reset();
    return std::move(bitmap);
  }

  platform::Bitmap bitmap;
  std::unique_ptr<CWPBackground> background = std::make_unique<CWPBackground>();
  std::shared_ptr<CWPFont> font;
  std::unique_ptr<CWPText> text;
};

// Sizes the monitor's bitmap and lays its quote out, moved away from the
// taskbar's edge; null when the quote does not fit. Nothing is painted.
Result<std::unique_ptr<Composition>> LayOut(const platform::Monitor& screen, const MonitorChoice& choice,
                                            const SharedLook& look, const std::string& dataFolder) {
  // The monitor, less the taskbar's band along its edge.
  std::int32_t W = screen.rect.right - screen.rect.left, H = screen.rect.bottom - screen.rect.top;
  const platform::Taskbar taskbar = screen.taskbar.value_or(platform::Taskbar{});
  const platform::ScreenRect& band = taskbar.rect;
  if (taskbar.edge == platform::kTaskbarTop || taskbar.edge == platform::kTaskbarBottom) {
    H = H + band.top - band.bottom;
  } else {
    W = W + band.left - band.right;
  }
  // A taskbar that leaves no room leaves no room for any text either; a
  // monitor that shows the background alone still gets its pixel.
  if (W < 1 || H < 1) {
    if (choice.ShowQuote) return std::unique_ptr<Composition>();
    W = std::max(W, 1), H = std::max(H, 1);
  }

  // A new bitmap is black; its memory is only touched once the text fits.
  KV_TRY_ASSIGN(platform::Bitmap bitmap, platform::Bitmap::Create(W, H));
  auto made = std::make_unique<Composition>(std::move(bitmap));
  Composition& c = *made;
  KV_TRY(c.background->Init(&c.bitmap, W, H, choice.BackgroundName, look.BackgroundMode, look.BackgroundColor,
                            dataFolder));
  c.background->SetSmoothScaling(look.Chosen.Smooth);
  if (!choice.ShowQuote) return made;

  c.font = std::make_shared<CWPFont>();
  KV_TRY(c.font->Init(&c.bitmap, choice.FontName, look.FontSize, look.FontColor));
  c.text = std::make_unique<CWPText>();
  KV_TRY(c.text->Init(&c.bitmap, c.font, choice.Quote));
  KV_TRY_ASSIGN(std::int32_t ok, LayoutText(*c.text, W, H, choice.TopMargin, choice.BottomMargin, choice.LeftMargin,
                                            choice.RightMargin, choice.HAlign, choice.VAlign, look.AllowViolation));
  if (ok == 0) return std::unique_ptr<Composition>();

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
    KV_TRY_ASSIGN(std::int32_t last, c.text->GetNumberOfCharacters());
    for (std::int32_t i = 0; i <= last; ++i) {
      KV_TRY_ASSIGN(std::int32_t x, c.text->GetCharacterX(i));
      KV_TRY_ASSIGN(std::int32_t y, c.text->GetCharacterY(i));
      KV_TRY(c.text->SetCharacterPosition(i, x + dx, y + dy));
    }
  }
  return made;
}

Status Paint(Composition& c, const SharedLook& look) {
  KV_TRY(c.background->PaintBackground());
  if (!c.text) return Ok();
  if (look.Chosen.AnyText()) KV_TRY(PaintEffectsUnderText(c.bitmap, *c.text, look.FontColor, look.Chosen));
  return c.text->PaintText();
}

}  // namespace

Result<std::optional<platform::Bitmap>> ComposeMonitor(const platform::Monitor& Screen, const MonitorChoice& Choice,
                                                      const SharedLook& Look, const std::string& DataFolder) {
  KV_TRY_ASSIGN(std::unique_ptr<Composition> composition, LayOut(Screen, Choice, Look, DataFolder));
  if (!composition) return std::optional<platform::Bitmap>();
  KV_TRY(Paint(*composition, Look));
  return std::optional<platform::Bitmap>(composition->Finish());
}

Result<std::optional<std::vector<platform::Bitmap>>> ComposeMonitors(const std::vector<platform::Monitor>& Monitors,
                                                                     const std::vector<MonitorChoice>& Choices,
                                                                     const SharedLook& Look,
                                                                     const std::string& DataFolder) {
  if (Monitors.empty() || Choices.size() != Monitors.size()) {
    return Fail(ErrorCode::InvalidArgument, "the wallpaper needs one choice for every monitor");
  }
  // Every monitor is laid out before any is painted: a quote that does not
  // fit on one monitor costs only the measuring and leaves every file and
  // the wallpaper alone.
  std::vector<std::unique_ptr<Composition>> compositions;
  for (std::size_t i = 0; i < Monitors.size(); ++i) {
    KV_TRY_ASSIGN(std::unique_ptr<Composition> composition, LayOut(Monitors[i], Choices[i], Look, DataFolder));
    if (!composition) return std::optional<std::vector<platform::Bitmap>>();
    compositions.push_back(std::move(composition));
  }
  std::vector<platform::Bitmap> parts;
  for (std::unique_ptr<Composition>& composition : compositions) {
    KV_TRY(Paint(*composition, Look));
    parts.push_back(composition->Finish());
    composition.reset();
  }
  return std::optional<std::vector<platform::Bitmap>>(std::move(parts));
}

}  // namespace kv::render
