#pragma once

#include <cstdint>

#include "kvplatform/image/Bitmap.h"
#include "kvplatform/image/Picture.h"

namespace kv::render {

// Scales the whole `Source` onto the rectangle of `Width` x `Height` pixels
// whose top-left corner is (Left, Top) in `Target`, filtered: along an axis
// that shrinks every target pixel is the average of the source area it
// covers, along one that grows it is interpolated between the two nearest
// source pixels. An axis that keeps its size copies pixels exactly. What
// falls outside `Target` is cut off.
void SmoothScalePicture(platform::Bitmap& Target, const platform::Picture& Source, std::int32_t Left, std::int32_t Top,
                        std::int32_t Width, std::int32_t Height);

}  // namespace kv::render
