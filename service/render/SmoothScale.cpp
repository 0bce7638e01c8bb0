#include "SmoothScale.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kv::render {
namespace {

// Weights are fixed-point numbers with kWeightBits fractional bits; the
// weights of one target pixel add up to exactly 1.
constexpr int kWeightBits = 14;
constexpr std::int32_t kOne = 1 << kWeightBits;

// For every target position along one axis: which source positions it takes
// and with what weight.
struct AxisTaps {
  std::vector<std::int32_t> first;   // first source index of each target index
  std::vector<std::int32_t> offset;  // where its weights start in `weights`
  std::vector<std::int32_t> count;
  std::vector<std::int32_t> weights;
  std::int32_t widest = 1;
};

AxisTaps MakeTaps(std::int32_t from, std::int32_t to) {
  AxisTaps taps;
  taps.first.resize(static_cast<std::size_t>(to));
  taps.offset.resize(static_cast<std::size_t>(to));
  taps.count.resize(static_cast<std::size_t>(to));
  const double scale = static_cast<double>(from) / to;
  std::vector<double> exact;
  for (std::int32_t i = 0; i < to; ++i) {
    std::int32_t first = 0;
    exact.clear();
    if (from == to) {
      first = i, exact.push_back(1.0);
    } else if (from > to) {
      // Shrinking: the source interval the target pixel covers, averaged.
      double begin = i * scale, end = (i + 1) * scale;
      first = static_cast<std::int32_t>(std::floor(begin));
      auto last = std::min(static_cast<std::int32_t>(std::ceil(end)), from);
      for (std::int32_t j = first; j < last; ++j) {
        exact.push_back((std::min(end, j + 1.0) - std::max(begin, static_cast<double>(j))) / scale);
      }
    } else {
      // Growing: between the two source pixels whose centres surround the
      // target pixel's centre; the edges repeat the outermost pixels.
      double position = std::clamp((i + 0.5) * scale - 0.5, 0.0, from - 1.0);
      first = std::min(static_cast<std::int32_t>(std::floor(position)), from - 1);
      double fraction = position - first;
      exact.push_back(1.0 - fraction);
      if (first + 1 < from) exact.push_back(fraction);
    }
    // Rounded weights whose sum is exactly one: the rest goes to the largest.
    std::size_t largest = 0;
    std::int32_t sum = 0;
    taps.first[static_cast<std::size_t>(i)] = first;
    taps.offset[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(taps.weights.size());
    taps.count[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(exact.size());
    for (std::size_t k = 0; k < exact.size(); ++k) {
      auto weight = static_cast<std::int32_t>(std::lround(exact[k] * kOne));
      taps.weights.push_back(weight);
      sum += weight;
      if (exact[k] > exact[largest]) largest = k;
    }
    taps.weights[static_cast<std::size_t>(taps.offset[static_cast<std::size_t>(i)]) + largest] += kOne - sum;
    taps.widest = std::max(taps.widest, static_cast<std::int32_t>(exact.size()));
  }
  return taps;
}

}  // namespace

void SmoothScalePicture(platform::Bitmap& Target, const platform::Picture& Source, std::int32_t Left, std::int32_t Top,
                        std::int32_t Width, std::int32_t Height) {
  if (Width <= 0 || Height <= 0 || Source.Width() <= 0 || Source.Height() <= 0) return;
  // The part of the rectangle inside the target, in the rectangle's own coordinates.
  const std::int32_t x0 = std::max(0, -Left), x1 = std::min(Width, Target.Width() - Left);
  const std::int32_t y0 = std::max(0, -Top), y1 = std::min(Height, Target.Height() - Top);
  if (x0 >= x1 || y0 >= y1) return;

  const AxisTaps columns = MakeTaps(Source.Width(), Width);
  const AxisTaps rows = MakeTaps(Source.Height(), Height);
  const int bytes = Source.BytesPerPixel();
  // Channel order of the target: blue, green, red.
  const int order[3] = {Source.IsBgr() ? 0 : 2, 1, Source.IsBgr() ? 2 : 0};
  const std::size_t visible = static_cast<std::size_t>(x1 - x0);

  // Source rows scaled horizontally, kept while the rows below need them.
  // Values carry 8 fractional bits.
  const auto slots = static_cast<std::size_t>(rows.widest) + 1;
  std::vector<std::uint16_t> cache(slots * visible * 3);
  std::vector<std::int32_t> cached(slots, -1);
  auto scaledRow = [&](std::int32_t sy) -> const std::uint16_t* {
    std::size_t slot = static_cast<std::size_t>(sy) % slots;
    std::uint16_t* out = cache.data() + slot * visible * 3;
    if (cached[slot] == sy) return out;
    cached[slot] = sy;
    const std::uint8_t* in = Source.Row(sy);
    for (std::int32_t x = x0; x < x1; ++x) {
      const auto i = static_cast<std::size_t>(x);
      const std::int32_t* w = columns.weights.data() + columns.offset[i];
      const std::uint8_t* p = in + static_cast<std::ptrdiff_t>(columns.first[i]) * bytes;
      std::uint32_t sum[3] = {0, 0, 0};
      for (std::int32_t k = 0; k < columns.count[i]; ++k, p += bytes) {
        for (int c = 0; c < 3; ++c) sum[c] += p[order[c]] * static_cast<std::uint32_t>(w[k]);
      }
      for (int c = 0; c < 3; ++c) *out++ = static_cast<std::uint16_t>((sum[c] + (1u << 5)) >> (kWeightBits - 8));
    }
    return cache.data() + slot * visible * 3;
  };

  std::vector<const std::uint16_t*> sources(static_cast<std::size_t>(rows.widest));
  for (std::int32_t y = y0; y < y1; ++y) {
    const auto j = static_cast<std::size_t>(y);
    const std::int32_t count = rows.count[j];
    const std::int32_t* w = rows.weights.data() + rows.offset[j];
    for (std::int32_t k = 0; k < count; ++k) sources[static_cast<std::size_t>(k)] = scaledRow(rows.first[j] + k);
    std::uint8_t* out = Target.Row(Top + y) + static_cast<std::size_t>(Left + x0) * 3;
    for (std::size_t v = 0; v < visible * 3; ++v) {
      std::uint32_t sum = 0;
      for (std::int32_t k = 0; k < count; ++k) sum += sources[static_cast<std::size_t>(k)][v] * static_cast<std::uint32_t>(w[k]);
      out[v] = static_cast<std::uint8_t>(std::min<std::uint32_t>((sum + (1u << (kWeightBits + 7))) >> (kWeightBits + 8), 255));
    }
  }
}

}  // namespace kv::render
