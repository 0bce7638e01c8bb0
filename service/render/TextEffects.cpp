#include "TextEffects.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kv::render {
namespace {

using platform::Bitmap;
using platform::ColorRef;

// A rectangle of pixels; right and bottom are exclusive.
struct Rect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
  std::int32_t Width() const { return right - left; }
  std::int32_t Height() const { return bottom - top; }
};

Rect Union(const Rect& a, const Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}
Rect Grown(const Rect& r, std::int32_t by) { return {r.left - by, r.top - by, r.right + by, r.bottom + by}; }
Rect Clipped(const Rect& r, std::int32_t width, std::int32_t height) {
  return {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, width), std::min(r.bottom, height)};
}

// A coverage mask over one rectangle of the bitmap.
struct AreaMask {
  explicit AreaMask(const Rect& r) : area(r), pixels(static_cast<std::size_t>(r.Width()) * r.Height()) {}
  std::uint8_t* Row(std::int32_t y) { return pixels.data() + static_cast<std::size_t>(y - area.top) * area.Width(); }
  const std::uint8_t* Row(std::int32_t y) const {
    return pixels.data() + static_cast<std::size_t>(y - area.top) * area.Width();
  }
  Rect area;
  std::vector<std::uint8_t> pixels;
};

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

// The horizontal extent of each line's ink, one cell high.
std::vector<Rect> LineBoxes(const TextCoverage& text) {
  std::vector<std::int32_t> tops = text.LineTops;
  std::sort(tops.begin(), tops.end());
  tops.erase(std::unique(tops.begin(), tops.end()), tops.end());
  std::vector<Rect> boxes;
  for (std::int32_t top : tops) {
    Rect line{text.Width, top, 0, top + text.LineHeight};
    for (std::int32_t y = std::max(top, 0); y < std::min(line.bottom, text.Height); ++y) {
      const std::uint8_t* row = text.Pixels.data() + static_cast<std::size_t>(y) * text.Width;
      for (std::int32_t x = 0; x < line.left; ++x) {
        if (row[x] != 0) line.left = x;
      }
      for (std::int32_t x = text.Width - 1; x >= line.right; --x) {
        if (row[x] != 0) line.right = x + 1;
      }
    }
    if (line.right > line.left) boxes.push_back(line);
  }
  return boxes;
}

// The rectangle that holds every pixel the text covers.
Rect InkBounds(const TextCoverage& text, const std::vector<Rect>& lines) {
  Rect ink;
  if (lines.empty()) return ink;
  // Marks and tall glyphs may reach a line beyond their own cell.
  std::int32_t top = std::max(lines.front().top - text.LineHeight, 0);
  std::int32_t bottom = std::min(lines.back().bottom + text.LineHeight, text.Height);
  for (std::int32_t y = top; y < bottom; ++y) {
    const std::uint8_t* row = text.Pixels.data() + static_cast<std::size_t>(y) * text.Width;
    const std::uint8_t* first = std::find_if(row, row + text.Width, [](std::uint8_t a) { return a != 0; });
    if (first == row + text.Width) continue;
    const std::uint8_t* last = std::find_if(std::make_reverse_iterator(row + text.Width),
                                            std::make_reverse_iterator(row), [](std::uint8_t a) { return a != 0; })
                                   .base();
    ink = Union(ink, Rect{static_cast<std::int32_t>(first - row), y, static_cast<std::int32_t>(last - row), y + 1});
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
    Rect visible = Clipped(box, area.right, area.bottom);
    visible.left = std::max(visible.left, area.left), visible.top = std::max(visible.top, area.top);
    for (std::int32_t y = visible.top; y < visible.bottom; ++y) {
      std::uint8_t* row = mask.Row(y);
      double cy = y + 0.5;
      double dy = std::max({box.top + radius - cy, cy - (box.bottom - radius), 0.0});
      for (std::int32_t x = visible.left; x < visible.right; ++x) {
        // Away from the corners the box covers the whole pixel.
        if (dy == 0 && x >= box.left + pad && x < box.right - pad) {
          row[x - area.left] = 255;
          continue;
        }
        double cx = x + 0.5;
        double dx = std::max({box.left + radius - cx, cx - (box.right - radius), 0.0});
        double coverage = std::clamp(radius + 0.5 - std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
        auto value = static_cast<std::uint8_t>(std::lround(coverage * 255.0));
        std::uint8_t& cell = row[x - area.left];
        cell = std::max(cell, value);
      }
    }
  }
  return mask;
}

// The text's coverage inside `area`, moved right and down by `offset`.
AreaMask GlyphMask(const Rect& area, const TextCoverage& text, std::int32_t offset) {
  AreaMask mask(area);
  for (std::int32_t y = area.top; y < area.bottom; ++y) {
    std::int32_t sy = y - offset;
    if (sy < 0 || sy >= text.Height) continue;
    const std::uint8_t* source = text.Pixels.data() + static_cast<std::size_t>(sy) * text.Width;
    std::uint8_t* row = mask.Row(y);
    const std::int32_t from = std::max(area.left, offset), to = std::min(area.right, text.Width + offset);
    if (from < to) std::copy(source + (from - offset), source + (to - offset), row + (from - area.left));
  }
  return mask;
}

// Two box blurs of `radius` each way, which come close to a Gaussian; the
// mask counts as empty beyond its edges. Both passes run along rows, so the
// memory is read in order.
void Blur(AreaMask& mask, std::int32_t radius) {
  const std::int32_t w = mask.area.Width(), h = mask.area.Height();
  const auto window = static_cast<std::uint32_t>(2 * radius + 1);
  const std::uint32_t reciprocal = ((1u << 16) + window / 2) / window;
  auto average = [&](std::uint32_t sum) { return static_cast<std::uint8_t>((sum * reciprocal + (1u << 15)) >> 16); };
  std::vector<std::uint32_t> sums(static_cast<std::size_t>(std::max(w, h)) + 1);
  std::vector<std::uint8_t> source;
  for (int pass = 0; pass < 2; ++pass) {
    for (std::int32_t y = mask.area.top; y < mask.area.bottom; ++y) {
      std::uint8_t* row = mask.Row(y);
      for (std::int32_t i = 0; i < w; ++i) sums[static_cast<std::size_t>(i) + 1] = sums[static_cast<std::size_t>(i)] + row[i];
      for (std::int32_t i = 0; i < w; ++i) {
        std::int32_t from = std::max(i - radius, 0), to = std::min(i + radius + 1, w);
        row[i] = average(sums[static_cast<std::size_t>(to)] - sums[static_cast<std::size_t>(from)]);
      }
    }
    // Columns: a running sum per column over the rows in the window.
    source = mask.pixels;
    std::fill(sums.begin(), sums.end(), 0u);
    auto sourceRow = [&](std::int32_t y) { return source.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w); };
    for (std::int32_t y = 0; y < std::min(radius, h); ++y) {
      const std::uint8_t* in = sourceRow(y);
      for (std::int32_t x = 0; x < w; ++x) sums[static_cast<std::size_t>(x)] += in[x];
    }
    for (std::int32_t y = 0; y < h; ++y) {
      if (y + radius < h) {
        const std::uint8_t* in = sourceRow(y + radius);
        for (std::int32_t x = 0; x < w; ++x) sums[static_cast<std::size_t>(x)] += in[x];
      }
      std::uint8_t* out = mask.Row(mask.area.top + y);
      for (std::int32_t x = 0; x < w; ++x) out[x] = average(sums[static_cast<std::size_t>(x)]);
      if (y - radius >= 0) {
        const std::uint8_t* in = sourceRow(y - radius);
        for (std::int32_t x = 0; x < w; ++x) sums[static_cast<std::size_t>(x)] -= in[x];
      }
    }
  }
}

// Grows the mask by a disc of `radius` pixels with an antialiased rim.
AreaMask Dilated(const AreaMask& mask, double radius) {
  struct Tap {
    std::int32_t dx, dy;
    std::uint32_t weight;  // 0..256
  };
  std::vector<Tap> taps;
  const auto reach = static_cast<std::int32_t>(std::ceil(radius));
  for (std::int32_t dy = -reach; dy <= reach; ++dy) {
    for (std::int32_t dx = -reach; dx <= reach; ++dx) {
      // Full within the radius, fading out over the next pixel.
      double weight = std::clamp(radius + 1.0 - std::hypot(dx, dy), 0.0, 1.0);
      if (weight > 0) taps.push_back({dx, dy, static_cast<std::uint32_t>(std::lround(weight * 256))});
    }
  }
  // Most of the area is empty: every covered pixel spreads its coverage
  // over the disc around it, which costs far less than gathering the disc
  // for every pixel of the area.
  AreaMask out(mask.area);
  const Rect& a = mask.area;
  for (std::int32_t y = a.top; y < a.bottom; ++y) {
    const std::uint8_t* row = mask.Row(y);
    for (std::int32_t x = a.left; x < a.right; ++x) {
      const std::uint32_t value = row[x - a.left];
      if (value == 0) continue;
      for (const Tap& tap : taps) {
        std::int32_t tx = x + tap.dx, ty = y + tap.dy;
        if (tx < a.left || tx >= a.right || ty < a.top || ty >= a.bottom) continue;
        std::uint8_t& cell = out.Row(ty)[tx - a.left];
        cell = std::max(cell, static_cast<std::uint8_t>((value * tap.weight) >> 8));
      }
    }
  }
  return out;
}

// Blends `tone` over the bitmap with the mask's coverage scaled by `opacity` (0..256).
void BlendTone(Bitmap& target, const AreaMask& mask, ColorRef tone, std::uint32_t opacity) {
  const std::uint32_t toneBgr[3] = {platform::BlueOf(tone), platform::GreenOf(tone), platform::RedOf(tone)};
  for (std::int32_t y = mask.area.top; y < mask.area.bottom; ++y) {
    const std::uint8_t* alphas = mask.Row(y);
    std::uint8_t* pixel = target.Row(y) + static_cast<std::size_t>(mask.area.left) * 3;
    for (std::int32_t x = 0; x < mask.area.Width(); ++x, pixel += 3) {
      std::uint32_t alpha = (alphas[x] * opacity) >> 8;
      if (alpha == 0) continue;
      for (int c = 0; c < 3; ++c) {
        std::uint32_t old = pixel[c];
        pixel[c] = static_cast<std::uint8_t>((old * (255 - alpha) + toneBgr[c] * alpha + 127) / 255);
      }
    }
  }
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
  for (std::int32_t y = box.area.top; y < box.area.bottom; ++y) {
    const std::uint8_t* boxRow = box.Row(y);
    const std::uint8_t* cover = glyphs.Row(y);
    std::uint8_t* pixel = target.Row(y) + static_cast<std::size_t>(box.area.left) * 3;
    for (std::int32_t x = 0; x < box.area.Width(); ++x, pixel += 3) {
      std::uint8_t coverage = cover[x] != 0 ? 255 : boxRow[x];
      if (coverage == 0) continue;
      auto weight = static_cast<float>(amount * coverage / 255.0);
      for (int c = 0; c < 3; ++c) {
        float v = linear[pixel[c]] + (toward - linear[pixel[c]]) * weight;
        pixel[c] = srgb[static_cast<std::size_t>(std::clamp(v, 0.0f, 1.0f) * kLinearSteps + 0.5f)];
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
  if (!Chosen.AnyText() || Text.LineHeight <= 0 || Text.Width != Target.Width() || Text.Height != Target.Height()) {
    return;
  }
  const std::vector<Rect> lines = LineBoxes(Text);
  const Rect ink = InkBounds(Text, lines);
  if (ink.Empty()) return;

  // Every size follows the line height, so the effects look alike at any font size.
  const std::int32_t h = Text.LineHeight;
  const std::int32_t pad = std::max(2, (h + 2) / 4);
  const std::int32_t shadowOffset = std::max(1, (h + 7) / 14);
  const std::int32_t shadowBlur = std::max(1, h / 20);
  const double outlineWidth = std::max(1.0, h / 20.0);

  Rect reach = Union(ink, Rect{});
  for (const Rect& line : lines) reach = Union(reach, Grown(line, pad));
  reach = Union(reach, Grown(Rect{ink.left + shadowOffset, ink.top + shadowOffset, ink.right + shadowOffset,
                                  ink.bottom + shadowOffset},
                             2 * shadowBlur + 1));
  reach = Union(reach, Grown(ink, static_cast<std::int32_t>(std::ceil(outlineWidth)) + 1));
  const Rect area = Clipped(reach, Target.Width(), Target.Height());
  if (area.Empty()) return;

  const ColorRef tone = OppositeTone(TextColor);
  const AreaMask glyphs = GlyphMask(area, Text, 0);
  if (Chosen.Contrast || Chosen.Box) {
    const AreaMask box = BoxMask(area, lines, pad);
    if (Chosen.Contrast) MakeReadable(Target, box, glyphs, TextColor);
    if (Chosen.Box) BlendTone(Target, box, tone, 154);  // about 60 % opaque
  }
  if (Chosen.Shadow) {
    AreaMask shadow = GlyphMask(area, Text, shadowOffset);
    Blur(shadow, shadowBlur);
    BlendTone(Target, shadow, tone, 235);  // about 90 % at its darkest
  }
  if (Chosen.Outline) BlendTone(Target, Dilated(glyphs, outlineWidth), tone, 256);
}

}  // namespace kv::render
