// Template 5.4, IEEE floating point. Section 7 holds `count` big-endian IEEE
// numbers of bitsPerValue bits (32 single, 64 double precision), unscaled;
// octets after the last number are ignored.
#include "grib/decoders.hpp"
#include "grib/kernels/unpack_kernels.hpp"
#include "grib/text.hpp"
#include "grib/value_count.hpp"
#include "grib/worker_pool.hpp"

namespace vorlak {

Result<void> unpack_ieee_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                              const OutputProvider& output, const DecodeOptions& options) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  const unsigned width = drs.bitsPerValue;
  if (width != 32 && width != 64) {
    return fail(str_cat("GRIB2 IEEE float template expects 32 or 64 bits per value, got ", width));
  }
  const std::uint64_t octets = width / 8;
  const std::uint64_t need = count * octets;  // count is bounded, so no overflow
  if (payload.size() < need) {
    return fail(str_cat("section 7 has ", payload.size(), " bytes but ", need, " are required for ", count,
                        width == 32 ? " f32 values" : " f64 values"));
  }
  const std::span<double> out = output(count);
  const UnpackKernels& k = active_kernels();
  const auto convert = width == 32 ? k.ieee32_be : k.ieee64_be;
  run_pieces(split_threads(options, count), count, split_pieces(options, count), 8,
             [&](std::uint64_t b, std::uint64_t e) { convert(payload.data() + b * octets, e - b, out.data() + b); });
  return {};
}

}  // namespace vorlak
