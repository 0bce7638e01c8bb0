#include "CWPFont.h"

#include <algorithm>
#include <limits>

namespace kv::render {
namespace {

// A negative code or one beyond Unicode is measured and drawn as the
// missing-glyph box.
char32_t CodePoint(std::int32_t Ascii) {
  return Ascii < 0 || Ascii > 0x10FFFF ? char32_t{0xFFFF} : static_cast<char32_t>(Ascii);
}

std::int32_t Clamped(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

Status CWPFont::Init(platform::Bitmap* hDC, const std::string& FontName, std::int32_t FontSize,
                     std::int32_t ForeColor) {
  DeviceContext_ = hDC;
  FaceName_ = FontName;
  Size_ = FontSize;
  TextColor_ = ForeColor;
  return BuildFont();
}

Status CWPFont::BuildFont() {
  auto fonts = platform::FontSet::Open(FaceName_, Size_, kWeight);
  if (!fonts) return Fail(fonts.error(), "cannot make the font \"" + FaceName_ + "\"");
  Fonts_.emplace(std::move(*fonts));
  otherWidths_.clear();
  // Every width the layout will ask for in ordinary text is measured now,
  // so that laying out never has to go back to the font.
  for (std::size_t code = 0; code < Widths_.size(); ++code) {
    const auto c = static_cast<char32_t>(code);
    Widths_[code] = Fonts_->At(Fonts_->FontFor(c)).AdvanceWidth(c);
  }
  FontHeight_ = Fonts_->Primary().Metrics().height;
  Widest_ = Fonts_->Primary().Metrics().maxCharWidth;
  return Ok();
}

std::int32_t CWPFont::GetCharacterWidth(std::int32_t Ascii) const {
  if (Ascii >= 0 && Ascii < static_cast<std::int32_t>(Widths_.size())) return Widths_[static_cast<std::size_t>(Ascii)];
  if (!Fonts_) return 0;
  if (auto known = otherWidths_.find(Ascii); known != otherWidths_.end()) return known->second;
  const char32_t code = CodePoint(Ascii);
  std::int32_t width = Fonts_->At(Fonts_->FontFor(code)).AdvanceWidth(code);
  otherWidths_.emplace(Ascii, width);
  return width;
}

std::string CWPFont::FamilyDrawing(std::int32_t Ascii) {
  if (!Fonts_) return {};
  return Fonts_->At(Fonts_->FontFor(CodePoint(Ascii))).Family();
}

Status CWPFont::PaintCharacter(std::int32_t Ascii, platform::Bitmap* DestinationDC, std::int32_t x, std::int32_t y) {
  if (!Fonts_) return Fail(ErrorCode::InvalidArgument, "a character was drawn with a font that was never built");
  if (DestinationDC == nullptr) return Fail(ErrorCode::InvalidArgument, "a character was drawn on no bitmap");
  const char32_t code = CodePoint(Ascii);
  const std::size_t index = Fonts_->FontFor(code);
  if (index == 0) return Fonts_->Primary().Draw(*DestinationDC, code, x, y, TextColor_);
  platform::Font& font = Fonts_->At(index);
  return font.DrawGlyph(*DestinationDC, font.GlyphIndex(code), x,
                        Clamped(std::int64_t{y} + Fonts_->Primary().Metrics().ascent), TextColor_);
}

Result<platform::ShapedText> CWPFont::ShapeText(std::u32string_view Text) {
  if (!Fonts_) return Fail(ErrorCode::InvalidArgument, "a text was shaped with a font that was never built");
  return platform::ShapeText(*Fonts_, Text);
}

Status CWPFont::PaintGlyph(const platform::ShapedGlyph& Glyph, platform::Bitmap* DestinationDC, std::int32_t x,
                           std::int32_t y) {
  if (!Fonts_ || Glyph.font >= Fonts_->Count()) {
    return Fail(ErrorCode::InvalidArgument, "a glyph was drawn with a font that was never built");
  }
  if (DestinationDC == nullptr) return Fail(ErrorCode::InvalidArgument, "a glyph was drawn on no bitmap");
  const std::int64_t baseline = std::int64_t{y} + Fonts_->Primary().Metrics().ascent - Glyph.y;
  return Fonts_->At(Glyph.font).DrawGlyph(*DestinationDC, Glyph.glyph, Clamped(std::int64_t{x} + Glyph.x),
                                          Clamped(baseline), TextColor_);
}

Status CWPFont::PaintGlyphCoverage(const platform::ShapedGlyph& Glyph, std::uint8_t* Mask, std::int32_t Width,
                                   std::int32_t Height, std::int32_t x, std::int32_t y) {
  if (!Fonts_ || Glyph.font >= Fonts_->Count()) {
    return Fail(ErrorCode::InvalidArgument, "a glyph was drawn with a font that was never built");
  }
  const std::int64_t baseline = std::int64_t{y} + Fonts_->Primary().Metrics().ascent - Glyph.y;
  return Fonts_->At(Glyph.font).DrawGlyphCoverage(Mask, Width, Height, Glyph.glyph, Clamped(std::int64_t{x} + Glyph.x),
                                                  Clamped(baseline));
}

}  // namespace kv::render
