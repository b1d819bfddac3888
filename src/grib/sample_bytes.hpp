#pragma once
// Decoded sample buffers (from the JPEG 2000 and CCSDS libraries) to
// integers, and integers to values by the scaling rule.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "grib/decoders.hpp"
#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak {

// `count` samples of `bytes_per_sample` octets each, big- or little-endian,
// unsigned or sign-extended from `width` bits (1 to 63).
Result<std::vector<std::int64_t>> samples_from_bytes(Bytes bytes, unsigned width, std::size_t bytes_per_sample,
                                                     bool little_endian, bool is_signed, std::uint64_t count);

// ((S as double) * 2^E + R) * 10^(-D) for each sample.
Values scale_samples(const std::vector<std::int64_t>& samples, const DataRepresentation& drs);

// samples_from_bytes followed by scale_samples in one pass without the
// integer list: the same checks, texts and values.
Result<Values> scaled_samples_from_bytes(Bytes bytes, unsigned width, std::size_t bytes_per_sample,
                                         bool little_endian, bool is_signed, std::uint64_t count,
                                         const DataRepresentation& drs);

// Decoded image samples (JPEG 2000) clamped to 0 .. 2^precision - 1, then
// scaled; the first `count` of them.
Values scale_image_samples(const std::int32_t* samples, std::uint32_t precision, std::uint64_t count,
                           const DataRepresentation& drs);
// The same into `out` (out.size() samples), split as `options` allows.
void scale_image_samples_into(const std::int32_t* samples, std::uint32_t precision, std::span<double> out,
                              const DataRepresentation& drs, const DecodeOptions& options);

// The conversion of scaled_samples_from_bytes without its checks, into
// `out`: `bytes` holds out.size() samples and a signed width is 1 to 63.
void scale_sample_bytes_into(const std::uint8_t* bytes, unsigned width, std::size_t bytes_per_sample,
                             bool little_endian, bool is_signed, std::span<double> out, const ScaleFactors& scale);

// "decoded payload has {} bytes but {} are required for {} samples"
std::string short_sample_payload_text(std::uint64_t have, std::uint64_t need, std::uint64_t count);

}  // namespace vorlak
