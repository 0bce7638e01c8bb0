#pragma once

// A text shaped for drawing: cut into the units a line is measured and
// placed by (a letter with its marks, a ligature, a conjunct: a cluster),
// each with its glyphs, its width and its bidirectional level.

#include <cstdint>
#include <string_view>
#include <vector>

#include "kvplatform/text/FontSet.h"
#include "kvplatform/base/Result.h"

namespace kv::platform {

struct ShapedGlyph {
  std::uint32_t font = 0;   // index into the FontSet
  std::uint32_t glyph = 0;  // glyph index in that font
  std::int32_t x = 0;       // origin, pixels right of the cluster's left edge
  std::int32_t y = 0;       // origin, pixels above the baseline
};

struct ShapedCluster {
  char32_t value = 0;          // its first character
  std::int32_t width = 0;      // advance in pixels
  std::int32_t level = 0;      // bidirectional embedding level: odd reads right to left
  std::uint32_t firstGlyph = 0;
  std::uint32_t glyphCount = 0;  // its glyphs, left to right
};

struct ShapedText {
  std::vector<ShapedCluster> clusters;  // in logical (reading) order
  std::vector<ShapedGlyph> glyphs;
  std::int32_t paragraphLevel = 0;  // 1 when the text reads right to left
};

// Orders `text` by the Unicode bidirectional algorithm (the paragraph's
// direction from its first strong character) and shapes it with the fonts
// of `fonts`, falling back for characters the chosen font lacks. Text in
// scripts that need no shaping keeps each character's own advance: no
// kerning and no ligatures. Fails only when the shaping engine fails.
[[nodiscard]] Result<ShapedText> ShapeText(FontSet& fonts, std::u32string_view text);

}  // namespace kv::platform
