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

// Bands of Gaussian grids up to this N use the cached whole list (a few
// hundredths of a second to compute once); finer ones compute their rows.
constexpr std::uint32_t kGaussianRowsOnDemandN = 2048;

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

// Latitude i (north to south) of a Gaussian grid, from a list or computed
// row by row.
struct GaussianRows {
  std::uint64_t count = 0;                // 2N
  const std::vector<double>* all = nullptr;  // the whole list when at hand
  std::uint32_t N = 0;

  double operator()(std::uint64_t i) const;
};

// Index of the entry closest to `target`; the lower index wins a tie. The
// entries strictly decrease, so the distance falls to a minimum and rises
// again: the answer is one of the two entries around the crossing.
std::uint64_t closest_index(const GaussianRows& rows, double target) {
  if (!std::isfinite(target)) return 0;  // every distance is NaN or infinite: the first entry wins
  std::uint64_t low = 0;
  std::uint64_t high = rows.count;  // first index whose entry is at or below target
  while (low < high) {
    const std::uint64_t mid = low + (high - low) / 2;
    if (rows(mid) <= target) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  if (low == 0) return 0;
  if (low == rows.count) return rows.count - 1;
  return std::fabs(rows(low - 1) - target) <= std::fabs(rows(low) - target) ? low - 1 : low;
}

std::vector<double> gaussian_latitude_axis(const GaussianRows& rows, std::uint64_t n, double first, double last) {
  const std::uint64_t full = rows.count;
  const double north = std::isnan(first) ? last : std::max(first, last);
  const double south = std::isnan(first) ? last : std::min(first, last);

  std::vector<double> axis;
  if (n == full) {
    axis = *rows.all;
  } else if (n < full) {
    // A band of the global grid: the rows between the two bounds.
    const std::uint64_t a = closest_index(rows, north);
    const std::uint64_t b = closest_index(rows, south);
    std::uint64_t start = std::min(a, b);
    if (full - start < n) start = full - n;
    axis.resize(n);
    for (std::uint64_t j = 0; j < n; ++j) axis[j] = rows(start + j);
  } else {
    axis = linear_axis(n, north, (south - north) / static_cast<double>(n - 1));
  }

  // Start at the end nearest to the first grid point.
  if (n > 1 && std::fabs(axis.front() - first) > std::fabs(axis.back() - first)) {
    std::reverse(axis.begin(), axis.end());
  }
  return axis;
}

// Roots j .. j + lanes - 1 (below N) of the Legendre polynomial of degree
// 2N, each from cos((j + 0.75) pi / (2N + 0.5)) by Newton's method. Each step
// evaluates the polynomial in 2N terms, so a root costs O(N). Refining
// several roots side by side lets their long chains of dependent divisions
// overlap; every lane does exactly the arithmetic of a root refined alone.
template <std::uint32_t kLanes>
void legendre_roots(std::uint32_t N, std::uint64_t j, std::uint32_t lanes, double* roots) {
  const std::uint64_t n = std::uint64_t{2} * N;
  const double degree = static_cast<double>(n);
  double x[kLanes];
  bool converged[kLanes];
  for (std::uint32_t l = 0; l < kLanes; ++l) {
    // Lanes past the last root idle on a harmless value.
    x[l] = l < lanes ? std::cos((static_cast<double>(j + l) + 0.75) * kPi / (degree + 0.5)) : 0.5;
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
  for (std::uint32_t l = 0; l < lanes; ++l) roots[l] = x[l];
}

double legendre_root(std::uint32_t N, std::uint64_t j) {
  double root = 0.0;
  legendre_roots<1>(N, j, 1, &root);
  return root;
}

// Latitude i of 2N, north to south: root i in the north, the mirror of
// root 2N - 1 - i in the south.
double gaussian_latitude(std::uint32_t N, std::uint64_t i) {
  const std::uint64_t n = std::uint64_t{2} * N;
  const double sine = i < N ? legendre_root(N, i) : -legendre_root(N, n - 1 - i);
  return std::asin(sine) * kDegreesPerRadian;
}

double GaussianRows::operator()(std::uint64_t i) const { return all ? (*all)[i] : gaussian_latitude(N, i); }

// All 2N latitudes, north to south. O(N^2): N roots of O(N) each.
std::vector<double> compute_gaussian_latitudes(std::uint32_t N) {
  const std::uint64_t n = std::uint64_t{2} * N;
  std::vector<double> latitudes(n);
  constexpr std::uint32_t kLanes = 4;
  for (std::uint32_t j = 0; j < N; j += kLanes) {
    const std::uint32_t lanes = std::min(kLanes, N - j);
    double roots[kLanes];
    legendre_roots<kLanes>(N, j, lanes, roots);
    for (std::uint32_t l = 0; l < lanes; ++l) {
      latitudes[j + l] = std::asin(roots[l]) * kDegreesPerRadian;
      latitudes[n - 1 - (j + l)] = std::asin(-roots[l]) * kDegreesPerRadian;
    }
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

namespace {

// Rows of N from the whole list when it is cached or cheap, else row by row.
struct GaussianRowSource {
  std::shared_ptr<const std::vector<double>> all;
  GaussianRows rows;

  GaussianRowSource(std::uint32_t N, bool whole) : rows{std::uint64_t{2} * N, nullptr, N} {
    if (whole || N <= kGaussianRowsOnDemandN) {
      all = gaussian_latitudes(N);
      rows.all = all.get();
    }
  }
};

}  // namespace

std::vector<double> gaussian_latitude_rows(std::uint32_t N, std::uint64_t first, std::uint64_t count) {
  const GaussianRowSource source(N, count == std::uint64_t{2} * N);
  std::vector<double> out(count);
  for (std::uint64_t j = 0; j < count; ++j) out[j] = source.rows(first + j);
  return out;
}

std::uint64_t gaussian_closest_row(std::uint32_t N, double latitude) {
  const GaussianRowSource source(N, false);
  return closest_index(source.rows, latitude);
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
  // A grid without points has none to place: two empty axes, which agree
  // with its empty field. (A single-entry axis for the zero dimension would
  // let Ni = 2^28, Nj = 0 build 2 GiB of axis, and the expanded keys twice
  // that, for an empty field.)
  if (grid.N && (*grid.N == 0 || *grid.N > kMaxGaussianN)) return std::nullopt;
  if (grid.Ni == 0 || grid.Nj == 0) {
    return Coordinates{make_axis("longitude", "degrees_east", {}), make_axis("latitude", "degrees_north", {})};
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
    const std::uint32_t N = *grid.N;
    if (N == 0 || N > kMaxGaussianN) return std::nullopt;
    const std::uint64_t full = std::uint64_t{2} * N;
    GaussianRows rows{full, nullptr, N};
    // The whole list costs O(N^2) once per process. A band of a fine grid
    // (N above kGaussianRowsOnDemandN) takes only its own rows, O(N) each, so
    // a small header cannot buy seconds of work; a grid of more rows than
    // the list needs none of it.
    std::shared_ptr<const std::vector<double>> all;
    if (grid.Nj == full || (grid.Nj < full && N <= kGaussianRowsOnDemandN)) {
      all = gaussian_latitudes(N);
      rows.all = all.get();
    }
    latitudes = gaussian_latitude_axis(rows, grid.Nj, first_lat, last_lat);
  } else {
    latitudes = regular_latitude_axis(grid, first_lat, last_lat);
  }

  return Coordinates{
      make_axis("longitude", "degrees_east", longitude_axis(grid, first_lon, last_lon)),
      make_axis("latitude", "degrees_north", std::move(latitudes)),
  };
}

}  // namespace vorlak
