#pragma once
// Rotated latitude/longitude frames: the grid lies regularly in a frame whose
// south pole sits at (south_pole_lat, south_pole_lon), turned by `angle`
// about its own polar axis. The frame is reached from the geographic one by
// turning the sphere through south_pole_lon about the polar axis, then
// through 90 + south_pole_lat so that the south pole moves along the
// (turned) Greenwich meridian, then through `angle` about the new axis,
// clockwise as seen from the south pole looking north: a point's rotated
// longitude is its longitude in the turned frame minus the angle.
#include <span>

#include "grib/geometry/projection.hpp"
#include "grib/result.hpp"

namespace vorlak {

struct RotatedPoleParams {
  double south_pole_lat = -90.0;
  double south_pole_lon = 0.0;
  double angle = 0.0;  // degrees
};

class PoleRotation {
 public:
  // Fails when the pole is not a latitude and longitude or the angle is not a number.
  static Result<PoleRotation> make(const RotatedPoleParams& params);

  GeoPoint to_geographic(double lat, double lon) const;
  GeoPoint to_rotated(double lat, double lon) const;

  // Every point of the rotated grid of rows at lat and columns at lon:
  // point (r, c) goes to out_lat/out_lon[r * lon.size() + c].
  void grid_to_geographic(std::span<const double> lat, std::span<const double> lon, double* out_lat,
                          double* out_lon) const;

  const RotatedPoleParams& params() const { return params_; }

 private:
  explicit PoleRotation(const RotatedPoleParams& params);
  RotatedPoleParams params_;
  double sin_tilt_ = 0.0;  // of 90 + south_pole_lat
  double cos_tilt_ = 1.0;
};

}  // namespace vorlak
