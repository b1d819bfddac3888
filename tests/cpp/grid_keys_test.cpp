// Grid keys of the field API from GRIB2 and GRIB1 grid sections.
#include "compat/grid_keys.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "support/template_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;
using test::kMissingValue;

const KeyValue* find(const NamedValues& keys, std::string_view name) {
  for (const auto& [n, v] : keys) {
    if (n == name) return &v;
  }
  return nullptr;
}

double number(const NamedValues& keys, std::string_view name) {
  const KeyValue* v = find(keys, name);
  if (!v) {
    ADD_FAILURE() << "no key " << name;
    return 0;
  }
  if (const auto* d = std::get_if<double>(&v->value)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&v->value)) return static_cast<double>(*i);
  ADD_FAILURE() << name << " is not a number";
  return 0;
}

std::string text(const NamedValues& keys, std::string_view name) {
  const KeyValue* v = find(keys, name);
  return v ? std::get<std::string>(v->value) : std::string("(none)");
}

ByteVec first_section3(const char* name) {
  std::ifstream in(std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata") / name, std::ios::binary);
  if (!in) return {};
  const ByteVec data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string_view all(reinterpret_cast<const char*>(data.data()), data.size());
  const std::size_t start = all.find("GRIB");
  if (start == std::string_view::npos) return {};
  for (std::size_t at = start + 16; at + 5 <= data.size();) {
    const std::uint32_t length = std::uint32_t{data[at]} << 24 | std::uint32_t{data[at + 1]} << 16 |
                                 std::uint32_t{data[at + 2]} << 8 | data[at + 3];
    if (length < 5 || at + length > data.size()) break;
    if (data[at + 4] == 3) return ByteVec(data.begin() + at, data.begin() + at + length);
    at += length;
  }
  return {};
}

TEST(GridKeys, LambertOfHrrr) {
  const ByteVec s = first_section3("hrrr.t06z.wrfsfcf01-UGRD.grib2");
  if (s.empty()) GTEST_SKIP();
  auto keys = grib2_grid_keys(s);
  ASSERT_TRUE(keys) << keys.error();
  EXPECT_EQ(text(*keys, "gridType"), "lambert");
  EXPECT_EQ(number(*keys, "Nx"), 1799);
  EXPECT_EQ(number(*keys, "LaD"), 38500000);
  EXPECT_EQ(number(*keys, "LaDInDegrees"), 38.5);
  EXPECT_EQ(number(*keys, "LoVInDegrees"), 262.5);
  EXPECT_EQ(number(*keys, "Latin1InDegrees"), 38.5);
  EXPECT_EQ(number(*keys, "Latin2InDegrees"), 38.5);
  EXPECT_EQ(number(*keys, "DxInMetres"), 3000);
  EXPECT_EQ(number(*keys, "DyInMetres"), 3000);
  EXPECT_NEAR(number(*keys, "latitudeOfFirstGridPointInDegrees"), 21.138123, 1e-12);
  EXPECT_EQ(number(*keys, "shapeOfTheEarth"), 6);
  EXPECT_EQ(number(*keys, "radiusInMetres"), 6371229);
  EXPECT_EQ(number(*keys, "jScansPositively"), 1);
  EXPECT_EQ(number(*keys, "numberOfPoints"), 1905141);
}

TEST(GridKeys, RotatedHrdpsAndUnstructuredIcon) {
  const ByteVec hrdps = first_section3("20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2");
  const ByteVec icon = first_section3("icon_global_icosahedral_single-level_2021112018_000_TOT_PREC.grib2");
  if (hrdps.empty() || icon.empty()) GTEST_SKIP();
  auto rotated = grib2_grid_keys(hrdps);
  ASSERT_TRUE(rotated);
  EXPECT_EQ(text(*rotated, "gridType"), "rotated_ll");
  EXPECT_NEAR(number(*rotated, "latitudeOfSouthernPoleInDegrees"), -36.08852, 1e-12);
  EXPECT_NEAR(number(*rotated, "longitudeOfSouthernPoleInDegrees"), 245.305142, 1e-12);
  EXPECT_EQ(number(*rotated, "angleOfRotationInDegrees"), 0);
  EXPECT_NEAR(number(*rotated, "iDirectionIncrementInDegrees"), 0.0225, 1e-12);
  EXPECT_EQ(number(*rotated, "basicAngleOfTheInitialProductionDomain"), 0);
  EXPECT_EQ(find(*rotated, "subdivisionsOfBasicAngle"), nullptr);  // all ones: missing
  auto unstructured = grib2_grid_keys(icon);
  ASSERT_TRUE(unstructured);
  EXPECT_EQ(text(*unstructured, "gridType"), "unstructured_grid");
  EXPECT_EQ(number(*unstructured, "numberOfGridUsed"), 26);
  EXPECT_EQ(text(*unstructured, "uuidOfHGrid"), "a27b8de618c411e4820ab5b098c6a5c0");
  EXPECT_EQ(number(*unstructured, "numberOfPoints"), 2949120);
}

TEST(GridKeys, ReducedGaussianAndMercator) {
  auto reduced = grib2_grid_keys(test::g2_template_section(
      3, 40, {{"Ni", {kMissingValue}}, {"Nj", {4}}, {"N", {2}}, {"numberOfDataPoints", {48}}, {"pl", {8, 16, 16, 8}}}));
  ASSERT_TRUE(reduced);
  EXPECT_EQ(text(*reduced, "gridType"), "reduced_gg");
  EXPECT_EQ(find(*reduced, "Ni"), nullptr);
  EXPECT_EQ(std::get<std::vector<double>>(find(*reduced, "pl")->value), (std::vector<double>{8, 16, 16, 8}));
  EXPECT_EQ(number(*reduced, "numberOfPoints"), 48);

  auto mercator = grib2_grid_keys(test::g2_template_section(3, 10,
                                                            {{"Ni", {321}},
                                                             {"Nj", {225}},
                                                             {"LaD", {20000000}},
                                                             {"iDirectionIncrement", {2500000}},
                                                             {"jDirectionIncrement", {2500000}},
                                                             {"shapeOfTheEarth", {5}}}));
  ASSERT_TRUE(mercator);
  EXPECT_EQ(text(*mercator, "gridType"), "mercator");
  EXPECT_EQ(number(*mercator, "DiInMetres"), 2500);
  EXPECT_EQ(find(*mercator, "iDirectionIncrementInDegrees"), nullptr);
  EXPECT_EQ(number(*mercator, "earthIsOblate"), 1);
  EXPECT_NEAR(number(*mercator, "earthMinorAxisInMetres"), 6356752.314245179, 1e-6);
  EXPECT_EQ(text(*grib2_grid_keys(test::g2_template_section(3, 33, {})), "gridType"), "unknown_33");
}

TEST(GridKeys, Grib1) {
  auto lambert = grib1_grid_keys(test::g1_gds_lambert(20, 10, 20.19, 238.45, 40635, 40635));
  ASSERT_TRUE(lambert) << lambert.error();
  EXPECT_EQ(text(*lambert, "gridType"), "lambert");
  EXPECT_EQ(number(*lambert, "Nx"), 20);
  EXPECT_EQ(number(*lambert, "LoVInDegrees"), 265);
  EXPECT_EQ(number(*lambert, "DxInMetres"), 40635);
  EXPECT_EQ(number(*lambert, "shapeOfTheEarth"), 0);  // resolution flags 0x88: the sphere of 6367.47 km
  auto thinned = grib1_grid_keys(
      test::g1_gds_latlon({.Nj = 3, .la1 = 0, .lo1 = 0, .la2 = 90, .lo2 = 90, .points_per_row = {10, 7, 2}}));
  ASSERT_TRUE(thinned);
  EXPECT_EQ(text(*thinned, "gridType"), "reduced_ll");
  EXPECT_EQ(number(*thinned, "numberOfPoints"), 19);
  EXPECT_EQ(find(*thinned, "Ni"), nullptr);
  EXPECT_EQ(number(*thinned, "radiusInMetres"), 6367470);
  EXPECT_FALSE(grib1_grid_keys(ByteVec(20, 0)));
}

}  // namespace
}  // namespace vorlak
