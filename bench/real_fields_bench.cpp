// Field by field over the real files in ../shared/testdata (skipped when
// absent), in ns per grid point:
//   codes: the whole-message decode of the codes API (one thread, a new
//          vector of values, coordinates), as vorlak._vorlak runs it;
//   into 1, into 2: the field's values decoded into new uninitialised
//          memory, as an array API would, on one thread and on two;
//   floor: a new vector of as many doubles, written once;
//   vs g2c: codes over the published g2c figure of the field's kind;
//   peak: the most memory allocated during the codes decode over the
//          output's size.
// For CCSDS fields the library's own decode (libaec into a buffer allocated
// beforehand) is timed too, and what our work adds to it. Best of several
// runs; the figures move with the machine's load.
//
// Usage: real_fields_bench [runs] [folder] [file name filter]
#include <libaec.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "grib/decode_message.hpp"
#include "grib/framing.hpp"
#include "grib/kernels/unpack_kernels.hpp"

// ---- peak of allocated bytes: malloc and friends wrapped for this program

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {
std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

void note_alloc(void* p) {
  if (!p) return;
  const auto now = g_live.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p))) +
                   static_cast<std::int64_t>(malloc_usable_size(p));
  auto peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
void note_free(void* p) {
  if (p) g_live.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
}
}  // namespace

extern "C" {
void* malloc(std::size_t n) {
  void* p = __libc_malloc(n);
  note_alloc(p);
  return p;
}
void* calloc(std::size_t n, std::size_t size) {
  void* p = __libc_calloc(n, size);
  note_alloc(p);
  return p;
}
void* realloc(void* old, std::size_t n) {
  note_free(old);
  void* p = __libc_realloc(old, n);
  note_alloc(p);
  return p;
}
void free(void* p) {
  note_free(p);
  __libc_free(p);
}
void* memalign(std::size_t align, std::size_t n) {
  void* p = __libc_memalign(align, n);
  note_alloc(p);
  return p;
}
void* aligned_alloc(std::size_t align, std::size_t n) { return memalign(align, n); }
int posix_memalign(void** out, std::size_t align, std::size_t n) {
  void* p = memalign(align, n);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}
}

namespace {

using namespace vorlak;
using Clock = std::chrono::steady_clock;

void keep(const void* p) { asm volatile("" : : "g"(p) : "memory"); }

double best_ns(int runs, const std::function<void()>& work) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
  }
  return best;
}

// The kinds of field the g2c comparison names, with g2c's ns per point
// where a single figure is published (0: none).
struct Kind {
  const char* row;
  double g2c;
};

Kind kind_of(const std::string& file, unsigned template_number, std::uint64_t points) {
  if (file.rfind("ndfd_critfireo", 0) == 0) return {"NDFD fire weather 5.2 (g2c 2.5-50)", 2.5};
  if (file.rfind("gdas.t00z.sfluxgrbf", 0) == 0) return {"GDAS Gaussian 5.3", 23.7};
  if (template_number == 3 || template_number == 2) return {"5.3 (HRRR/AQM/GFS/GDAS)", 0};
  if (template_number == 0 && points >= 1'000'000) return {"simple 5.0, large", 2.8};
  if (template_number == 0) return {"simple 5.0", 0};
  if (template_number == 40) return {"JPEG 2000 5.40 (g2c median 47)", 47};
  if (template_number == 42) return {"CCSDS 5.42", 0};
  return {"other", 0};
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// libaec alone on the field's section 7, into a buffer made beforehand.
double libaec_ns(int runs, Bytes message, std::uint64_t count) {
  auto c = collect_grib2(message);
  if (!c) return 0;
  const DataRepresentation& drs = c->representation;
  const unsigned bits = drs.bitsPerValue;
  const unsigned flags = drs.ccsdsFlags & 0x3F;
  const std::size_t octets = bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 24 ? ((flags & AEC_DATA_3BYTE) ? 3 : 4) : 4;
  std::vector<std::uint8_t> out(count * octets + 1);
  return best_ns(runs, [&] {
    aec_stream s{};
    s.next_in = c->payload.data();
    s.avail_in = c->payload.size();
    s.next_out = out.data();
    s.avail_out = count * octets;
    s.bits_per_sample = bits;
    s.block_size = drs.ccsdsBlockSize;
    s.rsi = drs.ccsdsReferenceSampleInterval;
    s.flags = flags;
    aec_buffer_decode(&s);
    keep(out.data());
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::filesystem::path folder =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata");
  const std::string only = argc > 3 ? argv[3] : "";
  if (!std::filesystem::is_directory(folder)) {
    std::printf("no test data in %s: nothing to measure\n", folder.c_str());
    return 0;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const auto ext = entry.path().extension();
    if ((ext == ".grib1" || ext == ".grib2") && entry.path().filename().string().find(only) != std::string::npos) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());

  std::printf("kernels %s, best of %d runs, ns per grid point (see the head of bench/real_fields_bench.cpp)\n",
              active_kernels().name, runs);
  std::printf("%-34s %-40s %9s %7s %7s %7s %5s %6s %6s %7s %5s\n", "kind", "field", "points", "codes", "into 1",
              "into 2", "x2", "floor", "xfloor", "vs g2c", "peak");
  DecodeOptions two;
  two.threads = 2;
  for (const auto& path : files) {
    const auto bytes = read_file(path);
    const auto scan = scan_messages(bytes);
    if (!scan) continue;
    const std::string name = path.filename().string();
    for (const MessageRecord& record : scan->records) {
      const Bytes message = Bytes(bytes).subspan(record.offset, record.totalLength);
      const auto probe = decode_message(message, record);
      if (!probe) continue;
      const std::uint64_t n = probe->field.values().size();
      if (n < 50'000) continue;  // too small to time alone
      const unsigned number =
          record.edition == Edition::One ? 0 : record.dataRepresentationTemplateNumber.value_or(0);
      const Kind kind = kind_of(name, number, n);
      const int reps = n > 2'000'000 ? std::max(3, runs / 2) : runs;

      const double one = best_ns(reps, [&] { keep(decode_message(message, record)->field.values().data()); }) / n;
      double into1 = 0, into2 = 0;
      if (record.edition == Edition::Two) {
        const auto c = collect_grib2(message);
        const auto into = [&](const DecodeOptions& options) {
          std::unique_ptr<double[]> memory;
          const OutputProvider output = [&](std::uint64_t count) {
            memory.reset(new double[count]);
            advise_huge_pages(memory.get(), count * sizeof(double));
            return std::span<double>(memory.get(), count);
          };
          decode_grib2_values_into(c->grid, c->representation, c->bitmap ? &*c->bitmap : nullptr, c->payload,
                                   output, options);
          keep(memory.get());
        };
        // Alternately, so that a busy moment of the machine spoils both alike.
        into1 = into2 = 1e300;
        for (int r = 0; r < reps; ++r) {
          into1 = std::min(into1, best_ns(1, [&] { into(DecodeOptions{}); }) / n);
          into2 = std::min(into2, best_ns(1, [&] { into(two); }) / n);
        }
      }
      const double floor = best_ns(reps, [&] {
                             Values v = zeroed_values(n);
                             double* p = v.data();
                             keep(p);
                             for (std::uint64_t i = 0; i < n; ++i) p[i] = 0.5;
                             keep(p);
                           }) / n;
      g_peak.store(g_live.load());
      const std::int64_t before = g_live.load();
      { keep(decode_message(message, record)->field.values().data()); }
      const double peak = static_cast<double>(g_peak.load() - before) / (8.0 * static_cast<double>(n));

      char field[64];
      std::snprintf(field, sizeof field, "%.34s #%llu (5.%u)", name.c_str(),
                    static_cast<unsigned long long>(record.messageNumber), number);
      char vs[16] = "";
      if (kind.g2c > 0) std::snprintf(vs, sizeof vs, "%.2fx", one / kind.g2c);
      std::printf("%-34s %-40s %9llu %7.2f %7.2f %7.2f %5.2f %6.2f %6.2f %7s %5.2f\n", kind.row, field,
                  static_cast<unsigned long long>(n), one, into1, into2, into2 > 0 ? into1 / into2 : 0.0, floor,
                  one / floor, vs, peak);
      if (number == 42) {
        const double library = libaec_ns(reps, message, n) / n;
        std::printf("%-34s %-40s %9s libaec alone %.2f, our work adds %.2f = %.1f%%\n", "", "", "", library,
                    one - library, 100.0 * (one - library) / library);
      }
    }
  }
  return 0;
}
