#pragma once
// The loop every projection's inverse_grid runs: one inlined point inverse
// per grid point, row by row.
#include <cstddef>
#include <span>

#include "grib/geometry/projection.hpp"

namespace vorlak::detail {

template <class P>
void inverse_points(const P& projection, std::span<const double> x, std::span<const double> y, double* lat,
                    double* lon) {
  const std::size_t nx = x.size();
  for (std::size_t r = 0; r < y.size(); ++r) {
    const double yr = y[r];
    double* lat_row = lat + r * nx;
    double* lon_row = lon + r * nx;
    for (std::size_t c = 0; c < nx; ++c) {
      const GeoPoint p = projection.inverse_point(x[c], yr);
      lat_row[c] = p.lat;
      lon_row[c] = p.lon;
    }
  }
}

}  // namespace vorlak::detail
