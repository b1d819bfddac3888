#include "grib/sample_bytes.hpp"

#include <gtest/gtest.h>

#include <random>

#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

using test::ByteVector;

TEST(SampleBytes, WorkedExamples) {
  const ByteVector bytes{0x0F, 0xFF, 0x07, 0xFF};
  auto signed12 = samples_from_bytes(bytes, 12, 2, false, true, 2);
  ASSERT_TRUE(signed12) << signed12.error();
  EXPECT_EQ(*signed12, (std::vector<std::int64_t>{-1, 2047}));

  auto wide = samples_from_bytes(bytes, 64, 2, false, true, 2);
  ASSERT_FALSE(wide);
  EXPECT_EQ(wide.error(), "cannot sign-extend width 64");
  EXPECT_TRUE(samples_from_bytes(bytes, 64, 2, false, true, 0));  // no sample, no error

  auto little = samples_from_bytes(bytes, 16, 2, true, false, 2);
  ASSERT_TRUE(little);
  EXPECT_EQ(*little, (std::vector<std::int64_t>{0xFF0F, 0xFF07}));
}

TEST(SampleBytes, Refusals) {
  const ByteVector five(5, 0);
  auto short_buffer = samples_from_bytes(five, 16, 2, false, false, 3);
  ASSERT_FALSE(short_buffer);
  EXPECT_EQ(short_buffer.error(), "decoded payload has 5 bytes but 6 are required for 3 samples");
  EXPECT_EQ(samples_from_bytes(five, 8, 0, false, false, 1).error(), "bytes_per_sample must be > 0");
  EXPECT_EQ(samples_from_bytes(five, 8, 16, false, false, UINT64_MAX / 8).error(), "sample byte count overflow");
}

TEST(SampleBytes, MoreThanEightOctetsDropTheTop) {
  const ByteVector ten{0xAA, 0xBB, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ((*samples_from_bytes(ten, 8, 10, false, false, 1))[0], 0x0102030405060708);
  EXPECT_EQ((*samples_from_bytes(ten, 8, 10, true, false, 1))[0], 0x060504030201BBAA);
}

// The fused path gives exactly samples_from_bytes followed by scale_samples.
TEST(SampleBytes, FusedScalingMatchesTheTwoSteps) {
  std::mt19937_64 rng(7);
  ByteVector bytes(8 * 9 * 33);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  const DataRepresentation drs = test::make_drs(42, 3.25f, -2, 1, 0);
  for (std::size_t octets = 1; octets <= 9; ++octets) {
    for (unsigned width : {1u, 7u, 12u, 24u, 31u, 32u, 48u, 63u}) {
      for (bool little : {false, true}) {
        for (bool is_signed : {false, true}) {
          auto ints = samples_from_bytes(bytes, width, octets, little, is_signed, 33);
          auto fused = scaled_samples_from_bytes(bytes, width, octets, little, is_signed, 33, drs);
          ASSERT_TRUE(ints && fused);
          EXPECT_EQ(*fused, scale_samples(*ints, drs)) << octets << " " << width << " " << little << is_signed;
        }
      }
    }
  }
}

}  // namespace
}  // namespace vorlak
