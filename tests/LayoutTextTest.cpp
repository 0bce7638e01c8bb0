// The layout as pure arithmetic: a text model of 10-pixel characters with a
// line height of 20, checked against the worked examples and the rules of
// line breaking, widening, alignment, rounding and failure.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LayoutText.h"

namespace {

using kv::render::LayoutText;
using kv::render::RoundHalfEven;

// Every character is 10 pixels wide unless given otherwise; lines are 20 high.
class FakeText final : public kv::render::LayoutModel {
 public:
  explicit FakeText(const std::string& text, std::int32_t width = 10, std::int32_t height = 20) : height_(height) {
    for (char c : text) codes_.push_back(static_cast<unsigned char>(c));
    widths_.assign(codes_.size(), width);
    x_.assign(codes_.size(), -1);
    y_.assign(codes_.size(), -1);
  }

  kv::Result<std::int32_t> GetNumberOfCharacters() const override {
    return static_cast<std::int32_t>(codes_.size()) - 1;
  }
  kv::Result<std::int32_t> GetCharacterWidth(std::int32_t n) const override { return widths_.at(static_cast<size_t>(n)); }
  kv::Result<std::int32_t> GetCharacterValue(std::int32_t n) const override { return codes_.at(static_cast<size_t>(n)); }
  kv::Result<std::int32_t> GetCharacterHeight() const override { return height_; }
  kv::Result<std::int32_t> GetCharacterLevel(std::int32_t n) const override {
    return levels_.empty() ? 0 : levels_.at(static_cast<size_t>(n));
  }
  kv::Status SetCharacterX(std::int32_t n, std::int32_t x) override {
    x_.at(static_cast<size_t>(n)) = x;
    return kv::Ok();
  }
  kv::Status SetCharacterY(std::int32_t n, std::int32_t y) override {
    y_.at(static_cast<size_t>(n)) = y;
    return kv::Ok();
  }

  std::int32_t X(size_t n) const { return x_.at(n); }
  std::int32_t Y(size_t n) const { return y_.at(n); }
  std::vector<std::int32_t> widths_;
  std::vector<std::int32_t> levels_;  // bidirectional levels; empty: all 0

 private:
  std::vector<std::int32_t> codes_;
  std::vector<std::int32_t> x_, y_;
  std::int32_t height_;
};

struct Margins {
  std::int32_t top = 0, bottom = 0, left = 0, right = 0;
};

std::int32_t Lay(FakeText& text, std::int32_t w, std::int32_t h, Margins m, std::int32_t halign, std::int32_t valign) {
  auto result = LayoutText(text, w, h, m.top, m.bottom, m.left, m.right, halign, valign, true);
  EXPECT_TRUE(result) << (result ? "" : result.error().message);
  return result ? *result : -1;
}

TEST(LayoutText, RoundingTakesExactHalvesToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(7.5), 8);
  EXPECT_EQ(RoundHalfEven(6.5), 6);
  EXPECT_EQ(RoundHalfEven(254.5), 254);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(2.4999999), 2);
  EXPECT_EQ(RoundHalfEven(2.5000001), 3);
  EXPECT_EQ(RoundHalfEven(1e300), INT32_MAX) << "huge values saturate instead of overflowing";
}

TEST(LayoutText, BreaksAtSpacesAndAlignsEachWay) {
  // aa bb cc in a 35-pixel column: three lines of width 20.
  const Margins m{0, 0, 0, 65};
  const std::vector<size_t> lineStarts = {0, 3, 6};
  for (auto [halign, x] : std::vector<std::pair<int, int>>{{0, 0}, {1, 15}, {2, 8}}) {
    FakeText text("aa bb cc");
    ASSERT_EQ(Lay(text, 100, 100, m, halign, 0), 1);
    for (size_t line = 0; line < lineStarts.size(); ++line) {
      EXPECT_EQ(text.X(lineStarts[line]), x) << "halign " << halign << ", line " << line;
      EXPECT_EQ(text.Y(lineStarts[line]), static_cast<int>(line) * 20);
      EXPECT_EQ(text.X(lineStarts[line] + 1), x + 10);
    }
    // The space that ends a line keeps its place after the line's last letter.
    EXPECT_EQ(text.Y(2), 0);
    EXPECT_EQ(text.X(2), x + 20) << "a line's trailing space sits after its last letter";
  }
}

TEST(LayoutText, ALongWordWidensTheColumnForTheRestOfTheText) {
  FakeText text("abcdefgh ij");
  ASSERT_EQ(Lay(text, 200, 200, {0, 0, 10, 60}, 0, 0), 1);
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(text.X(i), 20 + 10 * static_cast<int>(i));
    EXPECT_EQ(text.Y(i), 0);
  }
  EXPECT_EQ(text.X(9), 20) << "line 1 starts at the left edge";
  EXPECT_EQ(text.Y(9), 20);
  EXPECT_EQ(text.X(10), 30);

  // Centring uses the widened column (80), not the margins' 60: the second
  // line (20 wide) sits at 20 + (80 - 20) / 2.
  FakeText centred("abcdefgh ij");
  ASSERT_EQ(Lay(centred, 200, 200, {0, 0, 10, 60}, 2, 0), 1);
  EXPECT_EQ(centred.X(0), 20);
  EXPECT_EQ(centred.X(9), 50);
}

TEST(LayoutText, CrossedMarginsGiveEveryWordItsOwnLine) {
  FakeText text("aa bbb c");
  ASSERT_EQ(Lay(text, 100, 100, {0, 0, 60, 60}, 0, 0), 1);
  EXPECT_EQ(text.X(0), 60);
  EXPECT_EQ(text.Y(0), 0);
  EXPECT_EQ(text.X(3), 60);
  EXPECT_EQ(text.Y(3), 20);
  EXPECT_EQ(text.X(7), 60);
  EXPECT_EQ(text.Y(7), 40);
}

TEST(LayoutText, TheThreeWaysOfNotFitting) {
  // A word wider than the whole bitmap.
  FakeText word(std::string(26, 'x'));
  EXPECT_EQ(Lay(word, 200, 200, {}, 0, 0), 0);
  // A word that fits the bitmap but not the column lays out on one line, wider than the margins allow.
  FakeText wide(std::string(15, 'x'));
  EXPECT_EQ(Lay(wide, 200, 200, {0, 0, 40, 40}, 0, 0), 1);
  EXPECT_EQ(wide.X(0), 200 - 150) << "a line that would run past the right edge moves left";
  // A block of lines taller than the bitmap less one line: 40 > 59 - 20 although 40 <= 59.
  FakeText tall("aa bb");
  EXPECT_EQ(Lay(tall, 100, 59, {0, 0, 0, 70}, 0, 0), 0);
  FakeText justFits("aa bb");
  EXPECT_EQ(Lay(justFits, 100, 60, {0, 0, 0, 70}, 0, 0), 1);
  // A line wider than the bitmap after widening: the widest line is checked too.
  FakeText longLine("aaaaaaaaaa");
  longLine.widths_.assign(10, 25);
  EXPECT_EQ(Lay(longLine, 200, 200, {}, 0, 0), 0);
}

TEST(LayoutText, VerticalPlacementRoundsAndClamps) {
  // left = 254.5 rounds to 254; centred: (600 - 20) / 2 = 290.
  FakeText text("aaa bbb");
  ASSERT_EQ(Lay(text, 1018, 600, {0, 0, 25, 25}, 0, 2), 1);
  EXPECT_EQ(text.X(0), 254);
  EXPECT_EQ(text.Y(0), 290);
  EXPECT_EQ(text.Y(6), 290);

  FakeText bottom("aa");
  ASSERT_EQ(Lay(bottom, 100, 100, {0, 10, 0, 0}, 0, 1), 1);
  EXPECT_EQ(bottom.Y(0), 70) << "bottom edge 90 less one line";
  FakeText pinnedTop("aa");
  ASSERT_EQ(Lay(pinnedTop, 100, 100, {100, 0, 0, 0}, 0, 0), 1);
  EXPECT_EQ(pinnedTop.Y(0), 80) << "a top margin of 100% still keeps the text on the bitmap";
  FakeText pinnedBottom("aa");
  ASSERT_EQ(Lay(pinnedBottom, 100, 100, {0, 100, 0, 0}, 0, 1), 1);
  EXPECT_EQ(pinnedBottom.Y(0), 0);
  FakeText centreCrossed("aa");
  ASSERT_EQ(Lay(centreCrossed, 100, 100, {90, 90, 0, 0}, 0, 2), 1);
  EXPECT_EQ(centreCrossed.Y(0), 40) << "(10 - 90 - 20) / 2 + 90";
  FakeText unknown("aa");
  ASSERT_EQ(Lay(unknown, 100, 100, {50, 0, 0, 0}, 7, 7), 1);
  EXPECT_EQ(unknown.Y(0), 0) << "an unknown vertical alignment puts the text at the top";
  EXPECT_EQ(unknown.X(0), -1) << "an unknown horizontal alignment writes no X";
}

TEST(LayoutText, RightAlignmentAndLeadingSpaces) {
  // "ab  cd" in a 20-pixel column: the first space overflows and ends line
  // 0; line 1 begins with the second space, which alone is all that fits
  // before "cd" overflows again, so "cd" is line 2.
  FakeText text("ab  cd");
  ASSERT_EQ(Lay(text, 100, 100, {0, 0, 0, 80}, 1, 0), 1);
  EXPECT_EQ(text.X(0), 0) << "line 0 is 20 wide without its trailing space";
  EXPECT_EQ(text.X(2), 20) << "the trailing space starts at the right edge";
  EXPECT_EQ(text.Y(3), 20) << "the second space begins line 1";
  EXPECT_EQ(text.X(3), 20) << "a line of one space has no width";
  EXPECT_EQ(text.Y(4), 40);
  EXPECT_EQ(text.X(4), 0);
  // A line can also end in several spaces: both stay on line 0 when the
  // column has room for the first.
  FakeText twoSpaces("ab  cd");
  ASSERT_EQ(Lay(twoSpaces, 100, 100, {0, 0, 0, 70}, 1, 0), 1);
  EXPECT_EQ(twoSpaces.Y(3), 0);
  EXPECT_EQ(twoSpaces.X(0), 0) << "line 0 counts one of its two spaces: 30 wide";
  EXPECT_EQ(twoSpaces.X(4), 10);
  // A right edge left of the widest line is moved out to it.
  FakeText wide("abcdef");
  ASSERT_EQ(Lay(wide, 100, 100, {0, 0, 0, 90}, 1, 0), 1);
  EXPECT_EQ(wide.X(0), 0);
}

TEST(LayoutText, OnlyTheSpaceBreaksLines) {
  // Line feeds and tabs are ordinary characters with their widths.
  FakeText text("ab\ncd\tef");
  ASSERT_EQ(Lay(text, 200, 100, {}, 0, 0), 1);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(text.Y(i), 0);
    EXPECT_EQ(text.X(i), 10 * static_cast<int>(i));
  }
  // A text of spaces alone lays out; its trailing space counts in no width.
  FakeText spaces("   ");
  ASSERT_EQ(Lay(spaces, 100, 100, {0, 0, 0, 0}, 2, 2), 1);
  EXPECT_EQ(spaces.X(0), 40) << "two counted spaces centred in 100: (100 - 20) / 2";
}

TEST(LayoutText, LongTextsEndAndReportTheirFit) {
  // 10 000 characters of words on a wallpaper-sized bitmap: far too many
  // lines at this height, so the answer is 0, and it comes quickly.
  std::string words;
  while (words.size() < 10000) words += "word ";
  FakeText many(words);
  EXPECT_EQ(Lay(many, 1920, 1080, {10, 10, 10, 10}, 2, 2), 0);
  // The same with small characters fits.
  FakeText small(words, 1, 2);
  EXPECT_EQ(Lay(small, 1920, 1080, {10, 10, 10, 10}, 2, 2), 1);
  // One character on a 1 x 1 bitmap cannot leave a line free.
  FakeText one("a", 1, 1);
  EXPECT_EQ(Lay(one, 1, 1, {}, 0, 0), 0);
  // Zero-width characters on a zero-wide column cannot spin.
  FakeText zero("abc", 0, 1);
  EXPECT_EQ(Lay(zero, 10, 10, {0, 0, 60, 60}, 0, 0), 1);
}

TEST(LayoutText, RightToLeftLinesArePlacedInVisualOrder) {
  // A right-to-left word inside left-to-right text: "ab DC ef" on screen.
  FakeText mixed("ab CD ef");
  mixed.levels_ = {0, 0, 0, 1, 1, 0, 0, 0};
  ASSERT_EQ(Lay(mixed, 100, 100, {}, 0, 0), 1);
  const std::vector<int> mixedX = {0, 10, 20, 40, 30, 50, 60, 70};
  for (size_t i = 0; i < mixedX.size(); ++i) EXPECT_EQ(mixed.X(i), mixedX[i]) << i;

  // A right-to-left paragraph broken in reading order: every line reads
  // from the right, and the space a line ends with stays after it.
  FakeText rtl("ab cd ef");
  rtl.levels_.assign(8, 1);
  ASSERT_EQ(Lay(rtl, 100, 100, {0, 0, 0, 45}, 0, 0), 1);
  const std::vector<int> rtlX = {40, 30, 20, 10, 0, 50, 10, 0};
  const std::vector<int> rtlY = {0, 0, 0, 0, 0, 0, 20, 20};
  for (size_t i = 0; i < rtlX.size(); ++i) {
    EXPECT_EQ(rtl.X(i), rtlX[i]) << i;
    EXPECT_EQ(rtl.Y(i), rtlY[i]) << i;
  }
  // Right alignment measures the line as before; only the order changes.
  FakeText right("ab cd ef");
  right.levels_.assign(8, 1);
  ASSERT_EQ(Lay(right, 100, 100, {0, 0, 0, 45}, 1, 0), 1);
  EXPECT_EQ(right.X(4), 5) << "line 0 (50 wide) ends at the right edge, 55";
  EXPECT_EQ(right.X(7), 35) << "line 1 (20 wide): f, then e";

  // Digits (level 2) inside right-to-left text keep their own order.
  FakeText digits("ab 12");
  digits.levels_ = {1, 1, 1, 2, 2};
  ASSERT_EQ(Lay(digits, 100, 100, {}, 0, 0), 1);
  const std::vector<int> digitsX = {40, 30, 20, 0, 10};
  for (size_t i = 0; i < digitsX.size(); ++i) EXPECT_EQ(digits.X(i), digitsX[i]) << i;
}

TEST(LayoutText, AFailingModelIsAnError) {
  class Broken final : public kv::render::LayoutModel {
   public:
    kv::Result<std::int32_t> GetNumberOfCharacters() const override { return 0; }
    kv::Result<std::int32_t> GetCharacterWidth(std::int32_t) const override { return kv::Fail("width failed"); }
    kv::Result<std::int32_t> GetCharacterValue(std::int32_t) const override { return 65; }
    kv::Result<std::int32_t> GetCharacterHeight() const override { return 20; }
    kv::Status SetCharacterX(std::int32_t, std::int32_t) override { return kv::Ok(); }
    kv::Status SetCharacterY(std::int32_t, std::int32_t) override { return kv::Ok(); }
  } broken;
  auto result = LayoutText(broken, 100, 100, 0, 0, 0, 0, 0, 0, true);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message, "width failed");
}

}  // namespace
