#pragma once
// A grid definition in numbers: what the grid section of either edition
// says about where the points are, independent of how it is encoded.
// Angles are in degrees, lengths in metres.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "grib/geometry/earth_shape.hpp"
#include "grib/geometry/grid_layout.hpp"
#include "grib/geometry/projection.hpp"
#include "grib/geometry/rotated_pole.hpp"
#include "grib/result.hpp"

namespace vorlak {

// Regular or quasi-regular latitude/longitude grid (in the rotated frame
// when the definition carries a rotation).
struct LatLonGridParams {
  double la1 = 0.0, lo1 = 0.0;  // first grid point
  double la2 = 0.0, lo2 = 0.0;  // last grid point
  std::optional<double> di;     // stated increments, unsigned; the corners rule
  std::optional<double> dj;
  double angle_unit = 1e-6;  // degrees per unit the angles are stated in
};

// Gaussian grid: rows on the Gaussian latitudes of N, regular or with a
// points-per-row list.
struct GaussianGridParams {
  double la1 = 0.0, lo1 = 0.0;
  double la2 = 0.0, lo2 = 0.0;
  std::optional<double> di;
  std::uint32_t N = 0;
  double angle_unit = 1e-6;
};

// A grid regular in the plane of a projection: the first grid point and
// the steps in metres along x (columns) and y (rows).
struct ProjectedGridParams {
  ProjectionParams projection;
  double la1 = 0.0, lo1 = 0.0;
  double dx = 0.0, dy = 0.0;
};

// The view of a satellite: its grid counts apparent Earth diameters in grid
// lengths. The sector spans grid coordinates Xo .. Xo + Nx - 1 (east) and
// Yo .. Yo + Ny - 1 (north), the sub-satellite point at (Xp, Yp).
struct SpaceViewGridParams {
  double sub_lat = 0.0, sub_lon = 0.0;  // Lap, Lop
  double dx = 0.0, dy = 0.0;            // apparent diameter of the Earth in grid lengths
  double xp = 0.0, yp = 0.0;            // sub-satellite point, grid lengths
  double xo = 0.0, yo = 0.0;            // origin of the sector, grid lengths
  double orientation = 0.0;             // degrees
  std::optional<double> nr;             // camera distance in equatorial radii; none: orthographic
};

// A grid without coordinates here, and why: either the message does not
// place its points (unstructured and curvilinear grids, spectral
// coefficients), or it does but they cannot be computed (`located`: a
// projection variant or layout not supported, a broken points-per-row
// list), which asking for them reports as an error.
struct NoCoordinates {
  std::string reason;
  bool located = false;
};

using GridGeometry =
    std::variant<LatLonGridParams, GaussianGridParams, ProjectedGridParams, SpaceViewGridParams, NoCoordinates>;

struct GridDefinition {
  LayoutParams layout;
  std::optional<std::uint64_t> declared_points;  // the section's own count, checked against the layout
  GridGeometry geometry = NoCoordinates{"the grid is not described"};
  std::optional<RotatedPoleParams> rotation;  // latitude/longitude and Gaussian grids
  Result<EarthShape> earth = fail("the shape of the Earth is missing");
};

}  // namespace vorlak
