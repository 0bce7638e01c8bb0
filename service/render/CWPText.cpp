#include "CWPText.h"

#include <algorithm>
#include <limits>

#include "kvplatform/base/Text.h"

namespace kv::render {
namespace {

std::int32_t Clamped(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

Status CWPText::Init(platform::Bitmap* hDC, std::shared_ptr<CWPFont> Font, const std::string& Text) {
  if (!Font) return Fail(ErrorCode::InvalidArgument, "the text was given no font");
  std::u32string characters = platform::DecodeUtf8(Text);
  if (characters.empty()) return Fail(ErrorCode::InvalidArgument, "the quote is empty, so there is nothing to draw");
  if (characters.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return Fail(ErrorCode::InvalidArgument, "the quote is too long to be drawn");
  }
  KV_TRY_ASSIGN(platform::ShapedText shaped, Font->ShapeText(characters));
  if (shaped.clusters.empty()) return Fail(ErrorCode::InvalidArgument, "the quote could not be shaped into any character");
  DeviceContext_ = hDC;
  Font_ = std::move(Font);
  Clusters_ = std::move(shaped.clusters);
  Glyphs_ = std::move(shaped.glyphs);
  Codes_.clear(), Widths_.clear(), Levels_.clear();
  for (const platform::ShapedCluster& cluster : Clusters_) {
    Codes_.push_back(static_cast<std::int32_t>(cluster.value));
    Widths_.push_back(cluster.width);
    Levels_.push_back(cluster.level);
  }
  FontHeight_ = Font_->GetFontHeight();
  Positions_.assign(Codes_.size(), Position{});
  return Ok();
}

Status CWPText::PaintText() {
  KV_TRY(CheckInitialised());
  if (DeviceContext_ == nullptr) return Fail(ErrorCode::InvalidArgument, "the text was drawn on no bitmap");
  for (std::size_t i = 0; i < Clusters_.size(); ++i) {
    const platform::ShapedCluster& cluster = Clusters_[i];
    for (std::uint32_t g = cluster.firstGlyph; g < cluster.firstGlyph + cluster.glyphCount; ++g) {
      KV_TRY(Font_->PaintGlyph(Glyphs_[g], DeviceContext_, Positions_[i].X, Positions_[i].Y));
    }
  }
  return Ok();
}

Status CWPText::PaintTextCoverage(std::uint8_t* Mask, std::int32_t Width, std::int32_t Height, std::int32_t Left,
                                  std::int32_t Top) {
  KV_TRY(CheckInitialised());
  for (std::size_t i = 0; i < Clusters_.size(); ++i) {
    const platform::ShapedCluster& cluster = Clusters_[i];
    const std::int32_t x = Clamped(std::int64_t{Positions_[i].X} - Left), y = Clamped(std::int64_t{Positions_[i].Y} - Top);
    for (std::uint32_t g = cluster.firstGlyph; g < cluster.firstGlyph + cluster.glyphCount; ++g) {
      KV_TRY(Font_->PaintGlyphCoverage(Glyphs_[g], Mask, Width, Height, x, y));
    }
  }
  return Ok();
}

Status CWPText::GetCharacterWidths(const std::vector<std::int32_t>& Bytes, std::vector<std::int32_t>& Widths) const {
  if (!Font_) return Fail(ErrorCode::InvalidArgument, "the text has no font to measure with");
  Widths.resize(Bytes.size());
  for (std::size_t i = 0; i < Bytes.size(); ++i) Widths[i] = Font_->GetCharacterWidth(Bytes[i]);
  return Ok();
}

Status CWPText::CheckInitialised() const {
  if (Codes_.empty()) return Fail(ErrorCode::InvalidArgument, "the text model was used before Init");
  return Ok();
}

Status CWPText::CheckNumber(std::int32_t Number) const {
  KV_TRY(CheckInitialised());
  if (Number < 0 || static_cast<std::size_t>(Number) >= Codes_.size()) {
    return Fail(ErrorCode::InvalidArgument, "character " + std::to_string(Number) + " is outside the text's 0.." +
                                                std::to_string(Codes_.size() - 1));
  }
  return Ok();
}

Result<std::int32_t> CWPText::GetNumberOfCharacters() const {
  KV_TRY(CheckInitialised());
  return static_cast<std::int32_t>(Codes_.size() - 1);
}

Result<std::int32_t> CWPText::GetCharacterWidth(std::int32_t Number) const {
  KV_TRY(CheckNumber(Number));
  return Widths_[static_cast<std::size_t>(Number)];
}

Result<std::int32_t> CWPText::GetFontHeight() const {
  KV_TRY(CheckInitialised());
  return FontHeight_;
}

Status CWPText::SetCharacterPosition(std::int32_t Number, std::int32_t x, std::int32_t y) {
  KV_TRY(CheckNumber(Number));
  Positions_[static_cast<std::size_t>(Number)] = Position{x, y};
  return Ok();
}

Result<std::int32_t> CWPText::GetCharacterHeight() const { return GetFontHeight(); }

Result<std::int32_t> CWPText::GetCharacterValue(std::int32_t Number) const {
  KV_TRY(CheckNumber(Number));
  return Codes_[static_cast<std::size_t>(Number)];
}

Result<std::int32_t> CWPText::GetCharacterLevel(std::int32_t Number) const {
  KV_TRY(CheckNumber(Number));
  return Levels_[static_cast<std::size_t>(Number)];
}

Result<std::int32_t> CWPText::GetCharacterWidest() const {
  KV_TRY(CheckInitialised());
  return Font_->GetCharacterWidest();
}

Result<std::int32_t> CWPText::GetCharacterX(std::int32_t Number) const {
  KV_TRY(CheckNumber(Number));
  return Positions_[static_cast<std::size_t>(Number)].X;
}

Result<std::int32_t> CWPText::GetCharacterY(std::int32_t Number) const {
  KV_TRY(CheckNumber(Number));
  return Positions_[static_cast<std::size_t>(Number)].Y;
}

Status CWPText::SetCharacterX(std::int32_t Number, std::int32_t x) {
  KV_TRY(CheckNumber(Number));
  Positions_[static_cast<std::size_t>(Number)].X = x;
  return Ok();
}

Status CWPText::SetCharacterY(std::int32_t Number, std::int32_t y) {
  KV_TRY(CheckNumber(Number));
  Positions_[static_cast<std::size_t>(Number)].Y = y;
  return Ok();
}

}  // namespace kv::render
