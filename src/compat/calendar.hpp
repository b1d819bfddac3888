#pragma once
// Reference and validity times: RFC 3339 parsing and proleptic Gregorian
// arithmetic in UTC, on seconds since 1970-01-01T00:00:00Z.
#include <cstdint>
#include <optional>
#include <string_view>

namespace vorlak {

constexpr bool is_leap_year(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr unsigned days_in_month(std::int64_t year, unsigned month) {
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (month == 2 && is_leap_year(year)) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12, day
// 1..31). Exact for every year whose day count fits comfortably in 64 bits;
// callers keep |year| below 2^40.
constexpr std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// The inverse of days_from_civil, for |days| below 2^50.
constexpr CivilDate civil_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

// An RFC 3339 date-time ("2024-02-28T18:00:00Z", "... 18:00:00.5+01:00")
// as seconds since the epoch in UTC; nullopt when the text is not one. A
// leap second (60) is accepted and counted as the minute's last second, so
// it never moves the minute.
std::optional<std::int64_t> parse_rfc3339(std::string_view text);

// The date and time keys of an instant: YYYYMMDD and HHMM. Absent for an
// instant before year 0 or too far out to be written that way.
struct DateTimeKeys {
  std::int64_t date;
  std::int64_t time;
};
std::optional<DateTimeKeys> date_time_keys(std::int64_t seconds);

// The instant `steps` units after `start`; nullopt on overflow.
std::optional<std::int64_t> add_steps(std::int64_t start, std::uint32_t steps,
                                      std::int64_t seconds_per_step);

// Unit-of-time-range name (as in the record) to its code, and the code's
// length in seconds.
std::optional<std::int64_t> step_unit_code(std::string_view name);
std::int64_t seconds_per_step_unit(std::int64_t code);

}  // namespace vorlak
