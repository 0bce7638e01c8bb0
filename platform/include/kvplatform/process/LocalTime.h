#pragma once

// Local date and time to the second, as the schedule stores it
// ("2026-12-06T08:30:00", ISO 8601 without a zone), and the monotonic
// millisecond clock.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

struct LocalDateTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  bool operator==(const LocalDateTime&) const = default;
};

LocalDateTime Now();

std::string FormatIso(const LocalDateTime& when);
// The date and time of `text`, or nullopt when it does not read as one. The
// year may have more than four digits, as FormatIso writes a year past 9999.
std::optional<LocalDateTime> ParseIso(std::string_view text);

// `days` whole days later, by the calendar, keeping the time of day.
LocalDateTime AddDays(const LocalDateTime& when, int days);

// `seconds` later by the clock on the wall.
LocalDateTime AddSeconds(const LocalDateTime& when, std::int64_t seconds);

// The number of minute boundaries from `from` to `to` (both truncated to the
// minute): positive when `to` lies later.
std::int64_t MinutesBetween(const LocalDateTime& from, const LocalDateTime& to);

// Milliseconds of the monotonic clock, wrapping around like a 32-bit counter.
std::uint32_t TickCountMs();

}  // namespace kv::platform
