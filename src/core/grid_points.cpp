#include "core/grid_points.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vorlak {
namespace {

constexpr double kDegree = 0.017453292519943295;  // pi / 180

// The haversine pieces, each written once so that every path computes the
// same bits: a = sin²(dlon/2)·(cos(lat)·cos(qlat)) + sin²(dlat/2), then
// distance = 2·atan2(√a, √(1−a))·R.
inline double half_angle_sine_squared(double delta_degrees) {
  const double s = std::sin(delta_degrees * kDegree * 0.5);
  return s * s;
}
inline double row_weight(double latitude, double query_cosine) { return std::cos(latitude * kDegree) * query_cosine; }
// Mathematically a lies in [0, 1] for any latitudes; rounding can step just
// outside (by an ulp above 1 for antipodal points), where the square roots
// would give a NaN distance that the total order puts before every number.
// So a is clamped into [0, 1]; NaN (from NaN coordinates) passes through.
inline double haversine_a(double lon_term, double weight, double lat_term) {
  double a = lon_term * weight + lat_term;
  a = a < 0.0 ? 0.0 : a;
  return a > 1.0 ? 1.0 : a;
}
// The sign of a NaN coming out of the arithmetic depends on which operand
// the compiler put first, so NaN distances are given one fixed value: the
// positive quiet NaN, which the total order puts after every number.
inline double distance_from_a(double a) {
  if (std::isnan(a)) return std::numeric_limits<double>::quiet_NaN();
  const double theta = std::atan2(std::sqrt(a), std::sqrt(1.0 - a));
  return 2.0 * theta * EARTH_RADIUS_KM;
}

struct Query {
  double latitude;
  double longitude;
  double cosine;  // cos(qlat), once per query

  Query(double lat, double lon) : latitude(lat), longitude(lon), cosine(std::cos(lat * kDegree)) {}

  double a(double lat, double lon) const {
    return haversine_a(half_angle_sine_squared(lon - longitude), row_weight(lat, cosine),
                       half_angle_sine_squared(lat - latitude));
  }
};

// The first k candidates by `nearer`, kept as a max-heap of k entries, so
// the top is the worst kept. The points may be offered in any order.
//
// Most points are turned away by comparing their haversine `a` with the
// `a` of the worst kept point: the distance grows with `a` on [0, 1]. The
// comparison allows a relative margin of 2^-36, far above the few ulps by
// which the library's sqrt/atan2 could bend that monotonicity, so a point
// turned away is strictly farther than the worst kept and cannot win even a
// tie by index. Below kExactBelow the margin is taken from kExactBelow
// itself, since there rounding of the distance could merge distinct `a`s
// (those points are at the query's position to within 1e-86 km). A point
// within the margin, or with `a` outside [0, 1] (whose distance is NaN and
// orders by its sign), gets its exact distance and the exact comparison.
constexpr double kExactBelow = 0x1p-600;
constexpr double kThresholdMargin = 1.0 + 0x1p-36;

class NearestSelection {
 public:
  NearestSelection(const Query& query, std::size_t k, std::vector<NearestCandidate>& heap)
      : query_(query), k_(k), heap_(heap) {
    heap_.clear();
    heap_.reserve(k);
  }

  // Points with `a` above this cannot enter (NaN never compares above).
  double threshold() const { return threshold_; }

  void offer(std::size_t index, double a, double lat, double lon, double value) {
    const NearestCandidate candidate{index, distance_from_a(a), lat, lon, value};
    if (heap_.size() < k_) {
      heap_.push_back(candidate);
      std::push_heap(heap_.begin(), heap_.end(), nearer);
      if (heap_.size() == k_) update_threshold();
      return;
    }
    if (!nearer(candidate, heap_.front())) return;
    std::pop_heap(heap_.begin(), heap_.end(), nearer);
    heap_.back() = candidate;
    std::push_heap(heap_.begin(), heap_.end(), nearer);
    update_threshold();
  }

  void finish() { std::sort_heap(heap_.begin(), heap_.end(), nearer); }

 private:
  void update_threshold() {
    const NearestCandidate& worst = heap_.front();
    if (std::isnan(worst.distance)) {
      // Negative NaN orders before every number, so no point with `a` above
      // 0 can enter; positive NaN orders after, so every point can.
      threshold_ = std::signbit(worst.distance) ? 0.0 : std::numeric_limits<double>::infinity();
      return;
    }
    const double a = query_.a(worst.latitude, worst.longitude);
    threshold_ = std::max(a, kExactBelow) * kThresholdMargin;
  }

  const Query& query_;
  std::size_t k_;
  std::vector<NearestCandidate>& heap_;
  double threshold_ = std::numeric_limits<double>::infinity();
};

// Scratch arrays kept between the queries of one multi-query call.
struct NearestWorkspace {
  std::vector<double> column_terms;  // sin²(dlon/2) per longitude column
  std::vector<std::size_t> nan_columns;
  struct Row {
    double lat_term;  // sin²(dlat/2): no point of the row has a smaller `a`
    std::size_t row;
  };
  std::vector<Row> bounded_rows;
  std::vector<std::size_t> other_rows;
};

// Grids on axes: rows are visited nearest latitude first, and the search
// stops at the first row whose sin²(dlat/2) exceeds the rejection threshold.
// That bound is exact in floating point: with a row weight cos(lat)·cos(qlat)
// of at least 0 and a finite sin²(dlon/2) in [0, 1], the rounded
// a = lon_term·weight + lat_term is never below lat_term (nor is it after the
// clamp into [0, 1]), so every point of a skipped row would have been turned
// away one by one. Rows with a negative or NaN weight (latitudes beyond a
// pole, NaN latitudes, NaN queries) have no such bound and are scanned in
// full, as are the columns with a NaN longitude term in every row. Each
// point's `a` uses the same terms as Query::a, so the distances are
// bit-identical to those of the full ordering; since selection does not
// depend on the visiting order, neither do the results.
void search_axes(const GridView& view, const Query& query, NearestSelection& selection,
                 NearestWorkspace& workspace) {
  const std::size_t columns = view.longitude_axis.size();
  if (columns == 0) return;
  auto& lon_terms = workspace.column_terms;
  auto& nan_columns = workspace.nan_columns;
  lon_terms.resize(columns);
  nan_columns.clear();
  for (std::size_t c = 0; c < columns; ++c) {
    lon_terms[c] = half_angle_sine_squared(view.longitude_axis[c] - query.longitude);
    if (std::isnan(lon_terms[c])) nan_columns.push_back(c);
  }
  auto& bounded = workspace.bounded_rows;
  auto& others = workspace.other_rows;
  bounded.clear();
  others.clear();
  for (std::size_t r = 0; r < view.latitude_axis.size(); ++r) {
    const double lat = view.latitude_axis[r];
    const double lat_term = half_angle_sine_squared(lat - query.latitude);
    if (row_weight(lat, query.cosine) >= 0.0 && !std::isnan(lat_term)) {
      bounded.push_back({lat_term, r});
    } else {
      others.push_back(r);
    }
  }
  std::sort(bounded.begin(), bounded.end(), [](const NearestWorkspace::Row& x, const NearestWorkspace::Row& y) {
    return x.lat_term != y.lat_term ? x.lat_term < y.lat_term : x.row < y.row;
  });

  const double* values = view.values.data();
  const auto offer_point = [&](std::size_t r, std::size_t c, double weight, double lat_term) {
    const double a = haversine_a(lon_terms[c], weight, lat_term);
    if (a > selection.threshold()) return;
    const std::size_t k = r * columns + c;
    selection.offer(k, a, view.latitude_axis[r], view.longitude_axis[c], values[k]);
  };
  const auto scan_row = [&](std::size_t r) {
    const double lat = view.latitude_axis[r];
    const double weight = row_weight(lat, query.cosine);
    const double lat_term = half_angle_sine_squared(lat - query.latitude);
    for (std::size_t c = 0; c < columns; ++c) offer_point(r, c, weight, lat_term);
  };

  std::size_t next = 0;
  for (; next < bounded.size() && !(bounded[next].lat_term > selection.threshold()); ++next) {
    scan_row(bounded[next].row);
  }
  if (!nan_columns.empty()) {
    for (; next < bounded.size(); ++next) {
      const std::size_t r = bounded[next].row;
      const double weight = row_weight(view.latitude_axis[r], query.cosine);
      for (std::size_t c : nan_columns) offer_point(r, c, weight, bounded[next].lat_term);
    }
  }
  for (std::size_t r : others) scan_row(r);
}

void search(const GridView& view, const Query& query, NearestSelection& selection, NearestWorkspace& workspace) {
  if (view.from_axes) {
    search_axes(view, query, selection, workspace);
    return;
  }
  for (std::size_t k = 0; k < view.size(); ++k) {
    const double lat = view.latitudes[k];
    const double lon = view.longitudes[k];
    const double a = query.a(lat, lon);
    if (a > selection.threshold()) continue;
    selection.offer(k, a, lat, lon, view.values[k]);
  }
}

}  // namespace

double haversine_km(double query_latitude, double query_longitude, double latitude, double longitude) {
  return distance_from_a(Query(query_latitude, query_longitude).a(latitude, longitude));
}

CodesResult<std::vector<GridPoint>> grid_points(const HandleRecord& handle) {
  auto view = grid_view(handle);
  if (!view) return codes_fail(std::move(view.error()));
  std::vector<GridPoint> points;
  points.reserve(view->size());
  for (std::size_t k = 0; k < view->size(); ++k) {
    points.push_back({view->latitude(k), view->longitude(k), view->values[k]});
  }
  return points;
}

CodesResult<std::vector<NearestCandidate>> rank_by_distance(const HandleRecord& handle, double latitude,
                                                            double longitude) {
  auto view = grid_view(handle);
  if (!view) return codes_fail(std::move(view.error()));
  const Query query(latitude, longitude);
  std::vector<NearestCandidate> ranked;
  ranked.reserve(view->size());
  for (std::size_t k = 0; k < view->size(); ++k) {
    const double lat = view->latitude(k);
    const double lon = view->longitude(k);
    ranked.push_back({k, distance_from_a(query.a(lat, lon)), lat, lon, view->values[k]});
  }
  std::sort(ranked.begin(), ranked.end(), nearer);
  return ranked;
}

CodesResult<std::vector<NearestCandidate>> nearest(const HandleRecord& handle, double latitude, double longitude,
                                                   std::uint64_t count) {
  auto view = grid_view(handle);
  if (!view) return codes_fail(std::move(view.error()));
  return nearest(*view, latitude, longitude, count);
}

std::vector<NearestCandidate> nearest(const GridView& view, double latitude, double longitude, std::uint64_t count) {
  const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(count, 1), view.size()));
  std::vector<NearestCandidate> result;
  if (k == 0) return result;
  thread_local NearestWorkspace workspace;
  const Query query(latitude, longitude);
  NearestSelection selection(query, k, result);
  search(view, query, selection, workspace);
  selection.finish();
  return result;
}

CodesResult<std::vector<NearestCandidate>> nearest_each(const HandleRecord& handle,
                                                        std::span<const double> latitudes,
                                                        std::span<const double> longitudes) {
  if (latitudes.size() != longitudes.size()) return codes_fail(CodesError::internal(kQueryLengthMismatch));
  std::vector<NearestCandidate> result;
  if (latitudes.empty()) return result;
  result.reserve(latitudes.size());
  NearestWorkspace workspace;
  std::vector<NearestCandidate> best;
  best.reserve(1);
  for (std::size_t q = 0; q < latitudes.size(); ++q) {
    // The grid points are read again for every query; the view copies nothing.
    auto view = grid_view(handle);
    if (!view) return codes_fail(std::move(view.error()));
    if (view->size() == 0) return std::vector<NearestCandidate>{};
    const Query query(latitudes[q], longitudes[q]);
    NearestSelection selection(query, 1, best);
    search(*view, query, selection, workspace);
    result.push_back(best.front());
  }
  return result;
}

}  // namespace vorlak
