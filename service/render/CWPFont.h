#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/text/FontSet.h"
#include "kvplatform/base/Result.h"
#include "kvplatform/text/ShapedText.h"

namespace kv::render {

// The one font a wallpaper's quote is drawn with. Made from a face name, a
// pixel height and a colour for the wallpaper's bitmap, it measures every
// character and draws one character at a time. The composition makes one
// per rendering; nothing of it outlives that rendering.
//
// Character codes are Unicode code points. Codes 0..255 are measured once,
// when the font is built; any other code is measured on its first use and
// remembered. A character the chosen face lacks is measured and drawn with
// the installed font that has it (see platform::FontSet).
class CWPFont {
 public:
  // The weight every wallpaper font is asked for: light. The family's
  // nearest weight is used.
  static constexpr std::int32_t kWeight = 300;

  CWPFont() = default;
  CWPFont(const CWPFont&) = delete;
  CWPFont& operator=(const CWPFont&) = delete;

  // Keeps the values and builds the font. `FontSize` is a pixel height: a
  // positive value is the cell height, a negative one the character (em)
  // height, 0 the default. A face name that no font has is served by the
  // system's substitute. Fails only when no font can be loaded at all.
  [[nodiscard]] Status Init(platform::Bitmap* hDC, const std::string& FontName, std::int32_t FontSize,
                            std::int32_t ForeColor);

  // Draws the character `Ascii` (a code point) with its cell's top-left
  // corner at (x, y) on `DestinationDC`, in the text colour, painting
  // nothing but the glyph; whatever falls outside the bitmap is cut off.
  [[nodiscard]] Status PaintCharacter(std::int32_t Ascii, platform::Bitmap* DestinationDC, std::int32_t x,
                                      std::int32_t y);

  // Cuts `Text` into clusters, ordered for reading and shaped with this
  // font and its fallbacks.
  [[nodiscard]] Result<platform::ShapedText> ShapeText(std::u32string_view Text);

  // Draws one glyph of a shaped text for a cluster whose cell's top-left
  // corner is at (x, y), as PaintCharacter draws a character.
  [[nodiscard]] Status PaintGlyph(const platform::ShapedGlyph& Glyph, platform::Bitmap* DestinationDC, std::int32_t x,
                                  std::int32_t y);
  // The same glyph's coverage added into a `Width` x `Height` mask.
  [[nodiscard]] Status PaintGlyphCoverage(const platform::ShapedGlyph& Glyph, std::uint8_t* Mask, std::int32_t Width,
                                          std::int32_t Height, std::int32_t x, std::int32_t y);

  // The advance width in pixels of `Ascii` (0 before Init).
  std::int32_t GetCharacterWidth(std::int32_t Ascii) const;
  // The widest advance of the font (0 before Init).
  std::int32_t GetCharacterWidest() const { return Widest_; }
  // The cell height: the height of every character and every line (0 before Init).
  std::int32_t GetFontHeight() const { return FontHeight_; }

  // The family the face name found, which names the substitute when no
  // installed font has that name.
  std::string FamilyUsed() const { return Fonts_ ? Fonts_->Primary().Family() : std::string(); }
  // The family that draws `Ascii`: FamilyUsed, or the font standing in for
  // it when the chosen one lacks it.
  std::string FamilyDrawing(std::int32_t Ascii);

 private:
  [[nodiscard]] Status BuildFont();

  std::string FaceName_;
  std::int32_t Size_ = 0;
  std::array<std::int32_t, 256> Widths_{};
  std::int32_t FontHeight_ = 0;
  std::int32_t Widest_ = 0;
  // Mutable: a fallback font is found and opened when first measured.
  mutable std::optional<platform::FontSet> Fonts_;
  platform::Bitmap* DeviceContext_ = nullptr;
  std::int32_t TextColor_ = 0;
  // Widths of the codes beyond the table, measured when first asked for.
  mutable std::unordered_map<std::int32_t, std::int32_t> otherWidths_;
};

}  // namespace kv::render
