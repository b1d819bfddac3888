// Mercator projection, spherical and ellipsoidal (Snyder, equations 7-1 to
// 7-9), true to scale on +-LaD: k0 = m(LaD).
#include <cmath>

#include "grib/geometry/ellipsoid_math.hpp"
#include "grib/geometry/projection_grid.hpp"
#include "grib/geometry/projections.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

using namespace ellipsoid;

class Mercator final : public Projection {
 public:
  Mercator(const EarthShape& earth, double ak, double lon0)
      : Projection(earth), e_(std::sqrt(earth.e2())), ak_(ak), lon0_(lon0), series_(earth.e2()) {}

  Result<PlanePoint> forward(double lat, double lon) const override {
    if (!(std::fabs(lat) < 90.0) || !std::isfinite(lon)) {
      return fail(str_cat("latitude ", lat, ", longitude ", lon, " cannot be placed on a Mercator grid"));
    }
    return PlanePoint{ak_ * radians(wrap_degrees(lon - lon0_)), -ak_ * std::log(tsfn(radians(lat), e_))};
  }

  GeoPoint inverse(double x, double y) const override { return inverse_point(x, y); }

  void inverse_grid(std::span<const double> x, std::span<const double> y, double* lat, double* lon) const override {
    detail::inverse_points(*this, x, y, lat, lon);
  }

  bool separable() const override { return true; }

  GeoPoint inverse_point(double x, double y) const {
    return GeoPoint{degrees(series_.latitude_from_t(std::exp(-y / ak_))), lon0_ + degrees(x / ak_)};
  }

 private:
  double e_;
  double ak_;  // a k0
  double lon0_;
  ConformalSeries series_;
};

}  // namespace

Result<std::unique_ptr<const Projection>> make_mercator(const MercatorParams& p, const EarthShape& earth) {
  if (!(std::fabs(p.true_scale_lat) < 90.0) || !std::isfinite(p.lon_origin)) {
    return fail(str_cat("Mercator: latitude of true scale ", p.true_scale_lat, " is not a latitude between the poles"));
  }
  const double ak = earth.a * msfn(radians(p.true_scale_lat), earth.e2());
  return std::make_unique<const Mercator>(earth, ak, p.lon_origin);
}

}  // namespace vorlak
