// Shapes of the Earth by code table 3.2. Spheres carry their radius in both
// axes; spheroids are given by their semi-major axis and flattening where the
// table defines them so, by both axes where the producer states them.
#include "grib/geometry/earth_shape.hpp"

#include <cmath>
#include <optional>

#include "grib/template_walk.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

// Any figure outside these bounds is a broken header (metres written where
// kilometres are due, say) rather than an Earth: its radii are 6.36e6 m and
// 6.38e6 m. The bounds leave room for scaled-down model planets.
constexpr double kMinRadius = 1e3;
constexpr double kMaxRadius = 1e8;
// Flattening (a - b) / a above this makes the series of the ellipsoidal
// formulas lose their accuracy; the Earth's is 0.0034.
constexpr double kMaxFlattening = 0.1;

EarthShape spheroid(double a, double inverse_flattening, std::uint8_t code) {
  return EarthShape{a, a * (1.0 - 1.0 / inverse_flattening), code};
}

// value * 10^-scale, or nothing when either is missing. The scale factor
// octet is read as the template walker reads every scale factor.
std::optional<double> scaled(std::uint8_t scale, std::uint32_t value) {
  if (scale == 0xFF || value == 0xFFFFFFFFu) return std::nullopt;
  const std::int64_t factor = signed_value(scale, 1, SignRule::ScaleFactor);
  // Dividing by an exact power of ten rounds once: 63565838 at factor 1 is 6356583.8.
  const double power = std::pow(10.0, static_cast<double>(factor < 0 ? -factor : factor));
  return factor >= 0 ? static_cast<double>(value) / power : static_cast<double>(value) * power;
}

Result<EarthShape> checked(EarthShape shape) {
  if (!(shape.a >= kMinRadius && shape.a <= kMaxRadius && shape.b >= kMinRadius && shape.b <= kMaxRadius)) {
    return fail(str_cat("shape of the Earth ", shape.code, ": radii ", shape.a, " m and ", shape.b,
                        " m are not a usable figure"));
  }
  if (shape.b > shape.a || (shape.a - shape.b) / shape.a > kMaxFlattening) {
    return fail(str_cat("shape of the Earth ", shape.code, ": axes ", shape.a, " m and ", shape.b,
                        " m are not an oblate spheroid"));
  }
  return shape;
}

}  // namespace

Result<EarthShape> earth_shape(const EarthShapeCode& code) {
  const std::uint8_t c = code.shape;
  switch (c) {
    case 0:
      return EarthShape{6367470.0, 6367470.0, c};
    case 1: {
      const auto r = scaled(code.radius_scale, code.radius_value);
      if (!r) return fail("shape of the Earth 1: the radius is missing");
      return checked(EarthShape{*r, *r, c});
    }
    case 2:
      return spheroid(6378160.0, 297.0, c);
    case 3:
    case 7: {
      auto major = scaled(code.major_scale, code.major_value);
      auto minor = scaled(code.minor_scale, code.minor_value);
      if (!major || !minor) return fail(str_cat("shape of the Earth ", c, ": an axis is missing"));
      const double unit = c == 3 ? 1000.0 : 1.0;  // code 3 states kilometres
      return checked(EarthShape{*major * unit, *minor * unit, c});
    }
    case 4:
      return spheroid(6378137.0, 298.257222101, c);
    case 5:
      return spheroid(6378137.0, 298.257223563, c);
    case 6:
      return EarthShape{6371229.0, 6371229.0, c};
    case 8:
      return EarthShape{6371200.0, 6371200.0, c};
    case 9:
      return EarthShape{6377563.396, 6356256.909, c};  // Airy 1830
    case 10:
      return fail("shape of the Earth 10: the grid's coordinates are geomagnetic, not geographic");
    case 11:
      return fail("shape of the Earth 11: the grid lies on the Sun");
    case 255:
      return fail("the shape of the Earth is missing");
    default:
      return fail(str_cat("shape of the Earth ", c, " is not defined"));
  }
}

EarthShape grib1_earth_shape(bool oblate) {
  return oblate ? spheroid(6378160.0, 297.0, 2) : EarthShape{6367470.0, 6367470.0, 0};
}

}  // namespace vorlak
