// Writes the seed corpora of the decoder fuzz targets (<dir>/<target>/, the
// directory given as the first argument, fuzz/corpus by default)
// from the test-side encoders: the worked examples of each template, round
// trips and a few refusals. Run by `make fuzz-seeds`; the output is kept in
// the repository.
#include <bit>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "support/payload_encoders.hpp"
#include "support/png_writer.hpp"

namespace {

using namespace vorlak::test;
namespace fs = std::filesystem;

fs::path corpus_root = "fuzz/corpus";

struct Seed {
  ByteVector bytes;
  void u8(unsigned v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
  void u16(unsigned v) {
    u8(v >> 8);
    u8(v);
  }
  void u32(std::uint32_t v) {
    u16(v >> 16);
    u16(v & 0xFFFF);
  }
  void sm16(int v) { u16(v < 0 ? 0x8000u | static_cast<unsigned>(-v) : static_cast<unsigned>(v)); }
  void scaling(float r, int e, int d) {
    u32(std::bit_cast<std::uint32_t>(r));
    sm16(e);
    sm16(d);
  }
  void append(const ByteVector& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
};

void write(const std::string& target, const std::string& name, const Seed& seed) {
  const fs::path dir = corpus_root / target;
  fs::create_directories(dir);
  std::FILE* f = std::fopen((dir / name).c_str(), "wb");
  std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), f);
  std::fclose(f);
}

Seed simple(unsigned bits, unsigned count, float r, int e, int d, const ByteVector& payload) {
  Seed s;
  s.u8(bits);
  s.u16(count);
  s.scaling(r, e, d);
  s.append(payload);
  return s;
}

void simple_seeds() {
  write("decode_simple_fuzz", "twelve_bits", simple(12, 2, 0, 0, 0, {0xAB, 0xCD, 0xEF}));
  write("decode_simple_fuzz", "constant", simple(0, 5, 273.15f, 0, 0, {}));
  write("decode_simple_fuzz", "short", simple(16, 8, 1, 0, 0, ByteVector(14, 0x11)));
  write("decode_simple_fuzz", "wide", simple(65, 1, 0, 0, 0, ByteVector(9, 0)));
  std::mt19937_64 rng(1);
  for (unsigned bits : {7u, 24u, 64u}) {
    std::vector<std::uint64_t> ints(101);
    for (auto& x : ints) x = rng() & (bits == 64 ? ~0ull : (1ull << bits) - 1);
    write("decode_simple_fuzz", "random_" + std::to_string(bits), simple(bits, 101, -2.5f, -3, 2, pack_simple(ints, bits)));
  }
}

void ieee_seeds() {
  Seed s;
  s.u8(32);
  s.u16(2);
  s.append({0x3F, 0x80, 0, 0, 0xC0, 0, 0, 0});
  write("decode_ieee_fuzz", "single", s);
  Seed d;
  d.u8(64);
  d.u16(3);
  d.append(pack_ieee64({1.5, -0.0, 1e300}));
  write("decode_ieee_fuzz", "double", d);
  Seed bad;
  bad.u8(16);
  bad.u16(2);
  bad.append({1, 2, 3, 4});
  write("decode_ieee_fuzz", "sixteen_bits", bad);
}

Seed complex_seed(const EncodedPayload& e, unsigned count) {
  const auto& r = e.drs;
  Seed s;
  s.u8(r.dataRepresentationTemplateNumber == 3 ? 1 : 0);
  s.u8(r.missingValueManagement);
  s.u8(r.bitsPerValue);
  s.u16(r.numberOfGroups);
  s.u8(r.referenceForGroupWidths);
  s.u8(r.bitsForGroupWidths);
  s.u32(r.referenceForGroupLengths);
  s.u8(r.lengthIncrement);
  s.u32(r.trueLengthOfLastGroup);
  s.u8(r.bitsForScaledGroupLengths);
  s.u8(r.orderOfSpatialDifferencing);
  s.u8(r.descriptorOctets);
  s.u16(count);
  s.scaling(std::bit_cast<float>(r.reference_value_bits), r.binaryScaleFactor, r.decimalScaleFactor);
  s.append(e.payload);
  return s;
}

void complex_seeds() {
  ComplexLayout two;
  two.groups = {ComplexGroup{10, 0, {0, 0, 0}}, ComplexGroup{20, 4, {1, 15}}};
  write("decode_complex_fuzz", "two_groups", complex_seed(encode_complex(two), 5));
  two.missing_management = 1;
  write("decode_complex_fuzz", "two_groups_missing", complex_seed(encode_complex(two), 5));
  ComplexLayout order1;
  order1.order = 1;
  order1.initial_values = {100};
  order1.overall_minimum = -5;
  order1.groups = {ComplexGroup{0, 4, {0, 7, 3, 5}}};
  write("decode_complex_fuzz", "order1", complex_seed(encode_complex(order1), 4));
  std::mt19937_64 rng(2);
  std::vector<std::int64_t> field(300);
  std::int64_t level = 1000;
  for (auto& v : field) v = level += static_cast<std::int64_t>(rng() % 41) - 20;
  write("decode_complex_fuzz", "order2_field", complex_seed(encode_complex(difference_and_group(field, 2, 11)), 300));
  std::vector<std::uint64_t> ints(field.begin(), field.end());
  ComplexLayout plain;
  plain.groups = split_into_groups(ints, 7);
  write("decode_complex_fuzz", "plain_field", complex_seed(encode_complex(plain, 1.5f, -1, 1), 300));
}

Seed image_seed(unsigned bits, unsigned count, const ByteVector& payload) {
  Seed s;
  s.u8(bits);
  s.u16(count);
  s.scaling(100.0f, 0, 1);
  s.append(payload);
  return s;
}

void jpeg2000_seeds() {
  write("decode_jpeg2000_fuzz", "twelve_bits", image_seed(12, 3, encode_jpeg2000({3, 1, 12, 1, false, {0, 1, 4095}})));
  std::vector<std::int32_t> samples(64);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int32_t>(i * 8000);
  write("decode_jpeg2000_fuzz", "nineteen_bits", image_seed(19, 64, encode_jpeg2000({8, 8, 19, 1, false, samples})));
  write("decode_jpeg2000_fuzz", "jp2", image_seed(8, 16, encode_jpeg2000({4, 4, 8, 1, true, std::vector<std::int32_t>(16, 9)})));
  write("decode_jpeg2000_fuzz", "three_components",
        image_seed(8, 16, encode_jpeg2000({4, 4, 8, 3, false, std::vector<std::int32_t>(16, 7)})));
  write("decode_jpeg2000_fuzz", "constant", image_seed(0, 10, {}));
}

Seed aec_seed(const AecSettings& a, unsigned count, const ByteVector& payload) {
  Seed s;
  s.u8(a.bits);
  s.u8(a.flags);
  s.u8(a.block_size);
  s.u16(a.rsi);
  s.u16(count);
  s.scaling(0.5f, -1, 0);
  s.append(payload);
  return s;
}

void ccsds_seeds() {
  std::mt19937_64 rng(3);
  for (const AecSettings& a : {AecSettings{16, 32, 128, AEC_DATA_PREPROCESS}, AecSettings{12, 16, 64, AEC_DATA_SIGNED},
                               AecSettings{24, 8, 32, AEC_DATA_PREPROCESS | AEC_DATA_3BYTE | AEC_DATA_MSB}}) {
    std::vector<std::int64_t> samples(200);
    std::int64_t level = 100;
    for (auto& v : samples) v = level += static_cast<std::int64_t>(rng() % 7);
    write("decode_ccsds_fuzz", "bits_" + std::to_string(a.bits), aec_seed(a, 200, encode_ccsds(samples, a)));
  }
  write("decode_ccsds_fuzz", "constant", aec_seed({0, 32, 128, 8}, 10, {}));
  write("decode_ccsds_fuzz", "bad_block", aec_seed({12, 12, 128, 0}, 10, {1, 2, 3}));
}

void png_seeds() {
  write("decode_png_fuzz", "grey16", image_seed(16, 3, encode_png({3, 1, 16, 0, {0, 1, 65535}})));
  std::vector<std::uint32_t> pixels(48);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint32_t>(i * 349525);
  write("decode_png_fuzz", "rgb_filters", image_seed(24, 48, encode_png({8, 6, 8, 2, pixels, -1})));
  for (auto& p : pixels) p |= 0xFF000000u;
  write("decode_png_fuzz", "rgba_adam7", image_seed(32, 48, encode_png({8, 6, 8, 6, pixels, -1, true})));
  for (auto& p : pixels) p &= 3;
  write("decode_png_fuzz", "grey2_adam7", image_seed(2, 48, encode_png({8, 6, 2, 0, pixels, -1, true})));
  write("decode_png_fuzz", "palette", image_seed(8, 4, encode_png({2, 2, 8, 3, {0, 1, 2, 3}})));
  write("decode_png_fuzz", "constant", image_seed(0, 10, {}));
}

Seed run_length_seed(unsigned bits, unsigned mv, const std::vector<std::uint16_t>& levels, int scale, unsigned count,
                     const ByteVector& payload) {
  Seed s;
  s.u8(bits);
  s.u16(mv);
  s.u16(static_cast<unsigned>(levels.size()));
  s.u8(scale < 0 ? 0x80u | static_cast<unsigned>(-scale) : static_cast<unsigned>(scale));
  s.u16(count);
  s.u8(static_cast<unsigned>(levels.size()));
  for (auto v : levels) s.u16(v);
  s.append(payload);
  return s;
}

void run_length_seeds() {
  write("decode_run_length_fuzz", "worked",
        run_length_seed(8, 3, {10, 20, 35}, 1, 6321, {0x00, 0x14, 0x1C, 0x01, 0x03, 0x05, 0x02, 0x04, 0x05}));
  write("decode_run_length_fuzz", "four_bits",
        run_length_seed(4, 3, {1, 2, 3}, 0, 40, encode_run_length({{1, 7}, {0, 20}, {3, 1}, {2, 12}}, 4, 3)));
  write("decode_run_length_fuzz", "base_one", run_length_seed(2, 2, {3, 6}, -1, 5, {0b01'11'10'00, 0b11'11'01'00}));
  write("decode_run_length_fuzz", "overshoot", run_length_seed(8, 3, {1, 2, 3}, 0, 5, {0x02, 0x09}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) corpus_root = argv[1];
  simple_seeds();
  ieee_seeds();
  complex_seeds();
  jpeg2000_seeds();
  ccsds_seeds();
  png_seeds();
  run_length_seeds();
  return 0;
}
