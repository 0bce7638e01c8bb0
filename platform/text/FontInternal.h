#pragma once

// What the font's sources share inside the platform layer: the face's
// state behind kv::platform::Font and the glyph images it renders.

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kvplatform/text/Font.h"

namespace kv::platform {

// Nearest integer, an exact half to the even neighbour, saturated to int32.
std::int32_t RoundToInt32(double value);
std::string FreeTypeError(FT_Error error);

// fontconfig's configuration, loaded once per process; false when it cannot be.
bool FontConfigReady();

// The pattern a face name is looked up with (weight 100..900, upright,
// scalable), with the configuration's substitutions applied.
using FacePattern = std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)>;
FacePattern NewFacePattern(std::string_view faceName, std::int32_t weight);

struct FontChoice {
  std::filesystem::path file;
  int index = 0;
  std::string family;
};

// A face-name lookup's answer as kept between processes; `substituted`
// when the face asked for is not installed and another stands in.
struct KeptMatch {
  FontChoice choice;
  bool substituted = false;
};
// The kept answer for the face and weight, when the font configuration,
// its folders and the environment are what they were when it was kept.
std::optional<KeptMatch> FindKeptMatch(std::string_view name, std::int32_t weight);
// Marks the moment the configuration starts loading: what changes after it
// may be missed by the answers, which are then not kept.
void NoteFontConfigLoading();
// Keeps an answer of the loaded configuration; a failure to write is
// ignored (the next process asks fontconfig again).
void KeepMatch(std::string_view name, std::int32_t weight, const KeptMatch& match);

// One glyph's image, relative to its origin on the baseline.
struct Glyph {
  std::int32_t left = 0;  // from the pen position to the image's left edge
  std::int32_t top = 0;   // from the baseline up to the image's top edge
  std::int32_t width = 0;
  std::int32_t rows = 0;
  std::vector<std::uint8_t> coverage;  // rows x width, 0..255
  std::vector<std::uint8_t> bgra;      // colour glyphs only: premultiplied blue, green, red, alpha
};

struct Font::Impl {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  FontChoice choice;
  FontMetrics metrics;
  bool scalable = true;
  bool colorStrikes = false;  // colour bitmaps scaled by strikeScale to the size
  double strikeScale = 1.0;
  bool symbolCodes = false;  // a symbol font maps 0x20..0xFF at 0xF020..0xF0FF
  double emPixels = 0;       // pixels per em
  double unitScale = 0;      // pixels per font unit
  bool sizeSet = false;
  std::unordered_map<FT_UInt, Glyph> glyphs;

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl();

  FT_UInt GlyphIndex(char32_t code) const;
  [[nodiscard]] Status SetDrawingSize();
  // The glyph's image, rendered on first use and then kept. A glyph that
  // cannot be rendered has an empty image and draws nothing.
  [[nodiscard]] Result<const Glyph*> Render(FT_UInt index);
};

// The FreeType face of a Font, for shaping with it.
struct FontAccess {
  static FT_Face Face(const Font& font) { return font.impl_->face; }
};

}  // namespace kv::platform
