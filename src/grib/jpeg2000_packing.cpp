// Template 5.40, JPEG 2000. Section 7 is a whole JPEG 2000 image: a raw code
// stream (SOC 0xFF4F then SIZ 0xFF51) or a JP2 file (the 12-octet signature
// box 00 00 00 0C 6A 50 20 20 0D 0A 87 0A). Its one component holds the
// packed integers in image order; each becomes ((X as double) * 2^E + R) * 10^(-D).
// OpenJPEG decodes from memory through a stream over the payload, at full
// resolution with every quality layer, in the calling thread unless the
// caller allows threads for a large field.
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "grib/bit_reader.hpp"
#include "grib/decoders.hpp"
#include "grib/sample_bytes.hpp"
#include "grib/text.hpp"
#include "grib/value_count.hpp"

namespace vorlak {
namespace {

struct CodecCloser {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamCloser {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageCloser {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecCloser>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamCloser>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageCloser>;

// What OpenJPEG reports through its message handlers (from its own
// threads too, when it decodes with them).
struct DecoderMessages {
  std::mutex mutex;
  std::string errors;
  std::string warnings;

  void append(std::string& to, const char* msg) {
    std::string_view text = msg ? msg : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
    if (text.empty()) return;
    std::lock_guard lock(mutex);
    if (!to.empty()) to.append("; ");
    to.append(text);
  }
  static void on_error(const char* msg, void* self) {
    auto* m = static_cast<DecoderMessages*>(self);
    m->append(m->errors, msg);
  }
  static void on_warning(const char* msg, void* self) {
    auto* m = static_cast<DecoderMessages*>(self);
    m->append(m->warnings, msg);
  }

  std::string describe() const {
    if (!errors.empty()) return errors;
    if (!warnings.empty()) return warnings;
    return "the decoder gave no reason";
  }
};

// The payload as an OpenJPEG input stream.
struct MemoryInput {
  Bytes bytes;
  std::size_t position = 0;

  static OPJ_SIZE_T read(void* buffer, OPJ_SIZE_T n, void* self) {
    auto* in = static_cast<MemoryInput*>(self);
    const std::size_t left = in->bytes.size() - in->position;
    if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
    const std::size_t take = std::min<std::size_t>(n, left);
    std::memcpy(buffer, in->bytes.data() + in->position, take);
    in->position += take;
    return take;
  }
  static OPJ_OFF_T skip(OPJ_OFF_T n, void* self) {
    auto* in = static_cast<MemoryInput*>(self);
    if (n < 0) {
      if (static_cast<std::uint64_t>(-n) > in->position) return -1;
      in->position -= static_cast<std::size_t>(-n);
      return n;
    }
    const std::size_t left = in->bytes.size() - in->position;
    if (n > 0 && left == 0) return -1;
    const std::size_t step = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), left);
    in->position += step;
    return static_cast<OPJ_OFF_T>(step);
  }
  static OPJ_BOOL seek(OPJ_OFF_T to, void* self) {
    auto* in = static_cast<MemoryInput*>(self);
    if (to < 0 || static_cast<std::uint64_t>(to) > in->bytes.size()) return OPJ_FALSE;
    in->position = static_cast<std::size_t>(to);
    return OPJ_TRUE;
  }
};

constexpr std::uint8_t kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::uint8_t kCodestreamStart[4] = {0xFF, 0x4F, 0xFF, 0x51};

bool starts_with(Bytes payload, const std::uint8_t* prefix, std::size_t n) {
  return payload.size() >= n && std::memcmp(payload.data(), prefix, n) == 0;
}

std::string parse_failed(const std::string& why) { return str_cat("jpeg2000 codestream parse failed: ", why); }
std::string decode_failed(const std::string& why) { return str_cat("jpeg2000 codestream decode failed: ", why); }
std::string component_count(std::uint32_t n) { return str_cat("jpeg2000 GRIB decode expects 1 component, got ", n); }

// Octets one sample takes: one up to 8 bits, two up to 16, four above, so
// that no precision is clamped away.
std::uint64_t bytes_per_sample(std::uint32_t precision) {
  if (precision <= 8) return 1;
  if (precision <= 16) return 2;
  return 4;
}

std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

// The component's size as the header states it, checked before decoding:
// enough samples for the count, and no more than any grid can have.
Result<void> check_image_size(const opj_image_t& image, std::uint64_t count) {
  if (image.numcomps != 1) return fail(component_count(image.numcomps));
  const opj_image_comp_t& comp = image.comps[0];
  if (comp.dx == 0 || comp.dy == 0 || image.x1 < image.x0 || image.y1 < image.y0) {
    return fail(parse_failed("invalid image geometry"));
  }
  const std::uint64_t w = ceil_div(image.x1, comp.dx) - ceil_div(image.x0, comp.dx);
  const std::uint64_t h = ceil_div(image.y1, comp.dy) - ceil_div(image.y0, comp.dy);
  const std::uint64_t samples = w * h;  // both below 2^32
  if (samples > kMaxGridPoints) {
    return fail(str_cat("jpeg2000 image of ", w, "x", h, " samples exceeds the supported maximum ", kMaxGridPoints));
  }
  const std::uint64_t octets = bytes_per_sample(comp.prec);
  if (samples < count) return fail(short_sample_payload_text(samples * octets, count * octets, count));
  return {};
}

// The decoded component holds at least `count` samples.
Result<void> check_component(const opj_image_comp_t& comp, std::uint64_t count) {
  const std::uint64_t samples = std::uint64_t{comp.w} * comp.h;
  const std::uint64_t octets = bytes_per_sample(comp.prec);
  if (samples < count || (count > 0 && comp.data == nullptr)) {
    return fail(short_sample_payload_text(comp.data ? samples * octets : 0, count * octets, count));
  }
  return {};
}


// The payload's image, decoded by OpenJPEG with `threads` threads of its
// own (0: none, whatever OPJ_NUM_THREADS says).
Result<ImagePtr> decode_image(Bytes payload, OPJ_CODEC_FORMAT format, int threads, std::uint64_t count) {
  DecoderMessages messages;
  CodecPtr codec(opj_create_decompress(format));
  if (!codec) return fail(parse_failed("cannot create the decoder"));
  opj_set_error_handler(codec.get(), DecoderMessages::on_error, &messages);
  opj_set_warning_handler(codec.get(), DecoderMessages::on_warning, &messages);
  opj_set_info_handler(codec.get(), nullptr, nullptr);

  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  parameters.cp_reduce = 0;  // full resolution
  parameters.cp_layer = 0;   // every quality layer
  if (!opj_setup_decoder(codec.get(), &parameters)) return fail(parse_failed(messages.describe()));
  opj_codec_set_threads(codec.get(), threads);

  MemoryInput input{payload, 0};
  const std::size_t chunk = std::clamp<std::size_t>(payload.size(), 4096, OPJ_J2K_STREAM_CHUNK_SIZE);
  StreamPtr stream(opj_stream_create(chunk, OPJ_TRUE));
  if (!stream) return fail(parse_failed("cannot create the input stream"));
  opj_stream_set_user_data(stream.get(), &input, nullptr);
  opj_stream_set_user_data_length(stream.get(), payload.size());
  opj_stream_set_read_function(stream.get(), MemoryInput::read);
  opj_stream_set_skip_function(stream.get(), MemoryInput::skip);
  opj_stream_set_seek_function(stream.get(), MemoryInput::seek);

  opj_image_t* raw_image = nullptr;
  const bool header_ok = opj_read_header(stream.get(), codec.get(), &raw_image);
  ImagePtr image(raw_image);
  if (!header_ok || !image) return fail(parse_failed(messages.describe()));
  if (auto sized = check_image_size(*image, count); !sized) return fail(sized.error());

  if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get())) {
    return fail(decode_failed(messages.describe()));
  }
  return image;
}

}  // namespace

Result<void> unpack_jpeg2000_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                  const OutputProvider& output, const DecodeOptions& options) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  // Producers write fields packed with 0 bits as constants with an empty or
  // near-empty section 7; there is no image to decode.
  if (drs.bitsPerValue == 0) {
    std::ranges::fill(output(count), constant_value(scale_factors(drs)));
    return {};
  }

  OPJ_CODEC_FORMAT format;
  if (starts_with(payload, kCodestreamStart, sizeof kCodestreamStart)) {
    format = OPJ_CODEC_J2K;
  } else if (starts_with(payload, kJp2Signature, sizeof kJp2Signature)) {
    format = OPJ_CODEC_JP2;
  } else {
    return fail(parse_failed("payload is neither a JPEG 2000 code stream nor a JP2 file"));
  }
  // A large field may use OpenJPEG's own threads. They may word a broken
  // code stream's failure differently, so a failure is always reported as
  // the one-thread decode words it.
  const unsigned threads = split_threads(options, count);
  auto image = decode_image(payload, format, threads > 1 ? static_cast<int>(threads) : 0, count);
  if (!image && threads > 1) image = decode_image(payload, format, 0, count);
  if (!image) return fail(image.error());
  // A JP2 palette can turn one coded component into several.
  if ((*image)->numcomps != 1) return fail(component_count((*image)->numcomps));
  const opj_image_comp_t& comp = (*image)->comps[0];
  if (auto ok = check_component(comp, count); !ok) return fail(ok.error());
  scale_image_samples_into(comp.data, comp.prec, output(count), drs, options);
  return {};
}

}  // namespace vorlak
