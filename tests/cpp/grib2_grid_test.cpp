// GRIB2 grid definition sections read as grid definitions: the real files'
// grids placed on their own corners, and one section of each template from
// the template builder.
#include "grib/geometry/grib2_grid.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "grib/geometry.hpp"
#include "grib/geometry/grid_coordinates.hpp"
#include "support/template_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;
using test::kMissingValue;

double longitude_difference(double a, double b) { return std::remainder(a - b, 360.0); }

// Section 3 of the first GRIB2 message of a test file; empty when the file is absent.
ByteVec first_section3(const char* name) {
  std::ifstream in(std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata") / name, std::ios::binary);
  if (!in) return {};
  const ByteVec data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto u32 = [&](std::size_t at) {
    return std::uint32_t{data[at]} << 24 | std::uint32_t{data[at + 1]} << 16 | std::uint32_t{data[at + 2]} << 8 |
           data[at + 3];
  };
  // Bulletin headers may come first.
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  const std::size_t start = text.find("GRIB");
  if (start == std::string_view::npos) return {};
  for (std::size_t at = start + 16; at + 5 <= data.size();) {
    const std::uint32_t length = u32(at);
    if (length < 5 || at + length > data.size()) break;
    if (data[at + 4] == 3) return ByteVec(data.begin() + at, data.begin() + at + length);
    at += length;
  }
  return {};
}

std::int32_t sm32(const ByteVec& s, std::size_t octet) {
  const std::uint32_t raw = std::uint32_t{s[octet - 1]} << 24 | std::uint32_t{s[octet]} << 16 |
                            std::uint32_t{s[octet + 1]} << 8 | s[octet + 2];
  const auto magnitude = static_cast<std::int32_t>(raw & 0x7FFFFFFF);
  return (raw & 0x80000000u) ? -magnitude : magnitude;
}

struct RealGrid {
  const char* file;
  std::size_t la1, lo1;                 // octets of the first grid point
  std::optional<std::size_t> la2, lo2;  // and of the last, when stated
  double last_tolerance;                // degrees, for the last corner
  GridCoordinates::Form form;
};

const RealGrid kRealGrids[] = {
    {"hrrr.t06z.wrfsfcf01-UGRD.grib2", 39, 43, {}, {}, 0, GridCoordinates::Form::kPoints},
    {"ndfd_critfireo.grib2", 39, 43, {}, {}, 0, GridCoordinates::Form::kPoints},
    {"aqm.t12z.ave_1hr_o3-AK-polar-stereographic.grib2", 39, 43, {}, {}, 0, GridCoordinates::Form::kPoints},
    // Stated to a thousandth of a degree: the grid lengths rule.
    {"aqm.t12z.ave_1hr_o3-HI-mercator.grib2", 39, 43, 52, 56, 2e-4, GridCoordinates::Form::kAxes},
    {"gdas.t00z.sfluxgrbf000.msg1.grib2", 47, 51, 56, 60, 1e-6, GridCoordinates::Form::kAxes},
    {"gfs.t12z.pgrb2.0p25.f023-PV-TMP-missing.grib2", 47, 51, 56, 60, 1e-6, GridCoordinates::Form::kAxes},
    {"CMC_glb_TMP_ISBL_1_latlon.24x.24_2021051800_P000.grib2", 47, 51, 56, 60, 1e-6, GridCoordinates::Form::kAxes},
    {"MRMS_MergedRhoHV_19.00_20260219-042039.grib2", 47, 51, 56, 60, 1e-6, GridCoordinates::Form::kAxes},
    {"meteofrance.arome-TCDC.grib2", 47, 51, 56, 60, 1e-6, GridCoordinates::Form::kAxes},
    {"jma_tornado_nowcast_runlength.grib2", 47, 51, 56, 60, 1e-6, GridCoordinates::Form::kAxes},
    {"multi_1.at_10m.t12z.f147.grib2", 47, 51, 56, 60, 1e-6, GridCoordinates::Form::kAxes},
};

class RealGrids : public ::testing::TestWithParam<RealGrid> {};

TEST_P(RealGrids, FirstAndLastPointsAreTheMessagesCorners) {
  const RealGrid& c = GetParam();
  const ByteVec s = first_section3(c.file);
  if (s.empty()) GTEST_SKIP() << c.file << " not present";
  auto d = grib2_grid_definition(s);
  ASSERT_TRUE(d) << d.error();
  auto coords = compute_grid_coordinates(*d);
  ASSERT_TRUE(coords) << coords.error();
  EXPECT_EQ((*coords)->form(), c.form);
  EXPECT_EQ((*coords)->size(), *d->declared_points);
  EXPECT_NEAR((*coords)->latitude(0), sm32(s, c.la1) * 1e-6, 1e-6);
  EXPECT_NEAR(longitude_difference((*coords)->longitude(0), sm32(s, c.lo1) * 1e-6), 0.0, 1e-6);
  if (c.la2) {
    const std::uint64_t last = (*coords)->size() - 1;
    EXPECT_NEAR((*coords)->latitude(last), sm32(s, *c.la2) * 1e-6, c.last_tolerance);
    EXPECT_NEAR(longitude_difference((*coords)->longitude(last), sm32(s, *c.lo2) * 1e-6), 0.0, c.last_tolerance);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, RealGrids, ::testing::ValuesIn(kRealGrids));

TEST(Grib2Grid, RotatedHrdpsStartsAndEndsOnItsCornersInTheRotatedFrame) {
  const ByteVec s = first_section3("20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2");
  if (s.empty()) GTEST_SKIP();
  auto d = grib2_grid_definition(s);
  ASSERT_TRUE(d);
  ASSERT_TRUE(d->rotation);
  EXPECT_NEAR(d->rotation->south_pole_lat, -36.08852, 1e-9);
  auto coords = compute_grid_coordinates(*d);
  ASSERT_TRUE(coords);
  auto rotation = PoleRotation::make(*d->rotation);
  const GeoPoint first = rotation->to_rotated((*coords)->latitude(0), (*coords)->longitude(0));
  EXPECT_NEAR(first.lat, -12.302501, 1e-9);
  EXPECT_NEAR(longitude_difference(first.lon, 345.17878), 0.0, 1e-9);
  const std::uint64_t last = (*coords)->size() - 1;
  const GeoPoint end = rotation->to_rotated((*coords)->latitude(last), (*coords)->longitude(last));
  EXPECT_NEAR(end.lat, 16.700001, 1e-9);
  EXPECT_NEAR(longitude_difference(end.lon, 42.306283), 0.0, 1e-9);
  EXPECT_EQ(d->layout.scanning_mode, 0x40);
}

TEST(Grib2Grid, UnstructuredGridNamesItsGridFile) {
  const ByteVec s = first_section3("icon_global_icosahedral_single-level_2021112018_000_TOT_PREC.grib2");
  if (s.empty()) GTEST_SKIP();
  auto d = grib2_grid_definition(s);
  ASSERT_TRUE(d);
  auto coords = compute_grid_coordinates(*d);
  ASSERT_FALSE(coords);
  EXPECT_NE(coords.error().find("unstructured grid 26 (uuidOfHGrid a27b8de6"), std::string::npos) << coords.error();
  EXPECT_NE(coords.error().find("no coordinates"), std::string::npos);
}

// ------------------------------------------------------------ built sections

GridDefinition built(std::uint16_t number, const std::vector<test::TemplateValue>& values) {
  auto d = grib2_grid_definition(test::g2_template_section(3, number, values));
  EXPECT_TRUE(d) << d.error();
  return d ? *d : GridDefinition{};
}

TEST(Grib2Grid, ReducedRotatedGaussian) {
  const auto lats = gaussian_latitudes(2);
  const GridDefinition d = built(41, {{"shapeOfTheEarth", {6}},
                                      {"Ni", {kMissingValue}},
                                      {"Nj", {4}},
                                      {"numberOfDataPoints", {48}},
                                      {"latitudeOfFirstGridPoint", {std::llround((*lats)[0] * 1e6)}},
                                      {"latitudeOfLastGridPoint", {std::llround((*lats)[3] * 1e6)}},
                                      {"longitudeOfLastGridPoint", {337500000}},
                                      {"N", {2}},
                                      {"latitudeOfSouthernPole", {-40000000}},
                                      {"longitudeOfSouthernPole", {10000000}},
                                      {"pl", {8, 16, 16, 8}}});
  ASSERT_TRUE(d.rotation);
  EXPECT_EQ(d.rotation->south_pole_lon, 10.0);
  EXPECT_EQ(d.layout.points_per_row, (std::vector<std::uint32_t>{8, 16, 16, 8}));
  auto coords = compute_grid_coordinates(d);
  ASSERT_TRUE(coords) << coords.error();
  auto rotation = PoleRotation::make(*d.rotation);
  const GeoPoint p = rotation->to_rotated((*coords)->latitude(9), (*coords)->longitude(9));
  EXPECT_NEAR(p.lat, (*lats)[1], 1e-9);
  EXPECT_NEAR(longitude_difference(p.lon, 22.5), 0.0, 1e-9);
}

TEST(Grib2Grid, AlbersAndSouthPolarStereographic) {
  const GridDefinition albers = built(31, {{"shapeOfTheEarth", {4}},
                                           {"Nx", {10}},
                                           {"Ny", {8}},
                                           {"latitudeOfFirstGridPoint", {22000000}},
                                           {"longitudeOfFirstGridPoint", {235000000}},
                                           {"LaD", {23000000}},
                                           {"LoV", {264000000}},
                                           {"Dx", {5000000}},
                                           {"Dy", {5000000}},
                                           {"scanningMode", {0x40}},
                                           {"Latin1", {29500000}},
                                           {"Latin2", {45500000}}});
  const auto* p = std::get_if<ProjectedGridParams>(&albers.geometry);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->dx, 5000.0);
  EXPECT_FALSE(albers.earth->is_sphere());
  auto coords = compute_grid_coordinates(albers);
  ASSERT_TRUE(coords) << coords.error();
  EXPECT_NEAR((*coords)->latitude(0), 22.0, 1e-9);

  const GridDefinition south = built(20, {{"shapeOfTheEarth", {6}},
                                          {"Nx", {10}},
                                          {"Ny", {8}},
                                          {"latitudeOfFirstGridPoint", {-60000000}},
                                          {"longitudeOfFirstGridPoint", {0}},
                                          {"LaD", {60000000}},
                                          {"LoV", {0}},
                                          {"Dx", {50000000}},
                                          {"Dy", {50000000}},
                                          {"projectionCentreFlag", {0x80}},
                                          {"scanningMode", {0x40}}});
  const auto& stereo = std::get<PolarStereographicParams>(std::get<ProjectedGridParams>(south.geometry).projection);
  EXPECT_TRUE(stereo.south_pole);
  auto south_coords = compute_grid_coordinates(south);
  ASSERT_TRUE(south_coords) << south_coords.error();
  EXPECT_NEAR((*south_coords)->latitude(0), -60.0, 1e-9);
  EXPECT_GT((*south_coords)->latitude(10), -60.0);  // +y: away from the south pole on the meridian of LoV
}

TEST(Grib2Grid, SpaceView) {
  const GridDefinition d = built(90, {{"shapeOfTheEarth", {7}},
                                      {"scaleFactorOfEarthMajorAxis", {0}},
                                      {"scaledValueOfEarthMajorAxis", {6378169}},
                                      {"scaleFactorOfEarthMinorAxis", {1}},
                                      {"scaledValueOfEarthMinorAxis", {63565838}},
                                      {"Nx", {11}},
                                      {"Ny", {11}},
                                      {"Lap", {0}},
                                      {"Lop", {-75000000}},
                                      {"dx", {10}},
                                      {"dy", {10}},
                                      {"Xp", {5000}},
                                      {"Yp", {5000}},
                                      {"scanningMode", {0}},
                                      {"orientationOfTheGrid", {0}},
                                      {"Nr", {6610700}}});
  EXPECT_EQ(d.earth->b, 6356583.8);
  auto coords = compute_grid_coordinates(d);
  ASSERT_TRUE(coords) << coords.error();
  EXPECT_NEAR((*coords)->latitude(60), 0.0, 1e-9);
  EXPECT_NEAR((*coords)->longitude(60), -75.0, 1e-9);
  EXPECT_GT((*coords)->latitude(16), 0.0);  // -j scanning starts in the north
}

struct BadSection {
  const char* name;
  std::uint16_t number;
  std::vector<test::TemplateValue> values;
  const char* text;
};

const BadSection kBadSections[] = {
    {"list longer than the section",
     40,
     {{"Ni", {kMissingValue}}, {"Nj", {4}}, {"N", {2}}, {"pl", {8, 16}}},
     "longer than the section"},
    {"columns of their own lengths", 0, {{"Ni", {4}}, {"Nj", {kMissingValue}}, {"pl", {8, 16}}}, "Nj missing"},
    {"list missing", 0, {{"Ni", {kMissingValue}}, {"Nj", {4}}}, "without its points-per-row list"},
    {"mercator turned", 10, {{"Ni", {4}}, {"Nj", {4}}, {"orientationOfTheGrid", {30000000}}}, "turned by 30"},
    {"bipolar stereographic", 20, {{"Nx", {4}}, {"Ny", {4}}, {"projectionCentreFlag", {0x40}}}, "bipolar"},
    {"lambert pole parallel",
     30,
     {{"shapeOfTheEarth", {6}},
      {"Nx", {4}},
      {"Ny", {4}},
      {"Dx", {1000}},
      {"Dy", {1000}},
      {"Latin1", {90000000}},
      {"Latin2", {90000000}},
      {"LaD", {60000000}}},
     "standard parallel 90"},
    {"zero radius",
     30,
     {{"shapeOfTheEarth", {1}},
      {"scaleFactorOfRadiusOfSphericalEarth", {0}},
      {"scaledValueOfRadiusOfSphericalEarth", {0}},
      {"Nx", {4}},
      {"Ny", {4}},
      {"Dx", {1000}},
      {"Dy", {1000}},
      {"Latin1", {40000000}},
      {"Latin2", {40000000}}},
     "not a usable figure"},
    {"dx zero",
     20,
     {{"shapeOfTheEarth", {6}}, {"Nx", {4}}, {"Ny", {4}}, {"Dy", {1000}}, {"LaD", {60000000}}},
     "are not lengths"},
    {"rotation pole missing",
     1,
     {{"Ni", {4}},
      {"Nj", {3}},
      {"latitudeOfLastGridPoint", {2000000}},
      {"longitudeOfLastGridPoint", {3000000}},
      {"latitudeOfSouthernPole", {kMissingValue}}},
     "southern pole nan"},
    {"orthographic view",
     90,
     {{"shapeOfTheEarth", {6}}, {"Nx", {4}}, {"Ny", {4}}, {"dx", {4}}, {"dy", {4}}, {"Nr", {kMissingValue}}},
     "orthographic"},
    {"undescribed template", 33, {}, "template 3.33"},
};

class BadSections : public ::testing::TestWithParam<BadSection> {};

TEST_P(BadSections, DescribeNoCoordinates) {
  const BadSection& c = GetParam();
  auto d = grib2_grid_definition(test::g2_template_section(3, c.number, c.values));
  ASSERT_TRUE(d) << d.error();
  auto coords = compute_grid_coordinates(*d);
  ASSERT_FALSE(coords);
  EXPECT_NE(coords.error().find(c.text), std::string::npos) << coords.error();
}

INSTANTIATE_TEST_SUITE_P(Sections, BadSections, ::testing::ValuesIn(kBadSections));

TEST(Grib2Grid, ShortSectionsAndTemplatesWithoutADescription) {
  EXPECT_FALSE(grib2_grid_definition(ByteVec(13, 0)));
  ByteVec curvilinear = test::g2_template_section(3, 0, {{"Ni", {5}}, {"Nj", {6}}});
  curvilinear[13] = 204;  // template number, octets 13-14
  auto d = grib2_grid_definition(curvilinear);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->layout.ni, 5u);
  auto coords = compute_grid_coordinates(*d);
  ASSERT_FALSE(coords);
  EXPECT_NE(coords.error().find("curvilinear"), std::string::npos);
  // A section cut inside the template leaves the fields it lacks absent.
  ByteVec cut = test::g2_template_section(3, 30, {{"Nx", {4}}, {"Ny", {4}}});
  cut.resize(40);
  cut[3] = 40;
  auto partial = grib2_grid_definition(cut);
  ASSERT_TRUE(partial);
  EXPECT_FALSE(compute_grid_coordinates(*partial));
}

}  // namespace
}  // namespace vorlak
