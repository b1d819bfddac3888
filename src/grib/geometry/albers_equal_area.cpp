// Albers equal-area conic projection, spherical and ellipsoidal (Snyder,
// equations 14-1 to 14-21). The ellipsoidal inverse finds the latitude from
// q by Newton's iteration.
#include <cmath>

#include "grib/geometry/ellipsoid_math.hpp"
#include "grib/geometry/projection_grid.hpp"
#include "grib/geometry/projections.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

using namespace ellipsoid;

class AlbersEqualArea final : public Projection {
 public:
  AlbersEqualArea(const EarthShape& earth, double n, double c, double rho0, double lon0)
      : Projection(earth),
        e_(std::sqrt(earth.e2())),
        qp_(qsfn(kHalfPi, e_)),
        n_(n),
        c_(c),
        rho0_(rho0),
        lon0_(lon0),
        sign_(n < 0.0 ? -1.0 : 1.0) {}

  Result<PlanePoint> forward(double lat, double lon) const override {
    if (!(std::fabs(lat) <= 90.0) || !std::isfinite(lon)) {
      return fail(str_cat("latitude ", lat, ", longitude ", lon, " is not a point on the Earth"));
    }
    const double rho = earth_.a * std::sqrt(std::fmax(c_ - n_ * qsfn(radians(lat), e_), 0.0)) / n_;
    const double theta = n_ * radians(wrap_degrees(lon - lon0_));
    return PlanePoint{rho * std::sin(theta), rho0_ - rho * std::cos(theta)};
  }

  GeoPoint inverse(double x, double y) const override { return inverse_point(x, y); }

  void inverse_grid(std::span<const double> x, std::span<const double> y, double* lat, double* lon) const override {
    detail::inverse_points(*this, x, y, lat, lon);
  }

  GeoPoint inverse_point(double x, double y) const {
    const double sx = sign_ * x;
    const double sy = sign_ * (rho0_ - y);
    const double rho_n_a = std::sqrt(sx * sx + sy * sy) * n_ / earth_.a;
    const double q = (c_ - rho_n_a * rho_n_a) / n_;
    const double theta = std::atan2(sx, sy);
    return GeoPoint{degrees(latitude_from_q(q, e_, qp_)), lon0_ + degrees(theta / n_)};
  }

 private:
  double e_;
  double qp_;
  double n_;
  double c_;
  double rho0_;
  double lon0_;
  double sign_;
};

}  // namespace

Result<std::unique_ptr<const Projection>> make_albers_equal_area(const AlbersEqualAreaParams& p,
                                                                 const EarthShape& earth) {
  for (double latin : {p.latin1, p.latin2}) {
    if (!(std::fabs(latin) <= 90.0)) {
      return fail(str_cat("Albers equal area: standard parallel ", latin, " is not a latitude"));
    }
  }
  if (!(std::fabs(p.lat_origin) <= 90.0) || !std::isfinite(p.lon_origin)) {
    return fail(str_cat("Albers equal area: origin ", p.lat_origin, ", ", p.lon_origin, " is not a point"));
  }
  const double e2 = earth.e2();
  const double e = std::sqrt(e2);
  const double phi1 = radians(p.latin1);
  const double phi2 = radians(p.latin2);
  const double m1 = msfn(phi1, e2);
  const double q1 = qsfn(phi1, e);
  double n;
  if (std::fabs(phi1 - phi2) < 1e-12) {
    n = std::sin(phi1);
  } else {
    const double m2 = msfn(phi2, e2);
    n = (m1 * m1 - m2 * m2) / (qsfn(phi2, e) - q1);
  }
  if (!(std::fabs(n) > 1e-10)) {
    return fail(str_cat("Albers equal area: standard parallels ", p.latin1, " and ", p.latin2,
                        " make no cone (symmetric about the equator)"));
  }
  const double c = m1 * m1 + n * q1;
  const double under = c - n * qsfn(radians(p.lat_origin), e);
  if (!(under >= 0.0)) {
    return fail(str_cat("Albers equal area: latitude of origin ", p.lat_origin, " is outside the projection"));
  }
  const double rho0 = earth.a * std::sqrt(under) / n;
  return std::make_unique<const AlbersEqualArea>(earth, n, c, rho0, p.lon_origin);
}

}  // namespace vorlak
