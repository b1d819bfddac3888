// RFC 3339 reference times and validity arithmetic; see calendar.hpp.
#include "compat/calendar.hpp"

namespace vorlak {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Instants this far from the epoch are beyond any calendar use and keep the
// day arithmetic far from 64-bit limits (about 3.6e10 years).
constexpr std::int64_t kMaxAbsSeconds = std::int64_t{1} << 60;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads `count` digits at `pos`; false if any is not a digit or the text ends.
bool read_digits(std::string_view s, std::size_t pos, std::size_t count, unsigned& out) {
  if (pos + count > s.size()) return false;
  unsigned v = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = s[pos + i];
    if (!is_digit(c)) return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  out = v;
  return true;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

// Layout: YYYY-MM-DD{T|t| }hh:mm:ss[.f+]{Z|z|(+|-)hh:mm}, nothing after.
std::optional<std::int64_t> parse_rfc3339(std::string_view s) {
  if (s.size() < 19) return std::nullopt;
  unsigned year, month, day, hour, minute, second;
  if (!read_digits(s, 0, 4, year) || s[4] != '-' || !read_digits(s, 5, 2, month) || s[7] != '-' ||
      !read_digits(s, 8, 2, day) || !(s[10] == 'T' || s[10] == 't' || s[10] == ' ') ||
      !read_digits(s, 11, 2, hour) || s[13] != ':' || !read_digits(s, 14, 2, minute) ||
      s[16] != ':' || !read_digits(s, 17, 2, second)) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 ||
      minute > 59 || second > 60) {
    return std::nullopt;
  }
  std::size_t pos = 19;
  if (pos < s.size() && s[pos] == '.') {
    const std::size_t digits_start = ++pos;
    while (pos < s.size() && is_digit(s[pos])) ++pos;
    if (pos == digits_start) return std::nullopt;
  }
  if (pos >= s.size()) return std::nullopt;
  std::int64_t offset = 0;
  if (s[pos] == 'Z' || s[pos] == 'z') {
    ++pos;
  } else if (s[pos] == '+' || s[pos] == '-') {
    unsigned oh, om;
    if (!read_digits(s, pos + 1, 2, oh) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
        !read_digits(s, pos + 4, 2, om) || oh > 23 || om > 59) {
      return std::nullopt;
    }
    offset = (s[pos] == '-' ? -1 : 1) * static_cast<std::int64_t>(oh * 3600 + om * 60);
    pos += 6;
  } else {
    return std::nullopt;
  }
  if (pos != s.size()) return std::nullopt;
  const unsigned counted_second = second == 60 ? 59 : second;
  return days_from_civil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 +
         counted_second - offset;
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

std::optional<std::int64_t> add_steps(std::int64_t start, std::uint32_t steps,
                                      std::int64_t seconds_per_step) {
  std::int64_t span = 0;
  std::int64_t end = 0;
  if (__builtin_mul_overflow(static_cast<std::int64_t>(steps), seconds_per_step, &span) ||
      __builtin_add_overflow(start, span, &end)) {
    return std::nullopt;
  }
  return end;
}

std::optional<std::int64_t> step_unit_code(std::string_view name) {
  if (name == "minute") return 0;
  if (name == "hour") return 1;
  if (name == "day") return 2;
  if (name == "3 hours") return 10;
  if (name == "6 hours") return 11;
  if (name == "12 hours") return 12;
  if (name == "second") return 13;
  return std::nullopt;  // "unit": no length in time
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
