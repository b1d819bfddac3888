// Template 5.50, spectral data with simple packing. The real part of the
// (0,0) coefficient is not packed: section 5 keeps it in octets 21-24 as an
// IEEE single-precision number, and it is the first value. Section 7 holds
// the other count - 1 coefficients (real and imaginary parts in the order
// of the spectral representation) as template 5.0 packs values:
// bitsPerValue bits each, ((X as double) * 2^E + R) * 10^(-D).
#include <bit>

#include "grib/decoders.hpp"
#include "grib/value_count.hpp"

namespace vorlak {

Result<void> unpack_spectral_simple_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                         const OutputProvider& output, const DecodeOptions& options) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  if (count == 0) {
    output(0);
    return {};
  }
  if (!drs.realPartOfFirstCoefficient) {
    return fail("section 5 template 50 too short: the real part of the (0,0) coefficient is missing");
  }
  const double first = static_cast<double>(std::bit_cast<float>(*drs.realPartOfFirstCoefficient));
  // The packed coefficients follow the first value in the caller's memory.
  const OutputProvider after_first = [&](std::uint64_t n) {
    const std::span<double> out = output(n + 1);
    out[0] = first;
    return out.subspan(1);
  };
  return unpack_simple_into(payload, drs, count - 1, after_first, options);
}

}  // namespace vorlak
