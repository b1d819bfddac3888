#pragma once
// Reference and validity times: proleptic Gregorian arithmetic in UTC, on
// seconds since 1970-01-01T00:00:00Z, and the units of time ranges.
#include <cstdint>
#include <optional>

#include "grib/message_record.hpp"

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

// The instant a message states (year, month, day, hour, minute, second) as
// seconds since the epoch; nullopt unless it is a calendar date of a year
// up to 9999 with hour up to 23 and minute up to 59. A leap second (60) counts as the minute's
// last second, so it never moves the minute.
std::optional<std::int64_t> instant_seconds(const ReferenceTime& t);

// The date and time keys of an instant: YYYYMMDD and HHMM. Absent for an
// instant before year 0 or too far out to be written that way.
struct DateTimeKeys {
  std::int64_t date;
  std::int64_t time;
};
std::optional<DateTimeKeys> date_time_keys(std::int64_t seconds);

// start + delta; nullopt on overflow.
std::optional<std::int64_t> add_seconds(std::int64_t start, std::int64_t delta);

// The step unit of a unit-of-time-range code: the `stepUnits` code (GRIB2
// code table 4.4), its length in seconds, and how many of them one unit of
// the message is. Edition 1 table 4 has 15 minutes (13), 30 minutes (14)
// and the second (254) besides GRIB2's codes; months, years and the like
// have no length in time and no step unit.
struct StepUnit {
  std::int64_t code;
  std::int64_t seconds;
  std::int64_t per_unit;
};
std::optional<StepUnit> step_unit(Edition edition, std::uint8_t indicator);

// Length in seconds of a `stepUnits` code (0 for codes without one).
std::int64_t seconds_per_step_unit(std::int64_t code);

}  // namespace vorlak
