// Scanning and key derivation speed: frames every message of a large buffer
// (scan_messages), derives the keys of every record (derive_keys), and puts
// the figures next to the cost of reading each byte of the buffer once.
//
//   build/scan_bench [megabytes]   (default 128)
//
// Three buffers: the real files of ../shared/testdata concatenated until the
// size is reached (skipped when the folder is absent), small synthetic
// edition 2 messages of template 4.0, where the per-message cost dominates,
// and the same with product templates 4.1 (ensemble), 4.8 (statistical) and
// 4.9 (probability), whose keys are read through the template layouts. Times are the
// CPU time of this thread (best of five runs), so that other work on a
// shared machine disturbs them as little as possible.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compat/derived_keys.hpp"
#include "grib/framing.hpp"

namespace {

using vorlak::Bytes;
using ByteVec = std::vector<std::uint8_t>;

volatile std::uint64_t g_sink = 0;  // keeps measured work from being optimised away

double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Best of a few runs: the figure least disturbed by other work on the machine.
template <class F>
double best_seconds(int runs, F&& work) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const double start = thread_cpu_seconds();
    work();
    best = std::min(best, std::max(thread_cpu_seconds() - start, 1e-9));
  }
  return best;
}

ByteVec read_testdata() {
  const std::filesystem::path dir = VORLAK_SOURCE_ROOT "/../shared/testdata";
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const auto ext = entry.path().extension().string();
    if (entry.is_regular_file() && ext != ".md") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ByteVec out;
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    out.insert(out.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return out;
}

ByteVec repeat_to(const ByteVec& unit, std::size_t target) {
  ByteVec out;
  if (unit.empty()) return out;
  out.reserve(target + unit.size());
  while (out.size() < target) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

// A big-endian writer for the synthetic messages.
struct Writer {
  ByteVec b;
  void u8(std::uint64_t v) { b.push_back(static_cast<std::uint8_t>(v)); }
  void u16(std::uint64_t v) { u8(v >> 8), u8(v); }
  void u32(std::uint64_t v) { u16(v >> 16), u16(v); }
  void u64(std::uint64_t v) { u32(v >> 32), u32(v); }
  void text(const char* s) { b.insert(b.end(), s, s + std::char_traits<char>::length(s)); }
  void zeros(std::size_t n) { b.insert(b.end(), n, 0); }
};

struct Field {
  unsigned centre, category, number, level_type, level, forecast_hours;
  unsigned product_template = 0;
};

// One edition 2 message: sections 0, 1, 3 (template 3.0, 36 x 18 points),
// 4 (template 4.0), 5 (simple packing), 6 (no bitmap), 7 and the end marker.
ByteVec grib2_message(const Field& f) {
  constexpr unsigned kNi = 36, kNj = 18, kBits = 8;
  Writer s;
  // Section 1: centre, sub-centre, tables, reference time 2024-02-28 18:00.
  s.u32(21), s.u8(1), s.u16(f.centre), s.u16(0), s.u8(2), s.u8(1), s.u8(1);
  s.u16(2024), s.u8(2), s.u8(28), s.u8(18), s.u8(0), s.u8(0), s.u8(0), s.u8(1);
  // Section 3: regular lat/lon, 10 degree steps, scanning mode 0.
  s.u32(72), s.u8(3), s.u8(0), s.u32(kNi * kNj), s.u8(0), s.u8(0), s.u16(0);
  s.u8(6), s.u8(0), s.u32(0), s.u8(0), s.u32(0), s.u8(0), s.u32(0);
  s.u32(kNi), s.u32(kNj), s.u32(0), s.u32(0xFFFFFFFF);
  s.u32(85000000), s.u32(0), s.u8(48), s.u32(0x80000000u | 85000000), s.u32(350000000);
  s.u32(10000000), s.u32(10000000), s.u8(0);
  // Section 4: parameter, hours, forecast time, first fixed surface; then
  // the fields of templates 4.1, 4.8 or 4.9.
  Writer p;
  p.u16(0), p.u16(f.product_template), p.u8(f.category), p.u8(f.number), p.u8(2), p.u8(0);
  p.u8(96), p.u16(0), p.u8(0), p.u8(1), p.u32(f.forecast_hours);
  p.u8(f.level_type), p.u8(0), p.u32(f.level), p.u8(255), p.u8(0), p.u32(0);
  if (f.product_template == 1) p.u8(3), p.u8(7), p.u8(20);  // perturbed member 7 of 20
  if (f.product_template == 9) p.u8(1), p.u8(3), p.u8(1), p.u8(0), p.u32(0), p.u8(1), p.u32(5);
  if (f.product_template == 8 || f.product_template == 9) {
    // End of the overall interval 2024-02-29 (forecast hours + 6 from 18 h), one time range of 6 hours.
    const unsigned end_hour = 18 + f.forecast_hours + 6;
    p.u16(2024), p.u8(2), p.u8(28 + end_hour / 24), p.u8(end_hour % 24), p.u8(0), p.u8(0), p.u8(1), p.u32(0);
    p.u8(1), p.u8(2), p.u8(1), p.u32(6), p.u8(1), p.u32(0);
  }
  s.u32(5 + p.b.size()), s.u8(4);
  s.b.insert(s.b.end(), p.b.begin(), p.b.end());
  // Section 5: simple packing, reference 0, E = D = 0.
  s.u32(21), s.u8(5), s.u32(kNi * kNj), s.u16(0), s.u32(0), s.u16(0), s.u16(0), s.u8(kBits), s.u8(0);
  // Section 6: no bitmap. Section 7: the packed values.
  s.u32(6), s.u8(6), s.u8(255);
  s.u32(5 + kNi * kNj * kBits / 8), s.u8(7);
  for (unsigned i = 0; i < kNi * kNj; ++i) s.u8(i & 0xFF);

  Writer m;
  const std::uint64_t total = 16 + s.b.size() + 4;
  m.text("GRIB"), m.u16(0), m.u8(0), m.u8(2), m.u64(total);
  m.b.insert(m.b.end(), s.b.begin(), s.b.end());
  m.text("7777");
  return m.b;
}

ByteVec synthetic_buffer(std::size_t target, bool products) {
  const Field kinds[] = {
      {7, 0, 0, 103, 2, 12, products ? 1u : 0u},   // NCEP 2 m temperature (an ensemble member)
      {7, 0, 0, 100, 50000, 6},                    // NCEP 500 hPa temperature
      {98, 0, 2, 103, 10, 24, products ? 9u : 0u}, // ECMWF 10 m wind (a probability)
      {74, 0, 1, 1, 0, 3, products ? 8u : 0u},     // UKMO total precipitation (an accumulation)
      {54, 0, 3, 100, 85000, 0},                   // CMC 850 hPa geopotential height
      {7, 0, 7, 1, 0, 48},                         // NCEP surface CAPE
  };
  ByteVec unit;
  for (const Field& f : kinds) {
    const ByteVec msg = grib2_message(f);
    unit.insert(unit.end(), msg.begin(), msg.end());
  }
  return repeat_to(unit, target);
}

void run(const char* label, const ByteVec& buffer) {
  const Bytes bytes(buffer.data(), buffer.size());
  const double mb = static_cast<double>(buffer.size()) / 1e6;
  constexpr int kRuns = 5;

  const double touch = best_seconds(kRuns, [&] {
    std::uint64_t sum = 0;
    for (const std::uint8_t b : buffer) sum += b;
    g_sink = g_sink + sum;
  });

  std::size_t messages = 0;
  const double scan = best_seconds(kRuns, [&] {
    auto scanned = vorlak::scan_messages(bytes);
    messages = scanned ? scanned->records.size() : 0;
    g_sink = g_sink + messages;
  });
  auto scanned = vorlak::scan_messages(bytes);
  if (!scanned || messages == 0) {
    std::printf("%s: no messages found (%s)\n", label, scanned ? "" : scanned.error().c_str());
    return;
  }

  // As a handle derives them: the record and the message's bytes.
  const double derive = best_seconds(kRuns, [&] {
    std::uint64_t keys = 0;
    for (const vorlak::MessageRecord& r : scanned->records) {
      const bool known = r.Ni && r.Nj;
      const std::uint64_t size = known ? std::uint64_t{*r.Ni} * *r.Nj : 0;
      const Bytes message = bytes.subspan(r.offset, r.totalLength);
      keys += vorlak::derive_keys(vorlak::FieldView{r, message, known, size}).entries().size();
    }
    g_sink = g_sink + keys;
  });

  const double n = static_cast<double>(messages);
  const double both = scan + derive;
  std::printf("%s: %.1f MB, %zu messages (%.0f bytes each)\n", label, mb, messages,
              static_cast<double>(buffer.size()) / n);
  std::printf("  touch bytes once   %8.2f ms  %9.0f MB/s  %8.3f us/message\n", touch * 1e3, mb / touch,
              touch * 1e6 / n);
  std::printf("  scan_messages      %8.2f ms  %9.0f MB/s  %8.3f us/message  %10.0f messages/s\n",
              scan * 1e3, mb / scan, scan * 1e6 / n, n / scan);
  std::printf("  derive_keys        %8.2f ms  %9s       %8.3f us/message  %10.0f messages/s\n",
              derive * 1e3, "", derive * 1e6 / n, n / derive);
  std::printf("  scan + derive      %8.2f ms  %9.0f MB/s  %8.3f us/message  %10.0f messages/s\n",
              both * 1e3, mb / both, both * 1e6 / n, n / both);
  std::printf("  goal: scan + derive below 2 us/message + touch (%.3f us/message): %s\n",
              2.0 + touch * 1e6 / n, both * 1e6 / n < 2.0 + touch * 1e6 / n ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 128.0;
  const auto target = static_cast<std::size_t>(std::max(1.0, megabytes) * 1e6);

  const ByteVec files = read_testdata();
  if (files.empty()) {
    std::printf("testdata files: absent, skipped\n");
  } else {
    run("testdata files", repeat_to(files, target));
  }
  run("synthetic small messages", synthetic_buffer(target / 4, false));
  run("synthetic product templates", synthetic_buffer(target / 4, true));
  return 0;
}
