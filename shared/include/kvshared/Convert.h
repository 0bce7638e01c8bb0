#pragma once

#include <cstdint>
#include <string_view>

#include "kvplatform/base/Result.h"
#include "kvshared/Export.h"

namespace kv {

// The plain conversion of a decimal text to a 32-bit integer that every
// consumer of the settings uses: blanks around the number are allowed, a sign
// may lead, and a fraction is rounded to the nearest integer, an exact half
// to the even neighbour ("2.5" is 2, "3.5" is 4). Anything else, or a number
// outside the 32-bit range, fails with a message that quotes the text.
[[nodiscard]] KV_EXPORT Result<std::int32_t> TextToInt32(std::string_view text);

}  // namespace kv
