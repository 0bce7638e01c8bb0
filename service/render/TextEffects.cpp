#include "TextEffects.h"

#include "EffectMasks.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kv::render {
namespace {

using platform::Bitmap;
using platform::ColorRef;

const std::array<float, 256>& LinearTable() {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> t{};
    for (int i = 0; i < 256; ++i) {
      double c = i / 255.0;
      t[static_cast<std::size_t>(i)] =
          static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    return t;
  }();
  return table;
}

// Linear light back to 8-bit sRGB, in 4096 steps.
constexpr int kLinearSteps = 4096;
const std::array<std::uint8_t, kLinearSteps + 1>& SrgbTable() {
  static const std::array<std::uint8_t, kLinearSteps + 1> table = [] {
    std::array<std::uint8_t, kLinearSteps + 1> t{};
    for (int i = 0; i <= kLinearSteps; ++i) {
      double v = static_cast<double>(i) / kLinearSteps;
      double c = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
      t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::clamp(std::lround(c * 255.0), 0L, 255L));
    }
    return t;
  }();
  return table;
}

// Bitmap pixels are blue, green, red.
double LuminanceOfPixel(const std::uint8_t* p) {
  const auto& t = LinearTable();
  return 0.2126 * t[p[2]] + 0.7152 * t[p[1]] + 0.0722 * t[p[0]];
}

// The mask's row of bitmap row `y`, which must lie in Top..Top+Height-1.
const std::uint8_t* CoverageRow(const TextCoverage& text, std::int32_t y) {
  return text.Pixels.data() + static_cast<std::size_t>(y - text.Top) * static_cast<std::size_t>(text.Width);
}

// The horizontal extent of each line's ink, one cell high.
std::vector<Rect> LineBoxes(const TextCoverage& text) {
  std::vector<std::int32_t> tops = text.LineTops;
  std::sort(tops.begin(), tops.end());
  tops.erase(std::unique(tops.begin(), tops.end()), tops.end());
  std::vector<Rect> boxes;
  for (std::int32_t top : tops) {
    // In the mask's own columns until the end.
    Rect line{text.Width, top, 0, top + text.LineHeight};
    for (std::int32_t y = std::max(top, text.Top); y < std::min(line.bottom, text.Top + text.Height); ++y) {
      const std::uint8_t* row = CoverageRow(text, y);
      for (std::int32_t x = 0; x < line.left; ++x) {
        if (row[x] != 0) line.left = x;
      }
      for (std::int32_t x = text.Width - 1; x >= line.right; --x) {
        if (row[x] != 0) line.right = x + 1;
      }
    }
    if (line.right > line.left) boxes.push_back({line.left + text.Left, line.top, line.right + text.Left, line.bottom});
  }
  return boxes;
}

// The rectangle that holds every pixel the text covers.
Rect InkBounds(const TextCoverage& text, const std::vector<Rect>& lines) {
  Rect ink;
  if (lines.empty()) return ink;
  // Marks and tall glyphs may reach a line beyond their own cell.
  std::int32_t top = std::max(lines.front().top - text.LineHeight, text.Top);
  std::int32_t bottom = std::min(lines.back().bottom + text.LineHeight, text.Top + text.Height);
  for (std::int32_t y = top; y < bottom; ++y) {
    const std::uint8_t* row = CoverageRow(text, y);
    const std::uint8_t* first = std::find_if(row, row + text.Width, [](std::uint8_t a) { return a != 0; });
    if (first == row + text.Width) continue;
    const std::uint8_t* last = std::find_if(std::make_reverse_iterator(row + text.Width),
                                            std::make_reverse_iterator(row), [](std::uint8_t a) { return a != 0; })
                                   .base();
    ink = Union(ink, Rect{static_cast<std::int32_t>(first - row) + text.Left, y,
                          static_cast<std::int32_t>(last - row) + text.Left, y + 1});
  }
  return ink;
}

// The union of the line boxes, each grown by `pad` with corners rounded by
// `pad`, antialiased.
AreaMask BoxMask(const Rect& area, const std::vector<Rect>& lines, std::int32_t pad) {
  AreaMask mask(area);
  const double radius = pad;
  for (const Rect& line : lines) {
    Rect box = Grown(line, pad);
    const Rect visible = Intersection(box, area);
    for (std::int32_t y = visible.top; y < visible.bottom; ++y) {
      std::uint8_t* row = mask.Row(y);
      double cy = y + 0.5;
      double dy = std::max({box.top + radius - cy, cy - (box.bottom - radius), 0.0});
      auto coverageAt = [&](double dx) {
        double coverage = std::clamp(radius + 0.5 - std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
        return static_cast<std::uint8_t>(std::lround(coverage * 255.0));
      };
      // Away from the corners every pixel of the row has the same coverage:
      // the whole pixel between the top and bottom padding, less above and below.
      const std::int32_t middleFrom = std::clamp(box.left + pad, visible.left, visible.right);
      const std::int32_t middleTo = std::clamp(box.right - pad, middleFrom, visible.right);
      const std::uint8_t middle = coverageAt(0.0);
      auto corner = [&](std::int32_t x) {
        double cx = x + 0.5;
        double dx = std::max({box.left + radius - cx, cx - (box.right - radius), 0.0});
        std::uint8_t& cell = row[x - area.left];
        cell = std::max(cell, coverageAt(dx));
      };
      for (std::int32_t x = visible.left; x < middleFrom; ++x) corner(x);
      std::uint8_t* cells = row + (middleFrom - area.left);
      for (std::int32_t i = 0; i < middleTo - middleFrom; ++i) cells[i] = std::max(cells[i], middle);
      for (std::int32_t x = middleTo; x < visible.right; ++x) corner(x);
    }
  }
  return mask;
}

// The text's coverage inside `area`, moved right and down by `offset`.
AreaMask GlyphMask(const Rect& area, const TextCoverage& text, std::int32_t offset) {
  AreaMask mask(area);
  const std::int32_t from = std::max(area.left, text.Left + offset);
  const std::int32_t to = std::min(area.right, text.Left + text.Width + offset);
  if (from >= to) return mask;
  for (std::int32_t y = area.top; y < area.bottom; ++y) {
    std::int32_t sy = y - offset;
    if (sy < text.Top || sy >= text.Top + text.Height) continue;
    const std::uint8_t* source = CoverageRow(text, sy) - text.Left - offset;
    std::copy(source + from, source + to, mask.Row(y) + (from - area.left));
  }
  return mask;
}

// Darkens or lightens the area under the box just enough that every pixel
// under the glyphs contrasts with the text colour by kReadableContrast. The
// blend is made in linear light, where the luminance of a blend is the blend
// of the luminances, so the one worst pixel gives the exact amount.
void MakeReadable(Bitmap& target, const AreaMask& box, const AreaMask& glyphs, ColorRef textColor) {
  // A little headroom absorbs the rounding back to 8-bit pixels.
  constexpr double kAimedContrast = kReadableContrast + 0.1;
  const double textLuminance = RelativeLuminance(textColor);
  const bool darken = OppositeTone(textColor) == 0;
  double worst = darken ? 0.0 : 1.0;
  bool anyGlyph = false;
  for (std::int32_t y = box.area.top; y < box.area.bottom; ++y) {
    const std::uint8_t* cover = glyphs.Row(y);
    const std::uint8_t* pixel = target.Row(y) + static_cast<std::size_t>(box.area.left) * 3;
    for (std::int32_t x = 0; x < box.area.Width(); ++x, pixel += 3) {
      if (cover[x] == 0) continue;
      anyGlyph = true;
      double luminance = LuminanceOfPixel(pixel);
      worst = darken ? std::max(worst, luminance) : std::min(worst, luminance);
    }
  }
  if (!anyGlyph) return;
  double amount = 0;
  if (darken) {
    double allowed = (textLuminance + 0.05) / kAimedContrast - 0.05;
    if (worst > allowed) amount = allowed <= 0 ? 1.0 : 1.0 - allowed / worst;
  } else {
    double needed = kAimedContrast * (textLuminance + 0.05) - 0.05;
    if (worst < needed) amount = needed >= 1 ? 1.0 : (needed - worst) / (1.0 - worst);
  }
  if (amount <= 0) return;
  amount = std::min(amount, 1.0);

  const auto& linear = LinearTable();
  const auto& srgb = SrgbTable();
  const float toward = darken ? 0.0f : 1.0f;
  auto blended = [&](std::uint8_t value, std::uint8_t coverage) {
    auto weight = static_cast<float>(amount * coverage / 255.0);
    float v = linear[value] + (toward - linear[value]) * weight;
    return srgb[static_cast<std::size_t>(std::clamp(v, 0.0f, 1.0f) * kLinearSteps + 0.5f)];
  };
  // Nearly every changed pixel is fully covered: those are looked up.
  std::array<std::uint8_t, 256> full{};
  for (int value = 0; value < 256; ++value) full[static_cast<std::size_t>(value)] = blended(static_cast<std::uint8_t>(value), 255);
  for (std::int32_t y = box.area.top; y < box.area.bottom; ++y) {
    const std::uint8_t* boxRow = box.Row(y);
    const std::uint8_t* cover = glyphs.Row(y);
    std::uint8_t* pixel = target.Row(y) + static_cast<std::size_t>(box.area.left) * 3;
    for (std::int32_t x = 0; x < box.area.Width(); ++x, pixel += 3) {
      std::uint8_t coverage = cover[x] != 0 ? 255 : boxRow[x];
      if (coverage == 255) {
        pixel[0] = full[pixel[0]], pixel[1] = full[pixel[1]], pixel[2] = full[pixel[2]];
      } else if (coverage != 0) {
        for (int c = 0; c < 3; ++c) pixel[c] = blended(pixel[c], coverage);
      }
    }
  }
}

}  // namespace

double RelativeLuminance(ColorRef Color) {
  const auto& t = LinearTable();
  return 0.2126 * t[platform::RedOf(Color)] + 0.7152 * t[platform::GreenOf(Color)] + 0.0722 * t[platform::BlueOf(Color)];
}

double ContrastRatio(ColorRef A, ColorRef B) {
  double a = RelativeLuminance(A), b = RelativeLuminance(B);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

ColorRef OppositeTone(ColorRef TextColor) {
  constexpr ColorRef kBlack = 0, kWhite = 0xFFFFFF;
  return ContrastRatio(TextColor, kBlack) >= ContrastRatio(TextColor, kWhite) ? kBlack : kWhite;
}

void PaintTextEffects(Bitmap& Target, const TextCoverage& Text, ColorRef TextColor, const Effects& Chosen) {
  const Rect bounds{0, 0, Target.Width(), Target.Height()};
  const Rect mask{Text.Left, Text.Top, Text.Left + Text.Width, Text.Top + Text.Height};
  const bool maskInside = !mask.Empty() && mask.left >= 0 && mask.top >= 0 && mask.right <= bounds.right &&
                          mask.bottom <= bounds.bottom &&
                          Text.Pixels.size() == static_cast<std::size_t>(Text.Width) * static_cast<std::size_t>(Text.Height);
  if (!Chosen.AnyText() || Text.LineHeight <= 0 || !maskInside) return;
  const std::vector<Rect> lines = LineBoxes(Text);
  const Rect ink = InkBounds(Text, lines);
  if (ink.Empty()) return;

  // Every size follows the line height, so the effects look alike at any font size.
  const std::int32_t h = Text.LineHeight;
  const std::int32_t pad = std::max(2, (h + 2) / 4);
  const std::int32_t shadowOffset = std::max(1, (h + 7) / 14);
  const std::int32_t shadowBlur = std::max(1, h / 20);
  const double outlineWidth = std::max(1.0, h / 20.0);

  // Each effect works on the smallest rectangle it can change: under the
  // text and its box, around the shadow's blur, around the outline's ring.
  Rect textArea = ink;
  for (const Rect& line : lines) textArea = Union(textArea, Grown(line, pad));
  textArea = Intersection(textArea, bounds);

  const ColorRef tone = OppositeTone(TextColor);
  const AreaMask glyphs = GlyphMask(textArea, Text, 0);
  if (Chosen.Contrast || Chosen.Box) {
    const AreaMask box = BoxMask(textArea, lines, pad);
    if (Chosen.Contrast) MakeReadable(Target, box, glyphs, TextColor);
    if (Chosen.Box) BlendTone(Target, box, tone, 154);  // about 60 % opaque
  }
  if (Chosen.Shadow) {
    const Rect cast{ink.left + shadowOffset, ink.top + shadowOffset, ink.right + shadowOffset, ink.bottom + shadowOffset};
    AreaMask shadow = GlyphMask(Intersection(Grown(cast, 2 * shadowBlur + 1), bounds), Text, shadowOffset);
    Blur(shadow, shadowBlur);
    BlendTone(Target, shadow, tone, 235);  // about 90 % at its darkest
  }
  if (Chosen.Outline) {
    const auto ring = static_cast<std::int32_t>(std::ceil(outlineWidth));
    BlendTone(Target, Dilated(glyphs, outlineWidth, Intersection(Grown(ink, ring), bounds)), tone, 256);
  }
}

}  // namespace kv::render
