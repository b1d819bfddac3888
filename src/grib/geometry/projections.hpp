#pragma once
// The factory of each projection (one file each); make_projection picks
// among them.
#include "grib/geometry/projection.hpp"

namespace vorlak {

Result<std::unique_ptr<const Projection>> make_lambert_conformal(const LambertConformalParams& p,
                                                                 const EarthShape& earth);
Result<std::unique_ptr<const Projection>> make_polar_stereographic(const PolarStereographicParams& p,
                                                                   const EarthShape& earth);
Result<std::unique_ptr<const Projection>> make_mercator(const MercatorParams& p, const EarthShape& earth);
Result<std::unique_ptr<const Projection>> make_albers_equal_area(const AlbersEqualAreaParams& p,
                                                                 const EarthShape& earth);
Result<std::unique_ptr<const Projection>> make_geostationary(const GeostationaryParams& p, const EarthShape& earth);

}  // namespace vorlak
