// PROJ parameters and CF grid_mapping attributes of grid definitions.
// (bench/geometry_pyproj.py checks that PROJ, given these parameters,
// inverts each grid's x and y axes to the grid's own coordinates.)
#include "compat/grid_crs.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vorlak {
namespace {

const EarthShape kSphere{6371229.0, 6371229.0, 6};
const EarthShape kWgs84{6378137.0, 6356752.314245179, 5};

GridDefinition grid(GridGeometry geometry, Result<EarthShape> earth = kSphere) {
  GridDefinition d;
  d.layout = LayoutParams{4, 3, 0, {}};
  d.geometry = std::move(geometry);
  d.earth = std::move(earth);
  return d;
}

GridDefinition rotated() {
  GridDefinition d = grid(LatLonGridParams{-12.3, 345.2, 16.7, 42.3, 0.0225, 0.0225, 1e-6});
  d.rotation = RotatedPoleParams{-36.08852, 245.305142, 0};
  return d;
}

struct CrsCase {
  const char* name;
  GridDefinition definition;
  const char* proj;
  const char* cf_name;
};

std::vector<CrsCase> cases() {
  return {
      {"lambert", grid(ProjectedGridParams{LambertConformalParams{38.5, 38.5, 38.5, 262.5}, 21.1, 237.3, 3e3, 3e3}),
       "+proj=lcc +lat_1=38.5 +lat_2=38.5 +lat_0=38.5 +lon_0=262.5 +x_0=0 +y_0=0 +R=6371229 +units=m",
       "lambert_conformal_conic"},
      {"polar south", grid(ProjectedGridParams{PolarStereographicParams{true, 60, 0}, -60, 0, 1e3, 1e3}, kWgs84),
       "+proj=stere +lat_0=-90 +lat_ts=-60 +lon_0=0 +x_0=0 +y_0=0 +a=6378137 +b=6356752.314245179 +units=m",
       "polar_stereographic"},
      {"mercator", grid(ProjectedGridParams{MercatorParams{20, 0}, 18, 198, 2.5e3, 2.5e3}),
       "+proj=merc +lat_ts=20 +lon_0=0 +x_0=0 +y_0=0 +R=6371229 +units=m", "mercator"},
      {"albers", grid(ProjectedGridParams{AlbersEqualAreaParams{29.5, 45.5, 23, -96}, 22, -125, 5e3, 5e3}),
       "+proj=aea +lat_1=29.5 +lat_2=45.5 +lat_0=23 +lon_0=-96 +x_0=0 +y_0=0 +R=6371229 +units=m",
       "albers_conical_equal_area"},
      {"space view",
       grid(SpaceViewGridParams{0, -75, 3622, 3622, 1856, 1856, 0, 0, 0, 6610700.0}, EarthShape{6378169, 6356583.8}),
       "+proj=geos +h=35785992.808299996 +lon_0=-75 +sweep=y +x_0=0 +y_0=0 +a=6378169 +b=6356583.8 +units=m",
       "geostationary"},
      {"rotated", rotated(), "+proj=ob_tran +o_proj=longlat +o_lat_p=36.08852 +o_lon_p=0 +lon_0=245.305142 +R=6371229",
       "rotated_latitude_longitude"},
      {"latitude longitude", grid(LatLonGridParams{90, 0, -90, 359, 1.0, 1.0, 1e-6}, kWgs84),
       "+proj=longlat +a=6378137 +b=6356752.314245179", "latitude_longitude"},
      {"gaussian without figure",
       grid(GaussianGridParams{88.6, 0, -88.6, 356.25, 3.75, 48, 1e-6}, fail("the shape of the Earth is missing")),
       "+proj=longlat", "latitude_longitude"},
  };
}

class Crs : public ::testing::TestWithParam<CrsCase> {};

TEST_P(Crs, ProjAndCfNames) {
  const CrsCase& c = GetParam();
  auto proj = proj_parameters(c.definition);
  ASSERT_TRUE(proj) << proj.error();
  EXPECT_EQ(proj_string(*proj), c.proj);
  auto cf = cf_grid_mapping(c.definition);
  ASSERT_TRUE(cf) << cf.error();
  ASSERT_FALSE(cf->empty());
  EXPECT_EQ(cf->front().first, "grid_mapping_name");
  EXPECT_EQ(std::get<std::string>(cf->front().second.value), c.cf_name);
}

INSTANTIATE_TEST_SUITE_P(Grids, Crs, ::testing::ValuesIn(cases()), [](const auto& info) {
  std::string name = info.param.name;
  for (char& ch : name) {
    if (ch == ' ') ch = '_';
  }
  return name;
});

const KeyValue* attribute(const NamedValues& values, const std::string& name) {
  for (const auto& [n, v] : values) {
    if (n == name) return &v;
  }
  return nullptr;
}

TEST(Crs, CfAttributesCarryTheFigureAndTheParameters) {
  auto lambert =
      cf_grid_mapping(grid(ProjectedGridParams{LambertConformalParams{33, 45, 40, -97}, 20, -120, 3e3, 3e3}, kWgs84));
  ASSERT_TRUE(lambert);
  EXPECT_EQ(std::get<std::vector<double>>(attribute(*lambert, "standard_parallel")->value),
            (std::vector<double>{33, 45}));
  EXPECT_EQ(std::get<double>(attribute(*lambert, "semi_minor_axis")->value), 6356752.314245179);
  EXPECT_EQ(std::get<double>(attribute(*lambert, "false_easting")->value), 0.0);
  auto rot = cf_grid_mapping(rotated());
  ASSERT_TRUE(rot);
  EXPECT_DOUBLE_EQ(std::get<double>(attribute(*rot, "grid_north_pole_longitude")->value), 65.305142);
  EXPECT_EQ(std::get<double>(attribute(*rot, "earth_radius")->value), 6371229.0);
}

TEST(Crs, GridsWithoutCoordinatesOrFigureHaveNone) {
  EXPECT_FALSE(proj_parameters(grid(NoCoordinates{"unstructured grid: no coordinates in the message"})));
  EXPECT_FALSE(cf_grid_mapping(grid(NoCoordinates{"unstructured"})));
  const auto lambert = ProjectedGridParams{LambertConformalParams{40, 40, 40, 0}, 40, 0, 1e3, 1e3};
  EXPECT_FALSE(proj_parameters(grid(lambert, fail("the shape of the Earth is missing"))));
  EXPECT_FALSE(cf_grid_mapping(grid(lambert, fail("the shape of the Earth is missing"))));
}

}  // namespace
}  // namespace vorlak
