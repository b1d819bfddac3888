#pragma once
// Functions of latitude on an ellipsoid of eccentricity e, shared by the
// projections (Snyder, Map Projections: A Working Manual, USGS PP 1395; the
// equation numbers below are his). On a sphere (e = 0) each reduces to its
// spherical form. Angles are in radians.
#include <cmath>
#include <initializer_list>

namespace vorlak::ellipsoid {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kHalfPi = kPi / 2.0;
inline constexpr double kRadiansPerDegree = kPi / 180.0;
inline constexpr double kDegreesPerRadian = 180.0 / kPi;

inline double radians(double degrees) { return degrees * kRadiansPerDegree; }
inline double degrees(double radians) { return radians * kDegreesPerRadian; }

// Longitude difference brought into [-180, 180).
inline double wrap_degrees(double delta) {
  if (delta >= -180.0 && delta < 180.0) return delta;
  delta = std::fmod(delta + 180.0, 360.0);
  if (delta < 0.0) delta += 360.0;
  return delta - 180.0;
}

// m = cos(phi) / sqrt(1 - e^2 sin^2(phi))  (14-15)
inline double msfn(double phi, double e2) {
  const double s = std::sin(phi);
  return std::cos(phi) / std::sqrt(1.0 - e2 * s * s);
}

// t = tan(pi/4 - phi/2) / ((1 - e sin(phi)) / (1 + e sin(phi)))^(e/2)  (15-9);
// 0 at the north pole, infinite at the south pole.
inline double tsfn(double phi, double e) {
  const double s = std::sin(phi);
  const double t = std::tan(kPi / 4.0 - phi / 2.0);
  if (e == 0.0) return t;
  return t / std::pow((1.0 - e * s) / (1.0 + e * s), e / 2.0);
}

// Coefficients of the series from the conformal latitude chi back to the
// geodetic latitude (3-5): phi = chi + sum_k c_k sin(2k chi), k = 1..4. The
// terms left out are of order e^10, below 1e-10 radians on the Earth.
struct ConformalSeries {
  double c1 = 0.0, c2 = 0.0, c3 = 0.0, c4 = 0.0;

  explicit ConformalSeries(double e2) {
    const double e4 = e2 * e2, e6 = e4 * e2, e8 = e6 * e2;
    c1 = e2 / 2.0 + 5.0 * e4 / 24.0 + e6 / 12.0 + 13.0 * e8 / 360.0;
    c2 = 7.0 * e4 / 48.0 + 29.0 * e6 / 240.0 + 811.0 * e8 / 11520.0;
    c3 = 7.0 * e6 / 120.0 + 81.0 * e8 / 1120.0;
    c4 = 4279.0 * e8 / 161280.0;
  }

  // The geodetic latitude whose t (15-9) is `t` (t >= 0). With
  // chi = pi/2 - 2 atan(t): sin(chi) = (1 - t^2)/(1 + t^2) and
  // cos(chi) = 2t/(1 + t^2), so the series needs no further trigonometry.
  double latitude_from_t(double t) const {
    const double chi = kHalfPi - 2.0 * std::atan(t);
    if (c1 == 0.0) return chi;
    const double t2 = t * t;
    const double d = 1.0 + t2;
    const double sin_chi = (1.0 - t2) / d;
    const double cos_chi = 2.0 * t / d;
    const double s2 = 2.0 * sin_chi * cos_chi;                        // sin 2chi
    const double k2 = 2.0 * (cos_chi * cos_chi - sin_chi * sin_chi);  // 2 cos 2chi
    // Clenshaw's sum of c_k sin(2k chi).
    double b2 = 0.0, b1 = 0.0;
    for (double c : {c4, c3, c2, c1}) {
      const double b0 = c + k2 * b1 - b2;
      b2 = b1;
      b1 = b0;
    }
    return chi + b1 * s2;
  }
};

// q (3-12), the authalic function: 2 sin(phi) on a sphere.
inline double qsfn(double phi, double e) {
  const double s = std::sin(phi);
  if (e == 0.0) return 2.0 * s;
  const double es = e * s;
  return (1.0 - e * e) * (s / (1.0 - es * es) - (1.0 / (2.0 * e)) * std::log((1.0 - es) / (1.0 + es)));
}

// The latitude whose q is `q`, `qp` being q at the pole: the series from
// the authalic latitude beta = asin(q / qp) (3-18) to start, then Newton's
// iteration (3-16) to full precision (a step or two).
inline double latitude_from_q(double q, double e, double qp) {
  if (q >= qp) return kHalfPi;
  if (q <= -qp) return -kHalfPi;
  if (e == 0.0) return std::asin(q / 2.0);
  const double e2 = e * e;
  const double e4 = e2 * e2;
  const double e6 = e4 * e2;
  const double beta = std::asin(q / qp);
  double phi = beta + (e2 / 3.0 + 31.0 * e4 / 180.0 + 517.0 * e6 / 5040.0) * std::sin(2.0 * beta) +
               (23.0 * e4 / 360.0 + 251.0 * e6 / 3780.0) * std::sin(4.0 * beta) +
               (761.0 * e6 / 45360.0) * std::sin(6.0 * beta);
  for (int i = 0; i < 30; ++i) {
    const double s = std::sin(phi);
    const double w = 1.0 - e2 * s * s;
    const double step = w * w / (2.0 * std::cos(phi)) *
                        (q / (1.0 - e2) - s / w + (1.0 / (2.0 * e)) * std::log((1.0 - e * s) / (1.0 + e * s)));
    phi += step;
    if (std::fabs(step) < 1e-14) break;
  }
  return phi;
}

}  // namespace vorlak::ellipsoid
