#include "grib/geometry/regular_axes.hpp"

#include <cmath>

#include "grib/geometry/ellipsoid_math.hpp"

namespace vorlak {

double longitude_span(double first, double last, int sign, std::uint64_t n) {
  double span = std::fmod(last - first, 360.0);
  if (sign > 0 && span < 0.0) span += 360.0;
  if (sign < 0 && span > 0.0) span -= 360.0;
  if (span == 0.0 && n > 1) span = sign * 360.0;
  return span;
}

AxisSpacing longitude_spacing(double first, double span, std::uint64_t n, double unit) {
  if (n <= 1) return AxisSpacing{first, 0.0};
  const double count = static_cast<double>(n);
  const double round_step = 360.0 / count;
  if (std::fabs(std::fabs(span) - (count - 1.0) * round_step) <= unit) {
    return AxisSpacing{first, span < 0.0 ? -round_step : round_step};
  }
  return AxisSpacing{first, span / (count - 1.0)};
}

bool rows_go_round(double span, std::uint64_t widest) {
  if (widest == 0) return false;
  const double step = 360.0 / static_cast<double>(widest);
  return std::fabs(std::fabs(span) + step - 360.0) <= 0.5 * step;
}

AxisSpacing latitude_spacing(double first, double last, std::uint64_t n) {
  if (n <= 1) return AxisSpacing{first, 0.0};
  return AxisSpacing{first, (last - first) / static_cast<double>(n - 1)};
}

std::vector<double> linear_axis(AxisSpacing spacing, std::uint64_t n) {
  std::vector<double> axis(n);
  for (std::uint64_t i = 0; i < n; ++i) axis[i] = spacing.first + static_cast<double>(i) * spacing.step;
  return axis;
}

double normalized_longitude(double lon) { return ellipsoid::wrap_degrees(lon); }

}  // namespace vorlak
