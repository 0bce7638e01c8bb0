#pragma once

// One font face at one size: found by face name through the system's font
// configuration, measured in whole pixels and drawn glyph by glyph with
// 8-bit antialiasing into a bitmap.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "kvplatform/Bitmap.h"
#include "kvplatform/Result.h"

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
  [[nodiscard]] static Result<Font> Open(std::string_view faceName, std::int32_t height, std::int32_t weight);

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

  // Draws `code` with its cell's top-left corner at (x, y), blending the
  // glyph's coverage in `color` over what the bitmap holds: nothing but the
  // glyph is painted, and what falls outside the bitmap is cut off. Each
  // glyph is rendered once per Font and then reused.
  [[nodiscard]] Status Draw(Bitmap& target, char32_t code, std::int32_t x, std::int32_t y, ColorRef color);

 private:
  struct Impl;
  explicit Font(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::platform
