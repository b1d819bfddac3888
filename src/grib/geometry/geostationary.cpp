// The view from a geostationary satellite over the equator, on a sphere or
// an ellipsoid. Scan angles: ax east-west in the equatorial plane, ay the
// elevation above it (the satellite sweeps about its y axis, as Meteosat
// does); plane coordinates are the angles times the satellite's height above
// the surface. A point is seen along V = (-1, tan ax, tan ay * sqrt(1 +
// tan^2 ax)) from the satellite at distance H (in equatorial radii) from the
// centre; it lies where S + kV first meets the ellipsoid.
#include <cmath>
#include <limits>

#include "grib/geometry/ellipsoid_math.hpp"
#include "grib/geometry/projection_grid.hpp"
#include "grib/geometry/projections.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

using namespace ellipsoid;

class Geostationary final : public Projection {
 public:
  Geostationary(const EarthShape& earth, double distance, double lon0)
      : Projection(earth),
        big_h_(distance / earth.a),
        height_(distance - earth.a),
        r2_((earth.a / earth.b) * (earth.a / earth.b)),
        e2_(earth.e2()),
        lon0_(lon0) {}

  Result<PlanePoint> forward(double lat, double lon) const override {
    if (!(std::fabs(lat) <= 90.0) || !std::isfinite(lon)) {
      return fail(str_cat("latitude ", lat, ", longitude ", lon, " is not a point on the Earth"));
    }
    const double phi = radians(lat);
    const double dl = radians(wrap_degrees(lon - lon0_));
    const double s = std::sin(phi);
    const double nu = 1.0 / std::sqrt(1.0 - e2_ * s * s);  // in equatorial radii
    const double px = nu * std::cos(phi) * std::cos(dl);
    const double py = nu * std::cos(phi) * std::sin(dl);
    const double pz = nu * (1.0 - e2_) * s;
    // Seen from the satellite when the satellite is above the local horizon.
    const double vx = px - big_h_;
    if (vx * px + py * py + r2_ * pz * pz > 0.0) {
      return fail(str_cat("latitude ", lat, ", longitude ", lon, " is not seen from the satellite"));
    }
    const double ax = std::atan2(py, -vx);
    const double ay = std::atan(pz / std::hypot(vx, py));
    return PlanePoint{ax * height_, ay * height_};
  }

  GeoPoint inverse(double x, double y) const override { return inverse_point(x, y); }

  void inverse_grid(std::span<const double> x, std::span<const double> y, double* lat, double* lon) const override {
    detail::inverse_points(*this, x, y, lat, lon);
  }

  GeoPoint inverse_point(double x, double y) const {
    const double vy = std::tan(x / height_);
    const double vz = std::tan(y / height_) * std::sqrt(1.0 + vy * vy);
    const double a = 1.0 + vy * vy + r2_ * vz * vz;
    const double det = big_h_ * big_h_ - a * (big_h_ * big_h_ - 1.0);
    if (!(det >= 0.0)) {
      constexpr double nan = std::numeric_limits<double>::quiet_NaN();
      return GeoPoint{nan, nan};
    }
    const double k = (big_h_ - std::sqrt(det)) / a;
    const double px = big_h_ - k;
    const double py = k * vy;
    const double pz = k * vz;
    return GeoPoint{degrees(std::atan(r2_ * pz / std::hypot(px, py))), lon0_ + degrees(std::atan2(py, px))};
  }

 private:
  double big_h_;   // satellite distance from the centre, in equatorial radii
  double height_;  // above the equator, metres
  double r2_;      // (a / b)^2
  double e2_;
  double lon0_;
};

}  // namespace

Result<std::unique_ptr<const Projection>> make_geostationary(const GeostationaryParams& p, const EarthShape& earth) {
  if (!(p.satellite_distance > earth.a * (1.0 + 1e-6)) || !std::isfinite(p.satellite_distance)) {
    return fail(str_cat("space view: a camera ", p.satellite_distance, " m from the centre is not outside the Earth"));
  }
  if (!std::isfinite(p.lon_origin)) return fail("space view: the sub-satellite longitude is not a number");
  return std::make_unique<const Geostationary>(earth, p.satellite_distance, p.lon_origin);
}

}  // namespace vorlak
