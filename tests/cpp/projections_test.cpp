// Map projections: Snyder's worked examples (USGS PP 1395), reference points
// from PROJ 9.1 (tools/projection_references.py), round trips, earth shapes
// and the parameters that make no projection.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "grib/geometry/earth_shape.hpp"
#include "grib/geometry/projection.hpp"
#include "grib/geometry/rotated_pole.hpp"

namespace vorlak {
namespace {

const EarthShape kUnitSphere{1.0, 1.0};
const EarthShape kClarke1866{6378206.4, 6356583.8};
const EarthShape kInternational{6378388.0, 6378388.0 * (1.0 - 1.0 / 297.0)};

double longitude_difference(double a, double b) { return std::remainder(a - b, 360.0); }

std::unique_ptr<const Projection> projection_of(const ProjectionParams& params, const EarthShape& earth) {
  auto made = make_projection(params, earth);
  EXPECT_TRUE(made) << made.error();
  return made ? std::move(*made) : nullptr;
}

struct ProjectionCase {
  const char* name;
  ProjectionParams params;
  EarthShape earth;
  double lat, lon;  // degrees
  double x, y;      // expected, in the earth's units
  double tolerance;
};

// Snyder's numerical examples, to the digits he prints.
const ProjectionCase kSnyder[] = {
    {"lambert conformal sphere", LambertConformalParams{33, 45, 23, -96}, kUnitSphere, 35, -75, 0.2966785, 0.2462112,
     1e-7},
    {"lambert conformal Clarke 1866", LambertConformalParams{33, 45, 23, -96}, kClarke1866, 35, -75, 1894410.9,
     1564649.5, 0.05},
    {"polar stereographic south, International", PolarStereographicParams{true, -71, -100}, kInternational, -75, 150,
     -1540033.6, -560526.4, 0.05},
    {"mercator sphere", MercatorParams{0, -180}, kUnitSphere, 35, -75, 1.8325957, 0.6528366, 1e-7},
    {"mercator Clarke 1866", MercatorParams{0, -180}, kClarke1866, 35, -75, 11688673.7, 4139145.6, 0.1},
    {"albers sphere", AlbersEqualAreaParams{29.5, 45.5, 23, -96}, kUnitSphere, 35, -75, 0.2952720, 0.2416774, 1e-7},
    {"albers Clarke 1866", AlbersEqualAreaParams{29.5, 45.5, 23, -96}, kClarke1866, 35, -75, 1885472.7, 1535925.0,
     0.05},
};

// PROJ's forward results for the same parameters, to a millimetre.
const ProjectionCase kProj[] = {
    {"lambert sphere south", LambertConformalParams{-30, -30, -30, 140}, EarthShape{6371229.0, 6371229.0}, -25, 150,
     1010308.0899879225, 512581.97580860014, 1e-3},
    {"lambert sphere south", LambertConformalParams{-30, -30, -30, 140}, EarthShape{6371229.0, 6371229.0}, -45, 120,
     -1623104.7305930697, -1830207.9847082787, 1e-3},
    {"lambert sphere south", LambertConformalParams{-30, -30, -30, 140}, EarthShape{6371229.0, 6371229.0}, -5, 175,
     4180538.1515311706, 2223680.7378211184, 1e-3},
    {"lambert WGS84 secant", LambertConformalParams{33, 45, 40, -97}, EarthShape{6378137.0, 6356752.314245179}, 20,
     -120, -2494305.560822759, -1925084.3661337222, 1e-3},
    {"lambert WGS84 secant", LambertConformalParams{33, 45, 40, -97}, EarthShape{6378137.0, 6356752.314245179}, 55, -60,
     2390070.894099449, 2176568.458724635, 1e-3},
    {"lambert WGS84 secant", LambertConformalParams{33, 45, 40, -97}, EarthShape{6378137.0, 6356752.314245179}, 80, -97,
     0.0, 5027292.621592746, 1e-3},
    {"lambert GRS80 tangent", LambertConformalParams{25, 25, 25, 265}, EarthShape{6378137.0, 6356752.314140356}, 20.19,
     238.449996, -2766893.276192303, -261474.57207968226, 1e-3},
    {"lambert GRS80 tangent", LambertConformalParams{25, 25, 25, 265}, EarthShape{6378137.0, 6356752.314140356}, 50,
     300, 2760674.9231212586, 3231231.044061178, 1e-3},
    {"lambert WGS84 south secant", LambertConformalParams{-60, -20, -40, 20}, EarthShape{6378137.0, 6356752.314245179},
     -10, 0, -2334830.070470459, 3005403.2486428507, 1e-3},
    {"lambert WGS84 south secant", LambertConformalParams{-60, -20, -40, 20}, EarthShape{6378137.0, 6356752.314245179},
     -70, 60, 1637168.8562452667, -3680514.2940262654, 1e-3},
    {"polar north sphere", PolarStereographicParams{false, 60, 210}, EarthShape{6371229.0, 6371229.0}, 40.53, 181.429,
     -2619395.9687247765, -4810103.250943903, 1e-3},
    {"polar north sphere", PolarStereographicParams{false, 60, 210}, EarthShape{6371229.0, 6371229.0}, 75, 300,
     1565200.109283516, 1.2943360943849393e-09, 1e-3},
    {"polar north sphere", PolarStereographicParams{false, 60, 210}, EarthShape{6371229.0, 6371229.0}, 10, 30,
     3.2085104764216777e-09, 9975950.768017754, 1e-3},
    {"polar north WGS84", PolarStereographicParams{false, 70, -45}, EarthShape{6378137.0, 6356752.314245179}, 60, -30,
     860097.1679699387, -3209926.3303099144, 1e-3},
    {"polar north WGS84", PolarStereographicParams{false, 70, -45}, EarthShape{6378137.0, 6356752.314245179}, 85, 100,
     310859.32875881495, 443953.1307440928, 1e-3},
    {"polar north WGS84", PolarStereographicParams{false, 70, -45}, EarthShape{6378137.0, 6356752.314245179}, 30, 135,
     8.747450362064166e-10, 7142835.27965327, 1e-3},
    {"polar south WGS84 at pole", PolarStereographicParams{true, -90, 0}, EarthShape{6378137.0, 6356752.314245179}, -70,
     45, 1595180.0922876652, 1595180.0922876652, 1e-3},
    {"polar south WGS84 at pole", PolarStereographicParams{true, -90, 0}, EarthShape{6378137.0, 6356752.314245179}, -20,
     -170, -1549387.9876776703, -8787015.926050443, 1e-3},
    {"polar south sphere", PolarStereographicParams{true, -60, 100}, EarthShape{6371229.0, 6371229.0}, -50, 10,
     -4327196.679814054, 2.6496437816076675e-10, 1e-3},
    {"polar south sphere", PolarStereographicParams{true, -60, 100}, EarthShape{6371229.0, 6371229.0}, -85, -120,
     333657.87099545024, -397637.96645616315, 1e-3},
    {"mercator sphere", MercatorParams{20, 0}, EarthShape{6371229.0, 6371229.0}, 18.073, -161.525, -16878200.780530702,
     1920617.7920426135, 1e-3},
    {"mercator sphere", MercatorParams{20, 0}, EarthShape{6371229.0, 6371229.0}, -60, 10, 1044928.0780393562,
     -7884622.815551547, 1e-3},
    {"mercator sphere", MercatorParams{20, 0}, EarthShape{6371229.0, 6371229.0}, 80, 179, 18704212.596904475,
     14585797.514316617, 1e-3},
    {"mercator WGS84", MercatorParams{0, -100}, EarthShape{6378137.0, 6356752.314245179}, 45, 30, 14471533.803125564,
     5591295.9185533915, 1e-3},
    {"mercator WGS84", MercatorParams{0, -100}, EarthShape{6378137.0, 6356752.314245179}, -75, -100, 0.0,
     -12890914.137293588, 1e-3},
    {"albers GRS80", AlbersEqualAreaParams{29.5, 45.5, 23, -96}, EarthShape{6378137.0, 6356752.314140356}, 60, -150,
     -3161648.5406786804, 4976973.318429143, 1e-3},
    {"albers GRS80", AlbersEqualAreaParams{29.5, 45.5, 23, -96}, EarthShape{6378137.0, 6356752.314140356}, 25, -80,
     1627221.6676271658, 355425.773584545, 1e-3},
    {"albers GRS80", AlbersEqualAreaParams{29.5, 45.5, 23, -96}, EarthShape{6378137.0, 6356752.314140356}, 89, 0,
     3426473.708944859, 7777735.777643357, 1e-3},
    {"albers sphere south", AlbersEqualAreaParams{-20, -40, -30, 130}, EarthShape{6371229.0, 6371229.0}, -10, 120,
     -1137416.9373652039, 2166576.4287901474, 1e-3},
    {"albers sphere south", AlbersEqualAreaParams{-20, -40, -30, 130}, EarthShape{6371229.0, 6371229.0}, -60, 170,
     2641757.044710875, -3656028.335307122, 1e-3},
    {"geostationary ellipsoid", GeostationaryParams{0, 42164000}, EarthShape{6378169.0, 6356583.8}, 40, 20,
     1593069.4237990847, 3865581.4693145803, 1e-3},
    {"geostationary ellipsoid", GeostationaryParams{0, 42164000}, EarthShape{6378169.0, 6356583.8}, -60, -50,
     -2182503.088165126, -4868074.929150591, 1e-3},
    {"geostationary ellipsoid", GeostationaryParams{0, 42164000}, EarthShape{6378169.0, 6356583.8}, 0, 0, 0.0, 0.0,
     1e-3},
    {"geostationary ellipsoid", GeostationaryParams{0, 42164000}, EarthShape{6378169.0, 6356583.8}, 70, 5,
     170671.59736362242, 5304639.922430853, 1e-3},
    {"geostationary sphere", GeostationaryParams{-75, 42164000}, EarthShape{6371229.0, 6371229.0}, 30, -90,
     -1386994.6227034305, 3085542.5815233085, 1e-3},
    {"geostationary sphere", GeostationaryParams{-75, 42164000}, EarthShape{6371229.0, 6371229.0}, -45, -20,
     3327659.8656865247, -4039238.3138474477, 1e-3},
};

// Forward to the expected point, and the inverse back to well within 1e-7
// degrees.
void check_forward_and_back(const ProjectionCase& c, const Projection& projection) {
  auto xy = projection.forward(c.lat, c.lon);
  ASSERT_TRUE(xy) << xy.error();
  EXPECT_NEAR(xy->x, c.x, c.tolerance);
  EXPECT_NEAR(xy->y, c.y, c.tolerance);
  const GeoPoint back = projection.inverse(xy->x, xy->y);
  EXPECT_NEAR(back.lat, c.lat, 1e-9);
  EXPECT_NEAR(longitude_difference(back.lon, c.lon), 0.0, 1e-9);
}

class ProjectionExamples : public ::testing::TestWithParam<ProjectionCase> {};

TEST_P(ProjectionExamples, MatchProj) {
  auto projection = projection_of(GetParam().params, GetParam().earth);
  ASSERT_TRUE(projection);
  check_forward_and_back(GetParam(), *projection);
}

class SnyderExamples : public ::testing::TestWithParam<ProjectionCase> {};

TEST_P(SnyderExamples, MatchTheWorkedExamples) {
  const ProjectionCase& c = GetParam();
  auto projection = projection_of(c.params, c.earth);
  ASSERT_TRUE(projection);
  check_forward_and_back(c, *projection);
  // The inverse of the printed result, within what its digits allow.
  const GeoPoint from_expected = projection->inverse(c.x, c.y);
  const double degrees_per_unit = 180.0 / (3.141592653589793 * c.earth.a);
  EXPECT_NEAR(from_expected.lat, c.lat, 4 * c.tolerance * degrees_per_unit + 1e-9);
  EXPECT_NEAR(longitude_difference(from_expected.lon, c.lon), 0.0,
              4 * c.tolerance * degrees_per_unit / std::cos(c.lat * 3.141592653589793 / 180.0) + 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Snyder, SnyderExamples, ::testing::ValuesIn(kSnyder));
INSTANTIATE_TEST_SUITE_P(Proj, ProjectionExamples, ::testing::ValuesIn(kProj));

// The grid's own inverse loop gives what the point inverse gives.
TEST(Projections, GridInverseAgreesWithPointInverse) {
  auto projection = projection_of(LambertConformalParams{33, 45, 40, -97}, EarthShape{6378137.0, 6356752.314245179});
  ASSERT_TRUE(projection);
  const std::vector<double> x{-2e6, 0.0, 1.5e6};
  const std::vector<double> y{-1e6, 2e6};
  std::vector<double> lat(6), lon(6);
  projection->inverse_grid(x, y, lat.data(), lon.data());
  for (std::size_t r = 0; r < y.size(); ++r) {
    for (std::size_t c = 0; c < x.size(); ++c) {
      const GeoPoint p = projection->inverse(x[c], y[r]);
      EXPECT_EQ(lat[r * 3 + c], p.lat);
      EXPECT_EQ(lon[r * 3 + c], p.lon);
    }
  }
}

TEST(Projections, PolesOfConesAndStereographicMapToTheCentre) {
  auto north = projection_of(LambertConformalParams{25, 25, 90, -95}, EarthShape{6371229, 6371229});
  ASSERT_TRUE(north);
  EXPECT_NEAR(north->inverse(0.0, 0.0).lat, 90.0, 1e-12);
  auto south = projection_of(LambertConformalParams{-25, -25, -90, -95}, EarthShape{6371229, 6371229});
  ASSERT_TRUE(south);
  EXPECT_NEAR(south->inverse(0.0, 0.0).lat, -90.0, 1e-12);
  auto stereo = projection_of(PolarStereographicParams{true, -60, 0}, EarthShape{6378137.0, 6356752.314245179});
  ASSERT_TRUE(stereo);
  EXPECT_NEAR(stereo->inverse(0.0, 0.0).lat, -90.0, 1e-12);
}

TEST(Projections, GeostationaryOffTheDiscIsNaN) {
  auto geos = projection_of(GeostationaryParams{0, 42164000}, EarthShape{6378169.0, 6356583.8});
  ASSERT_TRUE(geos);
  const GeoPoint p = geos->inverse(6e6, 0.0);  // beyond the limb (about 5.43e6 m)
  EXPECT_TRUE(std::isnan(p.lat) && std::isnan(p.lon));
  EXPECT_FALSE(geos->forward(0.0, 100.0));  // the far side
}

struct BadProjection {
  const char* name;
  ProjectionParams params;
  EarthShape earth;
  const char* text;  // part of the error
};

const BadProjection kBadProjections[] = {
    {"lambert standard parallel at a pole", LambertConformalParams{90, 90, 60, 0}, EarthShape{6371229, 6371229},
     "standard parallel 90"},
    {"lambert symmetric parallels", LambertConformalParams{30, -30, 0, 0}, EarthShape{6371229, 6371229},
     "make no cone"},
    {"lambert origin at the far pole", LambertConformalParams{30, 30, -90, 0}, EarthShape{6371229, 6371229},
     "pole the cone opens away from"},
    {"lambert parallel not a number", LambertConformalParams{NAN, 30, 30, 0}, EarthShape{6371229, 6371229},
     "not a latitude"},
    {"stereographic true scale beyond the pole", PolarStereographicParams{false, 120, 0}, EarthShape{6371229, 6371229},
     "not an angle"},
    {"mercator true scale at the pole", MercatorParams{90, 0}, EarthShape{6371229, 6371229}, "between the poles"},
    {"albers symmetric parallels", AlbersEqualAreaParams{-45, 45, 0, 0}, EarthShape{6371229, 6371229}, "make no cone"},
    {"satellite inside the Earth", GeostationaryParams{0, 6e6}, EarthShape{6371229, 6371229}, "not outside the Earth"},
    {"zero earth", MercatorParams{0, 0}, EarthShape{0, 0}, "figure of the Earth"},
};

class BadProjections : public ::testing::TestWithParam<BadProjection> {};

TEST_P(BadProjections, AreRefusedWithAReason) {
  auto made = make_projection(GetParam().params, GetParam().earth);
  ASSERT_FALSE(made);
  EXPECT_NE(made.error().find(GetParam().text), std::string::npos) << made.error();
}

INSTANTIATE_TEST_SUITE_P(Parameters, BadProjections, ::testing::ValuesIn(kBadProjections));

TEST(Projections, ForwardRefusesThePoleAConeOpensAwayFrom) {
  auto lambert = projection_of(LambertConformalParams{40, 40, 40, 0}, EarthShape{6371229, 6371229});
  ASSERT_TRUE(lambert);
  EXPECT_FALSE(lambert->forward(-90.0, 0.0));
  EXPECT_FALSE(lambert->forward(NAN, 0.0));
  auto mercator = projection_of(MercatorParams{0, 0}, EarthShape{6371229, 6371229});
  ASSERT_TRUE(mercator);
  EXPECT_FALSE(mercator->forward(90.0, 0.0));
}

// Rotated frames. Reference points from PROJ's ob_tran with o_lat_p = -pole
// latitude, o_lon_p = -angle, lon_0 = pole longitude.
struct RotationCase {
  RotatedPoleParams pole;
  double lat_r, lon_r;  // in the rotated frame
  double lat, lon;      // geographic
};

const RotationCase kRotations[] = {
    {{-90, 0, 0}, 12.5, -40.0, 12.5, -40.0},  // the unrotated frame
    {{-30, 15, 0}, 0.0, 0.0, 60.0, 15.0},     // the rotated origin lies 90 degrees from the pole
    {{-36.08852, 245.305142, 0}, -12.3, -14.8, 39.63400400991793, -133.60445736876198},
    {{-36.08852, 245.305142, 0}, 50, 100, 21.16324752971498, 22.554907507471455},
    {{-40, 10, 25}, 10, 20, 40.17053815322806, 75.68827489534227},
    {{-60, -100, -70}, -12.3, -14.8, -8.06020918171396, -179.33703165078995},
};

class Rotations : public ::testing::TestWithParam<RotationCase> {};

TEST_P(Rotations, BothWays) {
  const RotationCase& c = GetParam();
  auto rotation = PoleRotation::make(c.pole);
  ASSERT_TRUE(rotation);
  const GeoPoint geo = rotation->to_geographic(c.lat_r, c.lon_r);
  EXPECT_NEAR(geo.lat, c.lat, 1e-10);
  EXPECT_NEAR(longitude_difference(geo.lon, c.lon), 0.0, 1e-10);
  const GeoPoint back = rotation->to_rotated(c.lat, c.lon);
  EXPECT_NEAR(back.lat, c.lat_r, 1e-10);
  EXPECT_NEAR(longitude_difference(back.lon, c.lon_r), 0.0, 1e-10);
  double lat = 0, lon = 0;
  const double lat_r = c.lat_r, lon_r = c.lon_r;
  rotation->grid_to_geographic(std::span<const double>(&lat_r, 1), std::span<const double>(&lon_r, 1), &lat, &lon);
  EXPECT_NEAR(lat, c.lat, 1e-10);
  EXPECT_NEAR(longitude_difference(lon, c.lon), 0.0, 1e-10);
}

INSTANTIATE_TEST_SUITE_P(Proj, Rotations, ::testing::ValuesIn(kRotations));

TEST(Rotations, PoleThatIsNotALatitudeIsRefused) {
  EXPECT_FALSE(PoleRotation::make({-100, 0, 0}));
  EXPECT_FALSE(PoleRotation::make({NAN, 0, 0}));
  EXPECT_FALSE(PoleRotation::make({-40, INFINITY, 0}));
  EXPECT_FALSE(PoleRotation::make({-40, 0, NAN}));
}

// Shapes of the Earth by code.
struct ShapeCase {
  EarthShapeCode code;
  double a, b;  // 0: refused
};

const ShapeCase kShapes[] = {
    {{0}, 6367470.0, 6367470.0},
    {{1, 0, 6371200}, 6371200.0, 6371200.0},
    {{1, 2, 637122900}, 6371229.0, 6371229.0},
    {{2}, 6378160.0, 6378160.0 * (1 - 1 / 297.0)},
    {{3, 255, 0xFFFFFFFF, 3, 6378137, 4, 63567523}, 6378137.0, 6356752.3},
    {{4}, 6378137.0, 6356752.314140356},
    {{5}, 6378137.0, 6356752.314245179},
    {{6}, 6371229.0, 6371229.0},
    {{7, 255, 0xFFFFFFFF, 0, 6378160, 0, 6356775}, 6378160.0, 6356775.0},
    {{8}, 6371200.0, 6371200.0},
    {{1, 0, 0}, 0, 0},                                       // zero radius
    {{1}, 0, 0},                                             // missing radius
    {{3, 255, 0xFFFFFFFF, 1, 63781370, 1, 63567523}, 0, 0},  // metres where kilometres are due
    {{7, 255, 0xFFFFFFFF, 1, 63781370, 1, 73567523}, 0, 0},  // minor axis above the major
    {{7, 255, 0xFFFFFFFF, 0, 6378160, 255, 0xFFFFFFFF}, 0, 0},
    {{10}, 0, 0},  // geomagnetic
    {{11}, 0, 0},  // the Sun
    {{12}, 0, 0},
    {{255}, 0, 0},
};

class Shapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(Shapes, Figures) {
  const ShapeCase& c = GetParam();
  auto shape = earth_shape(c.code);
  if (c.a == 0) {
    EXPECT_FALSE(shape);
    return;
  }
  ASSERT_TRUE(shape) << shape.error();
  EXPECT_NEAR(shape->a, c.a, 1e-6 * c.a);
  EXPECT_NEAR(shape->b, c.b, 1e-3);
  EXPECT_EQ(shape->code, c.code.shape);
}

INSTANTIATE_TEST_SUITE_P(CodeTable, Shapes, ::testing::ValuesIn(kShapes));

TEST(Shapes, Grib1Flag) {
  EXPECT_EQ(grib1_earth_shape(false).a, 6367470.0);
  EXPECT_TRUE(grib1_earth_shape(false).is_sphere());
  EXPECT_EQ(grib1_earth_shape(true).a, 6378160.0);
  EXPECT_FALSE(grib1_earth_shape(true).is_sphere());
}

}  // namespace
}  // namespace vorlak
