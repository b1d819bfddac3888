// Grid points, the haversine distance and the nearest search: exact
// distances, the total order with ties by index, and the bounded selection
// agreeing with a full sort on random grids.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "core/grid_points.hpp"
#include "support/nearest_oracle.hpp"
#include "support/synthetic_handle.hpp"

namespace vorlak {
namespace {

using test::ByteVec;
using test::rank_by_distance;

// One latitude and longitude per point, as the field API views a grid
// without axes.
GridView point_view(const std::vector<double>& lats, const std::vector<double>& lons,
                    const std::vector<double>& values) {
  GridView view;
  view.latitudes = lats;
  view.longitudes = lons;
  view.values = values;
  return view;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct DistanceCase {
  double qlat, qlon, lat, lon, km;
};

class Haversine : public ::testing::TestWithParam<DistanceCase> {};

TEST_P(Haversine, GivesTheDescribedKilometres) {
  const auto& c = GetParam();
  EXPECT_EQ(haversine_km(c.qlat, c.qlon, c.lat, c.lon), c.km);
}

INSTANTIATE_TEST_SUITE_P(Cases, Haversine,
                         ::testing::Values(DistanceCase{0, 0, 0, 1, 111.1950802335329},
                                           DistanceCase{90, 0, -90, 0, 20015.114442035923},
                                           DistanceCase{45, 7, 45, 7, 0.0}, DistanceCase{-12, 300, -12, 300, 0.0}));

TEST(Haversine, LongitudesNeedNoNormalising) {
  EXPECT_NEAR(haversine_km(40, 370, 41, 12), haversine_km(40, 10, 41, 12), 1e-9);
  EXPECT_NEAR(haversine_km(40, -170, 41, 190), haversine_km(40, 190, 41, 190), 1e-9);
  EXPECT_TRUE(std::isnan(haversine_km(kNaN, 0, 1, 1)));
}

std::vector<std::uint64_t> indices(const std::vector<NearestCandidate>& candidates);

TEST(Haversine, AntipodalRoundingGivesHalfTheCircumferenceNotNaN) {
  // Here the haversine term rounds one ulp above 1.
  EXPECT_EQ(haversine_km(-87.5, 161.9283939061209, 87.5, 341.9283939061209), 20015.114442035923);
  EXPECT_EQ(haversine_km(11.620689719854511, 174.80069377873087, -11.620689719854511, 354.80069377873087),
            20015.114442035923);
}

TEST(Nearest, AntipodalPointIsFarthestNotFirst) {
  const std::vector<double> lats{87.5, 0.0}, lons{341.9283939061209, 0.0}, values{1, 2};
  const auto found = nearest(point_view(lats, lons, values), -87.5, 161.9283939061209, 2);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].index, 1u);
  EXPECT_EQ(found[1].distance, 20015.114442035923);
}

TEST(Nearest, LaterPointCloserByAFewUlpsStillWins) {
  // Distances differing in the 13th digit: the quick rejection must not
  // swallow the closer, later point.
  const std::vector<double> lats{0.0, 0.0, 0.0}, lons{1.0, 1.0 - 1e-13, 1.0 - 2e-13}, values{1, 2, 3};
  EXPECT_EQ(indices(nearest(point_view(lats, lons, values), 0.0, 0.0, 2)), (std::vector<std::uint64_t>{2, 1}));
}

TEST(TotalOrder, OrdersNaNsZerosAndNumbers) {
  const double values[] = {-kNaN, -std::numeric_limits<double>::infinity(), -1.0, -0.0, 0.0, 5e-324, 1.0,
                           std::numeric_limits<double>::infinity(), kNaN};
  for (std::size_t i = 1; i < std::size(values); ++i) {
    EXPECT_LT(total_order_key(values[i - 1]), total_order_key(values[i])) << i;
  }
}

// A 4 x 3 grid: latitudes 60, 59, 58; longitudes 0..3; values 0..11.
HandleRecord regular_grid() {
  std::vector<double> values(12);
  for (int i = 0; i < 12; ++i) values[i] = i;
  auto field = test::g2_simple_field(values, 8);
  std::vector<ByteVec> sections = {test::g2_section1(), test::g2_section3_latlon({})};
  sections.insert(sections.end(), field.begin(), field.end());
  return test::handle_from_bytes(test::grib2_message(sections));
}

std::vector<std::uint64_t> indices(const std::vector<NearestCandidate>& candidates) {
  std::vector<std::uint64_t> out;
  for (const auto& c : candidates) out.push_back(c.index);
  return out;
}

TEST(GridPoints, PairCoordinatesWithValuesInArrayOrder) {
  auto points = grid_points(regular_grid());
  ASSERT_TRUE(points) << points.error().message();
  ASSERT_EQ(points->size(), 12u);
  EXPECT_EQ((*points)[5].latitude, 59.0);
  EXPECT_EQ((*points)[5].longitude, 1.0);
  EXPECT_EQ((*points)[5].value, 5.0);
}

TEST(Nearest, ExactPositionComesFirstWithZeroDistance) {
  auto found = nearest(regular_grid(), 59, 2, 1);
  ASSERT_TRUE(found);
  ASSERT_EQ(found->size(), 1u);
  EXPECT_EQ((*found)[0].index, 6u);
  EXPECT_EQ((*found)[0].distance, 0.0);
  EXPECT_EQ((*found)[0].value, 6.0);
}

TEST(Nearest, EqualDistancesComeInIndexOrder) {
  auto found = nearest(regular_grid(), 59, 1.5, 4);
  ASSERT_TRUE(found);
  ASSERT_EQ(found->size(), 4u);
  EXPECT_EQ((*found)[0].index, 5u);
  EXPECT_EQ((*found)[1].index, 6u);
  EXPECT_EQ((*found)[0].distance, (*found)[1].distance);
}

TEST(Nearest, CountZeroMeansOneAndLargeCountsMeanAll) {
  const HandleRecord handle = regular_grid();
  EXPECT_EQ(nearest(handle, 60, 0, 0)->size(), 1u);
  auto all = nearest(handle, 58.4, 2.2, 1000);
  auto ranked = rank_by_distance(handle, 58.4, 2.2);
  ASSERT_TRUE(all && ranked);
  EXPECT_EQ(indices(*all), indices(*ranked));
  EXPECT_EQ(all->size(), 12u);
}

TEST(Nearest, NaNQueriesGiveNaNDistancesInIndexOrder) {
  for (auto [lat, lon] : {std::pair{kNaN, 1.0}, std::pair{59.0, kNaN}}) {
    auto found = nearest(regular_grid(), lat, lon, 5);
    ASSERT_TRUE(found);
    EXPECT_EQ(indices(*found), (std::vector<std::uint64_t>{0, 1, 2, 3, 4}));
    for (const auto& c : *found) EXPECT_TRUE(std::isnan(c.distance));
  }
}

TEST(Nearest, LongitudeOf370FindsWhat10Finds) {
  test::G2LatLonGrid grid;
  grid.lo1 = 8;
  grid.lo2 = 11;
  std::vector<double> values(12, 1.0);
  auto field = test::g2_simple_field(values, 8);
  std::vector<ByteVec> sections = {test::g2_section1(), test::g2_section3_latlon(grid)};
  sections.insert(sections.end(), field.begin(), field.end());
  const HandleRecord handle = test::handle_from_bytes(test::grib2_message(sections));
  auto wrapped = nearest(handle, 59.2, 370, 12);
  auto plain = nearest(handle, 59.2, 10, 12);
  ASSERT_TRUE(wrapped && plain);
  EXPECT_EQ(indices(*wrapped), indices(*plain));
  for (std::size_t i = 0; i < plain->size(); ++i) {
    EXPECT_NEAR((*wrapped)[i].distance, (*plain)[i].distance, 1e-9);
  }
}

TEST(GridPoints, FailuresOfTheCoordinateAndValueReads) {
  // Axes of 2 x 4 against 12 values.
  auto inconsistent = grid_points(test::handle_with(test::decoded_field(
      std::vector<double>(12, 0.0), 4, 3, test::axes({1, 2}, {0, 1, 2, 3}))));
  ASSERT_FALSE(inconsistent);
  EXPECT_EQ(inconsistent.error().message(), "latitudes, longitudes, and values arrays are inconsistent");

  // No axes, decoded or not: the coordinate keys are not defined, which is
  // what reading them says first.
  auto no_axes = grid_points(test::handle_with(test::decoded_field({1, 2}, 2, 1)));
  EXPECT_EQ(no_axes.error().message(), "key 'latitudes' is not defined");
  auto undecodable = grid_points(test::handle_with(fail("bad packing")));
  EXPECT_EQ(undecodable.error().message(), "key 'latitudes' is not defined");
  EXPECT_EQ(nearest(test::handle_with(fail("bad packing")), 0, 0, 1).error().message(),
            "key 'latitudes' is not defined");
}

TEST(NearestEach, OneNearestPerQueryInOrder) {
  const HandleRecord handle = regular_grid();
  const std::vector<double> lats = {60, 58.1, kNaN};
  const std::vector<double> lons = {0, 2.9, 0};
  auto found = nearest_each(handle, lats, lons);
  ASSERT_TRUE(found);
  EXPECT_EQ(indices(*found), (std::vector<std::uint64_t>{0, 11, 0}));
  EXPECT_TRUE(nearest_each(handle, {}, {})->empty());
  EXPECT_EQ(nearest_each(handle, lats, {}).error().message(), "inlats and inlons must have the same length");
  const HandleRecord empty = test::handle_with(test::decoded_field({}, 0, 0, test::axes({}, {})));
  EXPECT_TRUE(nearest_each(empty, lats, lons)->empty());
  EXPECT_TRUE(nearest(empty, 0, 0, 3)->empty());
}

void expect_same_candidates(const std::vector<NearestCandidate>& got, const std::vector<NearestCandidate>& want,
                            std::size_t k) {
  ASSERT_EQ(got.size(), std::min(k, want.size()));
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].index, want[i].index) << "rank " << i;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got[i].distance), std::bit_cast<std::uint64_t>(want[i].distance));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got[i].latitude), std::bit_cast<std::uint64_t>(want[i].latitude));
  }
}

// Coordinates drawn from a few values so that ties are common, with some
// beyond the poles (whose distances are NaN) and some NaN.
double random_coordinate(std::mt19937_64& rng, double span) {
  std::uniform_int_distribution<int> pick(0, 99);
  const int p = pick(rng);
  if (p == 0) return kNaN;
  if (p == 1) return 95 + p;
  if (p < 40) return std::round(std::uniform_real_distribution<double>(-span, span)(rng));
  return std::uniform_real_distribution<double>(-span, span)(rng);
}

TEST(Nearest, BoundedSelectionEqualsTheFullSort) {
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 20; ++round) {
    const std::size_t rows = 1 + rng() % 40;
    const std::size_t columns = 1 + rng() % 40;
    std::vector<double> lat_axis(rows), lon_axis(columns), values(rows * columns);
    for (auto& v : lat_axis) v = random_coordinate(rng, 90);
    for (auto& v : lon_axis) v = random_coordinate(rng, 400);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i);
    const HandleRecord on_axes =
        test::handle_with(test::decoded_field(values, columns, rows, test::axes(lat_axis, lon_axis)));

    // The same kind of points with a latitude and longitude each.
    std::vector<double> lats(values.size()), lons(values.size());
    for (auto& v : lats) v = random_coordinate(rng, 90);
    for (auto& v : lons) v = random_coordinate(rng, 180);
    const GridView on_points = point_view(lats, lons, values);

    for (int q = 0; q < 5; ++q) {
      const double qlat = q == 4 ? 200.0 : random_coordinate(rng, 90);
      const double qlon = random_coordinate(rng, 360);
      auto ranked = rank_by_distance(on_axes, qlat, qlon);
      ASSERT_TRUE(ranked);
      const auto ranked_points = rank_by_distance(on_points, qlat, qlon);
      for (std::size_t k : {std::size_t{1}, std::size_t{3}, std::size_t{17}, values.size()}) {
        auto found = nearest(on_axes, qlat, qlon, k);
        ASSERT_TRUE(found);
        expect_same_candidates(*found, *ranked, k);
        expect_same_candidates(nearest(on_points, qlat, qlon, k), ranked_points, k);
      }
      auto each = nearest_each(on_axes, std::vector<double>{qlat}, std::vector<double>{qlon});
      ASSERT_TRUE(each);
      expect_same_candidates(*each, *ranked, 1);
    }
  }
}

TEST(Nearest, DenseGridAgreesWithTheFullSort) {
  // A fine regular grid: many distances agree to the last bit near the query.
  std::vector<double> lat_axis, lon_axis;
  for (int r = 0; r <= 180; ++r) lat_axis.push_back(90.0 - r * 0.5);
  for (int c = 0; c < 360; ++c) lon_axis.push_back(c * 0.5);
  const HandleRecord handle = test::handle_with(test::decoded_field(
      std::vector<double>(lat_axis.size() * lon_axis.size(), 1.0), lon_axis.size(), lat_axis.size(),
      test::axes(lat_axis, lon_axis)));
  for (auto [qlat, qlon] : {std::pair{0.25, 0.25}, std::pair{90.0, 0.0}, std::pair{-45.0, 179.75},
                            std::pair{-89.9, -0.1}}) {
    auto ranked = rank_by_distance(handle, qlat, qlon);
    auto found = nearest(handle, qlat, qlon, 50);
    ASSERT_TRUE(ranked && found);
    expect_same_candidates(*found, *ranked, 50);
  }
}

HandleRecord axis_grid(const std::vector<double>& lat_axis, const std::vector<double>& lon_axis) {
  std::vector<double> values(lat_axis.size() * lon_axis.size());
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i);
  return test::handle_with(
      test::decoded_field(values, lon_axis.size(), lat_axis.size(), test::axes(lat_axis, lon_axis)));
}

// Every search of the query agrees with the full ordering, and each distance
// is the bits haversine_km gives for that point.
void expect_searches_match_full_sort(const HandleRecord& handle, double qlat, double qlon,
                                     std::initializer_list<std::size_t> counts) {
  auto ranked = rank_by_distance(handle, qlat, qlon);
  ASSERT_TRUE(ranked);
  for (std::size_t k : counts) {
    auto found = nearest(handle, qlat, qlon, k);
    ASSERT_TRUE(found);
    expect_same_candidates(*found, *ranked, k);
    for (const auto& c : *found) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(c.distance),
                std::bit_cast<std::uint64_t>(haversine_km(qlat, qlon, c.latitude, c.longitude)));
    }
  }
  auto each = nearest_each(handle, std::vector<double>{qlat}, std::vector<double>{qlon});
  ASSERT_TRUE(each);
  expect_same_candidates(*each, *ranked, 1);
}

// A global 0.25 degree grid of 721 x 1440 points, north to south, as GFS.
const HandleRecord& quarter_degree_grid() {
  static const HandleRecord handle = [] {
    std::vector<double> lat_axis, lon_axis;
    for (int r = 0; r < 721; ++r) lat_axis.push_back(90.0 - r * 0.25);
    for (int c = 0; c < 1440; ++c) lon_axis.push_back(c * 0.25);
    return axis_grid(lat_axis, lon_axis);
  }();
  return handle;
}

class QuarterDegreeGrid : public ::testing::TestWithParam<std::pair<double, double>> {};

TEST_P(QuarterDegreeGrid, SearchesEqualTheFullSort) {
  expect_searches_match_full_sort(quarter_degree_grid(), GetParam().first, GetParam().second, {1, 4, 100});
}

INSTANTIATE_TEST_SUITE_P(
    Positions, QuarterDegreeGrid,
    ::testing::Values(std::pair{-90.0, 0.0}, std::pair{-89.9, -5.0}, std::pair{-89.875, 359.9},
                      std::pair{-89.999, 180.0}, std::pair{0.0, 0.0}, std::pair{0.1, 100.3},
                      std::pair{0.125, 0.125},  // four points at one distance
                      std::pair{47.3, 8.5}, std::pair{89.9, 5.0}, std::pair{90.0, 0.0},
                      std::pair{-95.0, 10.0}, std::pair{180.0, 0.0}, std::pair{kNaN, 0.0}, std::pair{0.0, kNaN},
                      std::pair{30.0, 1e300}));

TEST(Nearest, RowVisitedLaterWinsATieByIndex) {
  // From the pole at 90, the rows at 91 (beyond the pole, scanned last) and
  // 89 have the same distance on the query's meridian; 91 comes first by index.
  const HandleRecord handle = axis_grid({91, 89, 88}, {10});
  auto found = nearest(handle, 90, 10, 2);
  ASSERT_TRUE(found);
  EXPECT_EQ(indices(*found), (std::vector<std::uint64_t>{0, 1}));
  EXPECT_EQ((*found)[0].distance, (*found)[1].distance);
  EXPECT_EQ(indices(*nearest(handle, 90, 10, 1)), (std::vector<std::uint64_t>{0}));
  expect_searches_match_full_sort(handle, 90, 10, {1, 2, 3});
  expect_searches_match_full_sort(axis_grid({-91, -89, -88}, {0, 10, 20}), -90, 20, {1, 2, 9});
  expect_searches_match_full_sort(axis_grid({-91, -89, -88}, {0, 10, 20}), -90, 200, {1, 2, 9});
}

TEST(Nearest, IrregularAxesEqualTheFullSort) {
  // Rows south to north with repeats, beyond the poles and NaN; columns with
  // repeats, a NaN and an infinity (whose terms are NaN in every row).
  std::vector<double> lat_axis, lon_axis;
  for (int r = 0; r < 40; ++r) lat_axis.push_back(-90.0 + r * 4.5);
  lat_axis.insert(lat_axis.end(), {10.0, -10.0, 93.0, -92.0, kNaN, 90.0, -90.0, 10.0});
  for (int c = 0; c < 60; ++c) lon_axis.push_back(-180.0 + c * 6.0);
  lon_axis.insert(lon_axis.end(), {0.0, kNaN, 360.0, std::numeric_limits<double>::infinity(), 6.0});
  const HandleRecord handle = axis_grid(lat_axis, lon_axis);
  const std::size_t size = lat_axis.size() * lon_axis.size();
  std::mt19937_64 rng(777);
  for (int q = 0; q < 30; ++q) {
    const double qlat = q < 4 ? std::array{90.0, -90.0, 10.0, 0.0}[q] : random_coordinate(rng, 100);
    const double qlon = random_coordinate(rng, 360);
    expect_searches_match_full_sort(handle, qlat, qlon, {1, 4, 100, size, size + 7});
  }
}

}  // namespace
}  // namespace vorlak
