#include "grib/bit_reader.hpp"

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

}  // namespace vorlak
