#include "grib/bit_reader.hpp"

#include "grib/value_count.hpp"

namespace vorlak {

double int_power(double base, std::int32_t exponent) {
  std::uint32_t n = exponent < 0 ? 0u - static_cast<std::uint32_t>(exponent) : static_cast<std::uint32_t>(exponent);
  double result = (n & 1u) ? base : 1.0;
  while (n >> 1) {
    n >>= 1;
    base *= base;
    if (n & 1u) result *= base;
  }
  return exponent < 0 ? 1.0 / result : result;
}

ScaleFactors scale_factors(const DataRepresentation& drs) {
  ScaleFactors s;
  s.reference = static_cast<double>(std::bit_cast<float>(drs.reference_value_bits));
  s.binary = int_power(2.0, drs.binaryScaleFactor);
  s.decimal = int_power(10.0, -static_cast<std::int32_t>(drs.decimalScaleFactor));
  return s;
}

Result<std::vector<std::uint64_t>> BitReader::read_values(unsigned width, std::uint64_t count) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  if (width == 0) {
    // Nothing is consumed, so only the bound above limits the count.
    return std::vector<std::uint64_t>(count, 0);
  }
  if (width > 64) return fail(kReadWidthTooLarge);
  if (count == 0) return std::vector<std::uint64_t>{};
  // The whole run is checked before anything is allocated; an error drops
  // every value of the call, so failing up front is the same as failing on
  // the first value that runs short.
  if (!has_bits(width, count)) return fail(kNotEnoughPackedBits);
  std::vector<std::uint64_t> values(count);
  active_kernels().unpack(bytes_.data(), bytes_.size(), position_, width, count, values.data());
  position_ += width * count;
  return values;
}

}  // namespace vorlak
