#pragma once
// The figure of the Earth a grid is defined on: a sphere or an oblate
// spheroid, from the GRIB2 shape code (code table 3.2) and its scaled radius
// or axes, or from the GRIB1 resolution flag.
#include <cstdint>

#include "grib/result.hpp"

namespace vorlak {

struct EarthShape {
  double a = 0.0;           // equatorial (semi-major) radius, metres
  double b = 0.0;           // polar (semi-minor) radius, metres; equal to a on a sphere
  std::uint8_t code = 255;  // the code table 3.2 entry it came from (GRIB1: 0 or 2)

  bool is_sphere() const { return a == b; }
  // First eccentricity squared, 1 - b^2 / a^2; 0 on a sphere.
  double e2() const { return is_sphere() ? 0.0 : 1.0 - (b / a) * (b / a); }
};

// Octets 15-30 of a GRIB2 grid definition, as numbers. Scale factors are
// sign-magnitude octets (255 is missing); scaled values are unsigned
// (all ones is missing).
struct EarthShapeCode {
  std::uint8_t shape = 255;
  std::uint8_t radius_scale = 255;
  std::uint32_t radius_value = 0xFFFFFFFFu;
  std::uint8_t major_scale = 255;
  std::uint32_t major_value = 0xFFFFFFFFu;
  std::uint8_t minor_scale = 255;
  std::uint32_t minor_value = 0xFFFFFFFFu;
};

// The figure for a shape code. Fails for codes that name no figure of the
// Earth (reserved, missing, the Sun), for geomagnetic coordinates (code 10,
// whose latitudes and longitudes are not geographic), and for a radius or
// axes that are missing, zero or no Earth at all.
Result<EarthShape> earth_shape(const EarthShapeCode& code);

// GRIB1: bit 0x40 of the resolution and component flags chooses the
// IAU 1965 spheroid, else the sphere of radius 6367470 m.
EarthShape grib1_earth_shape(bool oblate);

}  // namespace vorlak
