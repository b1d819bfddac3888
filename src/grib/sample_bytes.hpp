#pragma once
// Decoded sample buffers (from the JPEG 2000 and CCSDS libraries) turned
// into values by the scaling rule.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "grib/decoders.hpp"
#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak {

// Decoded image samples (JPEG 2000) clamped to 0 .. 2^precision - 1, then
// scaled, into `out` (out.size() samples), split as `options` allows.
void scale_image_samples_into(const std::int32_t* samples, std::uint32_t precision, std::span<double> out,
                              const DataRepresentation& drs, const DecodeOptions& options);

// out.size() samples of `bytes_per_sample` octets (1 to 4) each, big- or
// little-endian, unsigned or sign-extended from `width` bits (1 to 32),
// scaled into `out`.
void scale_sample_bytes_into(const std::uint8_t* bytes, unsigned width, std::size_t bytes_per_sample,
                             bool little_endian, bool is_signed, std::span<double> out, const ScaleFactors& scale);

// "decoded payload has {} bytes but {} are required for {} samples"
std::string short_sample_payload_text(std::uint64_t have, std::uint64_t need, std::uint64_t count);

}  // namespace vorlak
