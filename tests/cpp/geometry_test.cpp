// Grid axes of regular and Gaussian grids, and the Gaussian latitudes.
#include "grib/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <thread>

#include "grib/limits.hpp"

namespace vorlak {
namespace {

GridSummary lat_lon_grid(std::uint32_t ni, std::uint32_t nj, double la1, double lo1, double la2,
                         double lo2, std::uint8_t scanning = 0) {
  GridSummary grid;
  grid.gridDefinitionTemplateNumber = 0;
  grid.Ni = ni;
  grid.Nj = nj;
  grid.latitudeOfFirstGridPoint = la1;
  grid.longitudeOfFirstGridPoint = lo1;
  grid.latitudeOfLastGridPoint = la2;
  grid.longitudeOfLastGridPoint = lo2;
  grid.scanningMode = scanning;
  return grid;
}

GridSummary gaussian_grid(std::uint32_t N, std::uint32_t nj, double la1, double la2) {
  GridSummary grid = lat_lon_grid(4 * N, nj, la1, 0.0, la2, 360.0 - 90.0 / N);
  grid.gridDefinitionTemplateNumber = 40;
  grid.N = N;
  return grid;
}

void expect_linear(const std::vector<double>& axis, std::size_t n, double first, double step) {
  ASSERT_EQ(axis.size(), n);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_NEAR(axis[i], first + static_cast<double>(i) * step, 1e-9) << "entry " << i;
  }
}

TEST(GeometryRegular, GlobalOneDegreeGrid) {
  GridSummary grid = lat_lon_grid(360, 181, 90, 0, -90, 359);
  grid.iDirectionIncrement = 1.0;
  grid.jDirectionIncrement = 1.0;
  const auto coords = compute_coordinates(grid);
  ASSERT_TRUE(coords);
  EXPECT_EQ(coords->longitude.name, "longitude");
  EXPECT_EQ(coords->longitude.units, "degrees_east");
  EXPECT_EQ(coords->latitude.name, "latitude");
  EXPECT_EQ(coords->latitude.units, "degrees_north");
  expect_linear(coords->longitude.values, 360, 0.0, 1.0);
  expect_linear(coords->latitude.values, 181, 90.0, -1.0);
}

TEST(GeometryRegular, PlusJScanningRunsSouthToNorth) {
  GridSummary grid = lat_lon_grid(360, 181, -90, 0, 90, 359, 0x40);
  grid.iDirectionIncrement = 1.0;
  grid.jDirectionIncrement = 1.0;
  const auto coords = compute_coordinates(grid);
  ASSERT_TRUE(coords);
  expect_linear(coords->latitude.values, 181, -90.0, 1.0);
}

TEST(GeometryRegular, SpansWithoutIncrementsAndSingleRows) {
  const auto spanned = compute_coordinates(lat_lon_grid(5, 3, 10, 0, 0, 8));
  ASSERT_TRUE(spanned);
  expect_linear(spanned->longitude.values, 5, 0.0, 2.0);
  expect_linear(spanned->latitude.values, 3, 10.0, -5.0);

  const auto single = compute_coordinates(lat_lon_grid(1, 1, 45, 7, 45, 7));
  ASSERT_TRUE(single);
  EXPECT_EQ(single->longitude.values, std::vector<double>{7.0});
  EXPECT_EQ(single->latitude.values, std::vector<double>{45.0});
}

struct LongitudeCase {
  const char* label;
  double lo1, lo2;
  std::uint32_t ni;
  std::optional<double> increment;
  std::uint8_t scanning;
  double first, step;
};

class GeometryLongitudeSpan : public ::testing::TestWithParam<LongitudeCase> {};

TEST_P(GeometryLongitudeSpan, AxisRunsFromUnwoundFirstPoint) {
  const LongitudeCase& c = GetParam();
  GridSummary grid = lat_lon_grid(c.ni, 2, 10, c.lo1, 0, c.lo2, c.scanning);
  grid.iDirectionIncrement = c.increment;
  const auto coords = compute_coordinates(grid);
  ASSERT_TRUE(coords);
  expect_linear(coords->longitude.values, c.ni, c.first, c.step);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GeometryLongitudeSpan,
    ::testing::Values(
        LongitudeCase{"across_greenwich", 350, 10, 21, std::nullopt, 0, -10, 1},
        LongitudeCase{"no_wrapping", 170, 10, 201, std::nullopt, 0, 170, 1},
        LongitudeCase{"first_beyond_180", 200, 20, 181, std::nullopt, 0, -160, 1},
        LongitudeCase{"minus_i_with_increment", 10, 350, 3, 10.0, 0x80, 10, -10},
        LongitudeCase{"minus_i_span", 10, 350, 3, std::nullopt, 0x80, 10, -10},
        LongitudeCase{"several_turns", 0, -1070, 11, std::nullopt, 0, 0, 1}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(GeometryGaussian, OneParallelPerHemisphere) {
  const auto lats = gaussian_latitudes(1);
  ASSERT_TRUE(lats);
  ASSERT_EQ(lats->size(), 2u);
  EXPECT_DOUBLE_EQ((*lats)[0], 35.264389682754654);
  EXPECT_DOUBLE_EQ((*lats)[1], -35.264389682754654);
}

class GeometryGaussianN : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(GeometryGaussianN, SymmetricStrictlyDecreasingInsidePoles) {
  const std::uint32_t N = GetParam();
  const auto lats = gaussian_latitudes(N);
  ASSERT_TRUE(lats);
  ASSERT_EQ(lats->size(), 2u * N);
  EXPECT_LT(lats->front(), 90.0);
  for (std::size_t i = 0; i < lats->size(); ++i) {
    EXPECT_NEAR((*lats)[i], -(*lats)[lats->size() - 1 - i], 1e-12);
    if (i > 0) {
      EXPECT_LT((*lats)[i], (*lats)[i - 1]);
    }
  }
  EXPECT_EQ(gaussian_latitudes(N), lats) << "computed once and shared";
}

INSTANTIATE_TEST_SUITE_P(Sizes, GeometryGaussianN, ::testing::Values(2u, 48u, 320u, 1280u));

TEST(GeometryGaussian, ConcurrentFirstRequestsShareOneResult) {
  constexpr int kThreads = 4;
  std::shared_ptr<const std::vector<double>> seen[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&seen, t] { seen[t] = gaussian_latitudes(517); });
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(seen[0]);
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]);
}

TEST(GeometryGaussian, RefusesZeroAndOversizedN) {
  EXPECT_EQ(gaussian_latitudes(0), nullptr);
  EXPECT_EQ(gaussian_latitudes(kMaxGaussianN + 1), nullptr);
  EXPECT_FALSE(compute_coordinates(gaussian_grid(0, 0, 0, 0)));
  GridSummary oversized = gaussian_grid(1, 2, 30, -30);
  oversized.N = kMaxGaussianN + 1;
  EXPECT_FALSE(compute_coordinates(oversized));
}

TEST(GeometryGaussian, FullGridUsesAllLatitudes) {
  const auto coords = compute_coordinates(gaussian_grid(48, 96, 88.57216851400727, -88.57216851400727));
  ASSERT_TRUE(coords);
  ASSERT_EQ(coords->latitude.values.size(), 96u);
  EXPECT_DOUBLE_EQ(coords->latitude.values.front(), 88.57216851400727);
  EXPECT_EQ(coords->latitude.values, *gaussian_latitudes(48));
}

TEST(GeometryGaussian, BandTakesRowsBetweenBoundsEitherWay) {
  const auto all = *gaussian_latitudes(48);
  EXPECT_DOUBLE_EQ(all[4], 81.13497683767744);
  EXPECT_DOUBLE_EQ(all[13], 64.35073040887207);
  const std::vector<double> band(all.begin() + 4, all.begin() + 14);

  const auto north_first = compute_coordinates(gaussian_grid(48, 10, all[4], all[13]));
  ASSERT_TRUE(north_first);
  EXPECT_EQ(north_first->latitude.values, band);

  const auto south_first = compute_coordinates(gaussian_grid(48, 10, all[13], all[4]));
  ASSERT_TRUE(south_first);
  EXPECT_EQ(south_first->latitude.values, std::vector<double>(band.rbegin(), band.rend()));
}

TEST(GeometryGaussian, BandNearTheSouthPoleShiftsBack) {
  const auto all = *gaussian_latitudes(48);
  // 10 rows from the eighth-last one would run past the pole: the band ends there.
  const auto coords = compute_coordinates(gaussian_grid(48, 10, all[88], all[95]));
  ASSERT_TRUE(coords);
  EXPECT_EQ(coords->latitude.values, std::vector<double>(all.begin() + 86, all.end()));
}

// Bands of fine grids compute only their own rows; they must be the very
// rows of the whole list, including the nearest-row choice at either bound
// and the shift back at the pole.
TEST(GeometryGaussian, BandOfAFineGridMatchesTheWholeList) {
  constexpr std::uint32_t N = 2100;  // above the on-demand threshold
  const auto all = *gaussian_latitudes(N);
  struct Band {
    std::size_t first, last, rows;
  };
  for (const Band band : {Band{4, 13, 10}, Band{2000, 2300, 301}, Band{4185, 4199, 20}}) {
    const auto coords = compute_coordinates(gaussian_grid(N, static_cast<std::uint32_t>(band.rows),
                                                          all[band.first] + 1e-9, all[band.last] - 1e-9));
    ASSERT_TRUE(coords);
    const std::size_t start = std::min(band.first, all.size() - band.rows);
    EXPECT_EQ(coords->latitude.values,
              std::vector<double>(all.begin() + static_cast<std::ptrdiff_t>(start),
                                  all.begin() + static_cast<std::ptrdiff_t>(start + band.rows)))
        << "band from row " << band.first;
  }
}

// A five-row band of the finest grid allowed: five roots, not 8192.
TEST(GeometryGaussian, BandOfTheFinestGridIsCheap) {
  // Rows are about 90 / N = 0.011 degrees apart: five of them span +-0.025.
  const auto coords = compute_coordinates(gaussian_grid(kMaxGaussianN, 5, 0.025, -0.025));
  ASSERT_TRUE(coords);
  ASSERT_EQ(coords->latitude.values.size(), 5u);
  for (std::size_t j = 1; j < 5; ++j) EXPECT_LT(coords->latitude.values[j], coords->latitude.values[j - 1]);
  EXPECT_NEAR(coords->latitude.values[2], 0.0, 90.0 / kMaxGaussianN);
}

TEST(GeometryGaussian, MoreRowsThanTheGlobalGridAreEvenlySpaced) {
  const auto coords = compute_coordinates(gaussian_grid(1, 5, 40, -40));
  ASSERT_TRUE(coords);
  expect_linear(coords->latitude.values, 5, 40.0, -20.0);
}

TEST(GeometryNone, ProjectionsAndMissingCornersHaveNoCoordinates) {
  for (std::uint8_t kind : {1, 2, 3}) {
    GridSummary grid = lat_lon_grid(10, 10, 50, 0, 40, 10);
    grid.projection_kind = kind;
    EXPECT_FALSE(compute_coordinates(grid)) << "projection kind " << int(kind);
  }
  GridSummary no_corners;
  no_corners.gridDefinitionTemplateNumber = 101;
  no_corners.Ni = 10;
  no_corners.Nj = 10;
  EXPECT_FALSE(compute_coordinates(no_corners));
  GridSummary lambert = lat_lon_grid(10, 10, 50, 0, 40, 10);
  lambert.latitudeOfLastGridPoint.reset();
  lambert.longitudeOfLastGridPoint.reset();
  EXPECT_FALSE(compute_coordinates(lambert));
}

TEST(GeometryNone, HeaderValuesThatCannotBeAGridAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(compute_coordinates(lat_lon_grid(10, 10, 50, 0, 40, inf)));
  // Unwinding these turn by turn would never end.
  EXPECT_FALSE(compute_coordinates(lat_lon_grid(10, 10, 50, 1e18, 40, 0)));
  EXPECT_FALSE(compute_coordinates(lat_lon_grid(10, 10, 50, 0, 40, 1e18, 0x80)));
  EXPECT_FALSE(compute_coordinates(lat_lon_grid(0xFFFFFFFFu, 2, 50, 0, 40, 10)));
  EXPECT_FALSE(compute_coordinates(lat_lon_grid(1, 0xFFFFFFFFu, 50, 0, 40, 10)));
}

// No points, empty axes: a zero row count must not buy an axis of 2^28 columns.
TEST(GeometryNone, GridsWithoutPointsHaveEmptyAxes) {
  for (const auto& [ni, nj] : {std::pair{1u << 28, 0u}, std::pair{0u, 1u << 28}, std::pair{0u, 0u}}) {
    const auto coords = compute_coordinates(lat_lon_grid(ni, nj, 50, 0, 40, 10));
    ASSERT_TRUE(coords);
    EXPECT_TRUE(coords->longitude.values.empty());
    EXPECT_TRUE(coords->latitude.values.empty());
  }
}

}  // namespace
}  // namespace vorlak
