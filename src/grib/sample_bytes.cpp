// Samples the libraries decode, as values: sample k occupies octets
// k * bytes_per_sample onward; big-endian puts the most significant octet
// first, little-endian last.
#include "grib/sample_bytes.hpp"

#include <algorithm>

#include "grib/bit_reader.hpp"
#include "grib/kernels/bit_window.hpp"
#include "grib/text.hpp"
#include "grib/worker_pool.hpp"

namespace vorlak {

std::string short_sample_payload_text(std::uint64_t have, std::uint64_t need, std::uint64_t count) {
  return str_cat("decoded payload has ", have, " bytes but ", need, " are required for ", count, " samples");
}

void scale_image_samples_into(const std::int32_t* samples, std::uint32_t precision, std::span<double> out,
                              const DataRepresentation& drs, const DecodeOptions& options) {
  const std::int64_t top = precision >= 32 ? std::int64_t{0xFFFFFFFF} : (std::int64_t{1} << precision) - 1;
  const ScaleFactors scale = scale_factors(drs);
  const std::uint64_t count = out.size();
  run_pieces(split_threads(options, count), count, split_pieces(options, count), 8,
             [&](std::uint64_t b, std::uint64_t e) {
               for (std::uint64_t i = b; i < e; ++i) {
                 const std::int64_t s = std::clamp<std::int64_t>(samples[i], 0, top);
                 out[i] = apply_scale(kernels::small_int_to_double(s), scale);
               }
             });
}

void scale_sample_bytes_into(const std::uint8_t* bytes, unsigned width, std::size_t bytes_per_sample,
                             bool little_endian, bool is_signed, std::span<double> out, const ScaleFactors& scale) {
  active_kernels().samples_scaled(bytes, static_cast<unsigned>(bytes_per_sample), little_endian, is_signed, width,
                                  out.size(), scale, out.data());
}

}  // namespace vorlak
