#pragma once

// One font face at one size: found by face name through the system's font
// configuration, measured in whole pixels and drawn glyph by glyph with
// 8-bit antialiasing into a bitmap. A face of colour bitmaps (emoji) is
// scaled to the size asked for and drawn in its own colours.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/base/Result.h"

namespace kv::platform {

// A font's cell in pixels. Every character cell is `height` tall: `ascent`
// above the baseline, `descent` below it.
struct FontMetrics {
  std::int32_t height = 0;
  std::int32_t ascent = 0;
  std::int32_t descent = 0;
  std::int32_t maxCharWidth = 0;  // the widest advance of any glyph of the face
};

class Font {
 public:
  // The cell height of a font asked for with height 0.
  static constexpr std::int32_t kDefaultCellHeight = 16;

  // Finds the face for `faceName` (a name no font has gets the
  // configuration's substitute; an alias such as "Arial" finds its
  // metric-compatible face) at the nearest weight to `weight` (100..900,
  // 300 light, 400 normal). `height` follows the Windows convention: a
  // positive value is the cell height in pixels, a negative one the em
  // (character) height, 0 the default cell. Any height is measured, even
  // one no screen could show; only drawing needs a size the renderer can
  // make. Fails only when no font can be loaded at all.
  //
  // A name that only finds a substitute (no installed family has it, and
  // it is no metric-compatible alias) is reported once on stderr, naming
  // the family used instead.
  [[nodiscard]] static Result<Font> Open(std::string_view faceName, std::int32_t height, std::int32_t weight);

  // The face at `index` in `file` with an em of `emPixels` pixels, for
  // drawing beside another font of that em; its cell is its own.
  [[nodiscard]] static Result<Font> OpenFile(const std::filesystem::path& file, int index, double emPixels);

  Font(Font&&) noexcept;
  Font& operator=(Font&&) noexcept;
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;
  ~Font();

  // The family and file actually used.
  const std::string& Family() const;
  const std::filesystem::path& File() const;
  const FontMetrics& Metrics() const;

  // The advance width in pixels of the Unicode code point `code`. A code
  // the face has no glyph for measures as its missing-glyph box.
  std::int32_t AdvanceWidth(char32_t code) const;

  // The face's glyph for `code`; 0 (the missing-glyph box) when it has none.
  std::uint32_t GlyphIndex(char32_t code) const;
  // Pixels per font design unit, and the em in pixels.
  double PixelsPerUnit() const;
  double EmPixels() const;
  // Whether the face draws its glyphs in colours of their own.
  bool HasColor() const;

  // Draws `code` with its cell's top-left corner at (x, y), blending the
  // glyph's coverage in `color` over what the bitmap holds: nothing but the
  // glyph is painted, and what falls outside the bitmap is cut off. Each
  // glyph is rendered once per Font and then reused.
  [[nodiscard]] Status Draw(Bitmap& target, char32_t code, std::int32_t x, std::int32_t y, ColorRef color);

  // Draws glyph `glyph` with its origin at (x, baseline). A colour glyph
  // keeps its colours; any other is blended in `color`.
  [[nodiscard]] Status DrawGlyph(Bitmap& target, std::uint32_t glyph, std::int32_t x, std::int32_t baseline,
                                 ColorRef color);
  // Adds the glyph's coverage (a colour glyph's opacity) into `mask`, a
  // `maskWidth` x `maskHeight` row-major plane of 0..255, keeping the larger
  // value where glyphs overlap: the shape of the text for effects drawn
  // around it.
  [[nodiscard]] Status DrawGlyphCoverage(std::uint8_t* mask, std::int32_t maskWidth, std::int32_t maskHeight,
                                         std::uint32_t glyph, std::int32_t x, std::int32_t baseline);

  // The face's state, known only inside the platform layer.
  struct Impl;

 private:
  friend struct FontAccess;
  explicit Font(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::platform
