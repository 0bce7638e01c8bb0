// The layout as pure arithmetic: characters 10 pixels wide on lines 20 high (unless a case says otherwise), checked
// against worked examples of line breaking, widening, alignment, rounding and not fitting.

#include <gtest/gtest.h>

#include "LayoutText.h"

namespace {

using kv::render::LayoutText;
using kv::render::RoundHalfEven;

class FakeText : public kv::render::LayoutModel {
 public:
  FakeText(const std::string& text, std::int32_t width, std::int32_t height, std::vector<std::int32_t> levels)
      : codes_(text.begin(), text.end()), levels_(std::move(levels)), x_(text.size(), -1), y_(text.size(), -1),
        width_(width), height_(height) {}
  kv::Result<std::int32_t> GetNumberOfCharacters() const override { return static_cast<std::int32_t>(codes_.size()) - 1; }
  kv::Result<std::int32_t> GetCharacterWidth(std::int32_t) const override { return width_; }
  kv::Result<std::int32_t> GetCharacterValue(std::int32_t n) const override { return codes_.at(static_cast<size_t>(n)); }
  kv::Result<std::int32_t> GetCharacterHeight() const override { return height_; }
  kv::Result<std::int32_t> GetCharacterLevel(std::int32_t n) const override {
    return levels_.empty() ? 0 : levels_.at(static_cast<size_t>(n));
  }
  kv::Status SetCharacterX(std::int32_t n, std::int32_t x) override { return x_.at(static_cast<size_t>(n)) = x, kv::Ok(); }
  kv::Status SetCharacterY(std::int32_t n, std::int32_t y) override { return y_.at(static_cast<size_t>(n)) = y, kv::Ok(); }
  std::vector<unsigned char> codes_;
  std::vector<std::int32_t> levels_, x_, y_;
  std::int32_t width_, height_;
};

struct Margins { std::int32_t top = 0, bottom = 0, left = 0, right = 0; };
struct At { size_t index; std::int32_t x, y; };  // x -1: no X written
struct Case {
  const char* name;
  std::string text;
  std::int32_t w, h;
  Margins margins;
  std::int32_t halign, valign, fits;
  std::vector<At> at;
  std::int32_t charWidth = 10, lineHeight = 20;
  std::vector<std::int32_t> levels = {};
};

TEST(LayoutText, RoundingTakesExactHalvesToTheEvenNeighbourAndSaturates) {
  for (auto [value, rounded] : std::initializer_list<std::pair<double, std::int32_t>>{
           {7.5, 8}, {6.5, 6}, {254.5, 254}, {-0.5, 0}, {-1.5, -2}, {2.4999999, 2}, {2.5000001, 3}, {1e300, INT32_MAX}}) {
    EXPECT_EQ(RoundHalfEven(value), rounded) << value;
  }
}

TEST(LayoutText, WorkedExamplesPlaceEveryCharacter) {
  std::string words;
  while (words.size() < 10000) words += "word ";
  const std::vector<Case> cases = {
      // "aa bb cc" in a 35-pixel column: three lines 20 wide; a line's trailing space sits after its last letter.
      {"left", "aa bb cc", 100, 100, {0, 0, 0, 65}, 0, 0, 1, {{0, 0, 0}, {1, 10, 0}, {2, 20, 0}, {3, 0, 20}, {6, 0, 40}, {7, 10, 40}}},
      {"right", "aa bb cc", 100, 100, {0, 0, 0, 65}, 1, 0, 1, {{0, 15, 0}, {2, 35, 0}, {3, 15, 20}, {7, 25, 40}}},
      {"centred, 7.5 to 8", "aa bb cc", 100, 100, {0, 0, 0, 65}, 2, 0, 1, {{0, 8, 0}, {2, 28, 0}, {3, 8, 20}, {7, 18, 40}}},
      // A word wider than the column widens it for the rest of the text; centring uses the widened 80.
      {"long word", "abcdefgh ij", 200, 200, {0, 0, 10, 60}, 0, 0, 1, {{0, 20, 0}, {8, 100, 0}, {9, 20, 20}, {10, 30, 20}}},
      {"long word centred", "abcdefgh ij", 200, 200, {0, 0, 10, 60}, 2, 0, 1, {{0, 20, 0}, {9, 50, 20}}},
      {"crossed margins", "aa bbb c", 100, 100, {0, 0, 60, 60}, 0, 0, 1, {{0, 60, 0}, {3, 60, 20}, {7, 60, 40}}},
      {"word wider than the bitmap", std::string(26, 'x'), 200, 200, {}, 0, 0, 0, {}},
      {"word wider than the column moves left", std::string(15, 'x'), 200, 200, {0, 0, 40, 40}, 0, 0, 1, {{0, 50, 0}}},
      // Widened twice, to 40 and then 50 and 60: exactly the bitmap's width.
      {"word as wide as the bitmap", "xxxxxx", 60, 100, {0, 0, 0, 50}, 0, 0, 1, {{0, 0, 0}, {5, 50, 0}}},
      {"widest line wider than the bitmap", "aaaaaaaaaa", 200, 200, {}, 0, 0, 0, {}, 25},
      // The block must leave one line of the bitmap free: 40 high fits 60 exactly, its bottom at the edge.
      {"one pixel taller than the room", "aa bb", 100, 59, {0, 0, 0, 70}, 0, 0, 0, {}},
      {"one pixel taller, bottom", "aa bb", 100, 59, {0, 0, 0, 70}, 0, 1, 0, {}},
      {"exactly the room", "aa bb", 100, 60, {0, 0, 0, 70}, 0, 0, 1, {{0, 0, 0}, {3, 0, 20}}},
      {"exactly the room, bottom", "aa bb", 100, 60, {0, 0, 0, 70}, 0, 1, 1, {{0, 0, 20}, {3, 0, 40}}},
      {"exactly the room, centred", "aa bb", 100, 60, {0, 0, 0, 70}, 0, 2, 1, {{0, 0, 10}, {3, 0, 30}}},
      // Vertical placement: left 254.5 rounds to 254, centred (600 - 20) / 2.
      {"centred vertically", "aaa bbb", 1018, 600, {0, 0, 25, 25}, 0, 2, 1, {{0, 254, 290}, {6, 314, 290}}},
      {"bottom edge 90 less a line", "aa", 100, 100, {0, 10, 0, 0}, 0, 1, 1, {{0, 0, 70}}},
      {"top margin 100 % stays on", "aa", 100, 100, {100, 0, 0, 0}, 0, 0, 1, {{0, 0, 80}}},
      {"bottom margin 100 % stays on", "aa", 100, 100, {0, 100, 0, 0}, 0, 1, 1, {{0, 0, 0}}},
      {"centred between crossed margins", "aa", 100, 100, {90, 90, 0, 0}, 0, 2, 1, {{0, 0, 40}}},
      {"unknown alignments: top, no X", "aa", 100, 100, {50, 0, 0, 0}, 7, 7, 1, {{0, -1, 0}}},
      // "ab  cd" right-aligned in 20: the first space ends line 0, the second alone is line 1.
      {"leading space", "ab  cd", 100, 100, {0, 0, 0, 80}, 1, 0, 1, {{0, 0, 0}, {2, 20, 0}, {3, 20, 20}, {4, 0, 40}}},
      {"two trailing spaces, one counted", "ab  cd", 100, 100, {0, 0, 0, 70}, 1, 0, 1, {{0, 0, 0}, {3, 30, 0}, {4, 10, 20}}},
      {"right edge moved out to the line", "abcdef", 100, 100, {0, 0, 0, 90}, 1, 0, 1, {{0, 0, 0}}},
      {"only the space breaks", "ab\ncd\tef", 200, 100, {}, 0, 0, 1, {{2, 20, 0}, {5, 50, 0}, {7, 70, 0}}},
      {"spaces alone", "   ", 100, 100, {}, 2, 2, 1, {{0, 40, 40}}},
      {"10 000 characters of lines", words, 1920, 1080, {10, 10, 10, 10}, 2, 2, 0, {}},
      {"10 000 small characters", words, 1920, 1080, {10, 10, 10, 10}, 2, 2, 1, {}, 1, 2},
      {"1 x 1 leaves no line free", "a", 1, 1, {}, 0, 0, 0, {}, 1, 1},
      {"zero widths cannot spin", "abc", 10, 10, {0, 0, 60, 60}, 0, 0, 1, {}, 0, 1},
      // Right-to-left runs are placed in visual order; a line's ending space stays after it.
      {"rtl word", "ab CD ef", 100, 100, {}, 0, 0, 1, {{2, 20, 0}, {3, 40, 0}, {4, 30, 0}, {5, 50, 0}}, 10, 20, {0, 0, 0, 1, 1, 0, 0, 0}},
      {"rtl paragraph", "ab cd ef", 100, 100, {0, 0, 0, 45}, 0, 0, 1,
       {{0, 40, 0}, {1, 30, 0}, {2, 20, 0}, {4, 0, 0}, {5, 50, 0}, {6, 10, 20}, {7, 0, 20}}, 10, 20, std::vector<std::int32_t>(8, 1)},
      {"rtl right", "ab cd ef", 100, 100, {0, 0, 0, 45}, 1, 0, 1, {{4, 5, 0}, {7, 35, 20}}, 10, 20, std::vector<std::int32_t>(8, 1)},
      {"digits in rtl", "ab 12", 100, 100, {}, 0, 0, 1, {{0, 40, 0}, {2, 20, 0}, {3, 0, 0}, {4, 10, 0}}, 10, 20, {1, 1, 1, 2, 2}},
  };
  for (const Case& c : cases) {
    FakeText text(c.text, c.charWidth, c.lineHeight, c.levels);
    const Margins& m = c.margins;
    auto result = LayoutText(text, c.w, c.h, m.top, m.bottom, m.left, m.right, c.halign, c.valign, true);
    ASSERT_TRUE(result) << c.name << ": " << result.error().message;
    EXPECT_EQ(*result, c.fits) << c.name;
    for (auto [i, x, y] : c.at) {
      EXPECT_EQ(std::pair(text.x_.at(i), text.y_.at(i)), std::pair(x, y)) << c.name << ", character " << i;
    }
  }
}

TEST(LayoutText, AFailingModelIsAnError) {
  class Broken final : public FakeText {
   public:
    Broken() : FakeText("A", 10, 20, {}) {}
    kv::Result<std::int32_t> GetCharacterWidth(std::int32_t) const override { return kv::Fail("width failed"); }
  } broken;
  auto result = LayoutText(broken, 100, 100, 0, 0, 0, 0, 0, 0, true);
  EXPECT_EQ(result ? "" : result.error().message, "width failed");
}

}  // namespace
