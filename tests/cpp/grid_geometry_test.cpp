// The grid services of the field API: one shared computation per grid
// section, and a real file's values and coordinates in one presented order.
#include "core/grid_geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "grib/decode_message.hpp"
#include "support/template_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;

ByteVec lat_lon_section(std::int64_t ni) {
  return test::g2_template_section(3, 0,
                                   {{"shapeOfTheEarth", {6}},
                                    {"Ni", {ni}},
                                    {"Nj", {3}},
                                    {"latitudeOfFirstGridPoint", {10000000}},
                                    {"latitudeOfLastGridPoint", {8000000}},
                                    {"longitudeOfLastGridPoint", {(ni - 1) * 1000000}}});
}

TEST(GridGeometry, FieldsOnOneGridShareItsCoordinates) {
  const ByteVec a = lat_lon_section(4);
  const ByteVec b = lat_lon_section(4);
  auto first = grid_coordinates_of(Edition::Two, a);
  auto second = grid_coordinates_of(Edition::Two, b);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->get(), second->get());
  auto other = grid_coordinates_of(Edition::Two, lat_lon_section(5));
  ASSERT_TRUE(other);
  EXPECT_NE(first->get(), other->get());
  EXPECT_EQ((*other)->size(), 15u);
  EXPECT_FALSE(grid_coordinates_of(Edition::Unknown, a));
  auto keys = grid_keys_of(Edition::Two, a);
  ASSERT_TRUE(keys);
  auto proj = proj_parameters_of(Edition::Two, a);
  ASSERT_TRUE(proj);
  EXPECT_EQ(proj_string(*proj), "+proj=longlat +R=6371229");
  auto cf = cf_grid_mapping_of(Edition::One, test::g1_gds_lambert(4, 3, 30, 250, 3000, 3000));
  ASSERT_TRUE(cf);
  EXPECT_EQ(std::get<std::string>(cf->front().second.value), "lambert_conformal_conic");
}

// NDFD writes its rows alternately east- and westwards (scanning mode
// 0x50). Presented, every row runs eastwards: each row then resembles the
// next far more than its mirror image does.
TEST(GridGeometry, AlternatingRowsOfARealFieldAreStraightened) {
  std::ifstream in(std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata") / "ndfd_critfireo.grib2",
                   std::ios::binary);
  if (!in) GTEST_SKIP();
  const ByteVec data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto scan = scan_messages(data);
  ASSERT_TRUE(scan);
  const MessageRecord& record = scan->records.front();
  const Bytes message = Bytes(data).subspan(record.offset, record.totalLength);
  auto decoded = decode_message(message, record);
  ASSERT_TRUE(decoded) << decoded.error();
  // Section 3 of the message.
  Bytes section;
  for (std::size_t at = 16; at + 5 <= message.size();) {
    const std::uint32_t length = load_u32_be(message.data() + at);
    if (message[at + 4] == 3) {
      section = message.subspan(at, length);
      break;
    }
    at += length;
  }
  auto coords = grid_coordinates_of(Edition::Two, section);
  ASSERT_TRUE(coords) << coords.error();
  const GridLayout& layout = (*coords)->layout();
  ASSERT_EQ(layout.scanning_mode(), 0x50);
  const std::vector<double>& values = decoded->field.values();
  std::vector<double> presented(values.size());
  ASSERT_TRUE(layout.to_presented<double>(values, presented));

  const std::uint64_t nx = layout.columns();
  double straight = 0, mirrored = 0;
  std::uint64_t pairs = 0;
  for (std::uint64_t r = 0; r + 1 < layout.rows(); ++r) {
    for (std::uint64_t c = 0; c < nx; ++c) {
      const double here = presented[r * nx + c];
      const double below = presented[(r + 1) * nx + c];
      const double opposite = presented[(r + 1) * nx + nx - 1 - c];
      if (std::isnan(here) || std::isnan(below) || std::isnan(opposite)) continue;
      straight += std::fabs(here - below);
      mirrored += std::fabs(here - opposite);
      ++pairs;
    }
  }
  ASSERT_GT(pairs, 100000u);
  EXPECT_LT(straight * 4, mirrored);
  // And the coordinates go with them: every row starts in the west.
  EXPECT_LT((*coords)->longitude(nx), (*coords)->longitude(2 * nx - 1));
}

}  // namespace
}  // namespace vorlak
