// Spreading packed values over the grid: one pass over the bitmap, the packed
// values in order at present points, NaN at absent ones.
#include <algorithm>
#include <limits>

#include "grib/decode_message.hpp"

namespace vorlak {

std::vector<double> apply_bitmap(const Bitmap& bitmap, std::vector<double>&& packed) {
  constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> consumed = std::move(packed);
  const double* next = consumed.data();
  const double* const end = next + consumed.size();

  std::vector<double> out;
  out.reserve(bitmap.size);
  // Whole octets first: all-present and all-absent octets skip the bit tests.
  const std::uint64_t whole_octets = std::min<std::uint64_t>(bitmap.size / 8, bitmap.bits.size());
  for (std::uint64_t octet = 0; octet < whole_octets; ++octet) {
    const std::uint8_t flags = bitmap.bits[octet];
    if (flags == 0xFF && end - next >= 8) {
      out.insert(out.end(), next, next + 8);
      next += 8;
    } else if (flags == 0) {
      out.insert(out.end(), 8, kMissing);
    } else {
      for (int bit = 7; bit >= 0; --bit) {
        const bool present = (flags >> bit) & 1u;
        out.push_back(present && next != end ? *next++ : kMissing);
      }
    }
  }
  for (std::uint64_t i = whole_octets * 8; i < bitmap.size; ++i) {
    const bool present = (i >> 3) < bitmap.bits.size() && bitmap.present(i);
    out.push_back(present && next != end ? *next++ : kMissing);
  }
  return out;
}

}  // namespace vorlak
