// Lambert conformal conic projection, spherical and ellipsoidal (Snyder,
// equations 15-1 to 15-11). The cone's constant n is negative for a cone
// opening towards the south pole; the inverse then works on negated x and
// rho0 - y as Snyder prescribes.
#include <cmath>

#include "grib/geometry/ellipsoid_math.hpp"
#include "grib/geometry/projection_grid.hpp"
#include "grib/geometry/projections.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

using namespace ellipsoid;

class LambertConformal final : public Projection {
 public:
  LambertConformal(const EarthShape& earth, double n, double scale, double rho0, double lon0)
      : Projection(earth),
        e_(std::sqrt(earth.e2())),
        n_(n),
        inv_n_(1.0 / n),
        scale_(scale),
        log_scale_(std::log(std::fabs(scale))),
        rho0_(rho0),
        lon0_(lon0),
        sign_(n < 0.0 ? -1.0 : 1.0),
        series_(earth.e2()) {}

  Result<PlanePoint> forward(double lat, double lon) const override {
    if (!(std::fabs(lat) <= 90.0) || !std::isfinite(lon)) {
      return fail(str_cat("latitude ", lat, ", longitude ", lon, " is not a point on the Earth"));
    }
    if (n_ > 0.0 ? lat <= -90.0 : lat >= 90.0) {
      return fail(str_cat("latitude ", lat, " lies at the pole the cone opens away from"));
    }
    const double rho = scale_ * std::pow(tsfn(radians(lat), e_), n_);
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
    const double rho2 = sx * sx + sy * sy;
    // Inside the cone's opening sy > 0, where atan is atan2 and cheaper.
    const double theta = sy > 0.0 ? std::atan(sx / sy) : std::atan2(sx, sy);
    // t = (rho / |aF|)^(1/n), with the square root folded into the logarithm.
    const double t = std::exp((0.5 * std::log(rho2) - log_scale_) * inv_n_);
    return GeoPoint{degrees(series_.latitude_from_t(t)), lon0_ + degrees(theta * inv_n_)};
  }

 private:
  double e_;
  double n_;
  double inv_n_;
  double scale_;      // a F, negative with n
  double log_scale_;  // log |a F|
  double rho0_;
  double lon0_;
  double sign_;
  ConformalSeries series_;
};

}  // namespace

Result<std::unique_ptr<const Projection>> make_lambert_conformal(const LambertConformalParams& p,
                                                                 const EarthShape& earth) {
  for (double latin : {p.latin1, p.latin2}) {
    if (!(std::fabs(latin) < 90.0)) {
      return fail(str_cat("Lambert conformal: standard parallel ", latin, " is not a latitude between the poles"));
    }
  }
  if (!(std::fabs(p.lat_origin) <= 90.0) || !std::isfinite(p.lon_origin)) {
    return fail(str_cat("Lambert conformal: origin ", p.lat_origin, ", ", p.lon_origin, " is not a point"));
  }
  const double e2 = earth.e2();
  const double e = std::sqrt(e2);
  const double phi1 = radians(p.latin1);
  const double phi2 = radians(p.latin2);
  const double m1 = msfn(phi1, e2);
  const double t1 = tsfn(phi1, e);
  double n;
  if (std::fabs(phi1 - phi2) < 1e-12) {
    n = std::sin(phi1);
  } else {
    n = (std::log(m1) - std::log(msfn(phi2, e2))) / (std::log(t1) - std::log(tsfn(phi2, e)));
  }
  if (!(std::fabs(n) > 1e-10)) {
    return fail(str_cat("Lambert conformal: standard parallels ", p.latin1, " and ", p.latin2,
                        " make no cone (symmetric about the equator)"));
  }
  const double scale = earth.a * m1 / (n * std::pow(t1, n));
  const double rho0 = scale * std::pow(tsfn(radians(p.lat_origin), e), n);
  if (!std::isfinite(scale) || !std::isfinite(rho0) || (n > 0.0 ? p.lat_origin <= -90.0 : p.lat_origin >= 90.0)) {
    return fail(
        str_cat("Lambert conformal: latitude of origin ", p.lat_origin, " lies at the pole the cone opens away from"));
  }
  return std::make_unique<const LambertConformal>(earth, n, scale, rho0, p.lon_origin);
}

}  // namespace vorlak
