#pragma once
// Simple packing into a caller's array, for the templates that build on it
// (spectral data, logarithm pre-processing): `count` integers of
// bitsPerValue bits from the start of `payload`, each scaled by the rule of
// template 5.0; 0 bits gives the constant. The texts are those of 5.0.
#include "grib/bit_reader.hpp"
#include "grib/decoders.hpp"

namespace vorlak {

inline Result<void> unpack_simple_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                       double* out) {
  const ScaleFactors scale = scale_factors(drs);
  const unsigned width = drs.bitsPerValue;
  if (width == 0) {
    const double c = constant_value(scale);
    for (std::uint64_t i = 0; i < count; ++i) out[i] = c;
    return {};
  }
  if (count == 0) return {};
  if (width > 64) return fail(kReadWidthTooLarge);
  if (!BitReader(payload).has_bits(width, count)) return fail(kNotEnoughPackedBits);
  active_kernels().unpack_scaled(payload.data(), payload.size(), 0, width, count, 0, scale, out);
  return {};
}

}  // namespace vorlak
