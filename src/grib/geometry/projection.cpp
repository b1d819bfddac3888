// Dispatch from the parameters to the projection they describe.
#include "grib/geometry/projection.hpp"

#include "grib/geometry/projections.hpp"

namespace vorlak {

namespace {

struct Maker {
  const EarthShape& earth;
  Result<std::unique_ptr<const Projection>> operator()(const LambertConformalParams& p) const {
    return make_lambert_conformal(p, earth);
  }
  Result<std::unique_ptr<const Projection>> operator()(const PolarStereographicParams& p) const {
    return make_polar_stereographic(p, earth);
  }
  Result<std::unique_ptr<const Projection>> operator()(const MercatorParams& p) const {
    return make_mercator(p, earth);
  }
  Result<std::unique_ptr<const Projection>> operator()(const AlbersEqualAreaParams& p) const {
    return make_albers_equal_area(p, earth);
  }
  Result<std::unique_ptr<const Projection>> operator()(const GeostationaryParams& p) const {
    return make_geostationary(p, earth);
  }
};

}  // namespace

Result<std::unique_ptr<const Projection>> make_projection(const ProjectionParams& params, const EarthShape& earth) {
  if (!(earth.a > 0.0 && earth.b > 0.0 && earth.b <= earth.a)) {
    return fail("the figure of the Earth is not usable for a projection");
  }
  return std::visit(Maker{earth}, params);
}

}  // namespace vorlak
