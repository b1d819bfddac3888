// Rotation of latitude/longitude frames on the sphere through the unit
// vector of a point.
#include "grib/geometry/rotated_pole.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "grib/geometry/ellipsoid_math.hpp"
#include "grib/text.hpp"

namespace vorlak {

using namespace ellipsoid;

Result<PoleRotation> PoleRotation::make(const RotatedPoleParams& params) {
  if (!(std::fabs(params.south_pole_lat) <= 90.0) || !std::isfinite(params.south_pole_lon)) {
    return fail(str_cat("rotated grid: southern pole ", params.south_pole_lat, ", ", params.south_pole_lon,
                        " is not a latitude and longitude"));
  }
  if (!std::isfinite(params.angle)) return fail("rotated grid: the angle of rotation is not a number");
  return PoleRotation(params);
}

PoleRotation::PoleRotation(const RotatedPoleParams& params) : params_(params) {
  const double tilt = radians(90.0 + params.south_pole_lat);
  sin_tilt_ = std::sin(tilt);
  cos_tilt_ = std::cos(tilt);
}

GeoPoint PoleRotation::to_geographic(double lat, double lon) const {
  const double phi = radians(lat);
  const double lambda = radians(lon + params_.angle);
  const double cp = std::cos(phi);
  const double x2 = cp * std::cos(lambda);
  const double y2 = cp * std::sin(lambda);
  const double z2 = std::sin(phi);
  const double x1 = x2 * cos_tilt_ - z2 * sin_tilt_;
  const double z1 = x2 * sin_tilt_ + z2 * cos_tilt_;
  return GeoPoint{degrees(std::asin(std::clamp(z1, -1.0, 1.0))), degrees(std::atan2(y2, x1)) + params_.south_pole_lon};
}

GeoPoint PoleRotation::to_rotated(double lat, double lon) const {
  const double phi = radians(lat);
  const double lambda = radians(lon - params_.south_pole_lon);
  const double cp = std::cos(phi);
  const double x1 = cp * std::cos(lambda);
  const double y1 = cp * std::sin(lambda);
  const double z1 = std::sin(phi);
  const double x2 = x1 * cos_tilt_ + z1 * sin_tilt_;
  const double z2 = z1 * cos_tilt_ - x1 * sin_tilt_;
  return GeoPoint{degrees(std::asin(std::clamp(z2, -1.0, 1.0))), degrees(std::atan2(y1, x2)) - params_.angle};
}

void PoleRotation::grid_to_geographic(std::span<const double> lat, std::span<const double> lon, double* out_lat,
                                      double* out_lon) const {
  // The sines and cosines of each row and column once; per point only the
  // rotation and the two inverse functions.
  const std::size_t nx = lon.size();
  std::vector<double> cos_lon(nx), sin_lon(nx);
  for (std::size_t c = 0; c < nx; ++c) {
    const double lambda = radians(lon[c] + params_.angle);
    cos_lon[c] = std::cos(lambda);
    sin_lon[c] = std::sin(lambda);
  }
  for (std::size_t r = 0; r < lat.size(); ++r) {
    const double phi = radians(lat[r]);
    const double cp = std::cos(phi);
    const double sp = std::sin(phi);
    const double z_from_x = cp * sin_tilt_;
    const double z_const = sp * cos_tilt_;
    const double x_from_x = cp * cos_tilt_;
    const double x_const = sp * sin_tilt_;
    double* lat_row = out_lat + r * nx;
    double* lon_row = out_lon + r * nx;
    for (std::size_t c = 0; c < nx; ++c) {
      const double x1 = x_from_x * cos_lon[c] - x_const;
      const double z1 = z_from_x * cos_lon[c] + z_const;
      lat_row[c] = degrees(std::asin(std::clamp(z1, -1.0, 1.0)));
      lon_row[c] = degrees(std::atan2(cp * sin_lon[c], x1)) + params_.south_pole_lon;
    }
  }
}

}  // namespace vorlak
