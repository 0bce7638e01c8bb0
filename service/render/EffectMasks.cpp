#include "EffectMasks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// The loops below run over whole rows without branches per pixel and in
// 16-bit arithmetic where the values allow it, so that the compiler can
// vectorise them.

namespace kv::render {

Rect Union(const Rect& a, const Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

Rect Intersection(const Rect& a, const Rect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

Rect Grown(const Rect& r, std::int32_t by) { return {r.left - by, r.top - by, r.right + by, r.bottom + by}; }

AreaMask::AreaMask(const Rect& r)
    : area(r.Empty() ? Rect{} : r), pixels(static_cast<std::size_t>(area.Width()) * static_cast<std::size_t>(area.Height())) {}

namespace {

// Whether any pixel of the row is covered; the whole row is read, which
// vectorises, as most rows that are looked at have coverage anyway.
bool AnyCoverage(const std::uint8_t* row, std::int32_t width) {
  std::uint8_t any = 0;
  for (std::int32_t x = 0; x < width; ++x) any |= row[x];
  return any != 0;
}

}  // namespace

void Blur(AreaMask& mask, std::int32_t radius) {
  const std::int32_t w = mask.area.Width(), h = mask.area.Height();
  if (w <= 0 || h <= 0 || radius <= 0) return;
  const auto window = static_cast<std::uint32_t>(2 * radius + 1);
  const std::uint32_t reciprocal = ((1u << 16) + window / 2) / window;
  const auto width = static_cast<std::size_t>(w);
  // Running sums of one row with `radius` empty pixels on either side, so
  // that every window is the difference of two of them.
  std::vector<std::uint8_t> padded(width + window - 1);
  std::vector<std::uint32_t> prefix(width + window);
  std::vector<std::uint32_t> sums(width);
  std::vector<std::uint8_t> source;
  for (int pass = 0; pass < 2; ++pass) {
    for (std::int32_t y = mask.area.top; y < mask.area.bottom; ++y) {
      std::uint8_t* row = mask.Row(y);
      if (!AnyCoverage(row, w)) continue;
      std::copy(row, row + width, padded.begin() + radius);
      std::uint32_t running = 0;
      for (std::size_t i = 0; i < padded.size(); ++i) prefix[i + 1] = running += padded[i];
      for (std::size_t i = 0; i < width; ++i) {
        row[i] = static_cast<std::uint8_t>(((prefix[i + window] - prefix[i]) * reciprocal + (1u << 15)) >> 16);
      }
    }
    // Columns: a running sum per column over the rows in the window.
    source = mask.pixels;
    std::fill(sums.begin(), sums.end(), 0u);
    auto sourceRow = [&](std::int32_t y) { return source.data() + static_cast<std::size_t>(y) * width; };
    auto add = [&](const std::uint8_t* in) {
      for (std::size_t x = 0; x < width; ++x) sums[x] += in[x];
    };
    for (std::int32_t y = 0; y < std::min(radius, h); ++y) add(sourceRow(y));
    for (std::int32_t y = 0; y < h; ++y) {
      if (y + radius < h) add(sourceRow(y + radius));
      std::uint8_t* out = mask.Row(mask.area.top + y);
      for (std::size_t x = 0; x < width; ++x) {
        out[x] = static_cast<std::uint8_t>((sums[x] * reciprocal + (1u << 15)) >> 16);
      }
      if (y - radius >= 0) {
        const std::uint8_t* in = sourceRow(y - radius);
        for (std::size_t x = 0; x < width; ++x) sums[x] -= in[x];
      }
    }
  }
}

AreaMask Dilated(const AreaMask& mask, double radius, const Rect& area) {
  // The disc row by row: full weight (256) within the radius, fading out
  // over the next pixel.
  struct Tap {
    std::int32_t dx;
    std::uint16_t weight;
  };
  const auto reach = static_cast<std::int32_t>(std::ceil(radius));
  std::vector<std::vector<Tap>> disc(static_cast<std::size_t>(2 * reach + 1));
  for (std::int32_t dy = -reach; dy <= reach; ++dy) {
    for (std::int32_t dx = -reach; dx <= reach; ++dx) {
      double weight = std::clamp(radius + 1.0 - std::hypot(dx, dy), 0.0, 1.0);
      if (weight > 0) disc[static_cast<std::size_t>(dy + reach)].push_back({dx, static_cast<std::uint16_t>(std::lround(weight * 256))});
    }
  }
  AreaMask out(area);
  const Rect& in = mask.area;
  if (out.area.Empty() || in.Empty()) return out;
  std::vector<bool> inked(static_cast<std::size_t>(in.Height()));
  for (std::int32_t y = in.top; y < in.bottom; ++y) inked[static_cast<std::size_t>(y - in.top)] = AnyCoverage(mask.Row(y), in.Width());

  // Every pixel gathers the weighted coverage of the disc around it.
  for (std::int32_t y = out.area.top; y < out.area.bottom; ++y) {
    std::uint8_t* row = out.Row(y);
    for (std::int32_t dy = -reach; dy <= reach; ++dy) {
      const std::int32_t sy = y - dy;
      if (sy < in.top || sy >= in.bottom || !inked[static_cast<std::size_t>(sy - in.top)]) continue;
      const std::uint8_t* source = mask.Row(sy);
      for (const Tap& tap : disc[static_cast<std::size_t>(dy + reach)]) {
        const std::int32_t x0 = std::max(out.area.left, in.left + tap.dx);
        const std::int32_t x1 = std::min(out.area.right, in.right + tap.dx);
        if (x0 >= x1) continue;
        const std::uint8_t* s = source + (x0 - tap.dx - in.left);
        std::uint8_t* d = row + (x0 - out.area.left);
        const std::uint16_t weight = tap.weight;
        const auto n = static_cast<std::size_t>(x1 - x0);
        for (std::size_t i = 0; i < n; ++i) {
          const auto value = static_cast<std::uint8_t>(static_cast<std::uint16_t>(s[i] * weight) >> 8);
          d[i] = std::max(d[i], value);
        }
      }
    }
  }
  return out;
}

void BlendTone(platform::Bitmap& target, const AreaMask& mask, platform::ColorRef tone, std::uint32_t opacity) {
  if (mask.area.Empty()) return;
  const std::int32_t w = mask.area.Width();
  // The mask is blended in runs of kRun pixels, and a run with no coverage
  // at all (most of them around thin glyphs) is skipped.
  constexpr std::size_t kRun = 16;
  std::uint8_t toneBytes[3 * kRun];
  for (std::size_t i = 0; i < 3 * kRun; i += 3) {
    toneBytes[i] = platform::BlueOf(tone), toneBytes[i + 1] = platform::GreenOf(tone), toneBytes[i + 2] = platform::RedOf(tone);
  }
  std::uint8_t alphas[3 * kRun + 1];
  for (std::int32_t y = mask.area.top; y < mask.area.bottom; ++y) {
    const std::uint8_t* coverage = mask.Row(y);
    std::uint8_t* pixels = target.Row(y) + static_cast<std::size_t>(mask.area.left) * 3;
    for (std::size_t from = 0; from < static_cast<std::size_t>(w); from += kRun) {
      const std::size_t count = std::min(kRun, static_cast<std::size_t>(w) - from);
      if (!AnyCoverage(coverage + from, static_cast<std::int32_t>(count))) continue;
      // Every pixel's alpha for its three bytes, written as four and
      // overwritten by the next pixel.
      for (std::size_t x = 0; x < count; ++x) {
        const std::uint32_t alpha = ((coverage[from + x] * opacity) >> 8) * 0x010101u;
        std::memcpy(alphas + 3 * x, &alpha, 4);
      }
      std::uint8_t* pixel = pixels + 3 * from;
      auto blend = [&](std::size_t i) {
        const std::uint16_t alpha = alphas[i];
        const auto sum = static_cast<std::uint16_t>(pixel[i] * (255 - alpha) + toneBytes[i] * alpha + 127);
        pixel[i] = static_cast<std::uint8_t>(sum / 255);
      };
      // A full run has a fixed length, which the compiler unrolls and vectorises.
      if (count == kRun) {
        for (std::size_t i = 0; i < 3 * kRun; ++i) blend(i);
      } else {
        for (std::size_t i = 0; i < 3 * count; ++i) blend(i);
      }
    }
  }
}

}  // namespace kv::render
