#include "kvplatform/process/LocalTime.h"

#include <cstdio>
#include <ctime>

namespace kv::platform {
namespace {

std::tm ToTm(const LocalDateTime& when) {
  std::tm parts{};
  parts.tm_year = when.year - 1900;
  parts.tm_mon = when.month - 1;
  parts.tm_mday = when.day;
  parts.tm_hour = when.hour;
  parts.tm_min = when.minute;
  parts.tm_sec = when.second;
  parts.tm_isdst = -1;
  return parts;
}

LocalDateTime FromTm(const std::tm& parts) {
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

// Minutes since an arbitrary epoch, counted on the wall clock (as the date
// reads), so a daylight-saving change does not shift a stored time of day.
std::int64_t WallMinutes(const LocalDateTime& when) {
  // Days from civil (proleptic Gregorian), after H. Hinnant's algorithm.
  int y = when.year - (when.month <= 2 ? 1 : 0);
  int era = (y >= 0 ? y : y - 399) / 400;
  int yearOfEra = y - era * 400;
  int monthIndex = when.month + (when.month > 2 ? -3 : 9);
  int dayOfYear = (153 * monthIndex + 2) / 5 + when.day - 1;
  int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  std::int64_t days = static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
  return days * 1440 + when.hour * 60 + when.minute;
}

}  // namespace

LocalDateTime Now() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return FromTm(parts);
}

std::string FormatIso(const LocalDateTime& when) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", when.year, when.month, when.day, when.hour,
                when.minute, when.second);
  return text;
}

std::optional<LocalDateTime> ParseIso(std::string_view text) {
  // The year has four digits or more: a clock past the year 9999 gives five.
  size_t yearDigits = text.find('-');
  if (yearDigits < 4 || yearDigits > 9 || text.size() != yearDigits + 15) return std::nullopt;
  std::string_view rest = text.substr(yearDigits);
  if (rest[0] != '-' || rest[3] != '-' || rest[6] != 'T' || rest[9] != ':' || rest[12] != ':') return std::nullopt;
  auto number = [](std::string_view digits) -> int {
    int value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return -1;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  LocalDateTime when{number(text.substr(0, yearDigits)), number(rest.substr(1, 2)), number(rest.substr(4, 2)),
                     number(rest.substr(7, 2)),          number(rest.substr(10, 2)), number(rest.substr(13, 2))};
  if (when.year < 1 || when.month < 1 || when.month > 12 || when.day < 1 || when.hour < 0 || when.hour > 23 ||
      when.minute < 0 || when.minute > 59 || when.second < 0 || when.second > 59) {
    return std::nullopt;
  }
  // A day the month does not have (February 30th) is not a date.
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = when.year % 4 == 0 && (when.year % 100 != 0 || when.year % 400 == 0);
  if (when.day > kDays[when.month - 1] + (when.month == 2 && leap ? 1 : 0)) return std::nullopt;
  return when;
}

LocalDateTime AddDays(const LocalDateTime& when, int days) {
  std::tm parts = ToTm(when);
  parts.tm_mday += days;
  parts.tm_hour = 12;  // normalise the date at noon, then put the time of day back
  std::mktime(&parts);
  LocalDateTime result = FromTm(parts);
  result.hour = when.hour;
  result.minute = when.minute;
  result.second = when.second;
  return result;
}

LocalDateTime AddSeconds(const LocalDateTime& when, std::int64_t seconds) {
  std::tm parts = ToTm(when);
  parts.tm_sec += static_cast<int>(seconds);
  std::mktime(&parts);
  return FromTm(parts);
}

std::int64_t MinutesBetween(const LocalDateTime& from, const LocalDateTime& to) {
  return WallMinutes(to) - WallMinutes(from);
}

std::uint32_t TickCountMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
  return static_cast<std::uint32_t>(ms);
}

}  // namespace kv::platform
