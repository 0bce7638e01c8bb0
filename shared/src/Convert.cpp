#include "kvshared/Convert.h"

#include <cstdint>
#include <string>

#include "kvplatform/base/Text.h"

namespace kv {

Result<std::int32_t> TextToInt32(std::string_view text) {
  auto notANumber = [&] {
    return Fail(ErrorCode::InvalidArgument, "\"" + std::string(text) + "\" is not a number");
  };
  std::string_view s = platform::TrimWhitespace(text);
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';

  constexpr std::int64_t kLimit = std::int64_t{1} << 32;  // past either end of the range
  std::int64_t magnitude = 0;
  bool anyDigit = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    anyDigit = true;
    if (magnitude < kLimit) magnitude = magnitude * 10 + (s[i] - '0');
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    int first = -1;        // the first fractional digit
    bool restNonZero = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      anyDigit = true;
      if (first < 0) {
        first = s[i] - '0';
      } else if (s[i] != '0') {
        restNonZero = true;
      }
    }
    // Nearest integer; an exact half goes to the even neighbour.
    if (first > 5 || (first == 5 && restNonZero) || (first == 5 && !restNonZero && magnitude % 2 == 1)) {
      ++magnitude;
    }
  }
  if (!anyDigit || i != s.size()) return notANumber();
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) {
    return Fail(ErrorCode::InvalidArgument, "\"" + std::string(text) + "\" is too large for a setting");
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace kv
