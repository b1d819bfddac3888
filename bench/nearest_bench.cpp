// Nearest-point search over a field of about a million points: one search
// (k = 1 and k = 4), a full ordering for comparison, and 100 queries through
// the multi-query helper. Uses the global 0.25 degree GFS test file when
// present, else a synthetic 1000 x 1000 grid. Times are this thread's CPU
// time (a shared machine inflates wall time).
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "core/file_cache.hpp"
#include "core/grid_points.hpp"

using namespace vorlak;

namespace {

// This thread's CPU time; differences are in milliseconds.
struct Clock {
  static double now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
  }
};
double milliseconds(double d) { return d; }

HandleRecord synthetic_grid(std::size_t rows, std::size_t columns) {
  Coordinates axes;
  for (std::size_t r = 0; r < rows; ++r) axes.latitude.values.push_back(90.0 - 180.0 * r / (rows - 1));
  for (std::size_t c = 0; c < columns; ++c) axes.longitude.values.push_back(360.0 * c / columns);
  std::vector<double> values(rows * columns);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i % 1000);
  HandleRecord handle;
  handle.memo = std::make_shared<ValuesMemo>();
  handle.memo->get_with([&] {
    auto field = DecodedField::make(columns, rows, std::move(values));
    return Result<DecodedMessage>(DecodedMessage{MessageRecord{}, GridSummary{}, std::move(*field), axes, 0});
  });
  return handle;
}

}  // namespace

int main() {
  const std::string path = VORLAK_SOURCE_ROOT "/../shared/testdata/gfs.t12z.pgrb2.0p25.f023-PV-TMP-missing.grib2";
  HandleRecord handle;
  std::string source = "synthetic 1000 x 1000";
  if (std::filesystem::exists(path)) {
    auto file = load_file_cached(path);
    if (file) {
      handle = HandleRecord::make((*file)->scan.records.front(), BytesSource::shared((*file)->bytes));
      source = "gfs 0.25 degree";
    }
  }
  if (!handle.memo) handle = synthetic_grid(1000, 1000);
  const auto decode_start = Clock::now();
  auto decoded = handle.decoded();
  if (!decoded) {
    std::printf("nearest_bench: %s\n", decoded.error().message().c_str());
    return 1;
  }
  std::printf("field: %s, %zu points (decode %.1f ms)\n", source.c_str(), (*decoded)->field.values().size(),
              milliseconds(Clock::now() - decode_start));

  for (std::uint64_t k : {1, 4, 100}) {
    const int runs = 20;
    const auto start = Clock::now();
    std::uint64_t first = 0;
    for (int i = 0; i < runs; ++i) {
      auto found = nearest(handle, 47.3 + i * 0.01, 8.5 - i * 0.02, k);
      if (found && !found->empty()) first += (*found)[0].index;
    }
    std::printf("nearest k=%-3llu            %7.2f ms per search (check %llu)\n",
                static_cast<unsigned long long>(k), milliseconds(Clock::now() - start) / runs,
                static_cast<unsigned long long>(first));
  }

  const auto full_start = Clock::now();
  auto ranked = rank_by_distance(handle, 47.3, 8.5);
  std::printf("rank_by_distance (full)  %7.2f ms\n", milliseconds(Clock::now() - full_start));

  std::vector<double> lats, lons;
  for (int q = 0; q < 100; ++q) {
    lats.push_back(-80.0 + 1.6 * q);
    lons.push_back(3.7 * q - 170.0);
  }
  const auto multi_start = Clock::now();
  auto each = nearest_each(handle, lats, lons);
  std::printf("nearest_each 100 queries %7.2f ms (%zu results)\n", milliseconds(Clock::now() - multi_start),
              each ? each->size() : 0);
  return ranked && each ? 0 : 1;
}
