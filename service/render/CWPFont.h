#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "kvplatform/Bitmap.h"
#include "kvplatform/Font.h"
#include "kvplatform/Result.h"

namespace kv::render {

// The one font a wallpaper's quote is drawn with. Made from a face name, a
// pixel height and a colour for the wallpaper's bitmap, it measures every
// character and draws one character at a time. The composition makes one
// per rendering; nothing of it outlives that rendering.
//
// Character codes are Unicode code points. Codes 0..255 are measured once,
// when the font is built; any other code is measured on its first use and
// remembered.
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

  // The advance width in pixels of `Ascii` (0 before Init).
  std::int32_t GetCharacterWidth(std::int32_t Ascii) const;
  // The widest advance of the font (0 before Init).
  std::int32_t GetCharacterWidest() const { return Widest_; }
  // The cell height: the height of every character and every line (0 before Init).
  std::int32_t GetFontHeight() const { return FontHeight_; }

  // The family the face name found, which names the substitute when no
  // installed font has that name.
  std::string FamilyUsed() const { return Font_ ? Font_->Family() : std::string(); }

 private:
  [[nodiscard]] Status BuildFont();

  std::string FaceName_;
  std::int32_t Size_ = 0;
  std::array<std::int32_t, 256> Widths_{};
  std::int32_t FontHeight_ = 0;
  std::int32_t Widest_ = 0;
  std::optional<platform::Font> Font_;
  platform::Bitmap* DeviceContext_ = nullptr;
  std::int32_t TextColor_ = 0;
  // Widths of the codes beyond the table, measured when first asked for.
  mutable std::unordered_map<std::int32_t, std::int32_t> otherWidths_;
};

}  // namespace kv::render
