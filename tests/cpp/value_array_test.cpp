// ValueArray: doubles narrowed to floats in place, in blocks of rising size
// split across threads: every value rounded as a cast rounds it, whatever
// the count (block edges included) and the threads.
#include "core/value_array.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace vorlak {
namespace {

double pattern(std::uint64_t i) {
  switch (i % 7) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return 1.0 / 3.0 + static_cast<double>(i);
    case 2: return -1e300;  // beyond float: -inf
    case 3: return 1e-320;  // a subnormal double: 0 as a float
    case 4: return 0.1 * static_cast<double>(i);
    case 5: return std::numeric_limits<double>::infinity();
    default: return -static_cast<double>(i) * 1.0000001;
  }
}

class NarrowToFloats : public ::testing::TestWithParam<std::tuple<std::uint64_t, unsigned>> {};

TEST_P(NarrowToFloats, EveryValueRoundedAsACastRoundsIt) {
  const auto [count, threads] = GetParam();
  ValueArray values = ValueArray::doubles(count);
  ASSERT_EQ(values.as_doubles().size(), count);
  for (std::uint64_t i = 0; i < count; ++i) values.as_doubles()[i] = pattern(i);
  values.narrow_to_floats(threads);
  ASSERT_EQ(values.type(), ValueType::Float32);
  ASSERT_EQ(values.size(), count);
  EXPECT_TRUE(values.as_doubles().empty());
  const std::span<float> floats = values.as_floats();
  ASSERT_EQ(floats.size(), count);
  for (std::uint64_t i = 0; i < count; ++i) {
    const float expected = static_cast<float>(pattern(i));
    ASSERT_EQ(std::bit_cast<std::uint32_t>(floats[i]), std::bit_cast<std::uint32_t>(expected)) << i;
  }
  // The memory goes to the caller, who frees it.
  std::free(values.release());
  EXPECT_EQ(values.size(), 0u);
}

// Block edges: the first block of 4096, then blocks doubling from there;
// above 2^18 a block is split across threads.
INSTANTIATE_TEST_SUITE_P(Counts, NarrowToFloats,
                         ::testing::Combine(::testing::Values(0, 1, 2, 4095, 4096, 4097, 8192, 8193,
                                                              (1u << 19) + 3, (1u << 20) + 4096),
                                            ::testing::Values(1u, 2u, 3u)));

}  // namespace
}  // namespace vorlak
