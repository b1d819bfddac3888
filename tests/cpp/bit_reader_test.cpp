#include "grib/bit_reader.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "grib/limits.hpp"

#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

using test::BitWriter;
using test::ByteVector;

TEST(IntPower, RepeatedSquaring) {
  struct Case {
    double base;
    int exponent;
    double expected;
  };
  const Case cases[] = {
      {2.0, 0, 1.0},     {2.0, 10, 1024.0}, {2.0, -3, 0.125},        {10.0, 3, 1000.0},
      {10.0, -2, 1.0 / 100.0}, {16.0, -1, 1.0 / 16.0}, {10.0, -1, 1.0 / 10.0}, {3.0, 5, 243.0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(int_power(c.base, c.exponent), c.expected) << c.base << "^" << c.exponent;
  }
  // A negative exponent is the reciprocal of the positive power, bit for bit.
  for (int d = 1; d < 40; ++d) EXPECT_EQ(int_power(10.0, -d), 1.0 / int_power(10.0, d)) << d;
  // 10^23 by squaring: 10 * 100 * 10^4 * 10^16 in that order of products.
  EXPECT_EQ(int_power(10.0, 23), ((10.0 * 100.0) * 1e4) * 1e16);
}

TEST(ScaleFactors, DecimalIsAMultiplier) {
  DataRepresentation drs = test::make_drs(0, 273.15f, -3, 2, 8);
  const ScaleFactors s = scale_factors(drs);
  EXPECT_EQ(s.reference, static_cast<double>(273.15f));
  EXPECT_EQ(s.binary, 0.125);
  EXPECT_EQ(s.decimal, 1.0 / 100.0);
  // One multiplication, one addition, one multiplication.
  EXPECT_EQ(apply_scale(7.0, s), (7.0 * 0.125 + static_cast<double>(273.15f)) * (1.0 / 100.0));
}

// `count` values of `width` bits from the reader's position, as the decoders
// read them: through the kernels, after checking that they are there.
std::optional<std::vector<std::uint64_t>> take(BitReader& reader, Bytes bytes, unsigned width, std::size_t count) {
  if (!reader.has_bits(width, count)) return std::nullopt;
  std::vector<std::uint64_t> values(count);
  active_kernels().unpack(bytes.data(), bytes.size(), reader.bit_position(), width, count, values.data());
  reader.skip_bits(std::uint64_t{width} * count);
  return values;
}

TEST(BitReader, WorkedTwelveBitValues) {
  const ByteVector bytes{0xAB, 0xCD, 0xEF};
  BitReader reader(bytes);
  EXPECT_EQ(take(reader, bytes, 12, 2), (std::vector<std::uint64_t>{2748, 3567}));
  EXPECT_EQ(reader.bits_remaining(), 0u);
}

TEST(BitReader, WhatIsThere) {
  const ByteVector bytes{0xFF, 0x00};
  const BitReader reader(bytes);
  EXPECT_TRUE(reader.has_bits(0, kMaxGridPoints + 1));  // width 0 needs no bits
  EXPECT_TRUE(reader.has_bits(8, 2));
  EXPECT_FALSE(reader.has_bits(9, 2));
  EXPECT_FALSE(reader.has_bits(64, UINT64_MAX));  // no overflow
  EXPECT_EQ(reader.bits_remaining(), 16u);
}

TEST(BitReader, ReadsContinueAndAlign) {
  // 3 bits 101, 5 bits 00110 | 4 bits 1111, then padding; aligned byte 0x5A.
  const ByteVector bytes{0b1010'0110, 0b1111'0000, 0x5A};
  BitReader reader(bytes);
  EXPECT_EQ(take(reader, bytes, 3, 1), (std::vector<std::uint64_t>{5}));
  EXPECT_EQ(take(reader, bytes, 5, 1), (std::vector<std::uint64_t>{6}));
  reader.align_to_byte();  // on a boundary: nothing dropped
  EXPECT_EQ(reader.bit_position(), 8u);
  EXPECT_EQ(take(reader, bytes, 4, 1), (std::vector<std::uint64_t>{15}));
  reader.align_to_byte();
  EXPECT_EQ(take(reader, bytes, 8, 1), (std::vector<std::uint64_t>{0x5A}));
  EXPECT_FALSE(take(reader, bytes, 1, 1));
}

TEST(BitReader, RoundTripsEveryWidth) {
  std::mt19937_64 rng(42);
  for (unsigned width = 1; width <= 64; ++width) {
    const std::uint64_t mask = width == 64 ? ~0ull : (1ull << width) - 1;
    std::vector<std::uint64_t> values(37);
    BitWriter w;
    w.put(0b101, 3);  // start off a byte boundary
    for (auto& v : values) {
      v = rng() & mask;
      w.put(v, width);
    }
    const ByteVector bytes = w.take();
    BitReader reader(bytes);
    ASSERT_TRUE(take(reader, bytes, 3, 1));
    EXPECT_EQ(take(reader, bytes, width, values.size()), values) << width;
  }
}

}  // namespace
}  // namespace vorlak
