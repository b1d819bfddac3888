// What the template decoders share: the vector-returning forms and the rule
// for splitting a field.
#include "grib/decoders.hpp"

#include <algorithm>

#include "grib/value_count.hpp"
#include "grib/worker_pool.hpp"

namespace vorlak {
namespace {

using Into = Result<void> (*)(Bytes, const DataRepresentation&, std::uint64_t, const OutputProvider&,
                              const DecodeOptions&);

Result<Values> into_vector(Into into, Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                           const DecodeOptions& options) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  Values values;
  const OutputProvider output = [&](std::uint64_t n) {
    values = zeroed_values(n);
    return std::span<double>(values);
  };
  if (auto ok = into(payload, drs, count, output, options); !ok) return fail(ok.error());
  return values;
}

// The smallest piece worth handing to a thread, unless the threshold has
// been lowered below it (tests do, to cut small fields into many pieces).
constexpr std::uint64_t kMinPiece = 1 << 16;

}  // namespace

unsigned split_threads(const DecodeOptions& options, std::uint64_t count) {
  if (options.threads <= 1 || count < 2 || count < options.split_threshold) return 1;
  return std::min(options.threads, kMaxDecodeThreads);
}

std::size_t split_pieces(const DecodeOptions& options, std::uint64_t count) {
  const unsigned threads = split_threads(options, count);
  if (threads <= 1) return 1;
  return piece_count(threads, count, std::clamp<std::uint64_t>(options.split_threshold / (4 * threads), 1, kMinPiece));
}

Result<Values> unpack_simple(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                             const DecodeOptions& options) {
  return into_vector(unpack_simple_into, payload, drs, count, options);
}
Result<Values> unpack_complex(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                              const DecodeOptions& options) {
  return into_vector(unpack_complex_into, payload, drs, count, options);
}
Result<Values> unpack_ieee(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                           const DecodeOptions& options) {
  return into_vector(unpack_ieee_into, payload, drs, count, options);
}
Result<Values> unpack_jpeg2000(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                               const DecodeOptions& options) {
  return into_vector(unpack_jpeg2000_into, payload, drs, count, options);
}
Result<Values> unpack_ccsds(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                            const DecodeOptions& options) {
  return into_vector(unpack_ccsds_into, payload, drs, count, options);
}

}  // namespace vorlak
