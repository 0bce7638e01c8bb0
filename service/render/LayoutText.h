#pragma once

#include <cstdint>

#include "kvplatform/base/Result.h"

namespace kv::render {

// What the layout needs of a text model: codes and widths to read, one
// line height, and a position to write for every character. Characters
// are numbered 0..GetNumberOfCharacters(), which answers the last index.
class LayoutModel {
 public:
  virtual ~LayoutModel() = default;
  [[nodiscard]] virtual Result<std::int32_t> GetNumberOfCharacters() const = 0;
  [[nodiscard]] virtual Result<std::int32_t> GetCharacterWidth(std::int32_t Number) const = 0;
  [[nodiscard]] virtual Result<std::int32_t> GetCharacterValue(std::int32_t Number) const = 0;
  [[nodiscard]] virtual Result<std::int32_t> GetCharacterHeight() const = 0;
  // The character's bidirectional level: odd reads right to left. A model
  // of left-to-right text need not answer it.
  [[nodiscard]] virtual Result<std::int32_t> GetCharacterLevel(std::int32_t Number) const {
    (void)Number;
    return 0;
  }
  [[nodiscard]] virtual Status SetCharacterX(std::int32_t Number, std::int32_t x) = 0;
  [[nodiscard]] virtual Status SetCharacterY(std::int32_t Number, std::int32_t y) = 0;
};

// Breaks the text into lines at spaces so that they fit between the left
// and right margins (a word wider than that widens the column for the rest
// of the text), aligns every line horizontally, places the block of lines
// vertically, and writes every character's position into `text`. Lines are
// broken in reading (logical) order; each line is then placed in visual
// order, so that right-to-left runs read from right to left.
//
// Margins are percentages of W (left, right) or H (top, bottom); HAlign is
// 0 left, 1 right, 2 centre; VAlign 0 top, 1 bottom, 2 centre. Margins that
// cross are used as they are.
//
// Answers 1 when the text was laid out, 0 when it does not fit: a word
// wider than W, a line wider than W, or a block of lines taller than H less
// one line. After 0 the positions are meaningless. The font is never made
// smaller and no character is dropped. Fails only when the model fails.
//
// `AllowViolation` is accepted for the setting of that name and changes
// nothing: a column is always widened for a long word, and the three
// failures always apply.
[[nodiscard]] Result<std::int32_t> LayoutText(LayoutModel& text, std::int32_t W, std::int32_t H,
                                              std::int32_t TopMargin, std::int32_t BottomMargin,
                                              std::int32_t LeftMargin, std::int32_t RightMargin,
                                              std::int32_t HAlign, std::int32_t VAlign, bool AllowViolation);

// Nearest integer, an exact half going to the even neighbour (7.5 is 8,
// 6.5 is 6), whatever the floating-point rounding mode; saturated to int32.
std::int32_t RoundHalfEven(double value);

}  // namespace kv::render
