#pragma once

// Coverage masks over small rectangles of the wallpaper, and what the text
// effects do with them: blur, grow and blend a tone through them. Every
// operation works only on its mask's own rectangle, which the effects keep
// as small as the text they surround.

#include <cstdint>
#include <vector>

#include "kvplatform/image/Bitmap.h"

namespace kv::render {

// A rectangle of pixels; right and bottom are exclusive.
struct Rect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
  std::int32_t Width() const { return right - left; }
  std::int32_t Height() const { return bottom - top; }
};

Rect Union(const Rect& a, const Rect& b);
Rect Intersection(const Rect& a, const Rect& b);
Rect Grown(const Rect& r, std::int32_t by);

// A coverage mask (0..255) over one rectangle of the bitmap, empty at first.
struct AreaMask {
  explicit AreaMask(const Rect& r);
  std::uint8_t* Row(std::int32_t y) { return pixels.data() + static_cast<std::size_t>(y - area.top) * area.Width(); }
  const std::uint8_t* Row(std::int32_t y) const {
    return pixels.data() + static_cast<std::size_t>(y - area.top) * area.Width();
  }
  Rect area;
  std::vector<std::uint8_t> pixels;
};

// Two box blurs of `radius` each way, which come close to a Gaussian; the
// mask counts as empty beyond its edges, so a mask that reaches 2 x radius
// past its ink blurs exactly as a larger one would.
void Blur(AreaMask& mask, std::int32_t radius);

// The mask grown by a disc of `radius` pixels with an antialiased rim, over
// `area`: every pixel takes the largest of its neighbours' coverage, each
// weighted by how far inside the disc it lies.
AreaMask Dilated(const AreaMask& mask, double radius, const Rect& area);

// Blends `tone` over the bitmap with the mask's coverage scaled by
// `opacity` (0..256). The mask must lie inside the bitmap.
void BlendTone(platform::Bitmap& target, const AreaMask& mask, platform::ColorRef tone, std::uint32_t opacity);

}  // namespace kv::render
