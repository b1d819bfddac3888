// Longitude and latitude axes of regular latitude/longitude and Gaussian
// grids, built from the corner points, increments and scanning bits of the
// grid description. Values are never reordered: the axes start at the first
// grid point and follow the scanning direction.
#include "grib/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_map>

#include "grib/limits.hpp"

namespace vorlak {

namespace {

constexpr std::uint8_t kScanMinusI = 0x80;  // points of a row run westwards
constexpr std::uint8_t kScanPlusJ = 0x40;   // rows run south to north

// The longitude span is unwound by whole turns; corner longitudes further
// apart than this are not a real grid, and unwinding them turn by turn could
// take forever.
constexpr double kMaxLongitudeTurns = 64.0;

constexpr double kPi = 3.141592653589793;
constexpr double kDegreesPerRadian = 57.29577951308232;

// Newton steps per Legendre root. Real N converge in a handful of steps; the
// cap only keeps a pathological case from spinning.
constexpr int kMaxNewtonSteps = 100;

// The Gaussian latitude cache keeps at most this many values in all (8 bytes
// each); latitudes for further N are computed and handed out uncached.
constexpr std::uint64_t kGaussianCacheMaxValues = std::uint64_t{1} << 24;

CoordinateAxis make_axis(const char* name, const char* units, std::vector<double> values) {
  return CoordinateAxis{name, units, std::move(values)};
}

// Entry i = i * step + first, for i in [0, n).
std::vector<double> linear_axis(std::uint64_t n, double first, double step) {
  std::vector<double> axis(n);
  for (std::uint64_t i = 0; i < n; ++i) axis[i] = static_cast<double>(i) * step + first;
  return axis;
}

// Brings the two corner longitudes into one continuous span in the scanning
// direction. False when they are too far apart to be a grid.
bool unwind_longitudes(double& first, double& last, bool minus_i) {
  if (!std::isfinite(first) || !std::isfinite(last)) return false;
  if (minus_i) {
    if (last - first > 360.0 * kMaxLongitudeTurns) return false;
    while (last > first) last -= 360.0;
  } else {
    if (last < first && first >= 180.0) first -= 360.0;
    if (first - last > 360.0 * kMaxLongitudeTurns) return false;
    while (first > last) last += 360.0;
  }
  return true;
}

std::vector<double> longitude_axis(const GridSummary& grid, double first, double last) {
  const std::uint64_t n = grid.Ni;
  if (n <= 1) return {first};
  if (grid.iDirectionIncrement) {
    const double step = (grid.scanningMode & kScanMinusI) ? -*grid.iDirectionIncrement
                                                           : *grid.iDirectionIncrement;
    return linear_axis(n, first, step);
  }
  return linear_axis(n, first, (last - first) / static_cast<double>(n - 1));
}

std::vector<double> regular_latitude_axis(const GridSummary& grid, double first, double last) {
  const std::uint64_t n = grid.Nj;
  if (n <= 1) return {first};
  if (grid.jDirectionIncrement) {
    // Without the +j bit rows run north to south.
    const double step = (grid.scanningMode & kScanPlusJ) ? *grid.jDirectionIncrement
                                                          : -*grid.jDirectionIncrement;
    return linear_axis(n, first, step);
  }
  return linear_axis(n, first, (last - first) / static_cast<double>(n - 1));
}

// Index of the entry closest to `target`; the lower index wins a tie.
std::size_t closest_index(const std::vector<double>& values, double target) {
  std::size_t best = 0;
  double best_distance = std::fabs(values[0] - target);
  for (std::size_t i = 1; i < values.size(); ++i) {
    const double distance = std::fabs(values[i] - target);
    if (distance < best_distance) {
      best = i;
      best_distance = distance;
    }
  }
  return best;
}

std::vector<double> gaussian_latitude_axis(const std::vector<double>& all, std::uint64_t n,
                                           double first, double last) {
  const std::uint64_t full = all.size();
  const double north = std::isnan(first) ? last : std::max(first, last);
  const double south = std::isnan(first) ? last : std::min(first, last);

  std::vector<double> axis;
  if (n == full) {
    axis = all;
  } else if (n < full) {
    // A band of the global grid: the rows between the two bounds.
    const std::size_t a = closest_index(all, north);
    const std::size_t b = closest_index(all, south);
    std::uint64_t start = std::min(a, b);
    if (full - start < n) start = full - n;
    axis.assign(all.begin() + static_cast<std::ptrdiff_t>(start),
                all.begin() + static_cast<std::ptrdiff_t>(start + n));
  } else {
    axis = linear_axis(n, north, (south - north) / static_cast<double>(n - 1));
  }

  // Start at the end nearest to the first grid point.
  if (n > 1 && std::fabs(axis.front() - first) > std::fabs(axis.back() - first)) {
    std::reverse(axis.begin(), axis.end());
  }
  return axis;
}

// The positive roots of the Legendre polynomial of degree 2N, root j near
// cos((j + 0.75) pi / (2N + 0.5)), as 2N latitudes from north to south.
// Roots are refined a few at a time in lanes so that the long chains of
// dependent divisions in the recurrence overlap; each lane does exactly the
// arithmetic of a root refined on its own.
std::vector<double> compute_gaussian_latitudes(std::uint32_t N) {
  constexpr std::uint32_t kLanes = 4;
  const std::uint64_t n = std::uint64_t{2} * N;
  const double degree = static_cast<double>(n);
  std::vector<double> sines(n);  // ascending
  for (std::uint32_t first = 0; first < N; first += kLanes) {
    const std::uint32_t lanes = std::min(kLanes, N - first);
    double x[kLanes];
    bool converged[kLanes];
    for (std::uint32_t l = 0; l < kLanes; ++l) {
      // Lanes past the last root idle on a harmless value.
      x[l] = l < lanes ? std::cos((static_cast<double>(first + l) + 0.75) * kPi / (degree + 0.5)) : 0.5;
      converged[l] = l >= lanes;
    }
    for (int step = 0; step < kMaxNewtonSteps; ++step) {
      if (std::all_of(converged, converged + kLanes, [](bool c) { return c; })) break;
      double p_prev[kLanes];  // P_(k-1)
      double p[kLanes];       // P_k
      for (std::uint32_t l = 0; l < kLanes; ++l) {
        p_prev[l] = 1.0;
        p[l] = x[l];
      }
      for (std::uint64_t k = 2; k <= n; ++k) {
        const double kd = static_cast<double>(k);
        for (std::uint32_t l = 0; l < kLanes; ++l) {
          const double next = ((2.0 * kd - 1.0) * x[l] * p[l] - (kd - 1.0) * p_prev[l]) / kd;
          p_prev[l] = p[l];
          p[l] = next;
        }
      }
      for (std::uint32_t l = 0; l < kLanes; ++l) {
        if (converged[l]) continue;
        const double next_x = x[l] - p[l] / ((x[l] * p[l] - p_prev[l]) * degree / (x[l] * x[l] - 1.0));
        converged[l] = std::fabs(next_x - x[l]) < 1e-14;
        x[l] = next_x;
      }
    }
    for (std::uint32_t l = 0; l < lanes; ++l) {
      sines[first + l] = -x[l];
      sines[n - 1 - (first + l)] = x[l];
    }
  }
  std::vector<double> latitudes(n);
  for (std::uint64_t i = 0; i < n; ++i) {
    latitudes[i] = std::asin(sines[n - 1 - i]) * kDegreesPerRadian;
  }
  return latitudes;
}

// One cell per N, filled once; the map lock is never held while computing.
struct GaussianCell {
  std::once_flag once;
  std::shared_ptr<const std::vector<double>> latitudes;
};

struct GaussianCache {
  std::mutex mutex;
  std::unordered_map<std::uint32_t, std::shared_ptr<GaussianCell>> cells;
  std::uint64_t cached_values = 0;
};

GaussianCache& gaussian_cache() {
  static GaussianCache cache;
  return cache;
}

}  // namespace

std::shared_ptr<const std::vector<double>> gaussian_latitudes(std::uint32_t N) {
  if (N == 0 || N > kMaxGaussianN) return nullptr;

  std::shared_ptr<GaussianCell> cell;
  {
    GaussianCache& cache = gaussian_cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto found = cache.cells.find(N);
    if (found != cache.cells.end()) {
      cell = found->second;
    } else if (cache.cached_values + 2u * N <= kGaussianCacheMaxValues) {
      cell = std::make_shared<GaussianCell>();
      cache.cells.emplace(N, cell);
      cache.cached_values += 2u * N;
    }
  }
  if (!cell) return std::make_shared<const std::vector<double>>(compute_gaussian_latitudes(N));
  std::call_once(cell->once, [&] {
    cell->latitudes = std::make_shared<const std::vector<double>>(compute_gaussian_latitudes(N));
  });
  return cell->latitudes;
}

std::optional<Coordinates> compute_coordinates(const GridSummary& grid) {
  if (grid.projection_kind != 0) return std::nullopt;
  if (!grid.latitudeOfFirstGridPoint || !grid.longitudeOfFirstGridPoint ||
      !grid.latitudeOfLastGridPoint || !grid.longitudeOfLastGridPoint) {
    return std::nullopt;
  }
  // The axes are only ever as long as a grid this system can hold.
  if (grid.Ni > kMaxGridPoints || grid.Nj > kMaxGridPoints ||
      std::uint64_t{grid.Ni} * grid.Nj > kMaxGridPoints) {
    return std::nullopt;
  }

  double first_lon = *grid.longitudeOfFirstGridPoint;
  double last_lon = *grid.longitudeOfLastGridPoint;
  if (!unwind_longitudes(first_lon, last_lon, grid.scanningMode & kScanMinusI)) {
    return std::nullopt;
  }

  const double first_lat = *grid.latitudeOfFirstGridPoint;
  const double last_lat = *grid.latitudeOfLastGridPoint;
  std::vector<double> latitudes;
  if (grid.N) {
    const auto all = gaussian_latitudes(*grid.N);
    if (!all) return std::nullopt;
    latitudes = gaussian_latitude_axis(*all, grid.Nj, first_lat, last_lat);
  } else {
    latitudes = regular_latitude_axis(grid, first_lat, last_lat);
  }

  return Coordinates{
      make_axis("longitude", "degrees_east", longitude_axis(grid, first_lon, last_lon)),
      make_axis("latitude", "degrees_north", std::move(latitudes)),
  };
}

}  // namespace vorlak
