#pragma once
// The nearest search's oracle: every point of a grid as a candidate, its
// distance from haversine_km, fully sorted nearest first (ties by index).
#include <algorithm>
#include <vector>

#include "core/grid_points.hpp"

namespace vorlak::test {

inline std::vector<NearestCandidate> rank_by_distance(const GridView& view, double latitude, double longitude) {
  std::vector<NearestCandidate> ranked;
  ranked.reserve(view.size());
  for (std::size_t k = 0; k < view.size(); ++k) {
    const double lat = view.latitude(k);
    const double lon = view.longitude(k);
    ranked.push_back({k, haversine_km(latitude, longitude, lat, lon), lat, lon, view.values[k]});
  }
  std::sort(ranked.begin(), ranked.end(), nearer);
  return ranked;
}

inline CodesResult<std::vector<NearestCandidate>> rank_by_distance(const HandleRecord& handle, double latitude,
                                                                   double longitude) {
  auto view = grid_view(handle);
  if (!view) return codes_fail(std::move(view.error()));
  return rank_by_distance(*view, latitude, longitude);
}

}  // namespace vorlak::test
