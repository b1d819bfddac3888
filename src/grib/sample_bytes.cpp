// Sample k occupies octets k * bytes_per_sample onward; big-endian puts the
// most significant octet first, little-endian last. With more than eight
// octets per sample the most significant ones fall off the top.
#include "grib/sample_bytes.hpp"

#include <algorithm>

#include "grib/bit_reader.hpp"
#include "grib/kernels/bit_window.hpp"
#include "grib/text.hpp"
#include "grib/worker_pool.hpp"

namespace vorlak {
namespace {

// Checks shared by both entry points; gives the byte count needed.
Result<std::uint64_t> check_sample_buffer(Bytes bytes, std::size_t bytes_per_sample, std::uint64_t count) {
  if (bytes_per_sample == 0) return fail("bytes_per_sample must be > 0");
  if (count > UINT64_MAX / bytes_per_sample) return fail("sample byte count overflow");
  const std::uint64_t need = count * bytes_per_sample;
  if (bytes.size() < need) return fail(short_sample_payload_text(bytes.size(), need, count));
  return need;
}

Result<void> check_sign_width(unsigned width, bool is_signed, std::uint64_t count) {
  if (is_signed && count > 0 && (width < 1 || width > 63)) return fail(str_cat("cannot sign-extend width ", width));
  return {};
}

template <std::size_t kBytes, bool kLittle>
std::uint64_t assemble(const std::uint8_t* p, std::size_t bytes_per_sample) {
  const std::size_t n = kBytes ? kBytes : bytes_per_sample;
  std::uint64_t raw = 0;
  if constexpr (kLittle) {
    for (std::size_t k = n; k-- > 0;) raw = (raw << 8) | p[k];
  } else {
    for (std::size_t k = 0; k < n; ++k) raw = (raw << 8) | p[k];
  }
  return raw;
}

// One sample's integer; `up` is 64 - width for signed samples.
template <bool kSigned>
std::int64_t sample_integer(std::uint64_t raw, unsigned up) {
  if constexpr (kSigned) {
    return static_cast<std::int64_t>(raw << up) >> up;
  } else {
    return static_cast<std::int64_t>(raw);
  }
}

template <std::size_t kBytes, bool kLittle, bool kSigned, class Sink>
void convert_as(const std::uint8_t* p, std::size_t bytes_per_sample, unsigned width, std::uint64_t count,
                Sink&& sink) {
  const unsigned up = kSigned ? 64 - width : 0;
  const std::size_t step = kBytes ? kBytes : bytes_per_sample;
  for (std::uint64_t i = 0; i < count; ++i) {
    sink(i, sample_integer<kSigned>(assemble<kBytes, kLittle>(p + i * step, bytes_per_sample), up));
  }
}

// Picks a loop specialised for the common sample sizes; others go through
// the general loop, whose shifts drop octets past the eighth.
template <class Sink>
void convert(const std::uint8_t* p, std::size_t bytes_per_sample, unsigned width, bool little_endian,
             bool is_signed, std::uint64_t count, Sink&& sink) {
  auto by_order = [&]<std::size_t kBytes>() {
    if (little_endian) {
      is_signed ? convert_as<kBytes, true, true>(p, bytes_per_sample, width, count, sink)
                : convert_as<kBytes, true, false>(p, bytes_per_sample, width, count, sink);
    } else {
      is_signed ? convert_as<kBytes, false, true>(p, bytes_per_sample, width, count, sink)
                : convert_as<kBytes, false, false>(p, bytes_per_sample, width, count, sink);
    }
  };
  switch (bytes_per_sample) {
    case 1: by_order.template operator()<1>(); break;
    case 2: by_order.template operator()<2>(); break;
    case 3: by_order.template operator()<3>(); break;
    case 4: by_order.template operator()<4>(); break;
    default: by_order.template operator()<0>(); break;
  }
}

}  // namespace

std::string short_sample_payload_text(std::uint64_t have, std::uint64_t need, std::uint64_t count) {
  return str_cat("decoded payload has ", have, " bytes but ", need, " are required for ", count, " samples");
}

Result<std::vector<std::int64_t>> samples_from_bytes(Bytes bytes, unsigned width, std::size_t bytes_per_sample,
                                                     bool little_endian, bool is_signed, std::uint64_t count) {
  if (auto need = check_sample_buffer(bytes, bytes_per_sample, count); !need) return fail(need.error());
  if (auto ok = check_sign_width(width, is_signed, count); !ok) return fail(ok.error());
  std::vector<std::int64_t> samples(count);
  std::int64_t* out = samples.data();
  convert(bytes.data(), bytes_per_sample, width, little_endian, is_signed, count,
                 [out](std::uint64_t i, std::int64_t s) { out[i] = s; });
  return samples;
}

Values scale_samples(const std::vector<std::int64_t>& samples, const DataRepresentation& drs) {
  const ScaleFactors scale = scale_factors(drs);
  Values values(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) values[i] = apply_scale(static_cast<double>(samples[i]), scale);
  return values;
}

Values scale_image_samples(const std::int32_t* samples, std::uint32_t precision, std::uint64_t count,
                           const DataRepresentation& drs) {
  Values values = zeroed_values(count);
  scale_image_samples_into(samples, precision, values, drs, DecodeOptions{});
  return values;
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

Result<Values> scaled_samples_from_bytes(Bytes bytes, unsigned width, std::size_t bytes_per_sample,
                                         bool little_endian, bool is_signed, std::uint64_t count,
                                         const DataRepresentation& drs) {
  if (auto need = check_sample_buffer(bytes, bytes_per_sample, count); !need) return fail(need.error());
  if (auto ok = check_sign_width(width, is_signed, count); !ok) return fail(ok.error());
  Values values = zeroed_values(count);
  scale_sample_bytes_into(bytes.data(), width, bytes_per_sample, little_endian, is_signed, values,
                          scale_factors(drs));
  return values;
}

void scale_sample_bytes_into(const std::uint8_t* bytes, unsigned width, std::size_t bytes_per_sample,
                             bool little_endian, bool is_signed, std::span<double> out, const ScaleFactors& scale) {
  double* to = out.data();
  if (bytes_per_sample <= 4 && (!is_signed || width <= 32)) {
    active_kernels().samples_scaled(bytes, static_cast<unsigned>(bytes_per_sample), little_endian, is_signed, width,
                                    out.size(), scale, to);
  } else {
    convert(bytes, bytes_per_sample, width, little_endian, is_signed, out.size(),
            [to, scale](std::uint64_t i, std::int64_t s) { to[i] = apply_scale(static_cast<double>(s), scale); });
  }
}

}  // namespace vorlak
