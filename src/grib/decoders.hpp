#pragma once
// The data representation template decoders. Each takes the body of
// section 7 (after its 5-octet header), the parsed section 5 and the number
// of values wanted, and gives exactly that many values or an error text.
//
// The *_into forms ask `output` for the memory of the values only once the
// field has passed every check that needs no decoding (so a malformed field
// allocates nothing), and split a large field across the worker pool when
// `options` allows more than one thread. All checks run on the calling
// thread before any worker starts, so a field fails with the same text
// whichever way it is decoded, and the values are the same bit for bit. On
// failure the memory handed out holds nothing of use.
#include <cstdint>
#include <functional>
#include <span>

#include "grib/decode_options.hpp"
#include "grib/grib2_sections.hpp"
#include "grib/value_buffer.hpp"

namespace vorlak {

// Memory for `count` values, called at most once per decode. It may throw
// std::bad_alloc, which passes through the decoder.
using OutputProvider = std::function<std::span<double>(std::uint64_t count)>;

Result<void> unpack_simple_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                const OutputProvider& output, const DecodeOptions& options);  // 5.0
Result<void> unpack_complex_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                 const OutputProvider& output, const DecodeOptions& options);  // 5.2, 5.3
Result<void> unpack_ieee_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                              const OutputProvider& output, const DecodeOptions& options);  // 5.4
Result<void> unpack_jpeg2000_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                  const OutputProvider& output, const DecodeOptions& options);  // 5.40
Result<void> unpack_ccsds_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                               const OutputProvider& output, const DecodeOptions& options);  // 5.42

// The same into a new vector.
Result<Values> unpack_simple(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                             const DecodeOptions& options = {});
Result<Values> unpack_complex(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                              const DecodeOptions& options = {});
Result<Values> unpack_ieee(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                           const DecodeOptions& options = {});
Result<Values> unpack_jpeg2000(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                               const DecodeOptions& options = {});
Result<Values> unpack_ccsds(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                            const DecodeOptions& options = {});

// Decoded only when the caller asks for every template (DecodeOptions::all_templates),
// on the calling thread into a vector of their own.
Result<Values> unpack_png(Bytes payload, const DataRepresentation& drs, std::uint64_t count);             // 5.41
Result<Values> unpack_spectral_simple(Bytes payload, const DataRepresentation& drs, std::uint64_t count); // 5.50
Result<Values> unpack_logarithmic(Bytes payload, const DataRepresentation& drs, std::uint64_t count);     // 5.61
Result<Values> unpack_run_length(Bytes payload, const DataRepresentation& drs, std::uint64_t count);      // 5.200

// The threads a field of `count` values is split across under `options`
// (1: not split), and the most pieces to cut it into, so that uneven pieces
// even out among the threads.
unsigned split_threads(const DecodeOptions& options, std::uint64_t count);
std::size_t split_pieces(const DecodeOptions& options, std::uint64_t count);

}  // namespace vorlak
