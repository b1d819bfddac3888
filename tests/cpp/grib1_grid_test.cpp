// GRIB1 grid description sections read as grid definitions, and the
// coordinates they give.
#include "grib/geometry/grib1_grid.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "grib/geometry.hpp"
#include "grib/geometry/grid_coordinates.hpp"
#include "grib/grib1_sections.hpp"
#include "support/message_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;
using test::Writer;

std::int64_t milli(double degrees) { return std::llround(degrees * 1000.0); }

double longitude_difference(double a, double b) { return std::remainder(a - b, 360.0); }

GridDefinition definition_of(const ByteVec& gds) {
  auto d = grib1_grid_definition(gds);
  EXPECT_TRUE(d) << d.error();
  return d ? *d : GridDefinition{};
}

TEST(Grib1Grid, LatLonMatchesTheAxesOfTheCodesInterface) {
  const ByteVec gds =
      test::g1_gds_latlon({.Ni = 4, .Nj = 3, .la1 = 60, .lo1 = 0, .la2 = 58, .lo2 = 3, .di = 1, .dj = 1});
  const GridDefinition d = definition_of(gds);
  auto coords = compute_grid_coordinates(d);
  ASSERT_TRUE(coords) << coords.error();
  auto summary = parse_gds(gds);
  ASSERT_TRUE(summary);
  auto axes = compute_coordinates(*summary);
  ASSERT_TRUE(axes);
  EXPECT_EQ((*coords)->row_latitudes(), axes->latitude.values);
  EXPECT_EQ((*coords)->column_longitudes(), axes->longitude.values);
  EXPECT_EQ(d.earth->a, 6367470.0);
}

TEST(Grib1Grid, ReducedGaussianRows) {
  const auto lats = gaussian_latitudes(2);
  const ByteVec gds = test::g1_gds_latlon({.Nj = 4,
                                           .la1 = (*lats)[0],
                                           .lo1 = 0,
                                           .la2 = (*lats)[3],
                                           .lo2 = 337.5,
                                           .N = 2,
                                           .points_per_row = {8, 16, 16, 8}});
  auto coords = compute_grid_coordinates(definition_of(gds));
  ASSERT_TRUE(coords) << coords.error();
  EXPECT_EQ((*coords)->size(), 48u);
  EXPECT_NEAR((*coords)->longitude(9), 22.5, 1e-12);  // second point of the 16-point row
  EXPECT_NEAR((*coords)->longitude(7), 315.0, 1e-12);
  EXPECT_EQ((*coords)->latitude(47), (*lats)[3]);

  // Ni given but Di missing: the rows are still those of the list, for the
  // record's point count and for the layout alike.
  ByteVec ni_given = gds;
  ni_given[6] = 0;
  ni_given[7] = 16;
  auto summary = parse_gds(ni_given);
  ASSERT_TRUE(summary) << summary.error();
  EXPECT_EQ(summary->reduced_point_count, 48u);
  auto listed = compute_grid_coordinates(definition_of(ni_given));
  ASSERT_TRUE(listed) << listed.error();
  EXPECT_EQ((*listed)->size(), 48u);
}

// GDS type 0 with Ni 65535 and a list: a thinned latitude/longitude grid.
TEST(Grib1Grid, ThinnedLatLon) {
  Writer w;
  w.u16(0xFFFF)
      .u16(3)
      .sm24(milli(0))
      .sm24(milli(-30))
      .u8(0x80)
      .sm24(milli(90))
      .sm24(milli(60))
      .u16(0xFFFF)
      .u16(milli(45))
      .u8(0x40)
      .zeros(4)
      .u16(73)
      .u16(37)
      .u16(1);
  auto coords = compute_grid_coordinates(definition_of(test::g1_gds(0, w.take(), 0, 33)));
  ASSERT_TRUE(coords) << coords.error();
  EXPECT_EQ((*coords)->size(), 111u);
  EXPECT_EQ((*coords)->row_latitudes(), (std::vector<double>{0, 45, 90}));
  EXPECT_NEAR((*coords)->longitude(72), 60.0, 1e-12);
  EXPECT_NEAR((*coords)->longitude(73 + 1), -27.5, 1e-12);
}

struct ProjectedCase {
  const char* name;
  ByteVec gds;
  double la1, lo1;
  ProjectionParams expected;
};

ByteVec lambert_gds() {
  Writer w;
  w.u16(20)
      .u16(10)
      .sm24(milli(20.19))
      .sm24(milli(238.45))
      .u8(0x88)
      .sm24(milli(265))
      .u24(40635)
      .u24(40635)
      .u8(0)
      .u8(0x40)
      .sm24(milli(25))
      .sm24(milli(25))
      .sm24(milli(-90))
      .u24(0)
      .u16(0);
  return test::g1_gds(3, w.take());
}

ByteVec polar_gds(bool south) {
  Writer w;
  w.u16(20)
      .u16(10)
      .sm24(milli(south ? -40 : 40))
      .sm24(milli(200))
      .u8(0xC8)
      .sm24(milli(210))
      .u24(47625)
      .u24(47625)
      .u8(south ? 0x80 : 0)
      .u8(0x40)
      .zeros(4);
  return test::g1_gds(5, w.take());
}

ByteVec mercator_gds() {
  Writer w;
  w.u16(20)
      .u16(10)
      .sm24(milli(18.073))
      .sm24(milli(198.475))
      .u8(0x80)
      .sm24(milli(23))
      .sm24(milli(206))
      .sm24(milli(20))
      .u8(0)
      .u8(0x40)
      .u24(2500)
      .u24(2500)
      .zeros(8);
  return test::g1_gds(1, w.take());
}

TEST(Grib1Grid, ProjectedTypes) {
  const ProjectedCase cases[] = {
      {"lambert", lambert_gds(), 20.19, 238.45, LambertConformalParams{25, 25, 25, 265}},
      {"polar north", polar_gds(false), 40, 200, PolarStereographicParams{false, 60, 210}},
      {"polar south", polar_gds(true), -40, 200, PolarStereographicParams{true, -60, 210}},
      {"mercator", mercator_gds(), 18.073, 198.475, MercatorParams{20, 0}},
  };
  for (const ProjectedCase& c : cases) {
    SCOPED_TRACE(c.name);
    const GridDefinition d = definition_of(c.gds);
    const auto* projected = std::get_if<ProjectedGridParams>(&d.geometry);
    ASSERT_TRUE(projected);
    EXPECT_EQ(projected->projection.index(), c.expected.index());
    auto coords = compute_grid_coordinates(d);
    ASSERT_TRUE(coords) << coords.error();
    EXPECT_NEAR((*coords)->latitude(0), c.la1, 1e-9);
    EXPECT_NEAR(longitude_difference((*coords)->longitude(0), c.lo1), 0.0, 1e-9);
  }
  // The polar grid's resolution flag 0x40 chooses the IAU 1965 spheroid.
  EXPECT_FALSE(definition_of(polar_gds(false)).earth->is_sphere());
  const GridDefinition south = definition_of(polar_gds(true));
  const auto* polar = std::get_if<ProjectedGridParams>(&south.geometry);
  EXPECT_EQ(std::get<PolarStereographicParams>(polar->projection).true_scale_lat, -60.0);
}

TEST(Grib1Grid, RotatedLatLonTakesItsPoleAndAngle) {
  Writer w;
  w.u16(4)
      .u16(3)
      .sm24(milli(-2))
      .sm24(milli(-3))
      .u8(0x80)
      .sm24(milli(0))
      .sm24(milli(0))
      .u16(1000)
      .u16(1000)
      .u8(0x40)
      .zeros(4)
      .sm24(milli(-40))
      .sm24(milli(10))
      .ibm(25.0);
  const GridDefinition d = definition_of(test::g1_gds(10, w.take()));
  ASSERT_TRUE(d.rotation);
  EXPECT_EQ(d.rotation->south_pole_lat, -40.0);
  EXPECT_EQ(d.rotation->south_pole_lon, 10.0);
  EXPECT_EQ(d.rotation->angle, 25.0);
  auto coords = compute_grid_coordinates(d);
  ASSERT_TRUE(coords);
  auto rotation = PoleRotation::make(*d.rotation);
  const GeoPoint first = rotation->to_rotated((*coords)->latitude(0), (*coords)->longitude(0));
  EXPECT_NEAR(first.lat, -2.0, 1e-9);
  EXPECT_NEAR(longitude_difference(first.lon, -3.0), 0.0, 1e-9);
}

// The GDS of the first message of a GRIB1 test file; empty when absent.
ByteVec first_gds(const char* name) {
  std::ifstream in(std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata") / name, std::ios::binary);
  if (!in) return {};
  const ByteVec data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() < 16) return {};
  const std::size_t pds = 8;
  const std::size_t pds_length = load_u24_be(data.data() + pds);
  const std::size_t gds = pds + pds_length;
  if (!(data[pds + 7] & 0x80) || gds + 3 > data.size()) return {};
  const std::size_t length = load_u24_be(data.data() + gds);
  return ByteVec(data.begin() + gds, data.begin() + gds + length);
}

// Real GRIB1 grids end on their last corner even where the stated increment
// is rounded (ECMWF's Dj of 0.667 for 2/3 of a degree), unlike the axes of
// the codes interface, which step by the increment.
TEST(Grib1Grid, RealGridsEndOnTheirCorners) {
  struct Case {
    const char* file;
    double la1, lo1, la2, lo2;
    double codes_last_latitude;
  };
  for (const Case& c : {Case{"ecmwf_soil_8vars_tiny.grib1", 1, 0, -1, 3, -1.001},
                        Case{"ncep_plottrak.grib1", 90, 0, -90, 359, -90}}) {
    SCOPED_TRACE(c.file);
    const ByteVec gds = first_gds(c.file);
    if (gds.empty()) GTEST_SKIP() << c.file << " not present";
    auto coords = compute_grid_coordinates(definition_of(gds));
    ASSERT_TRUE(coords) << coords.error();
    const std::uint64_t last = (*coords)->size() - 1;
    EXPECT_EQ((*coords)->latitude(0), c.la1);
    EXPECT_EQ((*coords)->longitude(0), c.lo1);
    EXPECT_NEAR((*coords)->latitude(last), c.la2, 1e-12);
    EXPECT_NEAR((*coords)->longitude(last), c.lo2, 1e-12);
    auto axes = compute_coordinates(*parse_gds(gds));
    ASSERT_TRUE(axes);
    EXPECT_NEAR(axes->latitude.values.back(), c.codes_last_latitude, 1e-12);
  }
}

TEST(Grib1Grid, Refusals) {
  EXPECT_FALSE(grib1_grid_definition(ByteVec(31, 0)));
  // A list that runs past the section, and a missing list.
  Writer w;
  w.u16(0xFFFF)
      .u16(40)
      .sm24(0)
      .sm24(0)
      .u8(0x80)
      .sm24(milli(-39))
      .sm24(milli(359))
      .u16(0xFFFF)
      .u16(1000)
      .u8(0)
      .zeros(4)
      .u16(10);
  const ByteVec body = w.take();
  EXPECT_FALSE(grib1_grid_definition(test::g1_gds(0, body, 0, 33)));
  EXPECT_FALSE(grib1_grid_definition(test::g1_gds(0, body, 0, 255)));
  // Rotated grids need their pole.
  EXPECT_FALSE(grib1_grid_definition(test::g1_gds(10, ByteVec(26, 0))));
  // Spherical harmonics and unknown types: a definition without coordinates.
  auto harmonic = grib1_grid_definition(test::g1_gds(50, ByteVec(26, 0)));
  ASSERT_TRUE(harmonic);
  EXPECT_FALSE(compute_grid_coordinates(*harmonic));
}

}  // namespace
}  // namespace vorlak
