#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "grib/bit_reader.hpp"
#include "grib/decoders.hpp"
#include "grib/limits.hpp"
#include "support/kernel_sets.hpp"
#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

using test::ByteVector;
using test::make_drs;

// Every test of this suite runs under each kernel set of the machine.
class SimplePacking : public test::EachKernelSet {};
INSTANTIATE_FOR_EACH_KERNEL_SET(SimplePacking);

TEST_P(SimplePacking, ConstantFieldKeepsTheSinglePrecisionReference) {
  auto values = unpack_simple({}, make_drs(0, 273.15f, 0, 0, 0), 5);
  ASSERT_TRUE(values) << values.error();
  ASSERT_EQ(values->size(), 5u);
  for (double v : *values) EXPECT_EQ(v, 273.149993896484375);
}

TEST_P(SimplePacking, ConstantZeroIsPositiveZero) {
  for (float r : {0.0f, -0.0f}) {
    auto values = unpack_simple({}, make_drs(0, r, 3, -2, 0), 4);
    ASSERT_TRUE(values);
    for (double v : *values) {
      EXPECT_EQ(v, 0.0);
      EXPECT_FALSE(std::signbit(v));
    }
  }
}

TEST_P(SimplePacking, WorkedExamples) {
  const ByteVector twelve{0xAB, 0xCD, 0xEF};
  auto values = unpack_simple(twelve, make_drs(0, 0.0f, 0, 0, 12), 2);
  ASSERT_TRUE(values) << values.error();
  EXPECT_EQ(*values, (Values{2748.0, 3567.0}));

  const ByteVector one{0x01};
  auto hundredth = unpack_simple(one, make_drs(0, 0.0f, 0, 2, 8), 1);
  ASSERT_TRUE(hundredth);
  EXPECT_EQ((*hundredth)[0], 1.0 / 100.0);
}

TEST_P(SimplePacking, Refusals) {
  struct Case {
    const char* name;
    ByteVector payload;
    std::uint8_t bits;
    std::uint64_t count;
    const char* error;  // nullptr: succeeds
  };
  const Case cases[] = {
      {"seven of eight 16-bit values", ByteVector(14, 0x11), 16, 8, "not enough packed bits remaining"},
      {"exactly eight 16-bit values", ByteVector(16, 0x11), 16, 8, nullptr},
      {"65 bits, none asked", {}, 65, 0, nullptr},
      {"65 bits, one asked", ByteVector(16, 0), 65, 1, "BitReader only supports reads up to 64 bits"},
      {"count above the maximum", {}, 8, kMaxGridPoints + 1,
       "value count 268435457 exceeds the supported maximum 268435456"},
      {"constant field above the maximum", {}, 0, kMaxGridPoints + 1,
       "value count 268435457 exceeds the supported maximum 268435456"},
      {"huge count on a tiny payload", ByteVector(3, 0), 24, 1'000'000, "not enough packed bits remaining"},
  };
  for (const auto& c : cases) {
    auto values = unpack_simple(c.payload, make_drs(0, 1.0f, 0, 0, c.bits), c.count);
    if (c.error) {
      ASSERT_FALSE(values) << c.name;
      EXPECT_EQ(values.error(), c.error) << c.name;
    } else {
      ASSERT_TRUE(values) << c.name << ": " << values.error();
      EXPECT_EQ(values->size(), c.count) << c.name;
    }
  }
}

TEST_P(SimplePacking, SixtyFourBitValuesAreSigned) {
  auto values = unpack_simple(ByteVector(8, 0xFF), make_drs(0, 0.0f, 0, 0, 64), 1);
  ASSERT_TRUE(values);
  EXPECT_EQ((*values)[0], -1.0);
}

class SimplePackingRoundTrip : public test::EachKernelSetWith<unsigned> {};

TEST_P(SimplePackingRoundTrip, MatchesTheScalingRule) {
  const unsigned width = param();
  std::mt19937_64 rng(width);
  const std::uint64_t mask = width == 64 ? ~0ull : (1ull << width) - 1;
  std::vector<std::uint64_t> ints(1001);
  for (auto& x : ints) x = rng() & mask;
  const ByteVector payload = test::pack_simple(ints, width);
  const DataRepresentation drs = make_drs(0, -12.5f, -4, 3, static_cast<std::uint8_t>(width));
  auto values = unpack_simple(payload, drs, ints.size());
  ASSERT_TRUE(values) << values.error();
  const double r = static_cast<double>(-12.5f), b = 1.0 / 16.0, d = 1.0 / 1000.0;
  for (std::size_t i = 0; i < ints.size(); ++i) {
    const double x = static_cast<double>(static_cast<std::int64_t>(ints[i]));
    ASSERT_EQ((*values)[i], (x * b + r) * d) << "width " << width << " index " << i;
  }
}

INSTANTIATE_FOR_EACH_KERNEL_SET_WITH(SimplePackingRoundTrip,
                                     ::testing::Values(1u, 7u, 8u, 12u, 13u, 16u, 17u, 24u, 31u, 32u, 33u, 52u, 57u, 63u, 64u));

}  // namespace
}  // namespace vorlak
