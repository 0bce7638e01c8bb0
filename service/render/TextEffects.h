#pragma once

// The effects that paint around laid-out text: the picture under the text
// made readable, a box behind the lines, a shadow and an outline. They work
// from the text's coverage mask and never move a glyph.

#include <cstdint>
#include <vector>

#include "Effects.h"
#include "kvplatform/image/Bitmap.h"

namespace kv::render {

// The text's coverage (0..255) over a rectangle of the bitmap that holds
// all of its ink, one byte per pixel, row by row from the top, and the tops
// of its lines (in the bitmap's coordinates).
struct TextCoverage {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::vector<std::uint8_t> Pixels;
  std::vector<std::int32_t> LineTops;  // every line is one cell high
  std::int32_t LineHeight = 0;
  std::int32_t Left = 0;  // where the rectangle's top-left corner lies in the bitmap
  std::int32_t Top = 0;
};

// Relative luminance (0 black .. 1 white) of an sRGB colour, and the contrast
// ratio of two colours (1 .. 21), as accessibility guidelines measure them.
double RelativeLuminance(platform::ColorRef Color);
double ContrastRatio(platform::ColorRef A, platform::ColorRef B);

// Black or white, whichever stands out more against `TextColor`.
platform::ColorRef OppositeTone(platform::ColorRef TextColor);

// The contrast the readability effect reaches between the text colour and
// every pixel under the glyphs.
inline constexpr double kReadableContrast = 4.5;

// Paints the ticked text effects of `Chosen` into `Target` (which holds the
// background), in this order: readability, box, shadow, outline. The text
// itself is painted afterwards by the caller, in its own colour. Effects
// that paint nothing here (Smooth) are ignored, and so is a coverage whose
// rectangle does not lie inside `Target` or whose pixels do not fill it.
void PaintTextEffects(platform::Bitmap& Target, const TextCoverage& Text, platform::ColorRef TextColor,
                      const Effects& Chosen);

}  // namespace kv::render
