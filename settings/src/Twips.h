#pragma once

// The window is designed in twips. At 96 dpi one pixel is 15 twips; the
// results are Qt's device-independent pixels, which Qt multiplies by the
// screen's device-pixel ratio when it draws, so on a high-density screen the
// window keeps its size and stays sharp.

#include <QRect>

namespace kv::settings {

inline constexpr int kTwipsPerPixel = 15;

// The nearest integer, an exact half going to the even neighbour (6.5 is 6,
// 7.5 is 8), as everywhere in the system.
constexpr int RoundHalfEven(int numerator, int denominator) {
  int quotient = numerator / denominator;
  int remainder = numerator % denominator;
  if (remainder < 0) {
    remainder += denominator;
    --quotient;
  }
  int twice = 2 * remainder;
  if (twice > denominator || (twice == denominator && quotient % 2 != 0)) ++quotient;
  return quotient;
}

constexpr int Px(int twips) { return RoundHalfEven(twips, kTwipsPerPixel); }

constexpr QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

}  // namespace kv::settings
