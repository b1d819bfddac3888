// Template 5.61, simple packing with logarithm pre-processing. Section 7 is
// laid out as for template 5.0 and unpacks to Z = ((X as double) * 2^E + R)
// * 10^(-D); the producer packed Z = ln(Y + B), so the value is
// Y = exp(Z) - B, with B the IEEE single-precision number of section 5
// octets 21-24.
#include <bit>
#include <cmath>

#include "grib/simple_values.hpp"
#include "grib/value_buffer.hpp"
#include "grib/value_count.hpp"

namespace vorlak {

Result<Values> unpack_logarithmic(Bytes payload, const DataRepresentation& drs, std::uint64_t count) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  if (count == 0) return Values{};
  if (!drs.preProcessingParameter) {
    return fail("section 5 template 61 too short: the pre-processing parameter is missing");
  }
  const double B = static_cast<double>(std::bit_cast<float>(*drs.preProcessingParameter));
  Values values = zeroed_values(count);
  if (auto unpacked = unpack_simple_into(payload, drs, count, values.data()); !unpacked) return fail(unpacked.error());
  for (double& v : values) v = std::exp(v) - B;
  return values;
}

}  // namespace vorlak
