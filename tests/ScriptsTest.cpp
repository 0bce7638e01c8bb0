// Quotes in scripts that join, reorder and combine, drawn with real fonts
// through shaping, bidirectional ordering and font fallback, and checked by
// their pixels. Every picture is also left under build/tests/screenshots.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "CWPFont.h"
#include "CWPText.h"
#include "LayoutText.h"
#include "Xvfb.h"
#include "kvplatform/image/Bitmap.h"
#include "kvplatform/text/Font.h"
#include "kvplatform/base/Text.h"

namespace {

using kv::platform::Bitmap;
using kv::render::CWPFont;
using kv::render::CWPText;

constexpr std::int32_t kWhite = 0xFFFFFF;

// A quote laid out left-aligned at the top of a black bitmap and drawn in white.
struct Drawn {
  explicit Drawn(Bitmap b) : bitmap(std::move(b)) {}
  Bitmap bitmap;
  std::shared_ptr<CWPFont> font = std::make_shared<CWPFont>();
  CWPText text;
  std::int32_t last = -1;
};

std::unique_ptr<Drawn> Draw(const std::string& quote, const std::string& face = "Arial", std::int32_t size = 48,
                            int width = 900, int height = 200) {
  auto bitmap = Bitmap::Create(width, height);
  if (!bitmap) ADD_FAILURE() << bitmap.error().message;
  auto drawn = std::make_unique<Drawn>(std::move(*bitmap));
  auto made = drawn->font->Init(&drawn->bitmap, face, size, kWhite);
  EXPECT_TRUE(made) << (made ? "" : made.error().message);
  auto modelled = drawn->text.Init(&drawn->bitmap, drawn->font, quote);
  EXPECT_TRUE(modelled) << (modelled ? "" : modelled.error().message);
  auto fits = kv::render::LayoutText(drawn->text, width, height, 0, 0, 2, 2, 0, 0, true);
  EXPECT_TRUE(fits && *fits == 1) << quote << " does not fit";
  EXPECT_TRUE(drawn->text.PaintText());
  drawn->last = drawn->text.GetNumberOfCharacters().value_or(-1);
  return drawn;
}

void SaveScreenshot(const Bitmap& bitmap, const std::string& name) {
  kvtest::Image image{bitmap.Width(), bitmap.Height(), {}};
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      const std::int32_t pixel = bitmap.PixelAt(x, y);  // 0x00BBGGRR
      image.rgb.insert(image.rgb.end(), {kv::platform::RedOf(pixel), kv::platform::GreenOf(pixel),
                                         kv::platform::BlueOf(pixel)});
    }
  }
  kvtest::SavePng(image, kvtest::ScreenshotDir() / ("scripts-" + name + ".png"));
}

struct Ink {
  int count = 0, left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  double CentreX() const { return (left + right) / 2.0; }
};
// The pixels that differ from black, or from `base` when one is given.
Ink InkOf(const Bitmap& bitmap, const Bitmap* base = nullptr) {
  Ink ink;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      if (bitmap.PixelAt(x, y) == (base ? base->PixelAt(x, y) : 0)) continue;
      ++ink.count;
      ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

// The ink of cluster `index` alone, in its shaped form and laid-out place:
// every other cluster is moved off the bitmap and the text drawn again.
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

// Runs of blank columns between the first and the last inked column.
int InkGaps(const Bitmap& bitmap) {
  std::vector<bool> inked(static_cast<size_t>(bitmap.Width()), false);
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) inked[static_cast<size_t>(x)] = inked[static_cast<size_t>(x)] || bitmap.PixelAt(x, y) != 0;
  }
  auto first = std::find(inked.begin(), inked.end(), true);
  auto last = std::find(inked.rbegin(), inked.rend(), true).base();
  int gaps = 0;
  for (auto at = first; at != last; ++at) gaps += *at && at + 1 != last && !*(at + 1);
  return gaps;
}

TEST(Scripts, PlainLatinMeasuresAndDrawsCharacterByCharacter) {
  // Pairs that kern or form ligatures in these faces must keep each
  // character's own advance and glyph.
  std::string quote = "AVATAR office To WAVE fi fl ffl Yo, LT ";
  for (char32_t code = 0x21; code <= 0xFF; ++code) {
    // The soft hyphen is invisible in shaped text.
    if (code >= 0x7F && (code < 0xA1 || code == 0xAD)) continue;
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
    // The same pixels as drawing every character on its own.
    auto plain = Bitmap::Create(1900, 700);
    for (std::int32_t i = 0; i <= drawn->last; ++i) {
      ASSERT_TRUE(drawn->font->PaintCharacter(static_cast<std::int32_t>(codes[static_cast<size_t>(i)]), &*plain,
                                              *drawn->text.GetCharacterX(i), *drawn->text.GetCharacterY(i)));
    }
    ASSERT_EQ(std::vector<std::uint8_t>(plain->Pixels(), plain->Pixels() + plain->PixelBytes()),
              std::vector<std::uint8_t>(drawn->bitmap.Pixels(), drawn->bitmap.Pixels() + drawn->bitmap.PixelBytes()))
        << face;
  }
}

TEST(Scripts, RightToLeftTextReadsFromTheRight) {
  // Hebrew alone: the first letter's ink lies right of the second's.
  auto hebrew = Draw("\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD");  // two words
  SaveScreenshot(hebrew->bitmap, "hebrew");
  Ink first = InkOfCluster(*hebrew, 0), second = InkOfCluster(*hebrew, 1), lastLetter = InkOfCluster(*hebrew, 8);
  ASSERT_GT(first.count, 0);
  EXPECT_GT(first.CentreX(), second.CentreX()) << "the first letter reads first, from the right";
  EXPECT_LT(lastLetter.CentreX(), second.CentreX()) << "the last letter is leftmost";
  EXPECT_GE(lastLetter.left, 2 * 900 / 100 - 2) << "the left-aligned line starts at its margin";

  // Latin around Hebrew: the Latin words keep their order, the Hebrew word
  // between them reads right to left.
  auto mixed = Draw("abc \u05E9\u05DC\u05D5\u05DD def");
  SaveScreenshot(mixed->bitmap, "mixed-ltr");
  const double c = InkOfCluster(*mixed, 2).CentreX(), shin = InkOfCluster(*mixed, 4).CentreX(),
               lamed = InkOfCluster(*mixed, 5).CentreX(), d = InkOfCluster(*mixed, 9).CentreX();
  EXPECT_LT(c, lamed);
  EXPECT_LT(lamed, shin);
  EXPECT_LT(shin, d);

  // A Hebrew paragraph with a Latin word: the whole line reads from the
  // right, the Latin word inside it from the left.
  auto rtl = Draw("\u05E9\u05DC\u05D5\u05DD hello \u05E2\u05D5\u05DC\u05DD");
  SaveScreenshot(rtl->bitmap, "mixed-rtl");
  const double firstShin = InkOfCluster(*rtl, 0).CentreX(), h = InkOfCluster(*rtl, 5).CentreX(),
               o = InkOfCluster(*rtl, 9).CentreX(), ayin = InkOfCluster(*rtl, 11).CentreX();
  EXPECT_GT(firstShin, o);
  EXPECT_LT(h, o) << "hello still reads left to right";
  EXPECT_LT(ayin, h) << "the last word is leftmost";

  // The coverage mask of the laid-out text inks exactly the drawn pixels.
  std::vector<std::uint8_t> mask(900 * 200, 0);
  ASSERT_TRUE(rtl->text.PaintTextCoverage(mask.data(), 900, 200));
  int differing = 0;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 900; ++x) differing += (mask[static_cast<size_t>(y * 900 + x)] != 0) != (rtl->bitmap.PixelAt(x, y) != 0);
  }
  EXPECT_EQ(differing, 0);
}

TEST(Scripts, ArabicLettersJoin) {
  // The same letters kept apart by zero-width non-joiners show their
  // isolated forms, with blank columns between them.
  const std::string joined = "\u062A\u0633\u062A\u0645\u062A\u0639";
  const std::string apart = "\u062A\u200C\u0633\u200C\u062A\u200C\u0645\u200C\u062A\u200C\u0639";
  auto word = Draw(joined), letters = Draw(apart);
  SaveScreenshot(word->bitmap, "arabic-joined");
  SaveScreenshot(letters->bitmap, "arabic-isolated");
  ASSERT_GT(InkOf(word->bitmap).count, 100);
  EXPECT_LT(InkGaps(word->bitmap), InkGaps(letters->bitmap)) << "joined letters leave fewer gaps";
  EXPECT_LE(InkGaps(word->bitmap), 1);
  EXPECT_GT(InkOfCluster(*word, 0).CentreX(), InkOfCluster(*word, 5).CentreX()) << "Arabic reads from the right";
}

TEST(Scripts, DevanagariFormsConjunctsAndMarksSitOnTheirBase) {
  // KA + VIRAMA + SSA is one conjunct, narrower than the two letters with
  // the virama shown (forced apart by a zero-width non-joiner).
  auto conjunct = Draw("\u0915\u094D\u0937");
  auto shown = Draw("\u0915\u094D\u200C\u0937");
  SaveScreenshot(conjunct->bitmap, "devanagari-conjunct");
  EXPECT_EQ(conjunct->last, 0) << "the conjunct is one character of the layout";
  const Ink conjunctInk = InkOf(conjunct->bitmap), shownInk = InkOf(shown->bitmap);
  EXPECT_LT(conjunctInk.right - conjunctInk.left, shownInk.right - shownInk.left);

  // e + COMBINING ACUTE: one character as wide as e, its accent above the e.
  auto plain = Draw("e", "DejaVu Sans"), accented = Draw("e\u0301", "DejaVu Sans");
  SaveScreenshot(accented->bitmap, "combining-accent");
  ASSERT_EQ(accented->last, 0);
  EXPECT_EQ(*accented->text.GetCharacterWidth(0), *plain->text.GetCharacterWidth(0));
  const Ink e = InkOf(plain->bitmap), accent = InkOf(accented->bitmap, &plain->bitmap);
  ASSERT_GT(accent.count, 5);
  EXPECT_LT(accent.bottom, e.top + 2) << "the accent sits above the letter";
  EXPECT_GE(accent.CentreX(), e.left) << "the accent is over the letter, not beside it";
  EXPECT_LE(accent.CentreX(), e.right);

  // A quote that starts with a mark has no base for it: it is drawn all the same.
  EXPECT_GT(InkOf(Draw("\u0301abc", "DejaVu Sans")->bitmap).count, 50);
}

TEST(Scripts, MissingCharactersComeFromFallbackFontsWithoutBoxes) {
  // Two different Chinese characters: boxes would be the same shape twice.
  auto chinese = Draw("\u4E2D\u6587");
  SaveScreenshot(chinese->bitmap, "chinese");
  EXPECT_NE(chinese->font->FamilyDrawing(0x4E2D).find("CJK"), std::string::npos) << chinese->font->FamilyDrawing(0x4E2D);
  const Ink zhong = InkOfCluster(*chinese, 0), wen = InkOfCluster(*chinese, 1);
  EXPECT_GT(zhong.count, 50);
  EXPECT_NE(zhong.count, wen.count) << "each character has its own glyph, not a box";

  // An emoji is drawn in its own colours although the text is white.
  auto emoji = Draw("ok \U0001F600");
  SaveScreenshot(emoji->bitmap, "emoji");
  int yellow = 0;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 900; ++x) {
      const std::int32_t pixel = emoji->bitmap.PixelAt(x, y);
      yellow += kv::platform::RedOf(pixel) > 180 && kv::platform::GreenOf(pixel) > 120 && kv::platform::BlueOf(pixel) < 90;
    }
  }
  EXPECT_GT(yellow, 100) << "the face is yellow";
  const Ink face = InkOfCluster(*emoji, 3);
  EXPECT_LT(face.bottom - face.top, 70) << "scaled to the text's size";

  // An emoji font chosen for a Latin quote measures like any font and
  // draws its letters with another.
  auto chosen = Draw("Small steps \U0001F600", "Noto Color Emoji", 40);
  SaveScreenshot(chosen->bitmap, "emoji-font");
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
  EXPECT_NE(written.find("\"Qwertz Imaginary Sans\" is not installed; \"" + used + "\" is used instead"),
            std::string::npos)
      << written;
}

}  // namespace
