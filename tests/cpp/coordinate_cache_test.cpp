// The coordinate cache: one computation per grid section, shared by every
// request and thread; errors kept like results; bounded by entries and bytes.
#include "core/coordinate_cache.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vorlak {
namespace {

Result<SharedCoordinates> small_grid(std::uint64_t ni) {
  GridDefinition d;
  d.layout = LayoutParams{ni, 2, 0, {}};
  d.geometry = LatLonGridParams{10, 0, 9, static_cast<double>(ni - 1), 1.0, 1.0, 1e-6};
  return compute_grid_coordinates(d);
}

TEST(CoordinateCache, OneComputationSharedByEveryThread) {
  CoordinateCache cache;
  std::atomic<int> computed{0};
  const std::string key = coordinate_cache_key(2, std::vector<std::uint8_t>{1, 2, 3});
  std::vector<SharedCoordinates> seen(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      auto got = cache.get(key, [&] {
        ++computed;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return small_grid(4);
      });
      ASSERT_TRUE(got);
      seen[t] = *got;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(computed.load(), 1);
  for (const auto& s : seen) EXPECT_EQ(s.get(), seen[0].get());
}

TEST(CoordinateCache, KeysDifferByEditionAndBytes) {
  const std::vector<std::uint8_t> section{9, 9};
  EXPECT_NE(coordinate_cache_key(1, section), coordinate_cache_key(2, section));
  CoordinateCache cache;
  int computed = 0;
  auto compute = [&] {
    ++computed;
    return small_grid(3);
  };
  ASSERT_TRUE(cache.get(coordinate_cache_key(1, section), compute));
  ASSERT_TRUE(cache.get(coordinate_cache_key(2, section), compute));
  ASSERT_TRUE(cache.get(coordinate_cache_key(2, section), compute));
  EXPECT_EQ(computed, 2);
}

TEST(CoordinateCache, ErrorsAreKept) {
  CoordinateCache cache;
  int computed = 0;
  auto failing = [&]() -> Result<SharedCoordinates> {
    ++computed;
    return fail("no coordinates in the message");
  };
  for (int i = 0; i < 3; ++i) {
    auto got = cache.get("k", failing);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error(), "no coordinates in the message");
  }
  EXPECT_EQ(computed, 1);
}

TEST(CoordinateCache, EvictsTheLeastRecentlyUsedWithinItsBounds) {
  CoordinateCache cache(2, std::uint64_t{1} << 30);
  int computed = 0;
  auto compute = [&] {
    ++computed;
    return small_grid(5);
  };
  cache.get("a", compute);
  cache.get("b", compute);
  cache.get("a", compute);  // a is now the more recent
  cache.get("c", compute);  // evicts b
  EXPECT_EQ(computed, 3);
  cache.get("a", compute);
  EXPECT_EQ(computed, 3);
  cache.get("b", compute);
  EXPECT_EQ(computed, 4);
  EXPECT_EQ(cache.info()->entries, 2u);

  // A result larger than the whole budget is handed out, not kept.
  ASSERT_TRUE(cache.set_limits(10, 64));
  auto big = cache.get("big", [] { return small_grid(1000); });
  ASSERT_TRUE(big);
  EXPECT_EQ((*big)->size(), 2000u);
  EXPECT_LE(cache.info()->total_bytes, 64u);
  ASSERT_TRUE(cache.clear());
  EXPECT_EQ(cache.info()->entries, 0u);
}

}  // namespace
}  // namespace vorlak
