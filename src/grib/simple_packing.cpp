// Template 5.0, simple packing. Section 7 holds `count` unsigned integers of
// bitsPerValue bits each, most significant bit first, with no padding
// between values; octets after the last value are ignored. Each integer X
// becomes ((X as double) * 2^E + R) * 10^(-D). Value k starts at bit
// k * bitsPerValue, so a split field is decoded piece by piece independently.
#include <algorithm>

#include "grib/bit_reader.hpp"
#include "grib/decoders.hpp"
#include "grib/value_count.hpp"
#include "grib/worker_pool.hpp"

namespace vorlak {

Result<void> unpack_simple_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                const OutputProvider& output, const DecodeOptions& options) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  const ScaleFactors scale = scale_factors(drs);
  const unsigned width = drs.bitsPerValue;
  const unsigned threads = split_threads(options, count);
  const std::size_t pieces = split_pieces(options, count);
  if (width == 0) {
    const std::span<double> out = output(count);
    const double constant = constant_value(scale);
    run_pieces(threads, count, pieces, 8, [&](std::uint64_t b, std::uint64_t e) {
      std::fill(out.begin() + b, out.begin() + e, constant);
    });
    return {};
  }
  if (count == 0) {
    output(0);
    return {};
  }
  if (width > 64) return fail(kReadWidthTooLarge);
  BitReader reader(payload);
  if (!reader.has_bits(width, count)) return fail(kNotEnoughPackedBits);
  const std::span<double> out = output(count);
  const UnpackKernels& k = active_kernels();
  run_pieces(threads, count, pieces, 8, [&](std::uint64_t b, std::uint64_t e) {
    k.unpack_scaled(payload.data(), payload.size(), b * width, width, e - b, 0, scale, out.data() + b);
  });
  return {};
}

}  // namespace vorlak
