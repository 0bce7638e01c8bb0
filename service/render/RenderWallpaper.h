#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Effects.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/base/Result.h"
#include "kvplatform/display/Screen.h"

namespace kv::render {

class CWPText;

// Renders one complete wallpaper for the primary screen less its taskbar:
// the quote laid out in the font inside the margins, over the background,
// saved to `OutputPath` and made the desktop wallpaper. On a screen with
// several monitors the others show the same background alone (see
// RenderMonitorWallpapers).
//
// Answers 1 when the wallpaper was painted and published, 0 when the text
// does not fit (then nothing is painted or written and the wallpaper stays
// as it was). Any other problem is the error, with a message that names
// it: a quote that is empty, no font at all, an output file that cannot be
// written (the previous file then stays intact and the wallpaper is not
// set). A wallpaper backend that refuses is one line on stderr; the
// wallpaper still counts as done.
//
// The background name and the mode follow CWPBackground, the font name and
// size CWPFont, the margins and alignments LayoutText; colours are
// 0x00BBGGRR; the quote is UTF-8. `Chosen` adds the ticked effects; with
// none, every pixel is what it would be without them.
[[nodiscard]] kv::Result<std::int32_t> RenderWallpaper(
    const std::string& BackgroundName, std::int32_t BackgroundColor, std::int32_t BackgroundMode,
    const std::string& FontName, std::int32_t FontSize, std::int32_t FontColor,
    const std::string& Quote /* UTF-8 */, const std::string& OutputPath,
    std::int32_t TopMargin, std::int32_t BottomMargin, std::int32_t LeftMargin, std::int32_t RightMargin,
    std::int32_t HAlign, std::int32_t VAlign, bool AllowViolation, const Effects& Chosen = {});

// What a wallpaper to be made looks like, without publishing it: the bitmap
// RenderWallpaper would write for `Screen` (its size less the taskbar's
// band), or nullopt when the text does not fit. Pictures are found in
// `DataFolder`; nothing reads the settings store or writes a file, so a
// preview may call it on a thread of its own. Fails as RenderWallpaper does.
[[nodiscard]] kv::Result<std::optional<platform::Bitmap>> ComposeWallpaper(
    const platform::ScreenInfo& Screen, const std::string& DataFolder, const std::string& BackgroundName,
    std::int32_t BackgroundColor, std::int32_t BackgroundMode, const std::string& FontName, std::int32_t FontSize,
    std::int32_t FontColor, const std::string& Quote, std::int32_t TopMargin, std::int32_t BottomMargin,
    std::int32_t LeftMargin, std::int32_t RightMargin, std::int32_t HAlign, std::int32_t VAlign, bool AllowViolation,
    const Effects& Chosen = {});

// The part of RenderWallpaper that paints the effects around the text of
// `Text` (laid out on `Bitmap`, not yet drawn) over the background.
[[nodiscard]] Status PaintEffectsUnderText(platform::Bitmap& Bitmap, CWPText& Text, std::int32_t TextColor,
                                           const Effects& Chosen);

}  // namespace kv::render
