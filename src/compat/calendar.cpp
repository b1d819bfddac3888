// RFC 3339 reference times and validity arithmetic; see calendar.hpp.
#include "compat/calendar.hpp"

namespace vorlak {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Instants this far from the epoch are beyond any calendar use and keep the
// day arithmetic far from 64-bit limits (about 3.6e10 years).
constexpr std::int64_t kMaxAbsSeconds = std::int64_t{1} << 60;

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

std::optional<std::int64_t> instant_seconds(const ReferenceTime& t) {
  // Dates are written with four year digits; a later year has no date keys.
  if (t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > days_in_month(t.year, t.month) || t.hour > 23 ||
      t.minute > 59 || t.second > 60) {
    return std::nullopt;
  }
  const unsigned counted_second = t.second == 60 ? 59 : t.second;
  return days_from_civil(t.year, t.month, t.day) * kSecondsPerDay + t.hour * 3600 + t.minute * 60 +
         counted_second;
}

std::optional<DateTimeKeys> date_time_keys(std::int64_t seconds) {
  if (seconds > kMaxAbsSeconds || seconds < -kMaxAbsSeconds) return std::nullopt;
  const std::int64_t days = floor_div(seconds, kSecondsPerDay);
  const std::int64_t in_day = seconds - days * kSecondsPerDay;
  const CivilDate date = civil_from_days(days);
  if (date.year < 0) return std::nullopt;
  return DateTimeKeys{date.year * 10000 + date.month * 100 + date.day,
                      (in_day / 3600) * 100 + (in_day % 3600) / 60};
}

std::optional<std::int64_t> add_seconds(std::int64_t start, std::int64_t delta) {
  std::int64_t end = 0;
  if (__builtin_add_overflow(start, delta, &end)) return std::nullopt;
  return end;
}

std::optional<StepUnit> step_unit(Edition edition, std::uint8_t indicator) {
  switch (indicator) {
    case 0: return StepUnit{0, 60, 1};
    case 1: return StepUnit{1, 3600, 1};
    case 2: return StepUnit{2, 86400, 1};
    case 10: return StepUnit{10, 10800, 1};
    case 11: return StepUnit{11, 21600, 1};
    case 12: return StepUnit{12, 43200, 1};
    default: break;
  }
  if (edition == Edition::Two && indicator == 13) return StepUnit{13, 1, 1};
  if (edition == Edition::One) {
    if (indicator == 13) return StepUnit{0, 60, 15};
    if (indicator == 14) return StepUnit{0, 60, 30};
    if (indicator == 254) return StepUnit{13, 1, 1};
  }
  return std::nullopt;  // months, years, decades, ...: no length in time
}

std::int64_t seconds_per_step_unit(std::int64_t code) {
  switch (code) {
    case 0: return 60;
    case 1: return 3600;
    case 2: return 86400;
    case 10: return 10800;
    case 11: return 21600;
    case 12: return 43200;
    case 13: return 1;
    default: return 0;
  }
}

}  // namespace vorlak
