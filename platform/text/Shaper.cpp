#include <fribidi.h>
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <type_traits>

#include "FontInternal.h"
#include "kvplatform/text/ShapedText.h"

namespace kv::platform {
namespace {

// Scripts whose letters stand alone: they are drawn with each character's
// own advance, so that their lines measure exactly as character by
// character, without kerning or ligatures.
bool StandsAlone(hb_script_t script) {
  switch (script) {
    case HB_SCRIPT_COMMON:
    case HB_SCRIPT_INHERITED:
    case HB_SCRIPT_UNKNOWN:
    case HB_SCRIPT_LATIN:
    case HB_SCRIPT_GREEK:
    case HB_SCRIPT_CYRILLIC:
      return true;
    default:
      return false;
  }
}

bool IsMark(hb_unicode_funcs_t* unicode, char32_t code) {
  switch (hb_unicode_general_category(unicode, code)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
      return true;
    default:
      return false;
  }
}

// Joiners, variation selectors, emoji modifiers and tags belong to the
// character before them and are drawn with its font.
bool ExtendsPrevious(char32_t code) {
  return code == 0x200C || code == 0x200D || (code >= 0xFE00 && code <= 0xFE0F) ||
         (code >= 0x1F3FB && code <= 0x1F3FF) || (code >= 0xE0020 && code <= 0xE007F) ||
         (code >= 0xE0100 && code <= 0xE01EF);
}

struct HbDeleter {
  void operator()(hb_font_t* font) const { hb_font_destroy(font); }
  void operator()(hb_buffer_t* buffer) const { hb_buffer_destroy(buffer); }
};

// The bidirectional level of every character; the paragraph's own level
// goes to `paragraphLevel`.
Result<std::vector<FriBidiLevel>> ResolveLevels(const std::vector<FriBidiChar>& chars, std::int32_t& paragraphLevel) {
  const auto length = static_cast<FriBidiStrIndex>(chars.size());
  std::vector<FriBidiCharType> types(chars.size());
  std::vector<FriBidiBracketType> brackets(chars.size());
  std::vector<FriBidiLevel> levels(chars.size(), 0);
  fribidi_get_bidi_types(chars.data(), length, types.data());
  fribidi_get_bracket_types(chars.data(), length, types.data(), brackets.data());
  FriBidiParType direction = FRIBIDI_PAR_ON;
  if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), length, &direction, levels.data()) == 0) {
    return Fail("the reading order of the quote cannot be worked out (FriBidi failed)");
  }
  paragraphLevel = FRIBIDI_IS_RTL(direction) ? 1 : 0;
  return levels;
}

// The script of every character; common characters (spaces, digits,
// punctuation) and marks take the script of the text around them.
std::vector<hb_script_t> ResolveScripts(hb_unicode_funcs_t* unicode, std::u32string_view text) {
  std::vector<hb_script_t> scripts(text.size(), HB_SCRIPT_INVALID);
  hb_script_t last = HB_SCRIPT_INVALID;
  for (std::size_t i = 0; i < text.size(); ++i) {
    hb_script_t script = hb_unicode_script(unicode, text[i]);
    if (script != HB_SCRIPT_COMMON && script != HB_SCRIPT_INHERITED && script != HB_SCRIPT_UNKNOWN) last = script;
    scripts[i] = last;
  }
  hb_script_t first = HB_SCRIPT_COMMON;
  for (hb_script_t script : scripts) {
    if (script != HB_SCRIPT_INVALID) {
      first = script;
      break;
    }
  }
  for (hb_script_t& script : scripts) {
    if (script != HB_SCRIPT_INVALID) break;
    script = first;
  }
  return scripts;
}

}  // namespace

Result<ShapedText> ShapeText(FontSet& fonts, std::u32string_view text) {
  ShapedText shaped;
  if (text.empty()) return shaped;
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 4)) {
    return Fail(ErrorCode::InvalidArgument, "the quote is too long to be drawn");
  }
  // FriBidi and HarfBuzz both take the code points as 32-bit integers.
  const std::vector<FriBidiChar> codes(text.begin(), text.end());
  static_assert(std::is_same_v<FriBidiChar, std::uint32_t>);
  KV_TRY_ASSIGN(std::vector<FriBidiLevel> levels, ResolveLevels(codes, shaped.paragraphLevel));
  hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
  const std::vector<hb_script_t> scripts = ResolveScripts(unicode, text);

  std::vector<std::size_t> fontOf(text.size(), 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t code = text[i];
    if (i > 0 && (ExtendsPrevious(code) || (IsMark(unicode, code) && fonts.At(fontOf[i - 1]).GlyphIndex(code) != 0))) {
      fontOf[i] = fontOf[i - 1];
    } else {
      const bool emojiStyle = FontSet::IsEmojiByDefault(code) || (i + 1 < text.size() && text[i + 1] == 0xFE0F);
      fontOf[i] = fonts.FontFor(code, emojiStyle && !(i + 1 < text.size() && text[i + 1] == 0xFE0E));
    }
  }

  std::vector<std::unique_ptr<hb_font_t, HbDeleter>> hbFonts(fonts.Count());
  std::unique_ptr<hb_buffer_t, HbDeleter> buffer(hb_buffer_create());
  if (!hb_buffer_allocation_successful(buffer.get())) return Fail("out of memory while shaping the quote");
  const std::u32string_view::size_type n = text.size();
  std::vector<std::pair<std::uint32_t, ShapedCluster>> clusters;  // by first character
  clusters.reserve(n);

  for (std::size_t start = 0; start < n;) {
    std::size_t end = start + 1;
    while (end < n && levels[end] == levels[start] && scripts[end] == scripts[start] && fontOf[end] == fontOf[start]) {
      ++end;
    }
    const std::size_t fontIndex = fontOf[start];
    Font& font = fonts.At(fontIndex);
    auto& hbFont = hbFonts[fontIndex];
    if (!hbFont) {
      hb_face_t* face = hb_ft_face_create_referenced(FontAccess::Face(font));
      hbFont.reset(hb_font_create(face));
      const auto upem = static_cast<int>(hb_face_get_upem(face));
      hb_face_destroy(face);
      // Positions in font units, turned into pixels exactly as the
      // font's own advance widths are.
      hb_font_set_scale(hbFont.get(), upem, upem);
    }
    hb_buffer_clear_contents(buffer.get());
    hb_buffer_add_utf32(buffer.get(), codes.data(), static_cast<int>(n),
                        static_cast<unsigned>(start), static_cast<int>(end - start));
    hb_buffer_set_direction(buffer.get(), (levels[start] & 1) != 0 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(buffer.get(), scripts[start]);
    static const hb_feature_t kPlain[] = {{HB_TAG('k', 'e', 'r', 'n'), 0, 0, ~0u},
                                          {HB_TAG('l', 'i', 'g', 'a'), 0, 0, ~0u},
                                          {HB_TAG('c', 'l', 'i', 'g'), 0, 0, ~0u},
                                          {HB_TAG('c', 'a', 'l', 't'), 0, 0, ~0u}};
    const bool plain = fontIndex == 0 && StandsAlone(scripts[start]);
    // Plain text takes no language from the locale either, so that no
    // local glyph form changes what it measures.
    if (!plain) hb_buffer_set_language(buffer.get(), hb_language_get_default());
    hb_shape(hbFont.get(), buffer.get(), plain ? kPlain : nullptr, plain ? 4 : 0);
    if (!hb_buffer_allocation_successful(buffer.get())) return Fail("out of memory while shaping the quote");

    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer.get(), &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer.get(), &count);
    const double scale = font.PixelsPerUnit();
    for (unsigned g = 0; g < count;) {
      const std::uint32_t first = infos[g].cluster;
      ShapedCluster cluster;
      cluster.value = text[first];
      cluster.level = levels[first];
      cluster.firstGlyph = static_cast<std::uint32_t>(shaped.glyphs.size());
      std::int64_t pen = 0;
      for (; g < count && infos[g].cluster == first; ++g) {
        shaped.glyphs.push_back(ShapedGlyph{static_cast<std::uint32_t>(fontIndex), infos[g].codepoint,
                                            RoundToInt32(static_cast<double>(pen + positions[g].x_offset) * scale),
                                            RoundToInt32(positions[g].y_offset * scale)});
        pen += positions[g].x_advance;
      }
      cluster.glyphCount = static_cast<std::uint32_t>(shaped.glyphs.size()) - cluster.firstGlyph;
      cluster.width = RoundToInt32(static_cast<double>(pen) * scale);
      clusters.emplace_back(first, cluster);
    }
    start = end;
  }

  std::sort(clusters.begin(), clusters.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  shaped.clusters.reserve(clusters.size());
  for (auto& [first, cluster] : clusters) shaped.clusters.push_back(cluster);
  return shaped;
}

}  // namespace kv::platform
