// Nearest-point search over a field of about a million points: one search
// (k = 1, 4 and 100; in mid-latitudes, near both poles and on the equator),
// a full ordering for comparison, and 100 queries through the multi-query
// helper. Uses the global 0.25 degree GFS test file when
// present, else a synthetic 1000 x 1000 grid. Times are this thread's CPU
// time (a shared machine inflates wall time).
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "core/file_cache.hpp"
#include "core/grid_points.hpp"
#include "support/nearest_oracle.hpp"

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

  // Positions where a search in array order fares best and worst: rows run
  // north to south in most global fields.
  struct Place {
    const char* name;
    double latitude, longitude;
  };
  const Place places[] = {{"47.3N 8.5E", 47.3, 8.5}, {"89.9N 5E", 89.9, 5.0}, {"0.1N 100.3E", 0.1, 100.3},
                          {"89.9S 5W", -89.9, -5.0}};
  for (const Place& place : places) {
    for (std::uint64_t k : {1, 4, 100}) {
      const int runs = 10;
      const auto start = Clock::now();
      std::uint64_t first = 0;
      for (int i = 0; i < runs; ++i) {
        auto found = nearest(handle, place.latitude + i * 0.001, place.longitude - i * 0.002, k);
        if (found && !found->empty()) first += (*found)[0].index;
      }
      std::printf("nearest %-12s k=%-3llu %7.3f ms per search (check %llu)\n", place.name,
                  static_cast<unsigned long long>(k), milliseconds(Clock::now() - start) / runs,
                  static_cast<unsigned long long>(first));
    }
  }

  const auto full_start = Clock::now();
  auto ranked = test::rank_by_distance(handle, 47.3, 8.5);
  std::printf("rank_by_distance (full)  %7.2f ms\n", milliseconds(Clock::now() - full_start));

  std::vector<double> lats, lons;
  for (int q = 0; q < 100; ++q) {
    lats.push_back(-80.0 + 1.6 * q);
    lons.push_back(3.7 * q - 170.0);
  }
  const auto multi_start = Clock::now();
  auto each = nearest_each(handle, lats, lons);
  const double multi_ms = milliseconds(Clock::now() - multi_start);
  std::printf("nearest_each 100 queries %7.2f ms, %.3f ms per query (%zu results)\n", multi_ms, multi_ms / 100,
              each ? each->size() : 0);
  return ranked && each ? 0 : 1;
}
