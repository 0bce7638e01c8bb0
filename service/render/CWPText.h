#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CWPFont.h"
#include "LayoutText.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/base/Result.h"

namespace kv::render {

// The quote as a row of separately placed characters: for each its code (a
// Unicode code point), its advance width and the top-left corner of its
// cell. The layout writes the positions, the composition may shift them,
// and the model finally draws every character on its own.
//
// A "character" here is a cluster of the shaped text: one code point in
// plain text, but a letter with its combining marks, a ligature or a
// conjunct where the script joins them. Its code is its first code point,
// its width the advance of all its glyphs, and its level its
// bidirectional level, by which the layout orders a line for reading.
//
// Characters are numbered from 0; GetNumberOfCharacters answers the LAST
// index, n - 1. A number outside 0..n-1 fails and touches nothing.
class CWPText final : public LayoutModel {
 public:
  // Builds the model of `Text` (UTF-8; invalid bytes become U+FFFD) drawn
  // with `Font` on `hDC`. Every position starts at (0, 0). An empty text
  // cannot be modelled and fails.
  [[nodiscard]] Status Init(platform::Bitmap* hDC, std::shared_ptr<CWPFont> Font, const std::string& Text);

  // Draws every character at its position, in index order (a later
  // character is drawn over an earlier one where cells overlap).
  [[nodiscard]] Status PaintText();
  // Draws the same into a `Width` x `Height` row-major coverage mask
  // (0..255, the larger value kept where glyphs overlap), for effects that
  // follow the text's shape. The mask's top-left pixel is the bitmap's
  // pixel (Left, Top); what falls outside the mask is cut off.
  [[nodiscard]] Status PaintTextCoverage(std::uint8_t* Mask, std::int32_t Width, std::int32_t Height,
                                         std::int32_t Left = 0, std::int32_t Top = 0);

  // Sets `Widths` to the font's width of every code of `Bytes`.
  [[nodiscard]] Status GetCharacterWidths(const std::vector<std::int32_t>& Bytes, std::vector<std::int32_t>& Widths) const;

  [[nodiscard]] Result<std::int32_t> GetNumberOfCharacters() const override;
  [[nodiscard]] Result<std::int32_t> GetCharacterWidth(std::int32_t Number) const override;
  [[nodiscard]] Result<std::int32_t> GetFontHeight() const;
  [[nodiscard]] Status SetCharacterPosition(std::int32_t Number, std::int32_t x, std::int32_t y);
  [[nodiscard]] Result<std::int32_t> GetCharacterHeight() const override;
  [[nodiscard]] Result<std::int32_t> GetCharacterValue(std::int32_t Number) const override;
  [[nodiscard]] Result<std::int32_t> GetCharacterLevel(std::int32_t Number) const override;
  [[nodiscard]] Result<std::int32_t> GetCharacterWidest() const;
  [[nodiscard]] Result<std::int32_t> GetCharacterX(std::int32_t Number) const;
  [[nodiscard]] Result<std::int32_t> GetCharacterY(std::int32_t Number) const;
  [[nodiscard]] Status SetCharacterX(std::int32_t Number, std::int32_t x) override;
  [[nodiscard]] Status SetCharacterY(std::int32_t Number, std::int32_t y) override;

 private:
  struct Position {
    std::int32_t X = 0;
    std::int32_t Y = 0;
  };

  [[nodiscard]] Status CheckNumber(std::int32_t Number) const;
  [[nodiscard]] Status CheckInitialised() const;

  platform::Bitmap* DeviceContext_ = nullptr;
  std::shared_ptr<CWPFont> Font_;
  std::vector<std::int32_t> Codes_;
  std::vector<std::int32_t> Widths_;
  std::vector<std::int32_t> Levels_;
  std::vector<platform::ShapedCluster> Clusters_;
  std::vector<platform::ShapedGlyph> Glyphs_;
  std::int32_t FontHeight_ = 0;
  std::vector<Position> Positions_;
};

}  // namespace kv::render
