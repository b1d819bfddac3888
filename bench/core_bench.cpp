// Costs of the core key layer: a file-cache hit and miss, and reading a
// derived key from a handle. Uses the shared test files; prints per-call
// times to compare run to run. Times are this thread's CPU time, which a
// machine shared with other work inflates far less than wall time.
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/file_cache.hpp"
#include "core/key_lookup.hpp"

using namespace vorlak;

namespace {

double thread_cpu_ns() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// CPU nanoseconds per call.
template <class F>
double time_calls(long calls, F&& f) {
  const double start = thread_cpu_ns();
  for (long i = 0; i < calls; ++i) f();
  return (thread_cpu_ns() - start) / static_cast<double>(calls);
}

volatile std::size_t sink = 0;

}  // namespace

int main() {
  const std::string root = VORLAK_SOURCE_ROOT "/../shared/testdata/";
  const std::string files[] = {root + "gdas.t12z.pgrb2.0p25.f000.msg13.grib2", root + "ecmwf_soil_8vars_tiny.grib1",
                               root + "ecmwf-ifs-oper-surface.grib2"};
  if (!std::filesystem::exists(files[0])) {
    std::printf("core_bench: skipped (no test data in %s)\n", root.c_str());
    return 0;
  }

  for (const std::string& path : files) {
    const auto size = std::filesystem::file_size(path);
    (void)cache_clear();
    const double miss = time_calls(20, [&] {
      (void)cache_clear();
      auto file = load_file_cached(path);
      sink = sink + (file ? (*file)->scan.records.size() : 0);
    });
    (void)load_file_cached(path);
    const double hit = time_calls(20000, [&] {
      auto file = load_file_cached(path);
      sink = sink + (file ? (*file)->scan.records.size() : 0);
    });
    std::printf("load_file_cached %-45s %8.1f KiB  miss %9.1f us  hit %7.2f us\n",
                std::filesystem::path(path).filename().c_str(), size / 1024.0, miss / 1000.0, hit / 1000.0);
  }

  auto file = load_file_cached(files[0]);
  if (!file) {
    std::printf("core_bench: %s\n", file.error().c_str());
    return 1;
  }
  const HandleRecord handle = HandleRecord::make((*file)->scan.records.front(), BytesSource::shared((*file)->bytes));
  std::printf("derived keys per handle: %zu\n", handle.derived.entries().size());
  const long calls = 2'000'000;
  for (const char* key : {"edition", "shortName", "typeOfLevel", "numberOfDataPoints", "zzzNotAKey"}) {
    const double ns = time_calls(calls, [&] {
      auto value = get_key(handle, key);
      sink = sink + (value ? value->value.index() : 9);
    });
    std::printf("get_key %-20s %6.1f ns\n", key, ns);
  }
  const double make_ns = time_calls(20000, [&] {
    HandleRecord h = HandleRecord::make((*file)->scan.records.front(), BytesSource::shared((*file)->bytes));
    sink = sink + h.derived.entries().size();
  });
  std::printf("HandleRecord::make         %6.2f us\n", make_ns / 1000.0);
  return 0;
}
