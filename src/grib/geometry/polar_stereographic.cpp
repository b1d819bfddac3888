// Polar stereographic projection on either pole, spherical and ellipsoidal
// (Snyder, equations 21-33 to 21-40). Both poles share the north polar
// formulas through the symmetry phi -> -phi; on the south pole the meridian
// of origin points up the y axis instead of down.
#include <cmath>

#include "grib/geometry/ellipsoid_math.hpp"
#include "grib/geometry/projection_grid.hpp"
#include "grib/geometry/projections.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

using namespace ellipsoid;

class PolarStereographic final : public Projection {
 public:
  PolarStereographic(const EarthShape& earth, bool south, double k, double lon0)
      : Projection(earth),
        e_(std::sqrt(earth.e2())),
        pole_(south ? -1.0 : 1.0),
        k_(k),
        lon0_(lon0),
        series_(earth.e2()) {}

  Result<PlanePoint> forward(double lat, double lon) const override {
    if (!(std::fabs(lat) <= 90.0) || !std::isfinite(lon)) {
      return fail(str_cat("latitude ", lat, ", longitude ", lon, " is not a point on the Earth"));
    }
    if (pole_ * lat <= -90.0) return fail(str_cat("latitude ", lat, " is the pole opposite the projection's"));
    const double rho = k_ * tsfn(radians(pole_ * lat), e_);
    const double dl = radians(wrap_degrees(lon - lon0_));
    return PlanePoint{rho * std::sin(dl), -pole_ * rho * std::cos(dl)};
  }

  GeoPoint inverse(double x, double y) const override { return inverse_point(x, y); }

  void inverse_grid(std::span<const double> x, std::span<const double> y, double* lat, double* lon) const override {
    detail::inverse_points(*this, x, y, lat, lon);
  }

  GeoPoint inverse_point(double x, double y) const {
    const double t = std::sqrt(x * x + y * y) / k_;
    const double lat = pole_ * series_.latitude_from_t(t);
    return GeoPoint{degrees(lat), lon0_ + degrees(std::atan2(x, -pole_ * y))};
  }

 private:
  double e_;
  double pole_;  // +1 north, -1 south
  double k_;     // rho = k t
  double lon0_;
  ConformalSeries series_;
};

}  // namespace

Result<std::unique_ptr<const Projection>> make_polar_stereographic(const PolarStereographicParams& p,
                                                                   const EarthShape& earth) {
  if (!(std::fabs(p.true_scale_lat) <= 90.0) || !std::isfinite(p.lon_origin)) {
    return fail(str_cat("polar stereographic: latitude of true scale ", p.true_scale_lat, " or orientation ",
                        p.lon_origin, " is not an angle"));
  }
  const double e2 = earth.e2();
  const double e = std::sqrt(e2);
  // Work in the north polar frame: the true-scale latitude on the pole's side.
  const double phic = radians(std::fabs(p.true_scale_lat));
  double k;
  if (std::fabs(phic - kHalfPi) < 1e-12) {
    k = 2.0 * earth.a / std::sqrt(std::pow(1.0 + e, 1.0 + e) * std::pow(1.0 - e, 1.0 - e));
  } else {
    k = earth.a * msfn(phic, e2) / tsfn(phic, e);
  }
  return std::make_unique<const PolarStereographic>(earth, p.south_pole, k, p.lon_origin);
}

}  // namespace vorlak
