#include "SmoothScale.h"

#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KV_SCALE_SSSE3 1  // and AVX2, both chosen at run time
#endif

namespace kv::render {
namespace {

// Weights are fixed-point numbers with kWeightBits fractional bits; the
// weights of one target pixel add up to exactly 1.
constexpr int kWeightBits = 14;
constexpr std::int32_t kOne = 1 << kWeightBits;
// Horizontally scaled rows hold values with 7 fractional bits, so that two
// of them times 7-bit weights stay within 32 bits and vectorise well.
constexpr int kFineBits = 7;
constexpr std::uint16_t kFine = 1 << kFineBits;

// For every target position along one axis: which source positions it takes
// and with what weight.
struct AxisTaps {
  std::vector<std::int32_t> first;   // first source index of each target index
  std::vector<std::int32_t> offset;  // where its weights start in `weights`
  std::vector<std::int32_t> count;
  std::vector<std::int32_t> weights;
  std::int32_t widest = 1;
  // The same with at most two source pixels per target pixel (growing, or
  // keeping the size) from at least two: the first index and 7-bit weights
  // that add up to 128. Empty otherwise.
  std::vector<std::int32_t> near;
  std::vector<std::uint16_t> nearWeight, farWeight;
  std::int32_t rowBytes = 0;  // of a source row, for reads that must stay inside it
  // The two weights laid out over the lanes of two adjacent source pixels
  // of rowBytes / from bytes each, 8 lanes per target index.
  std::vector<std::uint16_t> laneWeights;
  // For 3-byte pixels, the target pixels 4k..4k+3 as one block: the 16
  // source bytes from `base` hold all their near and far pixels, and
  // byte shuffles put every value's two source bytes side by side, each
  // pair with its two weights (one of 128 is made two of 64 on the same
  // byte, as a signed byte cannot hold 128). A block whose pixels lie
  // farther apart, or that would read past the row's end, does not fit.
  struct Block {
    std::int32_t base = 0;
    bool fits = false;
    std::int8_t pairs[2][16];    // source byte of each value's near and far part; -128 for none
    std::int8_t weights[2][16];  // their weights
  };
  std::vector<Block> blocks;
};

void MakeBlocks(AxisTaps& taps, bool bgr) {
  const std::size_t count = taps.near.size() / 4;
  taps.blocks.resize(count);
  for (std::size_t k = 0; k < count; ++k) {
    AxisTaps::Block& block = taps.blocks[k];
    block.base = taps.near[4 * k];
    block.fits = block.base * 3 + 16 <= taps.rowBytes && taps.near[4 * k + 3] - block.base <= 3;
    for (int half = 0; half < 2; ++half) {
      std::fill(std::begin(block.pairs[half]), std::end(block.pairs[half]), std::int8_t{-128});
      std::fill(std::begin(block.weights[half]), std::end(block.weights[half]), std::int8_t{0});
    }
    if (!block.fits) continue;
    for (int value = 0; value < 12; ++value) {
      const std::size_t i = 4 * k + static_cast<std::size_t>(value / 3);
      const int channel = bgr ? value % 3 : 2 - value % 3;
      int near = (taps.near[i] - block.base) * 3 + channel, far = near + 3;
      int a = taps.nearWeight[i], b = taps.farWeight[i];
      if (a == kFine) far = near, a = b = kFine / 2;
      if (b == kFine) near = far, a = b = kFine / 2;
      const int half = value / 8, at = 2 * (value % 8);
      block.pairs[half][at] = static_cast<std::int8_t>(near), block.pairs[half][at + 1] = static_cast<std::int8_t>(far);
      block.weights[half][at] = static_cast<std::int8_t>(a), block.weights[half][at + 1] = static_cast<std::int8_t>(b);
    }
  }
}

AxisTaps MakeTaps(std::int32_t from, std::int32_t to, std::int32_t bytesPerPixel) {
  AxisTaps taps;
  taps.first.resize(static_cast<std::size_t>(to));
  taps.offset.resize(static_cast<std::size_t>(to));
  taps.count.resize(static_cast<std::size_t>(to));
  taps.rowBytes = from * bytesPerPixel;
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
  if (taps.widest <= 2 && from > 1) {
    for (std::size_t i = 0; i < taps.first.size(); ++i) {
      const std::int32_t* w = taps.weights.data() + taps.offset[i];
      auto nearWeight = static_cast<std::uint16_t>((w[0] + (1 << (kWeightBits - 8))) >> (kWeightBits - 7));
      // The far pixel is always the near one's right neighbour (with no
      // weight where only one counts), so a row is read at one index.
      std::int32_t near = taps.first[i];
      if (near + 1 >= from) near = from - 2, nearWeight = static_cast<std::uint16_t>(kFine - nearWeight);
      taps.near.push_back(near);
      taps.nearWeight.push_back(nearWeight);
      taps.farWeight.push_back(static_cast<std::uint16_t>(kFine - nearWeight));
      for (std::int32_t lane = 0; lane < 8; ++lane) {
        const bool isNear = lane < bytesPerPixel, isFar = lane >= bytesPerPixel && lane < 2 * bytesPerPixel;
        taps.laneWeights.push_back(isNear ? taps.nearWeight.back() : isFar ? taps.farWeight.back() : 0);
      }
    }
  }
  return taps;
}

#if defined(KV_SCALE_SSSE3)
bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

// The growing row loop of ScaleRow below for 3-byte pixels from `x`, a
// multiple of 4, a block of four target pixels at a time, with the same
// arithmetic and results. Answers the first target index it left undone.
__attribute__((target("ssse3"))) std::int32_t ScaleBlocks(const std::uint8_t* in, std::uint16_t* out,
                                                         const AxisTaps& columns, std::int32_t x, std::int32_t x1) {
  auto load = [](const void* at) { return _mm_loadu_si128(static_cast<const __m128i*>(at)); };
  for (; x + 4 <= x1; x += 4, out += 12) {
    const AxisTaps::Block& block = columns.blocks[static_cast<std::size_t>(x / 4)];
    if (!block.fits) break;
    const __m128i source = load(in + static_cast<std::ptrdiff_t>(block.base) * 3);
    const __m128i low = _mm_maddubs_epi16(_mm_shuffle_epi8(source, load(block.pairs[0])), load(block.weights[0]));
    const __m128i high = _mm_maddubs_epi16(_mm_shuffle_epi8(source, load(block.pairs[1])), load(block.weights[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8), high);
  }
  return x;
}
#endif

// One source row scaled horizontally: 3 values (blue, green, red) per
// target pixel from x0 to x1, with kFineBits fractional bits.
template <int kBytes, bool kBgr>
void ScaleRow(const std::uint8_t* in, std::uint16_t* out, const AxisTaps& columns, std::int32_t x0, std::int32_t x1) {
  constexpr int kBlue = kBgr ? 0 : 2, kRed = kBgr ? 2 : 0;
  if (!columns.near.empty()) {
    const std::int32_t* near = columns.near.data();
    const std::uint16_t* nearWeight = columns.nearWeight.data();
    const std::uint16_t* farWeight = columns.farWeight.data();
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const std::int32_t safeNear = columns.rowBytes >= 8 ? (columns.rowBytes - 8) / kBytes : -1;
    const std::uint16_t* laneWeights = columns.laneWeights.data();
#endif
    auto one = [&](std::int32_t x, std::uint16_t* at) {
#if defined(__SSE2__)
      // Both pixels at once from one 8-byte read, where that stays inside
      // the row. Every value fits 16 bits (255 x 128), so the products are
      // exact and the results those of the plain code below. The fourth
      // value written is overwritten by the next pixel or falls into the
      // row buffer's slack.
      if (near[x] <= safeNear) {
        const __m128i pixels = _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + static_cast<std::ptrdiff_t>(near[x]) * kBytes)), zero);
        const __m128i weights =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(laneWeights + static_cast<std::size_t>(x) * 8));
        const __m128i products = _mm_mullo_epi16(pixels, weights);
        __m128i sums = _mm_add_epi16(products, _mm_srli_si128(products, 2 * kBytes));
        if constexpr (!kBgr) sums = _mm_shufflelo_epi16(sums, _MM_SHUFFLE(3, 0, 1, 2));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at), sums);
        return;
      }
#endif
      const std::uint8_t* p = in + static_cast<std::ptrdiff_t>(near[x]) * kBytes;
      const std::uint8_t* q = p + kBytes;
      const std::uint32_t a = nearWeight[x], b = farWeight[x];
      at[0] = static_cast<std::uint16_t>(p[kBlue] * a + q[kBlue] * b);
      at[1] = static_cast<std::uint16_t>(p[1] * a + q[1] * b);
      at[2] = static_cast<std::uint16_t>(p[kRed] * a + q[kRed] * b);
    };
    std::int32_t x = x0;
#if defined(KV_SCALE_SSSE3)
    if (kBytes == 3 && !columns.blocks.empty() && HasSsse3()) {
      for (; x < x1 && x % 4 != 0; ++x, out += 3) one(x, out);
      const std::int32_t done = ScaleBlocks(in, out, columns, x, x1);
      out += 3 * static_cast<std::ptrdiff_t>(done - x);
      x = done;
    }
#endif
    for (; x < x1; ++x, out += 3) one(x, out);
    return;
  }
  constexpr int kShift = kWeightBits - kFineBits;
  constexpr std::uint32_t kRound = 1u << (kShift - 1);
  for (std::int32_t x = x0; x < x1; ++x, out += 3) {
    const auto i = static_cast<std::size_t>(x);
    const std::int32_t* w = columns.weights.data() + columns.offset[i];
    const std::uint8_t* p = in + static_cast<std::ptrdiff_t>(columns.first[i]) * kBytes;
    std::uint32_t blue = 0, green = 0, red = 0;
    for (std::int32_t k = 0; k < columns.count[i]; ++k, p += kBytes) {
      const auto weight = static_cast<std::uint32_t>(w[k]);
      blue += p[kBlue] * weight, green += p[1] * weight, red += p[kRed] * weight;
    }
    out[0] = static_cast<std::uint16_t>((blue + kRound) >> kShift);
    out[1] = static_cast<std::uint16_t>((green + kRound) >> kShift);
    out[2] = static_cast<std::uint16_t>((red + kRound) >> kShift);
  }
}

using RowScaler = void (*)(const std::uint8_t*, std::uint16_t*, const AxisTaps&, std::int32_t, std::int32_t);

RowScaler ScalerFor(int bytes, bool bgr) {
  if (bytes == 4) return bgr ? ScaleRow<4, true> : ScaleRow<4, false>;
  return bgr ? ScaleRow<3, true> : ScaleRow<3, false>;
}

#if defined(KV_SCALE_SSSE3)
bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// The growing blend of BlendRows below, 32 values at a time, with the same
// arithmetic and results. Answers how many values it did.
__attribute__((target("avx2"))) std::size_t BlendWide(const std::uint16_t* a, const std::uint16_t* b,
                                                     std::uint32_t weightPair, std::uint8_t* out, std::size_t values) {
  const __m256i weights = _mm256_set1_epi32(static_cast<int>(weightPair));
  const __m256i round = _mm256_set1_epi32(1 << (2 * kFineBits - 1));
  std::size_t v = 0;
  for (; v + 32 <= values; v += 32) {
    __m256i halves[2];
    for (int half = 0; half < 2; ++half) {
      const __m256i top = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + v + 16 * half));
      const __m256i bottom = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + v + 16 * half));
      __m256i low = _mm256_madd_epi16(_mm256_unpacklo_epi16(top, bottom), weights);
      __m256i high = _mm256_madd_epi16(_mm256_unpackhi_epi16(top, bottom), weights);
      low = _mm256_srli_epi32(_mm256_add_epi32(low, round), 2 * kFineBits);
      high = _mm256_srli_epi32(_mm256_add_epi32(high, round), 2 * kFineBits);
      halves[half] = _mm256_packs_epi32(low, high);  // back in order within each 128-bit lane
    }
    // Packing works within lanes: the quarters come out as 0, 2, 1, 3.
    const __m256i bytes = _mm256_packus_epi16(halves[0], halves[1]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + v), _mm256_permute4x64_epi64(bytes, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  return v;
}
#endif

// One target row from the horizontally scaled source rows it covers, for
// target row `j` of `rows`.
void BlendRows(const std::uint16_t* const* sources, const AxisTaps& rows, std::size_t j, std::uint8_t* out,
               std::size_t values, std::vector<std::uint32_t>& sums) {
  if (!rows.near.empty()) {
    const std::uint16_t* a = sources[0];
    const std::uint16_t* b = rows.count[j] > 1 ? sources[1] : sources[0];
    const std::uint32_t wa = rows.nearWeight[j], wb = rows.farWeight[j];
    constexpr int kShift = 2 * kFineBits;
    std::size_t v = 0;
#if defined(__SSE2__)
    // The same sums, 16 values at a time: a value (at most 255 x 128) and a
    // weight (at most 128) fit signed 16 bits, so one multiply-add per pair
    // of rows gives the exact 32-bit sum.
#if defined(KV_SCALE_SSSE3)
    if (HasAvx2()) v = BlendWide(a, b, wa | (wb << 16), out, values);
#endif
    const __m128i weights = _mm_set1_epi32(static_cast<int>(wa | (wb << 16)));
    const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
    auto eight = [&](std::size_t at) {
      const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at));
      const __m128i bottom = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at));
      __m128i low = _mm_madd_epi16(_mm_unpacklo_epi16(top, bottom), weights);
      __m128i high = _mm_madd_epi16(_mm_unpackhi_epi16(top, bottom), weights);
      low = _mm_srli_epi32(_mm_add_epi32(low, round), kShift);
      high = _mm_srli_epi32(_mm_add_epi32(high, round), kShift);
      return _mm_packs_epi32(low, high);
    };
    for (; v + 16 <= values; v += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + v), _mm_packus_epi16(eight(v), eight(v + 8)));
    }
#endif
    for (; v < values; ++v) {
      out[v] = static_cast<std::uint8_t>((a[v] * wa + b[v] * wb + (1u << (kShift - 1))) >> kShift);
    }
    return;
  }
  constexpr int kShift = kWeightBits + kFineBits;
  const std::int32_t* weights = rows.weights.data() + rows.offset[j];
  sums.assign(values, 1u << (kShift - 1));
  for (std::int32_t k = 0; k < rows.count[j]; ++k) {
    const std::uint16_t* a = sources[k];
    const auto w = static_cast<std::uint32_t>(weights[k]);
    for (std::size_t v = 0; v < values; ++v) sums[v] += a[v] * w;
  }
  for (std::size_t v = 0; v < values; ++v) out[v] = static_cast<std::uint8_t>(std::min(sums[v] >> kShift, 255u));
}

}  // namespace

void SmoothScalePicture(platform::Bitmap& Target, const platform::Picture& Source, std::int32_t Left, std::int32_t Top,
                        std::int32_t Width, std::int32_t Height) {
  if (Width <= 0 || Height <= 0 || Source.Width() <= 0 || Source.Height() <= 0) return;
  // The part of the rectangle inside the target, in the rectangle's own coordinates.
  const std::int32_t x0 = std::max(0, -Left), x1 = std::min(Width, Target.Width() - Left);
  const std::int32_t y0 = std::max(0, -Top), y1 = std::min(Height, Target.Height() - Top);
  if (x0 >= x1 || y0 >= y1) return;

  AxisTaps columns = MakeTaps(Source.Width(), Width, Source.BytesPerPixel());
  if (Source.BytesPerPixel() == 3 && !columns.near.empty()) MakeBlocks(columns, Source.IsBgr());
  const AxisTaps rows = MakeTaps(Source.Height(), Height, 0);
  const RowScaler scaleRow = ScalerFor(Source.BytesPerPixel(), Source.IsBgr());
  const std::size_t visible = static_cast<std::size_t>(x1 - x0);

  // Source rows scaled horizontally, kept while the rows below need them.
  // Each row has a little slack at its end for writes of whole pixels.
  const auto slots = static_cast<std::size_t>(rows.widest) + 1;
  const std::size_t slotValues = visible * 3 + 8;
  std::vector<std::uint16_t> cache(slots * slotValues);
  std::vector<std::int32_t> cached(slots, -1);
  auto scaledRow = [&](std::int32_t sy) -> const std::uint16_t* {
    std::size_t slot = static_cast<std::size_t>(sy) % slots;
    std::uint16_t* out = cache.data() + slot * slotValues;
    if (cached[slot] != sy) {
      cached[slot] = sy;
      scaleRow(Source.Row(sy), out, columns, x0, x1);
    }
    return out;
  };

  std::vector<const std::uint16_t*> sources(static_cast<std::size_t>(rows.widest));
  std::vector<std::uint32_t> sums;
  for (std::int32_t y = y0; y < y1; ++y) {
    const auto j = static_cast<std::size_t>(y);
    const std::int32_t count = rows.count[j];
    for (std::int32_t k = 0; k < count; ++k) sources[static_cast<std::size_t>(k)] = scaledRow(rows.first[j] + k);
    BlendRows(sources.data(), rows, j, Target.Row(Top + y) + static_cast<std::size_t>(Left + x0) * 3, visible * 3,
              sums);
  }
}

}  // namespace kv::render
