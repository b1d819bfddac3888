// The conversions of the typed key readers: double to long, strict decimal
// parsing, the shortest positional text of a double, and a key's value as
// each typed reader gives it.
#include "core/key_lookup.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace vorlak {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ascii_lower(text[i]) != lower_word[i]) return false;
  }
  return true;
}

}  // namespace

std::int64_t saturating_double_to_long(double value) {
  if (std::isnan(value)) return 0;
  constexpr double two_to_63 = 9223372036854775808.0;
  if (value >= two_to_63) return std::numeric_limits<std::int64_t>::max();
  if (value <= -two_to_63) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);  // truncates toward zero
}

std::optional<std::int64_t> parse_decimal_long(std::string_view text) {
  bool negative = false;
  std::size_t i = 0;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return std::nullopt;
  // Accumulate the magnitude as unsigned; -2^63 has no positive counterpart.
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!is_digit(text[i])) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (negative) return static_cast<std::int64_t>(0 - magnitude);
  return static_cast<std::int64_t>(magnitude);
}

std::optional<double> parse_decimal_double(std::string_view text) {
  bool negative = false;
  std::string_view body = text;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  const double sign = negative ? -1.0 : 1.0;
  if (equals_ignoring_ascii_case(body, "inf") || equals_ignoring_ascii_case(body, "infinity")) {
    return sign * std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_ascii_case(body, "nan")) {
    return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
  }

  // digits [. digits] | . digits, then an optional exponent.
  std::size_t i = 0;
  std::size_t digits = 0;
  // Position of the first non-zero digit relative to the decimal point, for
  // telling overflow from underflow when the value is out of range.
  std::int64_t leading_power = 0;
  bool seen_nonzero = false;
  std::int64_t integer_digits_after_first = 0;
  while (i < body.size() && is_digit(body[i])) {
    if (body[i] != '0') seen_nonzero = true;
    if (seen_nonzero) ++integer_digits_after_first;
    ++digits;
    ++i;
  }
  if (seen_nonzero) leading_power = integer_digits_after_first;
  if (i < body.size() && body[i] == '.') {
    ++i;
    std::int64_t zeros = 0;
    while (i < body.size() && is_digit(body[i])) {
      if (!seen_nonzero) {
        if (body[i] == '0') {
          ++zeros;
        } else {
          seen_nonzero = true;
          leading_power = -zeros;
        }
      }
      ++digits;
      ++i;
    }
  }
  if (digits == 0) return std::nullopt;
  std::int64_t exponent = 0;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) {
      exponent_negative = body[i] == '-';
      ++i;
    }
    if (i == body.size()) return std::nullopt;
    for (; i < body.size(); ++i) {
      if (!is_digit(body[i])) return std::nullopt;
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (body[i] - '0');  // saturates
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (i != body.size()) return std::nullopt;

  double value = 0.0;
#if defined(__cpp_lib_to_chars)
  const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value,
                                         std::chars_format::general);
#else
  // libc++ 16 (the fuzz build) has no floating-point from_chars; the text is
  // already checked to be plain digits, point and exponent, which strtod
  // reads alike in the C locale.
  const std::string terminated(body);
  char* stop = nullptr;
  errno = 0;
  value = std::strtod(terminated.c_str(), &stop);
  const char* end = body.data() + (stop - terminated.c_str());
  const std::errc ec = errno == ERANGE ? std::errc::result_out_of_range : std::errc();
#endif
  if (ec == std::errc::result_out_of_range) {
    // Too large rounds to infinity, too small to zero.
    value = (leading_power + exponent > 0) ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || end != body.data() + body.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

std::string format_double(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // The shortest digits that read back as the same double, as d.ddde±x.
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  (void)ec;  // 64 characters always hold a scientific double
  std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  std::string out;
  if (!text.empty() && text[0] == '-') {
    out.push_back('-');
    text.remove_prefix(1);
  }
  const std::size_t e = text.find('e');
  std::string digits;
  for (char c : text.substr(0, e)) {
    if (c != '.') digits.push_back(c);
  }
  int exponent = 0;
  std::string_view exponent_text = text.substr(e + 1);
  if (!exponent_text.empty() && exponent_text[0] == '+') exponent_text.remove_prefix(1);
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  // The value is 0.digits x 10^point.
  const long point = static_cast<long>(exponent) + 1;
  const long count = static_cast<long>(digits.size());
  if (point <= 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(digits);
  } else if (point >= count) {
    out.append(digits);
    out.append(static_cast<std::size_t>(point - count), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(point), std::string::npos);
  }
  return out;
}

CodesResult<std::int64_t> value_as_long(const KeyValue& value, std::string_view name) {
  switch (value.tag()) {
    case KeyTag::Long: return std::get<std::int64_t>(value.value);
    case KeyTag::Double: return saturating_double_to_long(std::get<double>(value.value));
    case KeyTag::String:
      if (auto parsed = parse_decimal_long(std::get<std::string>(value.value))) return *parsed;
      break;
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(name), "long", value.type_name()));
}

CodesResult<double> value_as_double(const KeyValue& value, std::string_view name) {
  switch (value.tag()) {
    case KeyTag::Long: return static_cast<double>(std::get<std::int64_t>(value.value));
    case KeyTag::Double: return std::get<double>(value.value);
    case KeyTag::String:
      if (auto parsed = parse_decimal_double(std::get<std::string>(value.value))) return *parsed;
      break;
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(name), "double", value.type_name()));
}

CodesResult<std::string> value_as_text(KeyValue value, std::string_view name) {
  switch (value.tag()) {
    case KeyTag::Long: return std::to_string(std::get<std::int64_t>(value.value));
    case KeyTag::Double: return format_double(std::get<double>(value.value));
    case KeyTag::String: return std::move(std::get<std::string>(value.value));
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(name), "string", value.type_name()));
}

}  // namespace vorlak
