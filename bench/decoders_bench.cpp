// Decoder throughput on 1,000,000-value fields, in nanoseconds per value,
// then complex packing with missing values and the speed-up of splitting
// a 4-million-value field across two threads.
// Each figure stands next to the floor, the time to write as many doubles
// into a fresh array: a new std::vector<double> of that size (which the
// library value-initialises, as it does for every decoder's output), then
// written through once. The bare fill of an array that stays in cache is
// printed too, for reference. For JPEG 2000 and CCSDS the library's
// own decoding is timed apart from the conversion and scaling done here.
// Best of several runs; run on an idle machine to compare run to run.
#include <openjpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>

#include "grib/bit_reader.hpp"
#include "grib/decoders.hpp"
#include "grib/kernels/unpack_kernels.hpp"
#include "grib/sample_bytes.hpp"
#include "support/payload_encoders.hpp"

namespace {

using namespace vorlak;
using namespace vorlak::test;

constexpr std::size_t kValues = 1'000'000;
constexpr int kRuns = 9;

void keep(const void* p) { asm volatile("" : : "g"(p) : "memory"); }

double best_ns_per_value(const std::function<void()>& work, int runs = kRuns) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count());
  }
  return best / kValues;
}

double floor_ns() {
  return best_ns_per_value([] {
    Values v(kValues);
    double* p = v.data();
    keep(p);
    for (std::size_t i = 0; i < kValues; ++i) p[i] = 0.5;
    keep(p);
  });
}

double bare_fill_ns() {
  return best_ns_per_value([] {
    Values v(kValues, 0.5);
    keep(v.data());
  });
}

void row(const char* name, double ns, double floor, double target) {
  std::printf("%-28s %8.3f ns/value   floor %6.3f   ratio %5.2fx   (target <= %.1fx)%s\n", name, ns, floor,
              ns / floor, target, ns / floor <= target ? "" : "  ABOVE TARGET");
}

void library_row(const char* name, double total, double library, double ours) {
  std::printf("%-28s %8.3f ns/value   library %8.3f   ours %6.3f = %5.1f%% of library   (target <= 15%%)%s\n", name,
              total, library, ours, 100.0 * ours / library, ours <= 0.15 * library ? "" : "  ABOVE TARGET");
}

// A smooth field with noise, as integers of at most `bits` bits.
std::vector<std::int64_t> field(unsigned bits, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const std::int64_t top = (std::int64_t{1} << bits) - 1;
  std::vector<std::int64_t> f(kValues);
  std::int64_t level = top / 2;
  const std::int64_t step = std::max<std::int64_t>(1, top / 512);
  for (auto& v : f) {
    level = std::clamp<std::int64_t>(level + static_cast<std::int64_t>(rng() % (2 * step + 1)) - step, 0, top);
    v = std::min<std::int64_t>(top, level + static_cast<std::int64_t>(rng() % (step + 1)));
  }
  return f;
}

Values must(const Result<Values>& r) {
  if (!r) {
    std::fprintf(stderr, "decode failed: %s\n", r.error().c_str());
    std::exit(1);
  }
  return *r;
}

void bench_simple(double floor) {
  for (unsigned width : {8u, 12u, 16u, 24u, 32u}) {
    std::mt19937_64 rng(width);
    std::vector<std::uint64_t> ints(kValues);
    const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
    for (auto& x : ints) x = rng() & mask;
    const ByteVector payload = pack_simple(ints, width);
    const DataRepresentation drs = make_drs(0, 250.0f, -3, 1, static_cast<std::uint8_t>(width));
    must(unpack_simple(payload, drs, kValues));
    const double ns = best_ns_per_value([&] {
      auto v = unpack_simple(payload, drs, kValues);
      keep(v->data());
    });
    char name[64];
    std::snprintf(name, sizeof name, "simple 5.0, %u bits", width);
    row(name, ns, floor, 2.5);
  }
}

void bench_complex(double floor) {
  const auto f = field(16, 52);
  {
    std::vector<std::uint64_t> ints(f.begin(), f.end());
    ComplexLayout layout;
    layout.groups = split_into_groups(ints, 24);
    const EncodedPayload e = encode_complex(layout, 250.0f, -3, 1);
    must(unpack_complex(e.payload, e.drs, kValues));
    const double ns = best_ns_per_value([&] {
      auto v = unpack_complex(e.payload, e.drs, kValues);
      keep(v->data());
    });
    row("complex 5.2, groups of 24", ns, floor, 6.0);
  }
  for (unsigned order : {1u, 2u}) {
    const EncodedPayload e = encode_complex(difference_and_group(f, order, 24), 250.0f, -3, 1);
    must(unpack_complex(e.payload, e.drs, kValues));
    const double ns = best_ns_per_value([&] {
      auto v = unpack_complex(e.payload, e.drs, kValues);
      keep(v->data());
    });
    row(order == 1 ? "complex 5.3 order 1" : "complex 5.3 order 2", ns, floor, 6.0);
  }
}

// Complex packing with missing values, laid out as operational encoders do:
// a third of the points in long constant groups that are missing, the rest
// in groups of 10 to 40 values of 0 to 8 bits with a missing value now and
// then. `order` 0 is template 5.2.
EncodedPayload missing_field(std::size_t n, unsigned order, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  ComplexLayout layout;
  layout.missing_management = 1;
  layout.groups.push_back(ComplexGroup{1000, 0, {0}});  // bitsPerValue 10: 1023 marks a missing constant group
  std::size_t points = 1;
  while (points < n) {
    ComplexGroup g;
    std::size_t length;
    if (rng() % 12 == 0) {
      g.reference = 1023;
      length = 100 + rng() % 900;
    } else {
      g.reference = rng() % 200;
      g.width = rng() % 7 == 0 ? 0 : 1 + static_cast<unsigned>(rng() % 8);
      length = 10 + rng() % 31;
    }
    length = std::min(length, n - points);
    const std::uint64_t ones = g.width ? (std::uint64_t{1} << g.width) - 1 : 0;
    for (std::size_t i = 0; i < length; ++i) g.values.push_back(g.width && rng() % 50 == 0 ? ones : rng() & ones);
    points += length;
    layout.groups.push_back(std::move(g));
  }
  if (order) {
    layout.order = order;
    layout.initial_values = {500, 510};
    layout.initial_values.resize(order);
    layout.overall_minimum = -104;  // keeps the running differences near zero
  }
  return encode_complex(layout, 250.0f, -3, 1);
}

void bench_missing(double floor) {
  for (unsigned order : {0u, 2u}) {
    const EncodedPayload e = missing_field(kValues, order, 7 + order);
    must(unpack_complex(e.payload, e.drs, kValues));
    const double ns = best_ns_per_value([&] {
      auto v = unpack_complex(e.payload, e.drs, kValues);
      keep(v->data());
    });
    row(order ? "complex 5.3 with missing" : "complex 5.2 with missing", ns, floor, 6.0);
  }
}

// The same decoders on a field four times as large, whole and split across
// two threads, into new uninitialised memory as an array API would decode
// (a new vector is zeroed on one thread first, which splitting cannot help).
using Into = Result<void> (*)(Bytes, const DataRepresentation&, std::uint64_t, const OutputProvider&,
                              const DecodeOptions&);

void bench_threads() {
  constexpr std::size_t kLarge = 4 * kValues;
  DecodeOptions two;
  two.threads = 2;
  std::printf("splitting a %zu-value field, ns/value:      1 thread  2 threads  speed-up\n", kLarge);
  const auto line = [&](const char* name, Into into, Bytes payload, const DataRepresentation& drs) {
    const auto decode = [&](const DecodeOptions& options) {
      std::unique_ptr<double[]> memory;
      const OutputProvider output = [&](std::uint64_t n) {
        memory.reset(new double[n]);
        advise_huge_pages(memory.get(), n * sizeof(double));
        return std::span<double>(memory.get(), n);
      };
      if (auto ok = into(payload, drs, kLarge, output, options); !ok) {
        std::fprintf(stderr, "decode failed: %s\n", ok.error().c_str());
        std::exit(1);
      }
      keep(memory.get());
    };
    // Alternately, so that a busy moment of the machine spoils both alike.
    double one = 1e300, pair = 1e300;
    for (int r = 0; r < 7; ++r) {
      one = std::min(one, best_ns_per_value([&] { decode(DecodeOptions{}); }, 1) / 4);
      pair = std::min(pair, best_ns_per_value([&] { decode(two); }, 1) / 4);
    }
    std::printf("  %-40s %8.3f  %9.3f  %8.2fx\n", name, one, pair, one / pair);
  };
  std::mt19937_64 rng(12);
  std::vector<std::uint64_t> ints(kLarge);
  for (auto& x : ints) x = rng() & 0xFFF;
  const ByteVector simple = pack_simple(ints, 12);
  line("simple 5.0, 12 bits", unpack_simple_into, simple, make_drs(0, 250.0f, -3, 1, 12));
  std::vector<std::int64_t> smooth;
  for (int k = 0; k < 4; ++k) {
    const auto f = field(16, 60 + k);
    smooth.insert(smooth.end(), f.begin(), f.end());
  }
  const EncodedPayload order2 = encode_complex(difference_and_group(smooth, 2, 24), 250.0f, -3, 1);
  line("complex 5.3 order 2", unpack_complex_into, order2.payload, order2.drs);
  for (unsigned order : {0u, 2u}) {
    const EncodedPayload e = missing_field(kLarge, order, 17 + order);
    line(order ? "complex 5.3 with missing" : "complex 5.2 with missing", unpack_complex_into, e.payload, e.drs);
  }
  std::vector<float> singles(kLarge);
  for (auto& f : singles) f = static_cast<float>(rng() % 100000) * 0.01f;
  const ByteVector ieee = pack_ieee32(singles);
  line("IEEE 5.4, 32 bits", unpack_ieee_into, ieee, make_drs(4, 0.0f, 0, 0, 32));
  const AecSettings aec{16, 32, 128, AEC_DATA_PREPROCESS | AEC_DATA_MSB};
  const ByteVector ccsds = encode_ccsds(smooth, aec);
  line("CCSDS 5.42, 16 bits (one thread by design)", unpack_ccsds_into, ccsds, ccsds_drs(aec, 250.0f, -3, 1));
}

void bench_ieee(double floor) {
  std::mt19937 rng(4);
  std::vector<float> singles(kValues);
  std::vector<double> doubles(kValues);
  for (std::size_t i = 0; i < kValues; ++i) doubles[i] = singles[i] = static_cast<float>(rng() % 100000) * 0.01f;
  const ByteVector p32 = pack_ieee32(singles);
  const ByteVector p64 = pack_ieee64(doubles);
  const DataRepresentation d32 = make_drs(4, 0.0f, 0, 0, 32), d64 = make_drs(4, 0.0f, 0, 0, 64);
  row("IEEE 5.4, 32 bits", best_ns_per_value([&] {
        auto v = unpack_ieee(p32, d32, kValues);
        keep(v->data());
      }),
      floor, 1.5);
  row("IEEE 5.4, 64 bits", best_ns_per_value([&] {
        auto v = unpack_ieee(p64, d64, kValues);
        keep(v->data());
      }),
      floor, 1.5);
}

// OpenJPEG alone: the same decode the template decoder asks for.
struct Input {
  const ByteVector* bytes;
  std::size_t at = 0;
};
OPJ_SIZE_T in_read(void* buf, OPJ_SIZE_T n, void* u) {
  auto* in = static_cast<Input*>(u);
  const std::size_t left = in->bytes->size() - in->at;
  if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
  n = std::min<std::size_t>(n, left);
  std::memcpy(buf, in->bytes->data() + in->at, n);
  in->at += n;
  return n;
}
OPJ_OFF_T in_skip(OPJ_OFF_T n, void* u) {
  auto* in = static_cast<Input*>(u);
  in->at = std::min<std::size_t>(in->bytes->size(), in->at + static_cast<std::size_t>(n));
  return n;
}
OPJ_BOOL in_seek(OPJ_OFF_T to, void* u) {
  static_cast<Input*>(u)->at = static_cast<std::size_t>(to);
  return OPJ_TRUE;
}

void openjpeg_only(const ByteVector& payload) {
  Input input{&payload};
  opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
  opj_dparameters_t p;
  opj_set_default_decoder_parameters(&p);
  opj_setup_decoder(codec, &p);
  opj_codec_set_threads(codec, 0);
  opj_stream_t* s = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE);
  opj_stream_set_user_data(s, &input, nullptr);
  opj_stream_set_user_data_length(s, payload.size());
  opj_stream_set_read_function(s, in_read);
  opj_stream_set_skip_function(s, in_skip);
  opj_stream_set_seek_function(s, in_seek);
  opj_image_t* image = nullptr;
  if (!opj_read_header(s, codec, &image) || !opj_decode(codec, s, image) || !opj_end_decompress(codec, s)) {
    std::fprintf(stderr, "OpenJPEG decode failed\n");
    std::exit(1);
  }
  keep(image->comps[0].data);
  opj_image_destroy(image);
  opj_stream_destroy(s);
  opj_destroy_codec(codec);
}

void bench_jpeg2000() {
  const auto f = field(12, 40);
  Jpeg2000Image image{1000, 1000, 12, 1, false, std::vector<std::int32_t>(f.begin(), f.end())};
  const ByteVector payload = encode_jpeg2000(image);
  const DataRepresentation drs = make_drs(40, 250.0f, -3, 1, 12);
  must(unpack_jpeg2000(payload, drs, kValues));
  const double total = best_ns_per_value([&] {
    auto v = unpack_jpeg2000(payload, drs, kValues);
    keep(v->data());
  }, 5);
  const double library = best_ns_per_value([&] { openjpeg_only(payload); }, 5);
  const double ours = best_ns_per_value([&] {
    Values v = zeroed_values(kValues);
    scale_image_samples_into(image.samples.data(), 12, v, drs, DecodeOptions{});
    keep(v.data());
  });
  library_row("JPEG 2000 5.40, 12 bits", total, library, ours);
}

void bench_ccsds() {
  const AecSettings s{16, 32, 128, AEC_DATA_PREPROCESS | AEC_DATA_MSB};
  const ByteVector payload = encode_ccsds(field(16, 42), s);
  const DataRepresentation drs = ccsds_drs(s, 250.0f, -3, 1);
  must(unpack_ccsds(payload, drs, kValues));
  ByteVector decoded(kValues * 2);
  const double library = best_ns_per_value([&] {
    aec_stream strm{};
    strm.next_in = payload.data();
    strm.avail_in = payload.size();
    strm.next_out = decoded.data();
    strm.avail_out = decoded.size();
    strm.bits_per_sample = s.bits;
    strm.block_size = s.block_size;
    strm.rsi = s.rsi;
    strm.flags = s.flags;
    aec_buffer_decode(&strm);
    keep(decoded.data());
  });
  const double ours = best_ns_per_value([&] {
    Values v = zeroed_values(kValues);
    scale_sample_bytes_into(decoded.data(), s.bits, 2, false, false, v, scale_factors(drs));
    keep(v.data());
  });
  const double total = best_ns_per_value([&] {
    auto v = unpack_ccsds(payload, drs, kValues);
    keep(v->data());
  });
  library_row("CCSDS 5.42, 16 bits", total, library, ours);
}

// The scaled unpack of every kernel set this CPU runs, on the same bits:
// what the portable path costs where AVX2 is missing.
void bench_kernel_sets() {
  std::mt19937_64 rng(9);
  ByteVector bytes(kValues * 8 + 16);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  Values out(kValues);
  const ScaleFactors s{250.0, 0.125, 0.1};
  std::printf("scaled unpack into a warm array, ns/value:\n  %-10s", "width");
  const unsigned widths[] = {8, 11, 12, 16, 24, 32};
  for (unsigned w : widths) std::printf(" %7u", w);
  std::printf("\n");
  for (const UnpackKernels* k : {&portable_kernels(), avx2_kernels()}) {
    if (!k) continue;
    std::printf("  %-10s", k->name);
    for (unsigned w : widths) {
      std::printf(" %7.3f", best_ns_per_value([&] {
                    k->unpack_scaled(bytes.data(), bytes.size(), 0, w, kValues, 7, s, out.data());
                    keep(out.data());
                  }));
    }
    std::printf("\n");
  }
}

}  // namespace

int main() {
  std::printf("kernels: %s; %zu values per field, best of %d runs\n", active_kernels().name, kValues, kRuns);
  const double floor = floor_ns();
  std::printf("%-28s %8.3f ns/value\n", "floor (new vector, written)", floor);
  std::printf("%-28s %8.3f ns/value\n", "bare fill, for reference", bare_fill_ns());
  bench_simple(floor);
  bench_complex(floor);
  bench_missing(floor);
  bench_ieee(floor);
  bench_jpeg2000();
  bench_ccsds();
  bench_kernel_sets();
  bench_threads();
  return 0;
}
