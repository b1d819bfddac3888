// The decoders of the field API's extra templates, in nanoseconds per value
// next to the floor of writing as many doubles into a fresh array (a new
// std::vector<double>, value-initialised, then written through once: what
// decoders_bench calls the floor). PNG is also timed against libpng alone
// (inflating and unfiltering the rows, nothing converted), and on the MRMS
// field of ../shared/testdata when it is there (into a new vector, and into
// new memory as the field API decodes); run-length on streams of
// long, short and single-point runs and on the JMA nowcast.
// Best of several runs, in CPU time of the calling thread (the kernel's
// page faults included), so that other work on a shared machine counts as
// little as it can.
#include <png.h>

#include <algorithm>
#include <ctime>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>

#include "grib/decoders.hpp"
#include "grib/framing.hpp"
#include "support/payload_encoders.hpp"
#include "support/png_writer.hpp"

namespace {

using namespace vorlak;
using namespace vorlak::test;

void keep(const void* p) { asm volatile("" : : "g"(p) : "memory"); }

double thread_cpu_ns() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

double best_ns_per_value(std::size_t values, const std::function<void()>& work, int runs) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    const double t0 = thread_cpu_ns();
    work();
    best = std::min(best, thread_cpu_ns() - t0);
  }
  return best / static_cast<double>(values);
}

double floor_ns(std::size_t n, int runs) {
  return best_ns_per_value(n, [n] {
    Values v(n);
    double* p = v.data();
    keep(p);
    for (std::size_t i = 0; i < n; ++i) p[i] = 0.5;
    keep(p);
  }, runs);
}

Values must(const Result<Values>& r) {
  if (!r) {
    std::fprintf(stderr, "decode failed: %s\n", r.error().c_str());
    std::exit(1);
  }
  return *r;
}

void row(const char* name, double ns, double floor, const char* note = "") {
  std::printf("%-34s %8.3f ns/value   floor %6.3f   ratio %5.2fx%s\n", name, ns, floor, ns / floor, note);
}

// ---- libpng alone: the rows inflated and unfiltered into one buffer.

struct Source {
  Bytes bytes;
  std::size_t at = 0;
};

void read_source(png_structp png, png_bytep out, png_size_t n) {
  auto* s = static_cast<Source*>(png_get_io_ptr(png));
  if (n > s->bytes.size() - s->at) png_error(png, "short");
  std::memcpy(out, s->bytes.data() + s->at, n);
  s->at += n;
}

void libpng_rows(Bytes payload, std::vector<std::uint8_t>& image) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Source source{payload};
  if (setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "libpng failed\n");
    std::exit(1);
  }
  png_set_read_fn(png, &source, read_source);
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  png_read_info(png, info);
  png_read_update_info(png, info);
  const std::size_t stride = png_get_rowbytes(png, info);
  const std::uint32_t height = png_get_image_height(png, info);
  image.resize(stride * height);
  for (std::uint32_t y = 0; y < height; ++y) png_read_row(png, image.data() + y * stride, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
}

// A smooth field with noise: what radar and model images look like to zlib.
std::vector<std::uint32_t> smooth_pixels(std::size_t n, unsigned bits, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const std::int64_t top = (std::int64_t{1} << bits) - 1;
  std::int64_t level = top / 2;
  const std::int64_t step = std::max<std::int64_t>(1, top / 256);
  std::vector<std::uint32_t> pixels(n);
  for (auto& p : pixels) {
    level = std::clamp<std::int64_t>(level + static_cast<std::int64_t>(rng() % (2 * step + 1)) - step, 0, top);
    p = static_cast<std::uint32_t>(level);
  }
  return pixels;
}

void bench_png_synthetic(double floor) {
  constexpr std::uint32_t kSide = 1000;
  constexpr std::size_t kN = std::size_t{kSide} * kSide;
  struct Kind {
    const char* name;
    std::uint8_t depth, colour;
    unsigned bits;
  };
  for (const Kind& k : {Kind{"PNG 5.41, grey 8 bits", 8, 0, 8}, Kind{"PNG 5.41, grey 16 bits", 16, 0, 16},
                        Kind{"PNG 5.41, RGB 24 bits", 8, 2, 24}}) {
    PngImage image{kSide, kSide, k.depth, k.colour, smooth_pixels(kN, k.bits, k.bits), -1};
    const ByteVector payload = encode_png(image);
    const DataRepresentation drs = make_drs(41, 250.0f, -3, 1, static_cast<std::uint8_t>(k.bits));
    must(unpack_png(payload, drs, kN));
    const double ns = best_ns_per_value(kN, [&] { keep(unpack_png(payload, drs, kN)->data()); }, 9);
    std::vector<std::uint8_t> rows;
    const double library = best_ns_per_value(kN, [&] { libpng_rows(payload, rows); keep(rows.data()); }, 9);
    char note[64];
    std::snprintf(note, sizeof note, "   libpng alone %6.3f", library);
    row(k.name, ns, floor, note);
  }
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sections 5 and 7 of every field of a GRIB2 message (the first message of
// the file), by walking its sections.
std::vector<std::pair<Bytes, Bytes>> fields_of(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::pair<Bytes, Bytes>> fields;
  Bytes section5;
  for (std::size_t at = 16; at + 5 <= bytes.size() && std::memcmp(&bytes[at], "7777", 4) != 0;) {
    const std::uint32_t length = load_u32_be(&bytes[at]);
    if (length < 5 || length > bytes.size() - at) break;
    const Bytes section(&bytes[at], length);
    if (section[4] == 5) section5 = section;
    if (section[4] == 7) fields.emplace_back(section5, section.subspan(5));
    at += length;
  }
  return fields;
}

const std::filesystem::path kTestdata = VORLAK_SOURCE_ROOT "/../shared/testdata";

void bench_mrms() {
  const auto path = kTestdata / "MRMS_MergedRhoHV_19.00_20260219-042039.grib2";
  if (!std::filesystem::exists(path)) {
    std::printf("MRMS file absent, skipped\n");
    return;
  }
  const auto bytes = read_file(path);
  const auto fields = fields_of(bytes);
  if (fields.size() != 1) return;
  const auto drs = parse_section5(fields[0].first);
  if (!drs) return;
  const std::uint64_t n = drs->numberOfValues;
  const Bytes payload = fields[0].second;
  must(unpack_png(payload, *drs, n));
  const double ns = best_ns_per_value(n, [&] { keep(unpack_png(payload, *drs, n)->data()); }, 7);
  std::vector<std::uint8_t> rows;
  const double library = best_ns_per_value(n, [&] { libpng_rows(payload, rows); keep(rows.data()); }, 7);
  // Into new memory nothing has written yet, as the field API decodes
  // into a new array.
  const double into = best_ns_per_value(n, [&] {
    const std::unique_ptr<double[]> memory(new double[n]);
    advise_huge_pages(memory.get(), n * sizeof(double));
    const OutputProvider output = [&](std::uint64_t k) { return std::span<double>(memory.get(), k); };
    if (!unpack_png_into(payload, *drs, n, output, DecodeOptions{})) std::exit(1);
    keep(memory.get());
  }, 7);
  const double floor = floor_ns(n, 7);
  char note[64];
  std::snprintf(note, sizeof note, "   libpng alone %6.3f", library);
  std::printf("MRMS RhoHV, %llu points (RGB 24 bits), floor of that many fresh doubles:\n",
              static_cast<unsigned long long>(n));
  row("PNG 5.41, MRMS field", ns, floor, note);
  row("PNG 5.41, MRMS field, new memory", into, floor);
}

void bench_run_length(double floor) {
  constexpr std::size_t kN = 1'000'000;
  struct Kind {
    const char* name;
    std::uint64_t longest;  // run lengths uniform in 1 .. longest
  };
  for (const Kind& k : {Kind{"run-length 5.200, runs 1-400", 400}, Kind{"run-length 5.200, runs 1-8", 8},
                        Kind{"run-length 5.200, runs of 1", 1}}) {
    std::mt19937_64 rng(k.longest);
    std::vector<LevelRun> runs;
    std::uint64_t total = 0;
    while (total < kN) {
      const std::uint64_t length = std::min<std::uint64_t>(kN - total, 1 + rng() % k.longest);
      runs.push_back({static_cast<std::uint32_t>(rng() % 11), length});
      total += length;
    }
    const ByteVector payload = encode_run_length(runs, 8, 10);
    std::vector<std::uint16_t> levels;
    for (std::uint16_t l = 1; l <= 10; ++l) levels.push_back(static_cast<std::uint16_t>(l * 5));
    const DataRepresentation drs = run_length_drs(8, 10, levels, 1);
    must(unpack_run_length(payload, drs, kN));
    row(k.name, best_ns_per_value(kN, [&] { keep(unpack_run_length(payload, drs, kN)->data()); }, 9), floor);
  }
  // Four-bit values, the general reader.
  std::mt19937_64 rng(4);
  std::vector<LevelRun> runs;
  std::uint64_t total = 0;
  while (total < kN) {
    const std::uint64_t length = std::min<std::uint64_t>(kN - total, 1 + rng() % 8);
    runs.push_back({static_cast<std::uint32_t>(rng() % 4), length});
    total += length;
  }
  const ByteVector payload = encode_run_length(runs, 4, 3);
  const DataRepresentation drs = run_length_drs(4, 3, {1, 2, 3});
  must(unpack_run_length(payload, drs, kN));
  row("run-length 5.200, 4 bits, runs 1-8", best_ns_per_value(kN, [&] { keep(unpack_run_length(payload, drs, kN)->data()); }, 9),
      floor);
}

void bench_jma_nowcast() {
  const auto path = kTestdata / "jma_tornado_nowcast_runlength.grib2";
  if (!std::filesystem::exists(path)) {
    std::printf("JMA nowcast absent, skipped\n");
    return;
  }
  const auto bytes = read_file(path);
  const auto fields = fields_of(bytes);
  std::vector<std::pair<DataRepresentation, Bytes>> parsed;
  std::uint64_t total = 0;
  for (const auto& [s5, payload] : fields) {
    auto drs = parse_section5(s5);
    if (!drs) return;
    total += drs->numberOfValues;
    parsed.emplace_back(*drs, payload);
  }
  for (const auto& [drs, payload] : parsed) must(unpack_run_length(payload, drs, drs.numberOfValues));
  const double ns = best_ns_per_value(total, [&] {
    for (const auto& [drs, payload] : parsed) keep(unpack_run_length(payload, drs, drs.numberOfValues)->data());
  }, 21);
  const double floor = best_ns_per_value(total, [&] {
    for (const auto& [drs, payload] : parsed) {
      Values v(drs.numberOfValues);
      double* p = v.data();
      keep(p);
      for (std::size_t i = 0; i < v.size(); ++i) p[i] = 0.5;
      keep(p);
    }
  }, 21);
  std::printf("JMA nowcast, %zu fields of 86016 points:\n", parsed.size());
  row("run-length 5.200, JMA nowcast", ns, floor);
}

}  // namespace

int main() {
  const double floor = floor_ns(1'000'000, 9);
  std::printf("1,000,000 values per synthetic field, best of 9 runs\n");
  std::printf("%-34s %8.3f ns/value\n", "floor (new vector, written)", floor);
  bench_png_synthetic(floor);
  bench_run_length(floor);
  bench_jma_nowcast();
  bench_mrms();
  return 0;
}
