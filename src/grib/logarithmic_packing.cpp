// Template 5.61, simple packing with logarithm pre-processing. Section 7 is
// laid out as for template 5.0 and unpacks to Z = ((X as double) * 2^E + R)
// * 10^(-D); the producer packed Z = ln(Y + B), so the value is
// Y = exp(Z) - B, with B the IEEE single-precision number of section 5
// octets 21-24.
#include <bit>
#include <cmath>

#include "grib/decoders.hpp"
#include "grib/value_count.hpp"
#include "grib/worker_pool.hpp"

namespace vorlak {

Result<void> unpack_logarithmic_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                     const OutputProvider& output, const DecodeOptions& options) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  if (count == 0) {
    output(0);
    return {};
  }
  if (!drs.preProcessingParameter) {
    return fail("section 5 template 61 too short: the pre-processing parameter is missing");
  }
  const double B = static_cast<double>(std::bit_cast<float>(*drs.preProcessingParameter));
  std::span<double> out;
  const OutputProvider keep = [&](std::uint64_t n) { return out = output(n); };
  if (auto unpacked = unpack_simple_into(payload, drs, count, keep, options); !unpacked) return unpacked;
  // Each value on its own, so that pieces on other threads give the same.
  run_pieces(split_threads(options, count), count, split_pieces(options, count), 8,
             [&](std::uint64_t b, std::uint64_t e) {
               for (std::uint64_t i = b; i < e; ++i) out[i] = std::exp(out[i]) - B;
             });
  return {};
}

}  // namespace vorlak
