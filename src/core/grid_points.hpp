#pragma once
// Grid points of a message (latitude, longitude, value) and the search for
// the points nearest to a position by great-circle distance.
#include <bit>
#include <cstdint>
#include <span>
#include <vector>

#include "core/grid_view.hpp"

namespace vorlak {

inline constexpr double EARTH_RADIUS_KM = 6371.0088;
inline constexpr const char* kNoGridPoints = "no grid points are available";
inline constexpr const char* kQueryLengthMismatch = "inlats and inlons must have the same length";

struct GridPoint {
  double latitude = 0;
  double longitude = 0;
  double value = 0;
};

struct NearestCandidate {
  std::uint64_t index = 0;
  double distance = 0;  // km
  double latitude = 0;
  double longitude = 0;
  double value = 0;
};

// Haversine distance in km on the sphere of EARTH_RADIUS_KM; coordinates in
// degrees, not normalised or clamped.
double haversine_km(double query_latitude, double query_longitude, double latitude, double longitude);

// The IEEE 754 total order of doubles (negative NaN first, -0 before +0,
// positive NaN last) as a signed integer key.
inline std::int64_t total_order_key(double value) {
  const auto bits = std::bit_cast<std::int64_t>(value);
  return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// Distance by total order, then index.
inline bool nearer(const NearestCandidate& a, const NearestCandidate& b) {
  const std::int64_t ka = total_order_key(a.distance);
  const std::int64_t kb = total_order_key(b.distance);
  return ka != kb ? ka < kb : a.index < b.index;
}

// Every point in array order.
CodesResult<std::vector<GridPoint>> grid_points(const HandleRecord& handle);

// Every point as a candidate, nearest first.
CodesResult<std::vector<NearestCandidate>> rank_by_distance(const HandleRecord& handle, double latitude,
                                                            double longitude);

// The first max(count, 1) candidates of rank_by_distance (fewer when the
// grid is smaller), found without ordering the rest.
CodesResult<std::vector<NearestCandidate>> nearest(const HandleRecord& handle, double latitude, double longitude,
                                                   std::uint64_t count);
// The same search over points given directly (the field API's presented
// coordinates and values); the view's lengths are the caller's to match.
std::vector<NearestCandidate> nearest(const GridView& view, double latitude, double longitude, std::uint64_t count);

// The nearest point for each query pair, in order. Empty when the grid has
// no points (the caller reports kNoGridPoints if it asked for any). The two
// spans must have the same length (else Internal kQueryLengthMismatch).
CodesResult<std::vector<NearestCandidate>> nearest_each(const HandleRecord& handle,
                                                        std::span<const double> latitudes,
                                                        std::span<const double> longitudes);

}  // namespace vorlak
