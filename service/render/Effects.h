#pragma once

// The effects a user may tick for the wallpaper. They change only how the
// background and the glyphs are painted, never the layout: where every
// character goes and whether the text fits is the same with or without them.

#include <string>
#include <string_view>
#include <vector>

#include "kvplatform/base/Result.h"

namespace kv::render {

struct Effects {
  bool Shadow = false;    // a soft shadow below and to the right of the glyphs
  bool Outline = false;   // a ring around every glyph
  bool Box = false;       // a rounded, semi-transparent box behind the lines
  bool Contrast = false;  // the picture under the text darkened or lightened to a readable contrast
  bool Smooth = false;    // filtered instead of nearest-pixel picture scaling

  bool Any() const { return Shadow || Outline || Box || Contrast || Smooth; }
  // Whether any effect paints around the text.
  bool AnyText() const { return Shadow || Outline || Box || Contrast; }
  bool operator==(const Effects&) const = default;
};

// The stable names the settings store holds, in the order the settings
// window lists them.
inline constexpr std::string_view kEffectNames[] = {"Shadow", "Outline", "Box", "Contrast", "Smooth"};

// The effects a stored list names. Empty and unknown names (a newer version's
// effects) are ignored; letter case counts, as the stored names are exact.
Effects EffectsFromNames(const std::vector<std::string>& Names);

// The effects of a comma-separated list such as "Shadow,Box" ("" for none).
// An unknown name fails with a message that lists the known ones.
[[nodiscard]] Result<Effects> ParseEffectList(std::string_view List);

}  // namespace kv::render
