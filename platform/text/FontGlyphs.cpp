// Rendering a font's glyphs into images and drawing them into bitmaps and
// coverage masks.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H

#include <algorithm>
#include <cmath>

#include "FontInternal.h"

namespace kv::platform {
namespace {

// Blends `value` (0..255) of `color` over `target`: exact to the nearest
// level, without a division.
inline std::uint8_t Blend(std::uint8_t target, std::uint8_t color, unsigned value) {
  unsigned mixed = color * value + target * (255 - value) + 128;
  return static_cast<std::uint8_t>((mixed + (mixed >> 8)) >> 8);
}

// Copies a grey bitmap of any depth into `glyph` as 0..255 coverage.
void TakeCoverage(const FT_Bitmap& source, Glyph& glyph) {
  glyph.width = static_cast<std::int32_t>(source.width);
  glyph.rows = static_cast<std::int32_t>(source.rows);
  glyph.coverage.resize(static_cast<std::size_t>(glyph.width) * static_cast<std::size_t>(glyph.rows));
  unsigned levels = source.num_grays > 1 ? source.num_grays - 1 : 1;
  for (std::int32_t row = 0; row < glyph.rows; ++row) {
    const unsigned char* in = source.buffer + static_cast<std::ptrdiff_t>(row) * source.pitch;
    std::uint8_t* out = glyph.coverage.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(glyph.width);
    for (std::int32_t column = 0; column < glyph.width; ++column) {
      out[column] = levels == 255 ? in[column] : static_cast<std::uint8_t>(std::min(255u, in[column] * 255u / levels));
    }
  }
}

// Scales a premultiplied BGRA bitmap by `scale`, each target pixel the mean
// of the source pixels it covers, into `glyph` (colours and opacity).
void TakeScaledColour(const FT_Bitmap& source, double scale, Glyph& glyph) {
  const auto sourceWidth = static_cast<std::int32_t>(source.width), sourceRows = static_cast<std::int32_t>(source.rows);
  glyph.width = std::max(1, RoundToInt32(sourceWidth * scale));
  glyph.rows = std::max(1, RoundToInt32(sourceRows * scale));
  const std::size_t pixels = static_cast<std::size_t>(glyph.width) * static_cast<std::size_t>(glyph.rows);
  glyph.bgra.assign(pixels * 4, 0);
  glyph.coverage.assign(pixels, 0);
  auto span = [](std::int32_t at, double step, std::int32_t limit) {
    auto first = std::clamp(static_cast<std::int32_t>(std::floor(at * step)), 0, limit - 1);
    auto last = std::clamp(static_cast<std::int32_t>(std::ceil((at + 1) * step)), first + 1, limit);
    return std::pair{first, last};
  };
  const double stepX = static_cast<double>(sourceWidth) / glyph.width, stepY = static_cast<double>(sourceRows) / glyph.rows;
  for (std::int32_t y = 0; y < glyph.rows; ++y) {
    auto [y0, y1] = span(y, stepY, sourceRows);
    for (std::int32_t x = 0; x < glyph.width; ++x) {
      auto [x0, x1] = span(x, stepX, sourceWidth);
      unsigned sum[4] = {0, 0, 0, 0};
      for (std::int32_t sy = y0; sy < y1; ++sy) {
        const unsigned char* in = source.buffer + static_cast<std::ptrdiff_t>(sy) * source.pitch + x0 * 4;
        for (std::int32_t sx = x0; sx < x1; ++sx, in += 4) {
          for (int c = 0; c < 4; ++c) sum[c] += in[c];
        }
      }
      const auto count = static_cast<unsigned>((y1 - y0) * (x1 - x0));
      std::uint8_t* out = glyph.bgra.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(glyph.width) + static_cast<std::size_t>(x)) * 4;
      for (int c = 0; c < 4; ++c) out[c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
      glyph.coverage[static_cast<std::size_t>(y) * static_cast<std::size_t>(glyph.width) + static_cast<std::size_t>(x)] = out[3];
    }
  }
}

// The part of a glyph image placed at (left, top) that lies inside a
// width x height plane, as a visitor over the covered pixels.
template <typename Visit>
void ForEachPixel(const Glyph& glyph, std::int64_t left, std::int64_t top, std::int32_t width, std::int32_t height,
                  Visit visit) {
  const std::int64_t x0 = std::max<std::int64_t>(left, 0), x1 = std::min<std::int64_t>(left + glyph.width, width);
  const std::int64_t y0 = std::max<std::int64_t>(top, 0), y1 = std::min<std::int64_t>(top + glyph.rows, height);
  for (std::int64_t row = y0; row < y1; ++row) {
    const std::size_t base = static_cast<std::size_t>(row - top) * static_cast<std::size_t>(glyph.width);
    for (std::int64_t column = x0; column < x1; ++column) {
      const std::size_t at = base + static_cast<std::size_t>(column - left);
      if (glyph.coverage[at] != 0) visit(static_cast<std::int32_t>(column), static_cast<std::int32_t>(row), at);
    }
  }
}

}  // namespace

Result<const Glyph*> Font::Impl::Render(FT_UInt index) {
  if (auto found = glyphs.find(index); found != glyphs.end()) return &found->second;
  KV_TRY(SetDrawingSize());
  Glyph glyph;
  if (colorStrikes) {
    if (FT_Load_Glyph(face, index, FT_LOAD_COLOR) == 0) {
      const FT_GlyphSlot slot = face->glyph;
      if (slot->bitmap.pixel_mode == FT_PIXEL_MODE_BGRA && slot->bitmap.width > 0 && slot->bitmap.rows > 0) {
        TakeScaledColour(slot->bitmap, strikeScale, glyph);
        glyph.left = RoundToInt32(slot->bitmap_left * strikeScale);
        glyph.top = RoundToInt32(slot->bitmap_top * strikeScale);
      }
    }
  } else if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) == 0 &&
             (face->glyph->format == FT_GLYPH_FORMAT_BITMAP || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) == 0)) {
    FT_GlyphSlot slot = face->glyph;
    FT_Bitmap converted;
    FT_Bitmap_Init(&converted);
    bool grey = slot->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && slot->bitmap.num_grays == 256;
    if (grey) {
      TakeCoverage(slot->bitmap, glyph);
    } else if (FT_Bitmap_Convert(library, &slot->bitmap, &converted, 1) == 0) {
      TakeCoverage(converted, glyph);
    }
    if (!glyph.coverage.empty()) glyph.left = slot->bitmap_left, glyph.top = slot->bitmap_top;
    FT_Bitmap_Done(library, &converted);
  }
  return &glyphs.emplace(index, std::move(glyph)).first->second;
}

Status Font::Draw(Bitmap& target, char32_t code, std::int32_t x, std::int32_t y, ColorRef color) {
  return DrawGlyph(target, impl_->GlyphIndex(code), x, static_cast<std::int32_t>(std::clamp<std::int64_t>(
                                                          std::int64_t{y} + impl_->metrics.ascent, INT32_MIN, INT32_MAX)),
                   color);
}

Status Font::DrawGlyph(Bitmap& target, std::uint32_t glyphIndex, std::int32_t x, std::int32_t baseline,
                       ColorRef color) {
  KV_TRY_ASSIGN(const Glyph* glyph, impl_->Render(glyphIndex));
  if (glyph->coverage.empty()) return Ok();
  const std::int64_t left = std::int64_t{x} + glyph->left;
  const std::int64_t top = std::int64_t{baseline} - glyph->top;
  if (!glyph->bgra.empty()) {
    // Premultiplied colour over what is there.
    ForEachPixel(*glyph, left, top, target.Width(), target.Height(), [&](std::int32_t column, std::int32_t row, std::size_t at) {
      const std::uint8_t* in = glyph->bgra.data() + at * 4;
      std::uint8_t* pixel = target.Row(row) + static_cast<std::size_t>(column) * 3;
      const unsigned keep = 255u - in[3];
      for (int c = 0; c < 3; ++c) pixel[c] = static_cast<std::uint8_t>(std::min(255u, in[c] + (pixel[c] * keep + 127u) / 255u));
    });
    return Ok();
  }
  const std::uint8_t blue = BlueOf(color), green = GreenOf(color), red = RedOf(color);
  ForEachPixel(*glyph, left, top, target.Width(), target.Height(), [&](std::int32_t column, std::int32_t row, std::size_t at) {
    const unsigned value = glyph->coverage[at];
    std::uint8_t* pixel = target.Row(row) + static_cast<std::size_t>(column) * 3;
    if (value == 255) {
      pixel[0] = blue, pixel[1] = green, pixel[2] = red;
    } else {
      pixel[0] = Blend(pixel[0], blue, value);
      pixel[1] = Blend(pixel[1], green, value);
      pixel[2] = Blend(pixel[2], red, value);
    }
  });
  return Ok();
}

Status Font::DrawGlyphCoverage(std::uint8_t* mask, std::int32_t maskWidth, std::int32_t maskHeight,
                               std::uint32_t glyphIndex, std::int32_t x, std::int32_t baseline) {
  if (mask == nullptr || maskWidth < 0 || maskHeight < 0) {
    return Fail(ErrorCode::InvalidArgument, "a glyph was drawn into no coverage mask");
  }
  KV_TRY_ASSIGN(const Glyph* glyph, impl_->Render(glyphIndex));
  if (glyph->coverage.empty()) return Ok();
  ForEachPixel(*glyph, std::int64_t{x} + glyph->left, std::int64_t{baseline} - glyph->top, maskWidth, maskHeight,
               [&](std::int32_t column, std::int32_t row, std::size_t at) {
                 std::uint8_t& out = mask[static_cast<std::size_t>(row) * static_cast<std::size_t>(maskWidth) +
                                          static_cast<std::size_t>(column)];
                 out = std::max(out, glyph->coverage[at]);
               });
  return Ok();
}

}  // namespace kv::platform
