#include "CWPFont.h"

namespace kv::render {

Status CWPFont::Init(platform::Bitmap* hDC, const std::string& FontName, std::int32_t FontSize,
                     std::int32_t ForeColor) {
  DeviceContext_ = hDC;
  FaceName_ = FontName;
  Size_ = FontSize;
  TextColor_ = ForeColor;
  return BuildFont();
}

Status CWPFont::BuildFont() {
  auto font = platform::Font::Open(FaceName_, Size_, kWeight);
  if (!font) return Fail(font.error(), "cannot make the font \"" + FaceName_ + "\"");
  Font_.emplace(std::move(*font));
  otherWidths_.clear();
  // Every width the layout will ask for in ordinary text is measured now,
  // so that laying out never has to go back to the font.
  for (std::size_t code = 0; code < Widths_.size(); ++code) {
    Widths_[code] = Font_->AdvanceWidth(static_cast<char32_t>(code));
  }
  FontHeight_ = Font_->Metrics().height;
  Widest_ = Font_->Metrics().maxCharWidth;
  return Ok();
}

std::int32_t CWPFont::GetCharacterWidth(std::int32_t Ascii) const {
  if (Ascii >= 0 && Ascii < static_cast<std::int32_t>(Widths_.size())) return Widths_[static_cast<std::size_t>(Ascii)];
  if (!Font_) return 0;
  if (auto known = otherWidths_.find(Ascii); known != otherWidths_.end()) return known->second;
  // A negative code or one beyond Unicode measures as the missing-glyph box.
  char32_t code = Ascii < 0 || Ascii > 0x10FFFF ? char32_t{0xFFFF} : static_cast<char32_t>(Ascii);
  std::int32_t width = Font_->AdvanceWidth(code);
  otherWidths_.emplace(Ascii, width);
  return width;
}

Status CWPFont::PaintCharacter(std::int32_t Ascii, platform::Bitmap* DestinationDC, std::int32_t x, std::int32_t y) {
  if (!Font_) return Fail(ErrorCode::InvalidArgument, "a character was drawn with a font that was never built");
  if (DestinationDC == nullptr) return Fail(ErrorCode::InvalidArgument, "a character was drawn on no bitmap");
  char32_t code = Ascii < 0 || Ascii > 0x10FFFF ? char32_t{0xFFFF} : static_cast<char32_t>(Ascii);
  return Font_->Draw(*DestinationDC, code, x, y, TextColor_);
}

}  // namespace kv::render
