#pragma once
// Test-side encoders for section 7 payloads: simple packing, complex packing
// groups (5.2 and 5.3), IEEE numbers, JPEG 2000 through OpenJPEG's encoder
// and CCSDS through libaec. Each returns the payload bytes and, where the
// layout needs them, the section 5 fields that describe it.
#include <libaec.h>
#include <openjpeg.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "grib/grib2_sections.hpp"

namespace vorlak::test {

using ByteVector = std::vector<std::uint8_t>;

// Most significant bit first, no padding unless asked for.
class BitWriter {
 public:
  void put(std::uint64_t value, unsigned width) {
    for (unsigned i = width; i-- > 0;) put_bit((value >> i) & 1u);
  }
  void align() {
    while (bits_ % 8 != 0) put_bit(0);
  }
  void put_bytes(const ByteVector& bytes) {
    align();
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    bits_ += 8 * bytes.size();
  }
  const ByteVector& bytes() const { return bytes_; }
  ByteVector take() { return std::move(bytes_); }

 private:
  void put_bit(unsigned bit) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> (bits_ % 8));
    ++bits_;
  }
  ByteVector bytes_;
  std::uint64_t bits_ = 0;
};

inline unsigned bits_needed(std::uint64_t v) { return v == 0 ? 0 : 64 - static_cast<unsigned>(std::countl_zero(v)); }

inline DataRepresentation make_drs(std::uint16_t template_number, float reference, std::int16_t E, std::int16_t D,
                                   std::uint8_t bits) {
  DataRepresentation drs;
  drs.dataRepresentationTemplateNumber = template_number;
  drs.reference_value_bits = std::bit_cast<std::uint32_t>(reference);
  drs.binaryScaleFactor = E;
  drs.decimalScaleFactor = D;
  drs.bitsPerValue = bits;
  return drs;
}

inline ByteVector pack_simple(const std::vector<std::uint64_t>& values, unsigned width) {
  BitWriter w;
  for (auto v : values) w.put(v, width);
  return w.take();
}

// ---- complex packing ------------------------------------------------------

struct ComplexGroup {
  std::uint64_t reference = 0;
  unsigned width = 0;
  std::vector<std::uint64_t> values;  // raw x of `width` bits; for width 0 only the size counts
};

struct ComplexLayout {
  std::vector<ComplexGroup> groups;
  std::uint8_t missing_management = 0;
  // Template 5.3 when order is 1 or 2.
  unsigned order = 0;
  unsigned descriptor_octets = 2;
  std::vector<std::int64_t> initial_values;
  std::int64_t overall_minimum = 0;
};

struct EncodedPayload {
  ByteVector payload;
  DataRepresentation drs;
};

inline void put_sign_magnitude(ByteVector& out, std::int64_t v, unsigned octets) {
  std::uint64_t magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  if (v < 0) magnitude |= std::uint64_t{1} << (8 * octets - 1);
  for (unsigned k = octets; k-- > 0;) out.push_back(static_cast<std::uint8_t>(magnitude >> (8 * k)));
}

// Lays the groups out as section 7 does, choosing the smallest fields that hold them.
inline EncodedPayload encode_complex(const ComplexLayout& layout, float reference = 0.0f, std::int16_t E = 0,
                                     std::int16_t D = 0) {
  const auto& groups = layout.groups;
  EncodedPayload out;
  DataRepresentation& drs = out.drs;
  drs = make_drs(layout.order ? 3 : 2, reference, E, D, 0);
  drs.numberOfGroups = static_cast<std::uint32_t>(groups.size());
  drs.missingValueManagement = layout.missing_management;
  std::uint64_t max_ref = 0;
  unsigned min_w = 255, max_w = 0;
  std::uint32_t min_len = UINT32_MAX, max_len = 0;
  for (std::size_t k = 0; k < groups.size(); ++k) {
    max_ref = std::max(max_ref, groups[k].reference);
    min_w = std::min(min_w, groups[k].width);
    max_w = std::max(max_w, groups[k].width);
    if (k + 1 < groups.size()) {
      const auto len = static_cast<std::uint32_t>(groups[k].values.size());
      min_len = std::min(min_len, len);
      max_len = std::max(max_len, len);
    }
  }
  if (groups.empty()) min_w = 0;
  if (min_len == UINT32_MAX) min_len = max_len = 0;
  drs.bitsPerValue = static_cast<std::uint8_t>(std::max(1u, bits_needed(max_ref)));
  drs.referenceForGroupWidths = static_cast<std::uint8_t>(min_w);
  drs.bitsForGroupWidths = static_cast<std::uint8_t>(bits_needed(max_w - min_w));
  drs.referenceForGroupLengths = min_len;
  drs.lengthIncrement = 1;
  drs.bitsForScaledGroupLengths = static_cast<std::uint8_t>(bits_needed(max_len - min_len));
  drs.trueLengthOfLastGroup = groups.empty() ? 0 : static_cast<std::uint32_t>(groups.back().values.size());

  ByteVector descriptors;
  if (layout.order) {
    drs.orderOfSpatialDifferencing = static_cast<std::uint8_t>(layout.order);
    drs.descriptorOctets = static_cast<std::uint8_t>(layout.descriptor_octets);
    for (auto v : layout.initial_values) put_sign_magnitude(descriptors, v, layout.descriptor_octets);
    put_sign_magnitude(descriptors, layout.overall_minimum, layout.descriptor_octets);
  }
  BitWriter w;
  w.put_bytes(descriptors);
  for (const auto& g : groups) w.put(g.reference, drs.bitsPerValue);
  w.align();
  for (const auto& g : groups) w.put(g.width - min_w, drs.bitsForGroupWidths);
  w.align();
  for (std::size_t k = 0; k < groups.size(); ++k) {
    const std::uint64_t len = k + 1 < groups.size() ? groups[k].values.size() : min_len;
    w.put(len - min_len, drs.bitsForScaledGroupLengths);
  }
  w.align();
  for (const auto& g : groups) {
    for (auto x : g.values) w.put(x, g.width);
  }
  out.payload = w.take();
  return out;
}

// Splits non-negative integers into groups of `group_size` with the
// reference at each group's minimum: how an encoder would pack a field.
inline std::vector<ComplexGroup> split_into_groups(const std::vector<std::uint64_t>& ints, std::size_t group_size) {
  std::vector<ComplexGroup> groups;
  for (std::size_t i = 0; i < ints.size(); i += group_size) {
    const std::size_t end = std::min(ints.size(), i + group_size);
    ComplexGroup g;
    g.reference = *std::min_element(ints.begin() + i, ints.begin() + end);
    std::uint64_t top = 0;
    for (std::size_t j = i; j < end; ++j) {
      g.values.push_back(ints[j] - g.reference);
      top = std::max(top, ints[j] - g.reference);
    }
    g.width = bits_needed(top);
    groups.push_back(std::move(g));
  }
  return groups;
}

// A field of integers as template 5.3 packs it: `order` initial values, the
// differences shifted by their minimum, in groups.
inline ComplexLayout difference_and_group(const std::vector<std::int64_t>& field, unsigned order,
                                          std::size_t group_size) {
  ComplexLayout layout;
  layout.order = order;
  layout.descriptor_octets = 4;
  std::vector<std::int64_t> diffs(field.size(), 0);
  for (std::size_t i = order; i < field.size(); ++i) {
    diffs[i] = order == 1 ? field[i] - field[i - 1] : field[i] - 2 * field[i - 1] + field[i - 2];
  }
  for (unsigned k = 0; k < order; ++k) layout.initial_values.push_back(field[k]);
  std::int64_t minimum = 0;
  if (field.size() > order) minimum = *std::min_element(diffs.begin() + order, diffs.end());
  layout.overall_minimum = minimum;
  std::vector<std::uint64_t> shifted(field.size(), 0);
  for (std::size_t i = order; i < field.size(); ++i) shifted[i] = static_cast<std::uint64_t>(diffs[i] - minimum);
  layout.groups = split_into_groups(shifted, group_size);
  return layout;
}

// ---- IEEE -------------------------------------------------------------------

inline ByteVector pack_ieee32(const std::vector<float>& values) {
  ByteVector out;
  for (float f : values) {
    const auto bits = std::bit_cast<std::uint32_t>(f);
    for (int k = 3; k >= 0; --k) out.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
  }
  return out;
}

inline ByteVector pack_ieee64(const std::vector<double>& values) {
  ByteVector out;
  for (double d : values) {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    for (int k = 7; k >= 0; --k) out.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
  }
  return out;
}

// ---- JPEG 2000 ------------------------------------------------------------

namespace detail {
struct MemoryOutput {
  ByteVector bytes;
  std::size_t position = 0;
  static OPJ_SIZE_T write(void* buffer, OPJ_SIZE_T n, void* self) {
    auto* out = static_cast<MemoryOutput*>(self);
    if (out->position + n > out->bytes.size()) out->bytes.resize(out->position + n);
    std::memcpy(out->bytes.data() + out->position, buffer, n);
    out->position += n;
    return n;
  }
  static OPJ_OFF_T skip(OPJ_OFF_T n, void* self) {
    auto* out = static_cast<MemoryOutput*>(self);
    out->position += static_cast<std::size_t>(n);
    if (out->position > out->bytes.size()) out->bytes.resize(out->position);
    return n;
  }
  static OPJ_BOOL seek(OPJ_OFF_T to, void* self) {
    auto* out = static_cast<MemoryOutput*>(self);
    out->position = static_cast<std::size_t>(to);
    if (out->position > out->bytes.size()) out->bytes.resize(out->position);
    return OPJ_TRUE;
  }
};
}  // namespace detail

struct Jpeg2000Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t precision = 8;
  unsigned components = 1;
  bool jp2 = false;                   // JP2 file instead of a raw code stream
  std::vector<std::int32_t> samples;  // width * height, reused for every component
};

// Lossless (reversible 5/3 wavelet, one layer) encoding from memory.
inline ByteVector encode_jpeg2000(const Jpeg2000Image& image_spec) {
  std::vector<opj_image_cmptparm_t> params(image_spec.components);
  for (auto& p : params) {
    std::memset(&p, 0, sizeof p);
    p.dx = p.dy = 1;
    p.w = image_spec.width;
    p.h = image_spec.height;
    p.prec = image_spec.precision;
    p.sgnd = 0;
  }
  opj_image_t* image = opj_image_create(image_spec.components, params.data(),
                                        image_spec.components == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
  if (!image) throw std::runtime_error("opj_image_create failed");
  image->x0 = image->y0 = 0;
  image->x1 = image_spec.width;
  image->y1 = image_spec.height;
  for (unsigned c = 0; c < image_spec.components; ++c) {
    std::copy(image_spec.samples.begin(), image_spec.samples.end(), image->comps[c].data);
  }
  opj_cparameters_t cp;
  opj_set_default_encoder_parameters(&cp);
  cp.tcp_numlayers = 1;
  cp.tcp_rates[0] = 0;  // lossless
  cp.cp_disto_alloc = 1;
  cp.irreversible = 0;
  cp.numresolution = 1;
  for (std::uint32_t s = std::min(image_spec.width, image_spec.height); s >= 2 && cp.numresolution < 6; s /= 2) ++cp.numresolution;
  opj_codec_t* codec = opj_create_compress(image_spec.jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  detail::MemoryOutput out;
  opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
  opj_stream_set_user_data(stream, &out, nullptr);
  opj_stream_set_write_function(stream, detail::MemoryOutput::write);
  opj_stream_set_skip_function(stream, detail::MemoryOutput::skip);
  opj_stream_set_seek_function(stream, detail::MemoryOutput::seek);
  const bool ok = opj_setup_encoder(codec, &cp, image) && opj_start_compress(codec, image, stream) &&
                  opj_encode(codec, stream) && opj_end_compress(codec, stream);
  opj_stream_destroy(stream);
  opj_destroy_codec(codec);
  opj_image_destroy(image);
  if (!ok) throw std::runtime_error("OpenJPEG encoding failed");
  return out.bytes;
}

// ---- CCSDS ----------------------------------------------------------------

struct AecSettings {
  unsigned bits = 16;
  unsigned block_size = 32;
  unsigned rsi = 128;
  unsigned flags = AEC_DATA_PREPROCESS;
};

inline std::size_t aec_sample_octets(const AecSettings& s) {
  if (s.bits <= 8) return 1;
  if (s.bits <= 16) return 2;
  if (s.bits <= 24) return (s.flags & AEC_DATA_3BYTE) ? 3 : 4;
  return 4;
}

// Samples laid out as libaec expects them (their low `bits` bits, byte order
// by AEC_DATA_MSB), then coded.
inline ByteVector encode_ccsds(const std::vector<std::int64_t>& samples, const AecSettings& s) {
  const std::size_t octets = aec_sample_octets(s);
  ByteVector raw;
  for (auto v : samples) {
    const std::uint64_t mask = s.bits >= 64 ? ~0ull : (1ull << s.bits) - 1;
    const auto u = static_cast<std::uint64_t>(v) & mask;
    for (std::size_t k = 0; k < octets; ++k) {
      const std::size_t shift = (s.flags & AEC_DATA_MSB) ? 8 * (octets - 1 - k) : 8 * k;
      raw.push_back(static_cast<std::uint8_t>(u >> shift));
    }
  }
  ByteVector out(raw.size() * 2 + 1024);
  aec_stream strm{};
  strm.next_in = raw.data();
  strm.avail_in = raw.size();
  strm.next_out = out.data();
  strm.avail_out = out.size();
  strm.bits_per_sample = s.bits;
  strm.block_size = s.block_size;
  strm.rsi = s.rsi;
  strm.flags = s.flags;
  if (aec_buffer_encode(&strm) != AEC_OK) throw std::runtime_error("aec_buffer_encode failed");
  out.resize(strm.total_out);
  return out;
}

inline DataRepresentation ccsds_drs(const AecSettings& s, float reference = 0.0f, std::int16_t E = 0,
                                    std::int16_t D = 0) {
  DataRepresentation drs = make_drs(42, reference, E, D, static_cast<std::uint8_t>(s.bits));
  drs.ccsdsFlags = static_cast<std::uint8_t>(s.flags);
  drs.ccsdsBlockSize = static_cast<std::uint8_t>(s.block_size);
  drs.ccsdsReferenceSampleInterval = static_cast<std::uint16_t>(s.rsi);
  return drs;
}

// ---- run-length packing (5.200) ------------------------------------------

struct LevelRun {
  std::uint32_t level;
  std::uint64_t length;
};

// Each run as its level, then the digits of length - 1 in base
// 2^bits - 1 - mv, least significant first, each written as digit + mv + 1.
inline ByteVector encode_run_length(const std::vector<LevelRun>& runs, unsigned bits, std::uint32_t mv) {
  const std::uint64_t base = (std::uint64_t{1} << bits) - 1 - mv;
  BitWriter w;
  for (const LevelRun& run : runs) {
    if (base < 2 && run.length > 1) throw std::invalid_argument("runs longer than 1 need a base of at least 2");
    w.put(run.level, bits);
    for (std::uint64_t rest = run.length - 1; rest > 0; rest /= base) w.put(rest % base + mv + 1, bits);
  }
  return w.take();
}

inline DataRepresentation run_length_drs(unsigned bits, std::uint16_t mv, std::vector<std::uint16_t> levels,
                                         std::int8_t scale = 0) {
  DataRepresentation drs;
  drs.dataRepresentationTemplateNumber = 200;
  drs.runLength.bitsPerValue = static_cast<std::uint8_t>(bits);
  drs.runLength.maxLevelUsed = mv;
  drs.runLength.maxLevel = static_cast<std::uint16_t>(levels.size());
  drs.runLength.decimalScaleFactor = scale;
  drs.runLength.levelValues = std::move(levels);
  return drs;
}

}  // namespace vorlak::test
