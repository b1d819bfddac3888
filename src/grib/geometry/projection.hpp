#pragma once
// Map projections between geographic coordinates (degrees) and the plane of
// a projected grid (metres), spherical or ellipsoidal by the Earth's figure.
// The parameters are plain numbers as a grid definition states them.
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "grib/geometry/earth_shape.hpp"
#include "grib/result.hpp"

namespace vorlak {

// Lambert conformal conic, one standard parallel (latin1 == latin2) or two;
// the cone opens towards the pole on the side of the standard parallels.
struct LambertConformalParams {
  double latin1 = 0.0;
  double latin2 = 0.0;
  double lat_origin = 0.0;  // y = 0 on this parallel (the grid's LaD)
  double lon_origin = 0.0;  // the meridian parallel to the y axis (LoV)
};

// Polar stereographic on the north or the south pole, true to scale on
// the parallel true_scale_lat (its sign is taken from the pole).
struct PolarStereographicParams {
  bool south_pole = false;
  double true_scale_lat = 60.0;  // LaD
  double lon_origin = 0.0;       // LoV: the meridian along the y axis
};

// Mercator, true to scale on the parallels +-true_scale_lat.
struct MercatorParams {
  double true_scale_lat = 0.0;  // LaD
  double lon_origin = 0.0;      // x = 0 on this meridian
};

// Albers equal-area conic, one or two standard parallels.
struct AlbersEqualAreaParams {
  double latin1 = 0.0;
  double latin2 = 0.0;
  double lat_origin = 0.0;
  double lon_origin = 0.0;
};

// The view of a geostationary satellite (sweep about the y axis, as
// Meteosat scans): x and y are the scan angles times the satellite's height
// above the equator.
struct GeostationaryParams {
  double lon_origin = 0.0;          // sub-satellite longitude
  double satellite_distance = 0.0;  // from the Earth's centre, metres
};

using ProjectionParams = std::variant<LambertConformalParams, PolarStereographicParams, MercatorParams,
                                      AlbersEqualAreaParams, GeostationaryParams>;

struct PlanePoint {
  double x = 0.0;
  double y = 0.0;
};

struct GeoPoint {
  double lat = 0.0;
  double lon = 0.0;
};

class Projection {
 public:
  virtual ~Projection() = default;

  // Degrees to metres. Fails for points the projection cannot place (the
  // pole a cone opens away from, a pole of Mercator, the far side of the
  // Earth from a satellite).
  virtual Result<PlanePoint> forward(double lat, double lon) const = 0;

  // Metres to degrees. The longitude is lon_origin plus the difference,
  // not wrapped; points off the Earth (beyond a satellite's disc) are NaN.
  virtual GeoPoint inverse(double x, double y) const = 0;

  // Every point of the grid of columns at x and rows at y: point (r, c) is
  // written to lat[r * x.size() + c] and lon[r * x.size() + c].
  virtual void inverse_grid(std::span<const double> x, std::span<const double> y, double* lat, double* lon) const = 0;

  // True when the latitude depends on y alone and the longitude on x alone.
  virtual bool separable() const { return false; }

  const EarthShape& earth() const { return earth_; }

 protected:
  explicit Projection(EarthShape earth) : earth_(earth) {}
  EarthShape earth_;
};

// Checks the parameters (standard parallels off the poles and not
// symmetric about the equator for the conics, latitudes within +-90, a
// satellite outside the Earth, ...) and prepares the constants.
Result<std::unique_ptr<const Projection>> make_projection(const ProjectionParams& params, const EarthShape& earth);

}  // namespace vorlak
