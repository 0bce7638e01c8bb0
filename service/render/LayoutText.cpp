#include "LayoutText.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace kv::render {
namespace {

constexpr std::int32_t kSpace = 32;

std::int32_t Saturated(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// Lays the offsets of every line anew in visual order: from the highest
// bidirectional level down to 1, every run of characters at that level or
// above is reversed (the Unicode algorithm's rule L2). The space that ends
// a line counts in no width and stays after the line's end; a line of
// left-to-right text keeps its offsets.
void PlaceInVisualOrder(const std::vector<std::int32_t>& code, const std::vector<std::int32_t>& level,
                        const std::vector<std::int64_t>& width, const std::vector<std::int64_t>& lineOf,
                        std::vector<std::int64_t>& offset) {
  const std::size_t n = code.size();
  std::vector<std::size_t> order;
  for (std::size_t first = 0; first < n;) {
    std::size_t end = first + 1;
    while (end < n && lineOf[end] == lineOf[first]) ++end;
    std::size_t visibleEnd = code[end - 1] == kSpace ? end - 1 : end;
    std::int32_t highest = 0;
    for (std::size_t k = first; k < visibleEnd; ++k) highest = std::max(highest, level[k]);
    if (highest > 0) {
      order.clear();
      for (std::size_t k = first; k < visibleEnd; ++k) order.push_back(k);
      for (std::int32_t at = highest; at > 0; --at) {
        for (std::size_t k = 0; k < order.size();) {
          if (level[order[k]] < at) {
            ++k;
            continue;
          }
          std::size_t runEnd = k;
          while (runEnd < order.size() && level[order[runEnd]] >= at) ++runEnd;
          std::reverse(order.begin() + static_cast<std::ptrdiff_t>(k), order.begin() + static_cast<std::ptrdiff_t>(runEnd));
          k = runEnd;
        }
      }
      std::int64_t x = 0;
      for (std::size_t k : order) {
        offset[k] = x;
        x += width[k];
      }
      if (visibleEnd != end) offset[end - 1] = x;
    }
    first = end;
  }
}

}  // namespace

std::int32_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  double lower = std::floor(value);
  double fraction = value - lower;
  double rounded = lower;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(lower, 2.0) != 0.0)) rounded = lower + 1.0;
  if (rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (rounded <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(rounded);
}

Result<std::int32_t> LayoutText(LayoutModel& text, std::int32_t W, std::int32_t H, std::int32_t TopMargin,
                                std::int32_t BottomMargin, std::int32_t LeftMargin, std::int32_t RightMargin,
                                std::int32_t HAlign, std::int32_t VAlign, bool AllowViolation) {
  (void)AllowViolation;

  // The model is read once; everything after that is arithmetic on these
  // arrays. Sums are kept in 64 bits so that no text can overflow them.
  KV_TRY_ASSIGN(std::int32_t lastIndex, text.GetNumberOfCharacters());
  if (lastIndex < 0) return 0;
  const auto n = static_cast<std::size_t>(lastIndex) + 1;
  std::vector<std::int32_t> code(n), level(n);
  std::vector<std::int64_t> width(n);
  bool rightToLeft = false;
  for (std::size_t i = 0; i < n; ++i) {
    KV_TRY_ASSIGN(code[i], text.GetCharacterValue(static_cast<std::int32_t>(i)));
    KV_TRY_ASSIGN(width[i], text.GetCharacterWidth(static_cast<std::int32_t>(i)));
    KV_TRY_ASSIGN(level[i], text.GetCharacterLevel(static_cast<std::int32_t>(i)));
    rightToLeft = rightToLeft || level[i] != 0;
  }
  KV_TRY_ASSIGN(const std::int64_t lineHeight, text.GetCharacterHeight());

  // Step 1: the margins' edges, computed in the order written.
  const double w = W, h = H;
  std::int64_t left = RoundHalfEven(LeftMargin / 100.0 * w);
  std::int64_t right = RoundHalfEven(w - w * (RightMargin / 100.0));
  std::int64_t top = RoundHalfEven(TopMargin / 100.0 * h);
  std::int64_t bottom = RoundHalfEven(h - h * (BottomMargin / 100.0));
  std::int64_t column = right - left;

  // Step 2: line breaking; only a space is a break point.
  std::vector<std::int64_t> lineOf(n), offset(n);
  std::int64_t line = 0, x = 0, accumulated = 0;
  std::size_t i = 0;
  while (i < n) {
    offset[i] = x;
    lineOf[i] = line;
    x += width[i];
    if (x <= column) {
      ++i;
      continue;
    }
    // Character i overflows: look back along the current line for a space.
    std::int64_t j = static_cast<std::int64_t>(i);
    bool noSpace = false;
    while (true) {
      if (code[static_cast<std::size_t>(j)] == kSpace) break;
      accumulated += width[static_cast<std::size_t>(j)];
      x -= width[static_cast<std::size_t>(j)];
      --j;
      if (j < 0 || lineOf[static_cast<std::size_t>(j)] == line - 1) {
        noSpace = true;
        break;
      }
    }
    if (!noSpace) {
      // The space stays as the last character of this line; what follows
      // it is laid again on the next.
      ++line;
      x = 0;
      accumulated = 0;
      i = static_cast<std::size_t>(j) + 1;
      continue;
    }
    // No space on this line: one word wider than the whole bitmap cannot
    // fit; otherwise the column widens to this line's width so far and the
    // line is laid again. The column only ever grows, so this ends.
    if (accumulated > W) return 0;
    column = accumulated;
    accumulated = 0;
    i = static_cast<std::size_t>(j + 1);
  }

  // Step 3: line widths, leaving out the one space that ends a line.
  const std::int64_t lines = lineOf[n - 1] + 1;
  std::vector<std::int64_t> lineWidth(static_cast<std::size_t>(lines), 0);
  for (std::size_t k = 0; k < n; ++k) {
    bool endsLine = k + 1 == n || lineOf[k] != lineOf[k + 1];
    if (code[k] == kSpace && endsLine) continue;
    lineWidth[static_cast<std::size_t>(lineOf[k])] += width[k];
  }

  // A line with right-to-left text is placed in visual order.
  if (rightToLeft) PlaceInVisualOrder(code, level, width, lineOf, offset);

  // Step 4: the widest line must fit the bitmap.
  std::int64_t widest = 0;
  for (std::int64_t value : lineWidth) widest = std::max(widest, value);
  if (widest > W) return 0;

  // Step 5: horizontal placement.
  if ((HAlign == 0 || HAlign == 2) && left + widest > W) left = W - widest;
  if (HAlign == 1 && right - widest < 0) right = widest;
  for (std::size_t k = 0; k < n; ++k) {
    std::int64_t lineWide = lineWidth[static_cast<std::size_t>(lineOf[k])];
    std::int64_t placed = 0;
    if (HAlign == 0) {
      placed = left + offset[k];
    } else if (HAlign == 1) {
      placed = right - lineWide + offset[k];
    } else if (HAlign == 2) {
      placed = RoundHalfEven(static_cast<double>(column - lineWide) / 2.0 + static_cast<double>(offset[k]) +
                             static_cast<double>(left));
    } else {
      continue;  // any other alignment writes no X
    }
    KV_TRY(text.SetCharacterX(static_cast<std::int32_t>(k), Saturated(placed)));
  }

  // Step 6: vertical placement; the block must leave one line of the
  // bitmap free.
  const std::int64_t textHeight = lines * lineHeight;
  if (textHeight > H - lineHeight) return 0;
  std::int64_t first = 0;
  if (VAlign == 0) {
    if (top + textHeight > H) top = H - textHeight;
    first = top;
  } else if (VAlign == 1) {
    if (bottom - textHeight < 0) bottom = textHeight;
    first = bottom - textHeight;
  } else if (VAlign == 2) {
    first = RoundHalfEven(static_cast<double>(bottom - top - textHeight) / 2.0 + static_cast<double>(top));
    if (first < 0) first = 0;
    if (first + textHeight > H) first = H - textHeight;
  }
  for (std::size_t k = 0; k < n; ++k) {
    KV_TRY(text.SetCharacterY(static_cast<std::int32_t>(k), Saturated(first + lineOf[k] * lineHeight)));
  }
  return 1;
}

}  // namespace kv::render
