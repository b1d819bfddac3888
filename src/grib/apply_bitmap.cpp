// Spreading packed values over the grid: the packed values in order at
// present points, NaN at absent ones. In place, from the last point back:
// the k-th present point is never before position k, so each packed value
// moves up (or stays) and nothing is overwritten before it has been moved
// (a block of them moves with memmove, which allows the overlap).
#include <algorithm>
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
  const std::uint64_t whole_octets = std::min<std::uint64_t>(size / 8, bitmap.bits.size());
  std::uint64_t next = Bitmap::count_set_bits(bits, whole_octets);
  for (std::uint64_t i = whole_octets * 8; i < size; ++i) next += present(i);
  double* p = out.data();
  // Present points past the packed values stay missing: `next` runs down
  // through the present points, and only those below `packed` have a value.
  std::uint64_t i = size;
  for (; i > whole_octets * 8; --i) {
    p[i - 1] = present(i - 1) && --next < packed ? p[next] : kMissing;
  }
  // Whole octets from the last one back. Runs of all-present octets move
  // as one block and runs of all-absent ones fill as one; an octet of both
  // goes point by point.
  std::uint64_t octet = whole_octets;
  while (octet > 0) {
    const std::uint8_t flags = bits[octet - 1];
    std::uint64_t first = octet - 1;  // the run's first octet
    if (flags == 0xFF && next <= packed) {
      while (first > 0 && bits[first - 1] == 0xFF) --first;
      const std::uint64_t points = 8 * (octet - first);
      next -= points;
      std::memmove(p + 8 * first, p + next, points * sizeof(double));
    } else if (flags == 0) {
      while (first > 0 && bits[first - 1] == 0) --first;
      std::fill(p + 8 * first, p + 8 * octet, kMissing);
    } else {
      // Without branches, which these octets would mispredict: an absent
      // point reads p[next] too (next is at most its position) and drops it.
      i = first * 8;
      for (unsigned k = 8; k-- > 0;) {
        const unsigned on = (flags >> (7 - k)) & 1u;
        next -= on;
        const double value = p[next];
        p[i + k] = (on & static_cast<unsigned>(next < packed)) != 0 ? value : kMissing;
      }
    }
    octet = first;
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
