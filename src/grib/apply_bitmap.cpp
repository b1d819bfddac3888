// Spreading packed values over the grid: the packed values in order at
// present points, NaN at absent ones. In place, from the last point back:
// the k-th present point is never before position k, so each packed value
// moves up (or stays) and nothing is overwritten before it has been moved.
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "grib/decode_message.hpp"

namespace vorlak {

void expand_bitmap_in_place(const Bitmap& bitmap, std::span<double> out, std::uint64_t packed) {
  constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
  const std::uint64_t size = std::min<std::uint64_t>(bitmap.size, out.size());
  const std::uint8_t* bits = bitmap.bits.data();
  const auto present = [&](std::uint64_t i) { return (i >> 3) < bitmap.bits.size() && bitmap.present(i); };
  // The number of present points: one past the packed value of the last.
  std::uint64_t next = 0;
  const std::uint64_t whole_octets = std::min<std::uint64_t>(size / 8, bitmap.bits.size());
  for (std::uint64_t octet = 0; octet < whole_octets; ++octet) next += std::popcount(bits[octet]);
  for (std::uint64_t i = whole_octets * 8; i < size; ++i) next += present(i);
  double* p = out.data();
  // Present points past the packed values stay missing: `next` runs down
  // through the present points, and only those below `packed` have a value.
  std::uint64_t i = size;
  for (; i > whole_octets * 8; --i) {
    p[i - 1] = present(i - 1) && --next < packed ? p[next] : kMissing;
  }
  for (std::uint64_t octet = whole_octets; octet-- > 0;) {
    const std::uint8_t flags = bits[octet];
    i = octet * 8;
    if (flags == 0xFF && next <= packed) {
      next -= 8;
      std::memmove(p + i, p + next, 8 * sizeof(double));
    } else if (flags == 0) {
      std::fill_n(p + i, 8, kMissing);
    } else {
      for (unsigned k = 8; k-- > 0;) {
        const bool on = (flags >> (7 - k)) & 1u;
        if (on) --next;
        p[i + k] = on && next < packed ? p[next] : kMissing;
      }
    }
  }
}

std::vector<double> apply_bitmap(const Bitmap& bitmap, std::vector<double>&& packed) {
  std::vector<double> out = std::move(packed);
  const std::uint64_t have = out.size();
  out.resize(bitmap.size);
  expand_bitmap_in_place(bitmap, out, std::min<std::uint64_t>(have, bitmap.size));
  return out;
}

}  // namespace vorlak
