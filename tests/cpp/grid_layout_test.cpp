// Every scanning mode on small grids: the values a producer writes in its
// scanning order, presented by the layout, sit on the coordinates computed
// for the same presented points.
#include "grib/geometry/grid_layout.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "grib/geometry/grid_coordinates.hpp"

namespace vorlak {
namespace {

constexpr std::uint64_t kNi = 4;
constexpr std::uint64_t kNj = 3;

// A value naming its place: latitude and longitude in one number.
double value_at(double lat, double lon) { return std::round(lat * 1000.0) + lon / 1000.0; }

// The message a producer writes for a 1-degree grid whose first point is at
// (10N, 20E), scanning by `mode`, read straight from the scanning rules: i
// runs along x (east unless 0x80), j along y (south unless 0x40); with 0x20
// the lines held consecutively are columns; with 0x10 every second line runs
// backwards.
std::vector<double> produced(std::uint8_t mode) {
  const double sx = (mode & 0x80) ? -1.0 : 1.0;
  const double sy = (mode & 0x40) ? 1.0 : -1.0;
  const bool columns = mode & 0x20;
  const bool alternate = mode & 0x10;
  const std::uint64_t lines = columns ? kNi : kNj;
  const std::uint64_t along = columns ? kNj : kNi;
  std::vector<double> out;
  for (std::uint64_t line = 0; line < lines; ++line) {
    for (std::uint64_t k = 0; k < along; ++k) {
      const std::uint64_t step = (alternate && (line & 1)) ? along - 1 - k : k;
      const std::uint64_t i = columns ? line : step;
      const std::uint64_t j = columns ? step : line;
      out.push_back(value_at(10.0 + sy * j, 20.0 + sx * i));
    }
  }
  return out;
}

GridDefinition lat_lon(std::uint8_t mode) {
  const double sx = (mode & 0x80) ? -1.0 : 1.0;
  const double sy = (mode & 0x40) ? 1.0 : -1.0;
  GridDefinition d;
  d.layout = LayoutParams{kNi, kNj, mode, {}};
  d.geometry = LatLonGridParams{10.0, 20.0, 10.0 + sy * (kNj - 1), 20.0 + sx * (kNi - 1), 1.0, 1.0, 1e-6};
  return d;
}

class ScanningModes : public ::testing::TestWithParam<int> {};

TEST_P(ScanningModes, ValuesAndCoordinatesAgreePointByPoint) {
  const auto mode = static_cast<std::uint8_t>(GetParam());
  const std::vector<double> message = produced(mode);
  auto coords = compute_grid_coordinates(lat_lon(mode));
  ASSERT_TRUE(coords) << coords.error();
  const GridLayout& layout = (*coords)->layout();
  ASSERT_EQ(layout.rows(), kNj);
  ASSERT_EQ(layout.columns(), kNi);
  EXPECT_EQ(layout.identity(), (mode & 0x30) == 0);

  std::vector<double> presented(message.size());
  ASSERT_TRUE(layout.to_presented<double>(message, presented));
  std::vector<double> lat(message.size()), lon(message.size());
  ASSERT_TRUE((*coords)->fill(lat, lon));
  std::vector<double> short_lat(message.size() - 1);
  EXPECT_FALSE((*coords)->fill(short_lat, lon));
  for (std::uint64_t p = 0; p < presented.size(); ++p) {
    EXPECT_EQ(presented[p], value_at(lat[p], lon[p])) << "presented point " << p;
    EXPECT_EQ(presented[p], message[layout.message_index(p)]);
    EXPECT_EQ(lat[p], (*coords)->latitude(p));
    EXPECT_EQ(lon[p], (*coords)->longitude(p));
  }
  // The first point stays first, rows keep the message's order.
  EXPECT_EQ(presented[0], message[0]);
  EXPECT_EQ(lat[0], 10.0);
  EXPECT_EQ(lat[kNi], (mode & 0x40) ? 11.0 : 9.0);
  EXPECT_EQ(lon[1], (mode & 0x80) ? 19.0 : 21.0);

  std::vector<double> back(message.size());
  ASSERT_TRUE(layout.to_message<double>(presented, back));
  EXPECT_EQ(back, message);

  // In place, where the rows stay the message's.
  std::vector<double> in_place = message;
  auto turned = layout.to_presented_in_place<double>(in_place);
  ASSERT_TRUE(turned);
  EXPECT_EQ(*turned, (mode & 0x20) == 0);
  EXPECT_EQ(in_place, *turned ? presented : message);
}

INSTANTIATE_TEST_SUITE_P(AllOrderingBits, ScanningModes,
                         ::testing::Values(0x00, 0x80, 0x40, 0xC0, 0x20, 0xA0, 0x60, 0xE0, 0x10, 0x90, 0x50, 0xD0, 0x30,
                                           0xB0, 0x70, 0xF0));

// A projected grid takes its row direction from bit 0x40 rather than from
// corners: rows of a polar stereographic grid scanning +j run away from the
// pole's side it starts on.
TEST(ScanningModes, ProjectedRowsFollowTheJBit) {
  for (std::uint8_t mode : {0x00, 0x40, 0x50, 0xC0}) {
    GridDefinition d;
    d.layout = LayoutParams{kNi, kNj, mode, {}};
    d.geometry = ProjectedGridParams{PolarStereographicParams{false, 60.0, 0.0}, 60.0, 0.0, 100e3, 100e3};
    d.earth = EarthShape{6371229.0, 6371229.0, 6};
    auto coords = compute_grid_coordinates(d);
    ASSERT_TRUE(coords) << coords.error();
    const auto& x = (*coords)->x();
    const auto& y = (*coords)->y();
    EXPECT_EQ(x[1] - x[0], (mode & 0x80) ? -100e3 : 100e3);
    EXPECT_EQ(y[1] - y[0], (mode & 0x40) ? 100e3 : -100e3);
    // On the meridian of orientation, +y heads for the pole.
    EXPECT_EQ((*coords)->latitude(kNi) > (*coords)->latitude(0), (mode & 0x40) != 0);
  }
}

TEST(GridLayout, QuasiRegularRowsAlternate) {
  auto layout = GridLayout::make(LayoutParams{0, 3, 0x10, {2, 3, 4}});
  ASSERT_TRUE(layout);
  EXPECT_FALSE(layout->regular());
  EXPECT_EQ(layout->points(), 9u);
  EXPECT_EQ(layout->row_start(2), 5u);
  EXPECT_EQ(layout->row_length(1), 3u);
  const std::vector<double> message{0, 1, 4, 3, 2, 5, 6, 7, 8};  // row 1 written backwards
  std::vector<double> presented(9);
  ASSERT_TRUE(layout->to_presented<double>(message, presented));
  EXPECT_EQ(presented, (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  for (std::uint64_t p = 0; p < 9; ++p) EXPECT_EQ(message[layout->message_index(p)], presented[p]);
  std::vector<double> in_place = message;
  ASSERT_TRUE(layout->to_presented_in_place<double>(in_place).value());
  EXPECT_EQ(in_place, presented);
}

TEST(GridLayout, Refusals) {
  EXPECT_FALSE(GridLayout::make(LayoutParams{1u << 20, 1u << 20, 0, {}}));            // too many points
  EXPECT_FALSE(GridLayout::make(LayoutParams{4, 3, 0x08, {}}));                       // offset rows
  EXPECT_FALSE(GridLayout::make(LayoutParams{0, 2, 0x20, {3, 4}}));                   // list with j consecutive
  EXPECT_FALSE(GridLayout::make(LayoutParams{0, 2, 0, {0xFFFFFFFFu, 0xFFFFFFFFu}}));  // list beyond the bound
  auto layout = GridLayout::make(LayoutParams{4, 3, 0, {}});
  ASSERT_TRUE(layout);
  std::vector<double> short_values(11), out(12);
  EXPECT_FALSE(layout->to_presented<double>(short_values, out));
  std::vector<float> values(12), out_float(12);
  EXPECT_TRUE(layout->to_presented<float>(values, out_float));
}

}  // namespace
}  // namespace vorlak
