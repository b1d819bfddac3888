#pragma once
// Reading packed values through 64-bit big-endian windows: the pieces shared
// by the portable and AVX2 kernels. A value of width w at bit position p lies
// in the nine bytes starting at byte p / 8; the fast loops load whole words
// while nine bytes remain and finish with a reader that touches only the
// bytes the value occupies.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorlak::kernels {

inline std::uint64_t load_be64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
}

inline std::uint32_t load_be32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap32(v);
}

// Width 1 to 64; reads only the bytes holding bits [pos, pos + width).
inline std::uint64_t read_bits_exact(const std::uint8_t* data, std::uint64_t pos, unsigned width) {
  const std::uint8_t* p = data + (pos >> 3);
  const unsigned shift = static_cast<unsigned>(pos & 7);
  const unsigned nbytes = (shift + width + 7) >> 3;  // 1 to 9
  std::uint64_t window = 0;
  for (unsigned k = 0; k < nbytes && k < 8; ++k) window |= std::uint64_t{p[k]} << (56 - 8 * k);
  window <<= shift;
  if (nbytes == 9) window |= std::uint64_t{p[8]} >> (8 - shift);
  return window >> (64 - width);
}

// Width 1 to 64; needs the nine bytes from pos / 8 to exist.
inline std::uint64_t read_bits_window(const std::uint8_t* data, std::uint64_t pos, unsigned width) {
  const std::uint8_t* p = data + (pos >> 3);
  const unsigned shift = static_cast<unsigned>(pos & 7);
  std::uint64_t window = load_be64(p) << shift;
  window |= std::uint64_t{p[8]} >> (8 - shift);  // a shift of 8 leaves nothing when aligned
  return window >> (64 - width);
}

// How many of the first `count` values (width > 0) start nine or more bytes
// before the end, so that read_bits_window may be used for them.
inline std::size_t window_safe_count(std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                                     std::size_t count) {
  if (nbytes < 9 || count == 0) return 0;
  const std::uint64_t last_start = (std::uint64_t{nbytes} - 9) * 8 + 7;  // last bit position whose byte has 8 after it
  if (bit_offset > last_start) return 0;
  if (bit_offset + std::uint64_t{width} * (count - 1) <= last_start) return count;  // no division in the usual case
  const std::uint64_t fit = (last_start - bit_offset) / width + 1;
  return fit < count ? static_cast<std::size_t>(fit) : count;
}

// Integer to double without the scalar conversion instruction: exact for
// |v| < 2^51, and a plain integer add plus a subtraction that vectorise.
inline double small_int_to_double(std::int64_t v) {
  constexpr std::uint64_t kMagicBits = 0x4338000000000000ull;  // 1.5 * 2^52
  constexpr double kMagic = 6755399441055744.0;
  std::uint64_t bits = static_cast<std::uint64_t>(v) + kMagicBits;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d - kMagic;
}

// True when every x + add (x of `width` bits) stays within small_int_to_double's range.
inline bool sums_are_small(unsigned width, std::uint64_t add) {
  const auto a = static_cast<std::int64_t>(add);
  constexpr std::int64_t kLimit = std::int64_t{1} << 50;
  return width <= 50 && a >= -kLimit && a <= kLimit;
}

}  // namespace vorlak::kernels
