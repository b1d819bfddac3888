// Template 5.42, CCSDS adaptive entropy coding (CCSDS 121.0-B). Section 7 is
// one AEC stream of samples of bitsPerValue bits, coded with the block size,
// reference sample interval and option flags of section 5 octets 22 to 25.
// libaec decodes it into n samples of one to four octets; each becomes
// ((X as double) * 2^E + R) * 10^(-D).
#include <libaec.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "grib/bit_reader.hpp"
#include "grib/decoders.hpp"
#include "grib/sample_bytes.hpp"
#include "grib/text.hpp"
#include "grib/value_count.hpp"

namespace vorlak {
namespace {

constexpr unsigned kSignedSamples = AEC_DATA_SIGNED;     // 1
constexpr unsigned kThreeByteSamples = AEC_DATA_3BYTE;   // 2
constexpr unsigned kMostSignificantFirst = AEC_DATA_MSB;  // 4
constexpr unsigned kLibraryFlagMask = 0x3F;
constexpr std::size_t kChunkOctets = std::size_t{1} << 16;

std::string aec_failed(const std::string& why) { return str_cat("ccsds/aec decode failed: ", why); }

std::string describe_aec_status(int status) {
  switch (status) {
    case AEC_CONF_ERROR: return "invalid coding parameters (AEC_CONF_ERROR)";
    case AEC_STREAM_ERROR: return "malformed or truncated stream (AEC_STREAM_ERROR)";
    case AEC_DATA_ERROR: return "invalid coded data (AEC_DATA_ERROR)";
    case AEC_MEM_ERROR: return "out of memory (AEC_MEM_ERROR)";
    default: return str_cat("libaec status ", status);
  }
}

std::size_t aec_bytes_per_sample(unsigned bits, unsigned flags) {
  if (bits <= 8) return 1;
  if (bits <= 16) return 2;
  if (bits <= 24) return (flags & kThreeByteSamples) ? 3 : 4;
  return 4;
}

// Ends the decoder's state however the decode went. aec_decode_init can
// fail after allocating it (a rejected option combination), so the state
// itself, not the return code, says whether there is something to end.
struct AecDecoder {
  aec_stream stream{};
  ~AecDecoder() {
    if (stream.state) aec_decode_end(&stream);
  }
};

// Whole samples of a chunk into their values.
struct Converter {
  unsigned bits;
  std::size_t octets;
  bool little_endian;
  bool is_signed;
  ScaleFactors scale;
  std::span<double> out;
  void operator()(const std::uint8_t* chunk, std::uint64_t first, std::size_t samples) const {
    scale_sample_bytes_into(chunk, bits, octets, little_endian, is_signed, out.subspan(first, samples), scale);
  }
};

// One step of the library into `chunk`, which holds `partial` octets of an
// incomplete sample at its start: the octets it holds afterwards, or the
// library's error.
Result<std::size_t> decode_chunk(aec_stream& s, std::uint8_t* chunk, std::size_t partial, std::size_t room) {
  s.next_out = chunk + partial;
  s.avail_out = room - partial;
  if (int status = aec_decode(&s, AEC_FLUSH); status != AEC_OK) return fail(aec_failed(describe_aec_status(status)));
  return static_cast<std::size_t>(s.next_out - chunk);
}

std::size_t chunk_room(std::size_t octets, std::uint64_t left) {
  return static_cast<std::size_t>(std::min<std::uint64_t>(kChunkOctets / octets, left)) * octets;
}

// On the calling thread: the library writes a chunk of samples at a time
// into a small buffer, and each chunk becomes values while it is in cache.
// Gives the number of samples decoded.
Result<std::uint64_t> decode_alone(aec_stream& s, const Converter& convert, std::uint64_t count) {
  const auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkOctets);
  std::uint64_t done = 0;   // samples turned into values
  std::size_t partial = 0;  // octets of an incomplete sample at the chunk's start
  while (done < count) {
    auto have = decode_chunk(s, chunk.get(), partial, chunk_room(convert.octets, count - done));
    if (!have) return fail(have.error());
    if (*have == partial) break;  // the stream has ended
    const std::size_t samples = *have / convert.octets;
    convert(chunk.get(), done, samples);
    done += samples;
    partial = *have - samples * convert.octets;
    std::memmove(chunk.get(), chunk.get() + samples * convert.octets, partial);
  }
  return done;
}

}  // namespace

Result<void> unpack_ccsds_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                               const OutputProvider& output, const DecodeOptions& options) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  const unsigned bits = drs.bitsPerValue;
  const unsigned block_size = drs.ccsdsBlockSize;
  const unsigned rsi = drs.ccsdsReferenceSampleInterval;
  const unsigned flags = drs.ccsdsFlags & kLibraryFlagMask;
  // 0 bits is a constant field (below), not an error.
  if (bits > 32) return fail(aec_failed("bits_per_sample must be 1..=32"));
  if (block_size == 0) return fail(aec_failed("block_size must be > 0"));
  if (rsi == 0) return fail(aec_failed("rsi must be > 0"));
  if (block_size != 8 && block_size != 16 && block_size != 32 && block_size != 64) {
    return fail(aec_failed("block_size must be one of 8,16,32,64"));
  }
  // Producers write fields packed with 0 bits as constants with an empty or
  // near-empty section 7; there is nothing for the library to decode.
  if (bits == 0) {
    std::ranges::fill(output(count), constant_value(scale_factors(drs)));
    return {};
  }

  const std::size_t octets = aec_bytes_per_sample(bits, flags);
  // count is at most kMaxGridPoints, so the output stays below 1 GiB.
  if (count > SIZE_MAX / octets) return fail(aec_failed("output too large"));
  const std::size_t out_size = static_cast<std::size_t>(count) * octets;
  const std::span<double> out = output(count);

  AecDecoder decoder;
  aec_stream& s = decoder.stream;
  s.next_in = payload.data();
  s.avail_in = payload.size();
  s.bits_per_sample = bits;
  s.block_size = block_size;
  s.rsi = rsi;
  s.flags = flags;
  if (int status = aec_decode_init(&s); status != AEC_OK) return fail(aec_failed(describe_aec_status(status)));
  const Converter convert{bits, octets, (flags & kMostSignificantFirst) == 0, (flags & kSignedSamples) != 0,
                          scale_factors(drs), out};
  // The library decodes on one thread; turning its samples into values
  // costs a tenth of that at most, too little to hand to another thread
  // chunk by chunk without losing more than it saves.
  (void)options;
  const auto decoded = decode_alone(s, convert, count);
  if (!decoded) return fail(decoded.error());
  // Only what the library wrote counts: a stream that ends early is short,
  // not padded with whatever the buffer held.
  if (*decoded < count) return fail(short_sample_payload_text(s.total_out, out_size, count));
  return {};
}

}  // namespace vorlak
