// The font and the text model with real fonts through fontconfig and
// FreeType: sizes, widths, substitutes, drawing, and the model's indexes.

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "CWPFont.h"
#include "CWPText.h"
#include "kvplatform/image/Bitmap.h"

namespace {

using kv::platform::Bitmap;
using kv::render::CWPFont;
using kv::render::CWPText;

constexpr std::int32_t kWhite = 0xFFFFFF;
constexpr std::int32_t kRed = 0x0000FF;  // 0x00BBGGRR

Bitmap MakeBitmap(int w, int h) {
  auto bitmap = Bitmap::Create(w, h);
  EXPECT_TRUE(bitmap) << (bitmap ? "" : bitmap.error().message);
  return std::move(*bitmap);
}

std::shared_ptr<CWPFont> MakeFont(Bitmap& bitmap, const std::string& face, std::int32_t size,
                                  std::int32_t colour = kWhite) {
  auto font = std::make_shared<CWPFont>();
  auto status = font->Init(&bitmap, face, size, colour);
  EXPECT_TRUE(status) << (status ? "" : status.error().message);
  return font;
}

// Pixels that are not black, and the bounding box of them.
struct Ink {
  int count = 0, left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  std::set<std::int32_t> colours;
};
Ink InkOf(const Bitmap& bitmap) {
  Ink ink;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      std::int32_t pixel = bitmap.PixelAt(x, y);
      if (pixel == 0) continue;
      ++ink.count;
      ink.colours.insert(pixel);
      ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

TEST(Font, PositiveSizesAreCellHeightsInPixels) {
  Bitmap bitmap = MakeBitmap(200, 100);
  for (const char* face : {"Arial", "DejaVu Sans", "Liberation Serif"}) {
    auto font = MakeFont(bitmap, face, 40);
    EXPECT_EQ(font->GetFontHeight(), 40) << face << ": a scalable face reports the cell height asked for";
    EXPECT_GT(font->GetCharacterWidth('A'), font->GetCharacterWidth('i')) << face;
    EXPECT_GT(font->GetCharacterWidth(' '), 0) << face;
    EXPECT_LT(font->GetCharacterWidth(' '), 40) << face;
    EXPECT_GE(font->GetCharacterWidest(), font->GetCharacterWidth('W')) << face;
  }
  EXPECT_EQ(MakeFont(bitmap, "Arial", 40)->FamilyUsed(), "Liberation Sans") << "Arial finds its metric-compatible face";
  // Widths scale with the size.
  auto small = MakeFont(bitmap, "DejaVu Sans", 20), large = MakeFont(bitmap, "DejaVu Sans", 80);
  EXPECT_NEAR(large->GetCharacterWidth('M'), 4 * small->GetCharacterWidth('M'), 2);
}

TEST(Font, ZeroNegativeAndExtremeSizesStillMeasure) {
  Bitmap bitmap = MakeBitmap(64, 64);
  auto defaultSize = MakeFont(bitmap, "DejaVu Sans", 0);
  EXPECT_EQ(defaultSize->GetFontHeight(), kv::platform::Font::kDefaultCellHeight);
  // A negative size is the em height: the cell is taller than the em.
  auto em = MakeFont(bitmap, "DejaVu Sans", -40);
  EXPECT_GT(em->GetFontHeight(), 40);
  EXPECT_LT(em->GetFontHeight(), 50);
  EXPECT_EQ(MakeFont(bitmap, "DejaVu Sans", 1)->GetFontHeight(), 1);
  auto huge = MakeFont(bitmap, "DejaVu Sans", 5000);
  EXPECT_EQ(huge->GetFontHeight(), 5000);
  EXPECT_GT(huge->GetCharacterWidth('A'), 1000);
  // No magnitude overflows, not even the most negative size.
  auto extreme = MakeFont(bitmap, "DejaVu Sans", INT32_MIN);
  EXPECT_GT(extreme->GetFontHeight(), 1'000'000'000);
  auto drawn = extreme->PaintCharacter('A', &bitmap, 0, 0);
  ASSERT_FALSE(drawn) << "a size no renderer can make fails when drawn, it does not crash";
  EXPECT_EQ(drawn.error().code, kv::ErrorCode::InvalidArgument);
  EXPECT_TRUE(MakeFont(bitmap, "DejaVu Sans", 1)->PaintCharacter('A', &bitmap, 0, 0));
}

TEST(Font, AnUnknownFaceGetsTheSubstitute) {
  Bitmap bitmap = MakeBitmap(64, 64);
  for (const std::string& face : {std::string("No Such Font Anywhere"), std::string(), std::string("a\0b", 3)}) {
    auto font = MakeFont(bitmap, face, 30);
    EXPECT_FALSE(font->FamilyUsed().empty());
    EXPECT_EQ(font->GetFontHeight(), 30);
    EXPECT_GT(font->GetCharacterWidth('x'), 0);
  }
}

TEST(Font, CodesBeyondTheTableAreMeasuredOnDemand) {
  Bitmap bitmap = MakeBitmap(64, 64);
  auto font = MakeFont(bitmap, "DejaVu Sans", 40);
  std::int32_t euro = font->GetCharacterWidth(0x20AC);
  EXPECT_GT(euro, 0);
  EXPECT_EQ(font->GetCharacterWidth(0x20AC), euro) << "measured once, then the same";
  EXPECT_GT(font->GetCharacterWidth(0x4E2D), 0) << "a character the face lacks measures as its box";
  EXPECT_GE(font->GetCharacterWidth(-5), 0);
  EXPECT_GE(font->GetCharacterWidth(0x7FFFFFFF), 0);
  EXPECT_TRUE(font->PaintCharacter(0x7FFFFFFF, &bitmap, 0, 0));
}

TEST(Font, DrawsOnlyTheGlyphInTheColourAndClipsAtTheEdges) {
  Bitmap bitmap = MakeBitmap(120, 60);
  auto font = MakeFont(bitmap, "DejaVu Sans", 40, kRed);
  ASSERT_TRUE(font->PaintCharacter('H', &bitmap, 10, 5));
  Ink first = InkOf(bitmap);
  ASSERT_GT(first.count, 100);
  EXPECT_GE(first.left, 10);
  EXPECT_GE(first.top, 5);
  EXPECT_LT(first.bottom, 5 + 40) << "the glyph stays inside its cell";
  EXPECT_TRUE(first.colours.contains(kRed)) << "the glyph's inside is the text colour";
  for (std::int32_t colour : first.colours) {
    EXPECT_EQ(colour & 0xFFFF00, 0) << "antialiased edges are shades of the colour over black, nothing else";
  }
  // The same code at another place draws the same glyph.
  Bitmap other = MakeBitmap(120, 60);
  auto again = MakeFont(other, "DejaVu Sans", 40, kRed);
  ASSERT_TRUE(again->PaintCharacter('H', &other, 60, 5));
  Ink second = InkOf(other);
  EXPECT_EQ(second.count, first.count);
  EXPECT_EQ(second.left - first.left, 50);
  // Over a light background only the glyph's pixels change.
  Bitmap grey = MakeBitmap(60, 60);
  grey.Fill(0x808080);
  auto onGrey = MakeFont(grey, "DejaVu Sans", 40, kWhite);
  ASSERT_TRUE(onGrey->PaintCharacter('.', &grey, 0, 0));
  int changed = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 60; ++x) changed += grey.PixelAt(x, y) != 0x808080;
  }
  EXPECT_GT(changed, 0);
  EXPECT_LT(changed, 100) << "a full stop changes a few pixels, not its cell";
  // Characters half or wholly outside the bitmap are cut off, never a crash.
  for (auto [x, y] : std::vector<std::pair<int, int>>{{-20, -20}, {100, 40}, {-1000000, 5}, {INT32_MAX, INT32_MAX},
                                                      {INT32_MIN, INT32_MIN}}) {
    EXPECT_TRUE(font->PaintCharacter('W', &bitmap, x, y));
  }
}

TEST(Text, ModelsEveryCharacterWithItsWidthAndPosition) {
  Bitmap bitmap = MakeBitmap(100, 100);
  auto font = MakeFont(bitmap, "DejaVu Sans", 20);
  CWPText text;
  ASSERT_TRUE(text.Init(&bitmap, font, "Hi"));
  EXPECT_EQ(*text.GetNumberOfCharacters(), 1) << "the last index, not the count";
  EXPECT_EQ(*text.GetCharacterValue(0), 72);
  EXPECT_EQ(*text.GetCharacterValue(1), 105);
  EXPECT_EQ(*text.GetCharacterWidth(1), font->GetCharacterWidth('i'));
  EXPECT_EQ(*text.GetCharacterX(1), 0);
  EXPECT_EQ(*text.GetCharacterY(1), 0);
  EXPECT_EQ(*text.GetCharacterHeight(), *text.GetFontHeight());
  EXPECT_EQ(*text.GetCharacterWidest(), font->GetCharacterWidest());

  CWPText one;
  ASSERT_TRUE(one.Init(&bitmap, font, "x"));
  EXPECT_EQ(*one.GetNumberOfCharacters(), 0);

  CWPText longer;
  ASSERT_TRUE(longer.Init(&bitmap, font, "quote"));
  ASSERT_TRUE(longer.SetCharacterY(3, 7));
  ASSERT_TRUE(longer.SetCharacterX(3, 120));
  EXPECT_EQ(*longer.GetCharacterX(3), 120);
  EXPECT_EQ(*longer.GetCharacterY(3), 7) << "setting X leaves Y alone";
  for (std::int32_t bad : {-1, 5, INT32_MAX, INT32_MIN}) {
    EXPECT_FALSE(longer.GetCharacterX(bad)) << bad;
    EXPECT_FALSE(longer.SetCharacterX(bad, 1)) << bad;
    EXPECT_FALSE(longer.GetCharacterWidth(bad)) << bad;
    EXPECT_FALSE(longer.GetCharacterValue(bad)) << bad;
  }
}

TEST(Text, CodesAreCodePointsAndBadTextIsHandled) {
  Bitmap bitmap = MakeBitmap(100, 100);
  auto font = MakeFont(bitmap, "DejaVu Sans", 20);
  CWPText text;
  ASSERT_TRUE(text.Init(&bitmap, font, "\xE2\x82\xAC\xC3\xA9\xF0\x9F\x98\x80"));  // euro, e-acute, an emoji
  EXPECT_EQ(*text.GetNumberOfCharacters(), 2);
  EXPECT_EQ(*text.GetCharacterValue(0), 0x20AC);
  EXPECT_EQ(*text.GetCharacterValue(1), 0xE9);
  EXPECT_EQ(*text.GetCharacterValue(2), 0x1F600);

  CWPText broken;
  ASSERT_TRUE(broken.Init(&bitmap, font, "a\xFF" "b"));
  EXPECT_EQ(*broken.GetCharacterValue(1), 0xFFFD) << "a byte that is not UTF-8 becomes the replacement character";

  CWPText control;
  ASSERT_TRUE(control.Init(&bitmap, font, std::string("\t\r\n\x01", 4) + std::string(1, '\0')));
  EXPECT_EQ(*control.GetNumberOfCharacters(), 4);
  EXPECT_TRUE(control.PaintText());

  CWPText empty;
  auto failed = empty.Init(&bitmap, font, "");
  ASSERT_FALSE(failed);
  EXPECT_NE(failed.error().message.find("empty"), std::string::npos);
  EXPECT_FALSE(empty.PaintText()) << "an uninitialised model draws nothing and says so";
  EXPECT_FALSE(empty.GetNumberOfCharacters());
}

TEST(Text, PaintsEveryCharacterAtItsPosition) {
  Bitmap bitmap = MakeBitmap(200, 50);
  auto font = MakeFont(bitmap, "DejaVu Sans", 30, kWhite);
  CWPText text;
  ASSERT_TRUE(text.Init(&bitmap, font, "II"));
  // Right after Init both characters are at (0, 0): one glyph over the other.
  ASSERT_TRUE(text.PaintText());
  Ink stacked = InkOf(bitmap);
  bitmap.Fill(0);
  ASSERT_TRUE(text.SetCharacterPosition(1, 100, 10));
  ASSERT_TRUE(text.PaintText());
  Ink apart = InkOf(bitmap);
  EXPECT_EQ(apart.count, 2 * stacked.count) << "two separate copies of the same glyph";
  EXPECT_EQ(apart.right - stacked.right, 100);
  EXPECT_EQ(apart.bottom - stacked.bottom, 10);
}

}  // namespace
