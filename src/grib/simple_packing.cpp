// Template 5.0, simple packing. Section 7 holds `count` unsigned integers of
// bitsPerValue bits each, most significant bit first, with no padding
// between values; octets after the last value are ignored. Each integer X
// becomes ((X as double) * 2^E + R) * 10^(-D).
#include "grib/bit_reader.hpp"
#include "grib/decoders.hpp"
#include "grib/value_count.hpp"

namespace vorlak {

Result<Values> unpack_simple(Bytes payload, const DataRepresentation& drs, std::uint64_t count) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  const ScaleFactors scale = scale_factors(drs);
  const unsigned width = drs.bitsPerValue;
  if (width == 0) return Values(count, constant_value(scale));
  if (count == 0) return Values{};
  if (width > 64) return fail(kReadWidthTooLarge);
  BitReader reader(payload);
  if (!reader.has_bits(width, count)) return fail(kNotEnoughPackedBits);
  Values values(count);
  active_kernels().unpack_scaled(payload.data(), payload.size(), 0, width, count, 0, scale, values.data());
  return values;
}

}  // namespace vorlak
