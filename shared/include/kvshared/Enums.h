#pragma once

// The four enumerations of the settings. They travel as plain integers (the
// settings store them as decimal text), so they are unscoped.

#include <cstdint>

namespace kv {

enum BackgroundMode : std::int32_t {
  bgmTile = 0,
  bgmStretch = 1,
  bgmCenter = 2,
};

enum wpFrequency : std::int32_t {
  wpMinute = 0,
  wpFiveMinutes = 1,
  wpQuarter = 2,
  wpHalfHour = 3,
  wpHourly = 4,
  wpDaily = 5,
  wpWeekly = 6,
  wpMonthly = 7,
  wpBoot = 8,
};

enum kvpHAlign : std::int32_t {
  kvphaLeft = 0,
  kvphaRight = 1,
  kvphaCenter = 2,
  kvphaRandom = 3,
};

enum kvpVAlign : std::int32_t {
  kvpvaTop = 0,
  kvpvaBottom = 1,
  kvpvaCenter = 2,
  kvpvaRandom = 3,
};

}  // namespace kv
