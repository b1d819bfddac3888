#pragma once
// Building error texts: GCC 12 has no <format>, so texts are concatenated
// from pieces. Integers print in decimal, floating-point numbers in the
// shortest form that reads back as the same number; bytes as hexadecimal.
#include <charconv>
#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vorlak {

namespace detail {
inline void append_piece(std::string& out, std::string_view s) { out.append(s); }
inline void append_piece(std::string& out, const char* s) { out.append(s); }
inline void append_piece(std::string& out, const std::string& s) { out.append(s); }
inline void append_piece(std::string& out, char c) { out.push_back(c); }
template <std::integral I>
  requires(!std::same_as<I, char> && !std::same_as<I, bool>)
void append_piece(std::string& out, I value) {
  if constexpr (sizeof(I) == 1) {
    out.append(std::to_string(static_cast<int>(value)));
  } else {
    out.append(std::to_string(value));
  }
}
template <std::floating_point F>
void append_piece(std::string& out, F value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}
}  // namespace detail

// Lower-case hexadecimal digits of the bytes, two an octet (a grid's UUID).
inline std::string hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

template <class... Pieces>
std::string str_cat(const Pieces&... pieces) {
  std::string out;
  (detail::append_piece(out, pieces), ...);
  return out;
}

}  // namespace vorlak
