// Template 5.50, spectral data with simple packing. The real part of the
// (0,0) coefficient is not packed: section 5 keeps it in octets 21-24 as an
// IEEE single-precision number, and it is the first value. Section 7 holds
// the other count - 1 coefficients (real and imaginary parts in the order
// of the spectral representation) as template 5.0 packs values:
// bitsPerValue bits each, ((X as double) * 2^E + R) * 10^(-D).
#include <bit>

#include "grib/simple_values.hpp"
#include "grib/value_buffer.hpp"
#include "grib/value_count.hpp"

namespace vorlak {

Result<Values> unpack_spectral_simple(Bytes payload, const DataRepresentation& drs, std::uint64_t count) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  if (count == 0) return Values{};
  if (!drs.realPartOfFirstCoefficient) {
    return fail("section 5 template 50 too short: the real part of the (0,0) coefficient is missing");
  }
  Values values = zeroed_values(count);
  values[0] = static_cast<double>(std::bit_cast<float>(*drs.realPartOfFirstCoefficient));
  if (auto unpacked = unpack_simple_into(payload, drs, count - 1, values.data() + 1); !unpacked) {
    return fail(unpacked.error());
  }
  return values;
}

}  // namespace vorlak
