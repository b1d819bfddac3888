#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "grib/decoders.hpp"
#include "support/kernel_sets.hpp"
#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

using test::ByteVector;
using test::make_drs;

// Every test of this suite runs under each kernel set of the machine.
class IeeePacking : public test::EachKernelSet {};
INSTANTIATE_FOR_EACH_KERNEL_SET(IeeePacking);

TEST_P(IeeePacking, WorkedSinglePrecisionIgnoresScaling) {
  const ByteVector payload{0x3F, 0x80, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0xAA};
  auto values = unpack_ieee(payload, make_drs(4, 99.0f, 3, 2, 32), 2);
  ASSERT_TRUE(values) << values.error();
  EXPECT_EQ(*values, (Values{1.0, -2.0}));
}

TEST_P(IeeePacking, Refusals) {
  struct Case {
    std::uint8_t bits;
    std::size_t payload;
    std::uint64_t count;
    const char* error;
  };
  const Case cases[] = {
      {16, 64, 2, "GRIB2 IEEE float template expects 32 or 64 bits per value, got 16"},
      // The section parser maps the precision octet's quadruple precision to 128.
      {128, 64, 2, "GRIB2 IEEE float template expects 32 or 64 bits per value, got 128"},
      {0, 64, 2, "GRIB2 IEEE float template expects 32 or 64 bits per value, got 0"},
      {64, 20, 3, "section 7 has 20 bytes but 24 are required for 3 f64 values"},
      {32, 11, 3, "section 7 has 11 bytes but 12 are required for 3 f32 values"},
      {32, 0, 1ull << 40, "value count 1099511627776 exceeds the supported maximum 268435456"},
  };
  for (const auto& c : cases) {
    auto values = unpack_ieee(ByteVector(c.payload, 0), make_drs(4, 0.0f, 0, 0, c.bits), c.count);
    ASSERT_FALSE(values) << c.error;
    EXPECT_EQ(values.error(), c.error);
  }
}

TEST_P(IeeePacking, RoundTripsWithSpecialValues) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> singles{0.0f, -0.0f, 1.5e-40f, 3.4e38f, -inf, inf, std::nanf(""), 273.15f};
  std::vector<double> doubles{0.0, -0.0, 5e-324, 1.7e308, -HUGE_VAL, std::nan(""), 0.1, -273.15};
  for (int i = 0; i < 101; ++i) {  // odd counts exercise the loop tails
    singles.push_back(static_cast<float>(i) * 0.37f - 11.0f);
    doubles.push_back(i * 1e-3 - 7.0);
  }
  auto f32 = unpack_ieee(test::pack_ieee32(singles), make_drs(4, 0.0f, 0, 0, 32), singles.size());
  auto f64 = unpack_ieee(test::pack_ieee64(doubles), make_drs(4, 0.0f, 0, 0, 64), doubles.size());
  ASSERT_TRUE(f32 && f64);
  for (std::size_t i = 0; i < singles.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>((*f32)[i]), std::bit_cast<std::uint64_t>(static_cast<double>(singles[i])))
        << i;
  }
  for (std::size_t i = 0; i < doubles.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>((*f64)[i]), std::bit_cast<std::uint64_t>(doubles[i])) << i;
  }
}

}  // namespace
}  // namespace vorlak
