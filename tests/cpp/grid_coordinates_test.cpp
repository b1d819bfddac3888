// Coordinates of whole grids: the real grids' corners, points checked
// against PROJ 9.1, the even spacing of latitude/longitude and Gaussian
// grids, quasi-regular rows, space views, and the definitions that give an
// error instead of coordinates.
#include "grib/geometry/grid_coordinates.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "grib/geometry.hpp"
#include "grib/geometry/regular_axes.hpp"

namespace vorlak {
namespace {

const EarthShape kSphere6371229{6371229.0, 6371229.0, 6};

double longitude_difference(double a, double b) { return std::remainder(a - b, 360.0); }

std::shared_ptr<const GridCoordinates> coordinates_of(const GridDefinition& d) {
  auto coords = compute_grid_coordinates(d);
  EXPECT_TRUE(coords) << coords.error();
  return coords ? *coords : nullptr;
}

GridDefinition projected(std::uint64_t ni, std::uint64_t nj, std::uint8_t mode, ProjectionParams p, double la1,
                         double lo1, double dx, double dy, EarthShape earth = kSphere6371229) {
  GridDefinition d;
  d.layout = LayoutParams{ni, nj, mode, {}};
  d.geometry = ProjectedGridParams{p, la1, lo1, dx, dy};
  d.earth = earth;
  return d;
}

void expect_point(const GridCoordinates& c, std::uint64_t p, double lat, double lon, double tolerance) {
  EXPECT_NEAR(c.latitude(p), lat, tolerance) << "point " << p;
  EXPECT_NEAR(longitude_difference(c.longitude(p), lon), 0.0, tolerance) << "point " << p;
}

// The projected grids of the real files: the first point is the message's
// own corner, other points are PROJ's for the same parameters.
TEST(ProjectedGrids, HrrrLambert) {
  auto c = coordinates_of(
      projected(1799, 1059, 0x40, LambertConformalParams{38.5, 38.5, 38.5, 262.5}, 21.138123, 237.280472, 3000, 3000));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->form(), GridCoordinates::Form::kPoints);
  EXPECT_EQ(c->size(), 1905141u);
  expect_point(*c, 0, 21.138123, 237.280472, 1e-9);
  expect_point(*c, 500 * 1799 + 900, 37.71488621710812, -97.47181139686234, 1e-9);
  expect_point(*c, 1905141 - 1, 47.84219502248866, -60.91719277183784, 1e-9);
  // x and y are regular in the plane, and (0, 0) is the origin of the projection.
  EXPECT_NEAR(c->x()[1] - c->x()[0], 3000.0, 1e-6);
  EXPECT_NEAR(c->y()[1] - c->y()[0], 3000.0, 1e-6);
}

TEST(ProjectedGrids, NdfdLambertWithAlternatingRows) {
  auto c = coordinates_of(projected(2145, 1377, 0x50, LambertConformalParams{25, 25, 25, 265}, 20.19, 238.449996,
                                    2539.703, 2539.703, EarthShape{6371200.0, 6371200.0, 1}));
  ASSERT_TRUE(c);
  expect_point(*c, 0, 20.19, 238.449996, 1e-9);
  expect_point(*c, c->size() - 1, 50.10246110127138, -60.882022741991534, 1e-9);
}

TEST(ProjectedGrids, AlaskaPolarStereographicAcrossTheAntimeridian) {
  auto c =
      coordinates_of(projected(825, 553, 0x40, PolarStereographicParams{false, 60, 210}, 40.53, 181.429, 5953, 5953));
  ASSERT_TRUE(c);
  expect_point(*c, 0, 40.53, 181.429, 1e-9);
  expect_point(*c, c->size() - 1, 63.97630023533918, -93.69232153705332, 1e-9);
  // The grid spans the antimeridian: longitudes run 0 to 360 so that it
  // stays in one piece.
  for (double lon : c->longitudes()) {
    ASSERT_GE(lon, 0.0);
    ASSERT_LT(lon, 360.0);
  }
  EXPECT_NEAR(c->longitude(0), 181.429, 1e-9);
}

TEST(ProjectedGrids, HawaiiMercatorHasAxes) {
  auto c = coordinates_of(projected(321, 225, 0x40, MercatorParams{20, 0}, 18.073, 198.475, 2500, 2500));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->form(), GridCoordinates::Form::kAxes);
  expect_point(*c, 0, 18.073, 198.475, 1e-9);
  // The message's last corner (23.088, 206.131) is stated to a thousandth
  // of a degree; the grid lengths place the last point within that.
  expect_point(*c, c->size() - 1, 23.08813480873545, -153.8689706826419, 1e-9);
  expect_point(*c, c->size() - 1, 23.088, 206.131, 2e-4);
  EXPECT_NEAR(c->column_longitudes()[0], -161.525, 1e-9);
}

TEST(ProjectedGrids, SouthernLambertAndAlbers) {
  // First point and its neighbour one grid length east: the distance on
  // the plane comes back from the inverse.
  for (ProjectionParams p : {ProjectionParams{LambertConformalParams{-30, -60, -45, 140}},
                             ProjectionParams{AlbersEqualAreaParams{-30, -60, -45, 140}}}) {
    auto c =
        coordinates_of(projected(10, 5, 0x40, p, -50, 120, 25e3, 25e3, EarthShape{6378137.0, 6356752.314245179, 5}));
    ASSERT_TRUE(c);
    expect_point(*c, 0, -50, 120, 1e-9);
    EXPECT_GT(c->latitude(10), c->latitude(0));  // +j runs north
  }
}

// Latitude/longitude and Gaussian grids: evenly spaced between their corners.
TEST(LatLonGrids, GdasGaussianSpacesByTheTurnNotTheRoundedIncrement) {
  GridDefinition d;
  d.layout = LayoutParams{3072, 1536, 0, {}};
  d.geometry = GaussianGridParams{89.910324, 0, -89.910324, 359.882813, 0.117188, 768, 1e-6};
  auto c = coordinates_of(d);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->form(), GridCoordinates::Form::kAxes);
  EXPECT_EQ(c->column_longitudes()[1], 360.0 / 3072);
  EXPECT_EQ(c->column_longitudes().back(), 359.8828125);
  EXPECT_EQ(c->row_latitudes(), *gaussian_latitudes(768));
  EXPECT_NEAR(c->row_latitudes()[0], 89.910324, 1e-6);
}

struct SpacingCase {
  const char* name;
  double first, last;
  std::uint64_t n;
  int sign;
  double unit;
  double step;
};

const SpacingCase kSpacings[] = {
    {"global from 180", 180.0, 179.76, 1500, 1, 1e-6, 0.24},
    {"global GRIB1 rounded", 0.0, 359.766, 1536, 1, 1e-3, 360.0 / 1536},
    {"regional even", 230.005, 299.995, 7000, 1, 1e-6, 69.99 / 6999},
    {"westwards", 10.0, 350.0, 3, -1, 1e-6, -10.0},
    {"duplicate end point", 0.0, 0.0, 361, 1, 1e-6, 1.0},
};

class Spacings : public ::testing::TestWithParam<SpacingCase> {};

TEST_P(Spacings, Step) {
  const SpacingCase& c = GetParam();
  const AxisSpacing s = longitude_spacing(c.first, longitude_span(c.first, c.last, c.sign, c.n), c.n, c.unit);
  EXPECT_DOUBLE_EQ(s.step, c.step);
}

INSTANTIATE_TEST_SUITE_P(Longitudes, Spacings, ::testing::ValuesIn(kSpacings));

TEST(LatLonGrids, CornersRuleOverIncrementsAndLongitudesStartInTheStandardRange) {
  GridDefinition d;
  d.layout = LayoutParams{1500, 751, 0x40, {}};
  d.geometry = LatLonGridParams{-90, 180, 90, 179.76, 0.24, 0.24, 1e-6};
  auto c = coordinates_of(d);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->column_longitudes().front(), -180.0);
  EXPECT_NEAR(c->column_longitudes().back(), 179.76, 1e-9);
  EXPECT_EQ(c->row_latitudes().front(), -90.0);
  EXPECT_NEAR(c->row_latitudes().back(), 90.0, 1e-12);
}

// Octahedral reduced Gaussian O4: 4i + 16 points on row i from each pole.
TEST(QuasiRegularGrids, OctahedralGaussianRows) {
  const std::vector<std::uint32_t> rows{20, 24, 28, 32, 32, 28, 24, 20};
  GridDefinition d;
  d.layout = LayoutParams{0, rows.size(), 0, rows};
  d.declared_points = std::accumulate(rows.begin(), rows.end(), std::uint64_t{0});
  const auto lats = gaussian_latitudes(4);
  d.geometry = GaussianGridParams{(*lats)[0], 0, (*lats)[7], 360.0 - 360.0 / 32, std::nullopt, 4, 1e-6};
  auto c = coordinates_of(d);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->form(), GridCoordinates::Form::kRows);
  EXPECT_EQ(c->size(), 208u);
  std::vector<double> lat(208), lon(208);
  c->fill(lat, lon);
  std::uint64_t p = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::uint32_t k = 0; k < rows[r]; ++k, ++p) {
      EXPECT_EQ(lat[p], (*lats)[r]);
      EXPECT_NEAR(lon[p], k * 360.0 / rows[r], 1e-12);
      EXPECT_EQ(lon[p], c->longitude(p));
      EXPECT_EQ(lat[p], c->latitude(p));
    }
  }
}

// A thinned latitude/longitude quadrant: every row spans the corners.
TEST(QuasiRegularGrids, ThinnedLatLonRowsSpanTheCorners) {
  const std::vector<std::uint32_t> rows{73, 60, 40, 2, 1};
  GridDefinition d;
  d.layout = LayoutParams{0xFFFFFFFFu, rows.size(), 0x40, rows};
  d.geometry = LatLonGridParams{0, 330, 90, 60, std::nullopt, 22.5, 1e-6};
  auto c = coordinates_of(d);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->row_latitudes(), (std::vector<double>{0, 22.5, 45, 67.5, 90}));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::uint64_t start = c->layout().row_start(r);
    EXPECT_EQ(c->longitude(start), -30.0);
    if (rows[r] > 1) {
      EXPECT_NEAR(c->longitude(start + rows[r] - 1), 60.0, 1e-12);
    }
  }
}

TEST(QuasiRegularGrids, RotatedReducedGaussianIsRotatedPointByPoint) {
  const std::vector<std::uint32_t> rows{20, 24, 28, 32, 32, 28, 24, 20};
  GridDefinition d;
  d.layout = LayoutParams{0, rows.size(), 0, rows};
  const auto lats = gaussian_latitudes(4);
  d.geometry = GaussianGridParams{(*lats)[0], 0, (*lats)[7], 360.0 - 360.0 / 32, std::nullopt, 4, 1e-6};
  d.rotation = RotatedPoleParams{-40, 10, 0};
  auto c = coordinates_of(d);
  ASSERT_TRUE(c);
  auto rotation = PoleRotation::make(*d.rotation);
  const std::uint64_t p = c->layout().row_start(3) + 5;
  const GeoPoint back = rotation->to_rotated(c->latitude(p), c->longitude(p));
  EXPECT_NEAR(back.lat, (*lats)[3], 1e-10);
  EXPECT_NEAR(longitude_difference(back.lon, 5 * 360.0 / 32), 0.0, 1e-10);
}

// A full disc of 11 x 11 points seen from the Meteosat distance: the
// Earth's apparent diameter is 10 grid lengths.
GridDefinition disc(std::uint8_t mode, double orientation) {
  GridDefinition d;
  d.layout = LayoutParams{11, 11, mode, {}};
  d.geometry = SpaceViewGridParams{0, 30, 10, 10, 5, 5, 0, 0, orientation, 6610700.0};
  d.earth = EarthShape{6378169.0, 6356583.8, 3};
  return d;
}

TEST(SpaceView, SubSatellitePointAndTheSpaceAround) {
  for (std::uint8_t mode : {0x00, 0xC0}) {
    for (double orientation : {0.0, 180.0}) {
      auto c = coordinates_of(disc(mode, orientation));
      ASSERT_TRUE(c);
      expect_point(*c, 5 * 11 + 5, 0.0, 30.0, 1e-9);
      EXPECT_TRUE(std::isnan(c->latitude(0)));  // a corner of the square is space
      // Scanning -j (0x00) starts in the north unless the image is turned.
      const bool north_first = ((mode & 0x40) == 0) == (orientation == 0.0);
      EXPECT_EQ(c->latitude(11 + 5) > 0.0, north_first);
      // Scanning -i (0x80) starts in the east unless the image is turned.
      const bool east_first = ((mode & 0x80) != 0) == (orientation == 0.0);
      EXPECT_EQ(c->longitude(5 * 11 + 1) > 30.0, east_first);
    }
  }
}

struct BadGrid {
  const char* name;
  GridDefinition definition;
  const char* text;  // part of the error
};

GridDefinition with_geometry(GridGeometry g, LayoutParams layout = {4, 3, 0, {}}) {
  GridDefinition d;
  d.layout = std::move(layout);
  d.geometry = std::move(g);
  d.earth = kSphere6371229;
  return d;
}

std::vector<BadGrid> bad_grids() {
  std::vector<BadGrid> out;
  out.push_back({"lambert parallel at the pole",
                 with_geometry(ProjectedGridParams{LambertConformalParams{90, 90, 90, 0}, 50, 0, 1e3, 1e3}),
                 "standard parallel 90"});
  GridDefinition zero_earth =
      with_geometry(ProjectedGridParams{LambertConformalParams{40, 40, 40, 0}, 50, 0, 1e3, 1e3});
  zero_earth.earth = earth_shape(EarthShapeCode{1, 0, 0});
  out.push_back({"zero earth radius", zero_earth, "not a usable figure"});
  out.push_back({"dx zero", with_geometry(ProjectedGridParams{PolarStereographicParams{false, 60, 0}, 50, 0, 0.0, 1e3}),
                 "are not lengths"});
  GridDefinition rotated = with_geometry(LatLonGridParams{0, 0, 2, 3, 1.0, 1.0, 1e-6});
  rotated.rotation = RotatedPoleParams{-100, 0, 0};
  out.push_back({"rotation pole beyond the pole", rotated, "is not a latitude"});
  GridDefinition sum = with_geometry(LatLonGridParams{0, 0, 2, 3, std::nullopt, 1.0, 1e-6}, {0, 3, 0, {4, 4, 4}});
  sum.declared_points = 13;
  out.push_back({"list sum differs", sum, "sums to 12 points"});
  out.push_back({"list with j consecutive",
                 with_geometry(LatLonGridParams{0, 0, 2, 3, std::nullopt, 1.0, 1e-6}, {0, 3, 0x20, {4, 4, 4}}),
                 "columns held consecutively"});
  // No columns: nothing to locate, and a row axis as long as the largest
  // grid is not built.
  out.push_back({"no columns", with_geometry(LatLonGridParams{0, 0, 2, 3, 1.0, 1.0, 1e-6}, {0, 1u << 28, 0, {}}),
                 "no points"});
  out.push_back(
      {"offset rows", with_geometry(LatLonGridParams{0, 0, 2, 3, 1.0, 1.0, 1e-6}, {4, 3, 0x0C, {}}), "offsets rows"});
  out.push_back(
      {"corner beyond the pole", with_geometry(LatLonGridParams{95, 0, 2, 3, 1.0, 1.0, 1e-6}), "not latitudes"});
  out.push_back({"gaussian N zero", with_geometry(GaussianGridParams{0, 0, 2, 3, 1.0, 0, 1e-6}), "N 0"});
  out.push_back({"gaussian rows disagree",
                 with_geometry(GaussianGridParams{88.572, 0, -88.572, 356.25, 3.75, 48, 1e-6}), "span 96 rows"});
  out.push_back({"unstructured", with_geometry(NoCoordinates{"unstructured grid: no coordinates in the message"}),
                 "no coordinates in the message"});
  out.push_back({"orthographic view", with_geometry(SpaceViewGridParams{0, 0, 10, 10, 5, 5, 0, 0, 0, std::nullopt}),
                 "orthographic"});
  out.push_back(
      {"turned view", with_geometry(SpaceViewGridParams{0, 0, 10, 10, 5, 5, 0, 0, 45, 6.6e6}), "orientation 45"});
  out.push_back(
      {"view from inside", with_geometry(SpaceViewGridParams{0, 0, 10, 10, 5, 5, 0, 0, 0, 0.5e6}), "not outside"});
  out.push_back({"first point unplaceable", with_geometry(ProjectedGridParams{MercatorParams{0, 0}, 90, 0, 1e3, 1e3}),
                 "first grid point"});
  GridDefinition no_shape = with_geometry(ProjectedGridParams{MercatorParams{0, 0}, 0, 0, 1e3, 1e3});
  no_shape.earth = earth_shape(EarthShapeCode{255});
  out.push_back({"missing shape", no_shape, "shape of the Earth is missing"});
  return out;
}

class BadGrids : public ::testing::TestWithParam<BadGrid> {};

TEST_P(BadGrids, GiveAnErrorNotCoordinates) {
  auto coords = compute_grid_coordinates(GetParam().definition);
  ASSERT_FALSE(coords);
  EXPECT_NE(coords.error().find(GetParam().text), std::string::npos) << coords.error();
}

INSTANTIATE_TEST_SUITE_P(Definitions, BadGrids, ::testing::ValuesIn(bad_grids()), [](const auto& info) {
  std::string name = info.param.name;
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
});

}  // namespace
}  // namespace vorlak
