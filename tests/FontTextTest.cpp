// The font and the text model with real fonts: sizes, widths, substitutes, drawing and the model's indexes; and quotes
// in scripts that join, reorder and combine, drawn through shaping, bidi and fallback, checked by their pixels.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "CWPFont.h"
#include "CWPText.h"
#include "LayoutText.h"
#include "kvplatform/base/Text.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/text/Font.h"

namespace {

using kv::platform::Bitmap;
using kv::render::CWPFont;
using kv::render::CWPText;

constexpr std::int32_t kWhite = 0xFFFFFF, kRed = 0x0000FF;  // 0x00BBGGRR

Bitmap MakeBitmap(int w, int h) { return std::move(*Bitmap::Create(w, h)); }

std::shared_ptr<CWPFont> MakeFont(Bitmap& bitmap, const std::string& face, std::int32_t size, std::int32_t colour = kWhite) {
  auto font = std::make_shared<CWPFont>();
  auto status = font->Init(&bitmap, face, size, colour);
  EXPECT_TRUE(status) << (status ? "" : status.error().message);
  return font;
}

struct Ink {  // the pixels that differ from black, or from `base` when one is given
  int count = 0, left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  std::map<std::int32_t, int> colours;  // how many pixels of each
  double CentreX() const { return (left + right) / 2.0; }
};
Ink InkOf(const Bitmap& bitmap, const Bitmap* base = nullptr) {
  Ink ink;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      const std::int32_t pixel = bitmap.PixelAt(x, y);
      if (pixel == (base ? base->PixelAt(x, y) : 0)) continue;
      ++ink.count;
      ++ink.colours[pixel];
      ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

struct Drawn {  // a quote laid out left-aligned at the top of a black bitmap and drawn in white
  explicit Drawn(Bitmap b) : bitmap(std::move(b)) {}
  Bitmap bitmap;
  std::shared_ptr<CWPFont> font;
  CWPText text;
  std::int32_t last = -1;
};

std::unique_ptr<Drawn> Draw(const std::string& quote, const std::string& face = "Arial", std::int32_t size = 48,
                            int width = 900, int height = 200) {
  auto drawn = std::make_unique<Drawn>(MakeBitmap(width, height));
  drawn->font = MakeFont(drawn->bitmap, face, size);
  auto modelled = drawn->text.Init(&drawn->bitmap, drawn->font, quote);
  EXPECT_TRUE(modelled) << (modelled ? "" : modelled.error().message);
  auto fits = kv::render::LayoutText(drawn->text, width, height, 0, 0, 2, 2, 0, 0, true);
  EXPECT_TRUE(fits && *fits == 1) << quote << " does not fit";
  EXPECT_TRUE(drawn->text.PaintText());
  drawn->last = drawn->text.GetNumberOfCharacters().value_or(-1);
  return drawn;
}

// The ink of cluster `index` alone in its shaped form and place: every other cluster is moved off the bitmap.
Ink InkOfCluster(Drawn& drawn, std::int32_t index) {
  std::vector<std::int32_t> xs;
  for (std::int32_t i = 0; i <= drawn.last; ++i) xs.push_back(*drawn.text.GetCharacterX(i));
  for (std::int32_t i = 0; i <= drawn.last; ++i) EXPECT_TRUE(i == index || drawn.text.SetCharacterX(i, -100000));
  drawn.bitmap.Fill(0);
  EXPECT_TRUE(drawn.text.PaintText());
  Ink ink = InkOf(drawn.bitmap);
  for (std::int32_t i = 0; i <= drawn.last; ++i) EXPECT_TRUE(drawn.text.SetCharacterX(i, xs[static_cast<size_t>(i)]));
  drawn.bitmap.Fill(0);
  EXPECT_TRUE(drawn.text.PaintText());
  return ink;
}

int InkGaps(const Bitmap& bitmap) {  // runs of blank columns between the first and the last inked column
  std::vector<bool> inked(static_cast<size_t>(bitmap.Width()), false);
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) if (bitmap.PixelAt(x, y) != 0) inked[static_cast<size_t>(x)] = true;
  }
  auto first = std::find(inked.begin(), inked.end(), true);
  auto last = std::find(inked.rbegin(), inked.rend(), true).base();
  int gaps = 0;
  for (auto at = first; at != last; ++at) gaps += *at && at + 1 != last && !*(at + 1);
  return gaps;
}

TEST(Font, SizesAreCellHeightsAndEveryFaceSizeAndCodeMeasures) {
  Bitmap bitmap = MakeBitmap(200, 100);
  for (const char* face : {"Arial", "DejaVu Sans", "Liberation Serif"}) {
    auto font = MakeFont(bitmap, face, 40);
    EXPECT_EQ(font->GetFontHeight(), 40) << face << ": a scalable face reports the cell height asked for";
    EXPECT_GT(font->GetCharacterWidth('A'), font->GetCharacterWidth('i')) << face;
    EXPECT_GT(font->GetCharacterWidth(' '), 0) << face;
    EXPECT_GE(font->GetCharacterWidest(), font->GetCharacterWidth('W')) << face;
  }
  EXPECT_EQ(MakeFont(bitmap, "Arial", 40)->FamilyUsed(), "Liberation Sans") << "Arial finds its metric-compatible face";
  auto small = MakeFont(bitmap, "DejaVu Sans", 20), large = MakeFont(bitmap, "DejaVu Sans", 80);
  EXPECT_NEAR(large->GetCharacterWidth('M'), 4 * small->GetCharacterWidth('M'), 2) << "widths scale with the size";
  for (const std::string& face : {std::string("No Such Font Anywhere"), std::string(), std::string("a\0b", 3)}) {
    auto font = MakeFont(bitmap, face, 30);
    EXPECT_FALSE(font->FamilyUsed().empty()) << "the substitute";
    EXPECT_EQ(font->GetFontHeight(), 30);
    EXPECT_GT(font->GetCharacterWidth('x'), 0);
  }
  EXPECT_EQ(MakeFont(bitmap, "DejaVu Sans", 0)->GetFontHeight(), kv::platform::Font::kDefaultCellHeight);
  const std::int32_t em = MakeFont(bitmap, "DejaVu Sans", -40)->GetFontHeight();
  EXPECT_TRUE(em > 40 && em < 50) << em << ": a negative size is the em height, the cell taller";
  EXPECT_EQ(MakeFont(bitmap, "DejaVu Sans", 1)->GetFontHeight(), 1);
  auto huge = MakeFont(bitmap, "DejaVu Sans", 5000);
  EXPECT_EQ(huge->GetFontHeight(), 5000);
  EXPECT_GT(huge->GetCharacterWidth('A'), 1000);
  auto extreme = MakeFont(bitmap, "DejaVu Sans", INT32_MIN);
  EXPECT_GT(extreme->GetFontHeight(), 1'000'000'000) << "no magnitude overflows";
  auto drawn = extreme->PaintCharacter('A', &bitmap, 0, 0);
  EXPECT_TRUE(!drawn && drawn.error().code == kv::ErrorCode::InvalidArgument) << "too large to draw fails, no crash";
  for (double emPixels : {65535.0, 65535.5}) {  // the largest em the renderer can size, and past it
    auto face = kv::platform::Font::OpenFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0, emPixels);
    EXPECT_EQ(face && face->Draw(bitmap, ' ', 0, 0, 0), emPixels == 65535.0) << emPixels;
  }
  // Codes beyond the table are measured on demand, once.
  auto font = MakeFont(bitmap, "DejaVu Sans", 40);
  const std::int32_t euro = font->GetCharacterWidth(0x20AC);
  EXPECT_TRUE(euro > 0 && font->GetCharacterWidth(0x20AC) == euro) << euro;
  EXPECT_GT(font->GetCharacterWidth(0x4E2D), 0) << "a character the face lacks measures as its box";
  EXPECT_TRUE(font->GetCharacterWidth(-5) >= 0 && font->GetCharacterWidth(0x7FFFFFFF) >= 0);
  EXPECT_TRUE(font->PaintCharacter(0x7FFFFFFF, &bitmap, 0, 0));
}

TEST(Font, DrawsOnlyTheGlyphInTheColourAndClipsAtTheEdges) {
  Bitmap bitmap = MakeBitmap(120, 60);
  auto font = MakeFont(bitmap, "DejaVu Sans", 40, kRed);
  ASSERT_TRUE(font->PaintCharacter('H', &bitmap, 10, 5));
  const Ink first = InkOf(bitmap);
  ASSERT_GT(first.count, 100);
  EXPECT_TRUE(first.left >= 10 && first.top >= 5 && first.bottom < 5 + 40) << "the glyph stays inside its cell";
  EXPECT_TRUE(first.colours.contains(kRed)) << "the glyph's inside is the text colour";
  for (auto [colour, pixels] : first.colours) {
    EXPECT_EQ(colour & 0xFFFF00, 0) << "antialiased edges are shades of the colour over black, nothing else";
  }
  // Over a light background only the glyph's pixels change.
  Bitmap grey = MakeBitmap(60, 60), before = MakeBitmap(60, 60);
  grey.Fill(0x808080), before.Fill(0x808080);
  ASSERT_TRUE(MakeFont(grey, "DejaVu Sans", 40, kWhite)->PaintCharacter('.', &grey, 0, 0));
  const int changed = InkOf(grey, &before).count;
  EXPECT_TRUE(changed > 0 && changed < 100) << changed << ": a full stop changes a few pixels, not its cell";
  // Characters half or wholly outside the bitmap are cut off, never a crash.
  for (auto [x, y] : std::vector<std::pair<int, int>>{{-20, -20}, {100, 40}, {-1000000, 5}, {INT32_MAX, INT32_MAX},
                                                      {INT32_MIN, INT32_MIN}}) {
    EXPECT_TRUE(font->PaintCharacter('W', &bitmap, x, y));
  }
}

TEST(Text, ModelsEveryCodePointWithItsWidthAndPosition) {
  Bitmap bitmap = MakeBitmap(100, 100);
  auto font = MakeFont(bitmap, "DejaVu Sans", 20);
  CWPText text;
  ASSERT_TRUE(text.Init(&bitmap, font, "Hi\xE2\x82\xAC\xC3\xA9\xF0\x9F\x98\x80" "a\xFF"));  // euro, e-acute, an emoji
  EXPECT_EQ(*text.GetNumberOfCharacters(), 6) << "the last index, not the count";
  const std::int32_t codes[] = {'H', 'i', 0x20AC, 0xE9, 0x1F600, 'a', 0xFFFD};  // a stray byte is U+FFFD
  for (std::int32_t i = 0; i < 7; ++i) EXPECT_EQ(*text.GetCharacterValue(i), codes[i]) << i;
  EXPECT_EQ(*text.GetCharacterWidth(1), font->GetCharacterWidth('i'));
  EXPECT_EQ(*text.GetCharacterHeight(), *text.GetFontHeight());
  EXPECT_EQ(*text.GetCharacterWidest(), font->GetCharacterWidest());
  EXPECT_EQ(*text.GetCharacterX(2), 0) << "every character starts at the origin";
  ASSERT_TRUE(text.SetCharacterY(3, 7) && text.SetCharacterX(3, 120) && text.SetCharacterPosition(4, 30, 9));
  EXPECT_EQ(std::pair(*text.GetCharacterX(3), *text.GetCharacterY(3)), std::pair(120, 7)) << "setting X leaves Y alone";
  EXPECT_EQ(std::pair(*text.GetCharacterX(4), *text.GetCharacterY(4)), std::pair(30, 9));
  for (std::int32_t bad : {-1, 7, INT32_MAX, INT32_MIN}) {
    EXPECT_FALSE(text.GetCharacterX(bad) || text.SetCharacterX(bad, 1) || text.GetCharacterWidth(bad) ||
                 text.GetCharacterValue(bad)) << bad;
  }
  CWPText control;
  ASSERT_TRUE(control.Init(&bitmap, font, std::string("\t\r\n\x01\0", 5)));
  EXPECT_EQ(*control.GetNumberOfCharacters(), 4);
  EXPECT_TRUE(control.PaintText());
  CWPText empty;
  auto failed = empty.Init(&bitmap, font, "");
  ASSERT_FALSE(failed);
  EXPECT_NE(failed.error().message.find("empty"), std::string::npos);
  EXPECT_FALSE(empty.PaintText()) << "an uninitialised model draws nothing and says so";
  EXPECT_FALSE(empty.GetNumberOfCharacters());
}

TEST(Scripts, PlainLatinMeasuresAndDrawsCharacterByCharacter) {
  // Pairs that kern or form ligatures in these faces keep each character's own advance and glyph.
  std::string quote = "AVATAR office To WAVE fi fl ffl Yo, LT ";
  for (char32_t code = 0x21; code <= 0xFF; ++code) {
    if (code >= 0x7F && (code < 0xA1 || code == 0xAD)) continue;  // the soft hyphen is invisible in shaped text
    kv::platform::AppendUtf8(quote, code);
    if (code % 16 == 0) quote += ' ';
  }
  const std::u32string codes = kv::platform::DecodeUtf8(quote);
  for (const char* face : {"Arial", "DejaVu Sans", "Liberation Serif"}) {
    auto drawn = Draw(quote, face, 40, 1900, 700);
    ASSERT_EQ(drawn->last + 1, static_cast<std::int32_t>(codes.size())) << face << ": one character per code point";
    for (std::int32_t i = 0; i <= drawn->last; ++i) {
      const auto code = static_cast<std::int32_t>(codes[static_cast<size_t>(i)]);
      ASSERT_EQ(*drawn->text.GetCharacterValue(i), code) << face;
      ASSERT_EQ(*drawn->text.GetCharacterWidth(i), drawn->font->GetCharacterWidth(code)) << face << " U+" << std::hex << code;
      ASSERT_EQ(*drawn->text.GetCharacterLevel(i), 0) << face;
    }
    // The same pixels as drawing every character on its own at its place.
    Bitmap plain = MakeBitmap(1900, 700);
    for (std::int32_t i = 0; i <= drawn->last; ++i) {
      ASSERT_TRUE(drawn->font->PaintCharacter(static_cast<std::int32_t>(codes[static_cast<size_t>(i)]), &plain,
                                              *drawn->text.GetCharacterX(i), *drawn->text.GetCharacterY(i)));
    }
    ASSERT_EQ(InkOf(drawn->bitmap, &plain).count, 0) << face;
  }
}

TEST(Scripts, RightToLeftTextReadsFromTheRight) {
  // Hebrew alone: the first letter's ink lies right of the second's.
  auto hebrew = Draw("\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD");  // two words
  const Ink first = InkOfCluster(*hebrew, 0), second = InkOfCluster(*hebrew, 1), lastLetter = InkOfCluster(*hebrew, 8);
  ASSERT_GT(first.count, 0);
  EXPECT_TRUE(lastLetter.CentreX() < second.CentreX() && second.CentreX() < first.CentreX()) << "read from the right";
  EXPECT_GE(lastLetter.left, 2 * 900 / 100 - 2) << "the left-aligned line starts at its margin";
  // Latin around Hebrew: the Latin words keep their order, the Hebrew word between them reads right to left.
  auto mixed = Draw("abc \u05E9\u05DC\u05D5\u05DD def");
  const double c = InkOfCluster(*mixed, 2).CentreX(), shin = InkOfCluster(*mixed, 4).CentreX(),
               lamed = InkOfCluster(*mixed, 5).CentreX(), d = InkOfCluster(*mixed, 9).CentreX();
  EXPECT_TRUE(c < lamed && lamed < shin && shin < d) << c << " " << lamed << " " << shin << " " << d;
  // A Hebrew paragraph with a Latin word: the line reads from the right, the Latin word inside it from the left.
  auto rtl = Draw("\u05E9\u05DC\u05D5\u05DD hello \u05E2\u05D5\u05DC\u05DD");
  const double firstShin = InkOfCluster(*rtl, 0).CentreX(), h = InkOfCluster(*rtl, 5).CentreX(),
               o = InkOfCluster(*rtl, 9).CentreX(), ayin = InkOfCluster(*rtl, 11).CentreX();
  EXPECT_TRUE(ayin < h && h < o && o < firstShin) << "hello reads left to right, the last word is leftmost";
  // The coverage mask of the laid-out text inks exactly the drawn pixels.
  std::vector<std::uint8_t> mask(900 * 200, 0);
  ASSERT_TRUE(rtl->text.PaintTextCoverage(mask.data(), 900, 200));
  int differing = 0;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 900; ++x) differing += (mask[static_cast<size_t>(y * 900 + x)] != 0) != (rtl->bitmap.PixelAt(x, y) != 0);
  }
  EXPECT_EQ(differing, 0);
}

TEST(Scripts, ArabicLettersJoinDevanagariFormsConjunctsAndMarksSitOnTheirBase) {
  // The same letters kept apart by zero-width non-joiners show their isolated forms, with blank columns between.
  auto word = Draw("\u062A\u0633\u062A\u0645\u062A\u0639");
  auto letters = Draw("\u062A\u200C\u0633\u200C\u062A\u200C\u0645\u200C\u062A\u200C\u0639");
  ASSERT_GT(InkOf(word->bitmap).count, 100);
  EXPECT_LT(InkGaps(word->bitmap), InkGaps(letters->bitmap)) << "joined letters leave fewer gaps";
  EXPECT_LE(InkGaps(word->bitmap), 1);
  EXPECT_GT(InkOfCluster(*word, 0).CentreX(), InkOfCluster(*word, 5).CentreX()) << "Arabic reads from the right";
  // KA + VIRAMA + SSA is one conjunct, narrower than the letters forced apart by a zero-width non-joiner.
  auto conjunct = Draw("\u0915\u094D\u0937"), shown = Draw("\u0915\u094D\u200C\u0937");
  EXPECT_EQ(conjunct->last, 0) << "the conjunct is one character of the layout";
  const Ink conjunctInk = InkOf(conjunct->bitmap), shownInk = InkOf(shown->bitmap);
  EXPECT_LT(conjunctInk.right - conjunctInk.left, shownInk.right - shownInk.left);
  // e + COMBINING ACUTE: one character as wide as e, its accent above the e.
  auto plain = Draw("e", "DejaVu Sans"), accented = Draw("e\u0301", "DejaVu Sans");
  ASSERT_EQ(accented->last, 0);
  EXPECT_EQ(*accented->text.GetCharacterWidth(0), *plain->text.GetCharacterWidth(0));
  const Ink e = InkOf(plain->bitmap), accent = InkOf(accented->bitmap, &plain->bitmap);
  ASSERT_GT(accent.count, 5);
  EXPECT_LT(accent.bottom, e.top + 2) << "the accent sits above the letter";
  EXPECT_TRUE(accent.CentreX() >= e.left && accent.CentreX() <= e.right) << "over the letter, not beside it";
  // A quote that starts with a mark has no base for it: it is drawn all the same.
  EXPECT_GT(InkOf(Draw("\u0301abc", "DejaVu Sans")->bitmap).count, 50);
}

TEST(Scripts, MissingCharactersComeFromFallbackFontsWithoutBoxes) {
  // Two different Chinese characters: boxes would be the same shape twice.
  auto chinese = Draw("\u4E2D\u6587");
  EXPECT_NE(chinese->font->FamilyDrawing(0x4E2D).find("CJK"), std::string::npos) << chinese->font->FamilyDrawing(0x4E2D);
  const Ink zhong = InkOfCluster(*chinese, 0), wen = InkOfCluster(*chinese, 1);
  EXPECT_GT(zhong.count, 50);
  EXPECT_NE(zhong.count, wen.count) << "each character has its own glyph, not a box";
  // An emoji is drawn in its own colours although the text is white.
  auto emoji = Draw("ok \U0001F600");
  using kv::platform::RedOf, kv::platform::GreenOf, kv::platform::BlueOf;
  int yellow = 0;
  for (auto [p, pixels] : InkOf(emoji->bitmap).colours) {
    yellow += RedOf(p) > 180 && GreenOf(p) > 120 && BlueOf(p) < 90 ? pixels : 0;
  }
  EXPECT_GT(yellow, 100) << "the face is yellow";
  const Ink face = InkOfCluster(*emoji, 3);
  EXPECT_LT(face.bottom - face.top, 70) << "scaled to the text's size";
  // A skin tone after a letter takes the letter's font, as joiners and selectors do: no swatch in colour.
  for (auto [p, pixels] : InkOf(Draw("ok\U0001F3FF")->bitmap).colours) {
    EXPECT_TRUE(RedOf(p) == GreenOf(p) && GreenOf(p) == BlueOf(p)) << "the colour 0x" << std::hex << p;
  }
  // An emoji font chosen for a Latin quote measures like any font and draws its letters with another.
  auto chosen = Draw("Small steps \U0001F600", "Noto Color Emoji", 40);
  EXPECT_EQ(chosen->font->GetFontHeight(), 40);
  EXPECT_NE(chosen->font->FamilyDrawing('S'), "Noto Color Emoji");
  EXPECT_GT(InkOfCluster(*chosen, 0).count, 20) << "the S is drawn";
}

TEST(Scripts, AFaceThatIsOnlySubstitutedIsReportedOnce) {
  testing::internal::CaptureStderr();
  std::string used;
  for (const char* face : {"Qwertz Imaginary Sans", "Qwertz Imaginary Sans", "Arial", "DejaVu Sans", "sans-serif"}) {
    auto font = kv::platform::Font::Open(face, 30, 300);
    ASSERT_TRUE(font) << face;
    if (used.empty()) used = font->Family();
  }
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1) << written;
  EXPECT_NE(written.find("\"Qwertz Imaginary Sans\" is not installed; \"" + used + "\" is used instead"), std::string::npos);
}

}  // namespace
