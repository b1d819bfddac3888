// Bitmap expansion, GRIB1 unpacking and whole-message decoding.
#include "grib/decode_message.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "grib/limits.hpp"

namespace vorlak {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Compares with NaN equal to NaN.
void expect_values(const std::vector<double>& actual, const std::vector<double>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(actual[i])) << "entry " << i << " is " << actual[i];
    } else {
      EXPECT_EQ(actual[i], expected[i]) << "entry " << i;
    }
  }
}

Bitmap bitmap_of(const std::string& flags) {
  Bitmap bitmap;
  bitmap.size = flags.size();
  bitmap.bits.assign((flags.size() + 7) / 8, 0);
  for (std::size_t i = 0; i < flags.size(); ++i) {
    if (flags[i] == '1') bitmap.bits[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
  }
  return bitmap;
}

struct BitmapCase {
  const char* label;
  std::string flags;
  std::vector<double> packed;
  std::vector<double> expected;
};

class DecodeApplyBitmap : public ::testing::TestWithParam<BitmapCase> {};

TEST_P(DecodeApplyBitmap, SpreadsPackedValuesOverPresentPoints) {
  const BitmapCase& c = GetParam();
  expect_values(apply_bitmap(bitmap_of(c.flags), std::vector<double>(c.packed)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeApplyBitmap,
    ::testing::Values(
        BitmapCase{"six_of_ten", "1011010110", {1, 2, 3, 4, 5, 6},
                   {1, kNaN, 2, 3, kNaN, 4, kNaN, 5, 6, kNaN}},
        BitmapCase{"fewer_packed_than_present", "1111111111", {1, 2, 3},
                   {1, 2, 3, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN}},
        BitmapCase{"packed_left_over_is_dropped", "0101", {7, 8, 9}, {kNaN, 7, kNaN, 8}},
        BitmapCase{"whole_octets", "111111110000000011111111", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                   {1, 2, 3, 4, 5, 6, 7, 8, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN,
                    9, 10, 11, 12, 13, 14, 15, 16}},
        BitmapCase{"full_octet_short_of_values", "11111111", {1, 2, 3, 4, 5},
                   {1, 2, 3, 4, 5, kNaN, kNaN, kNaN}},
        BitmapCase{"empty", "", {}, {}}),
    [](const auto& info) { return std::string(info.param.label); });

// A BDS: 11-octet header and `payload`, with the given unused bit count.
std::vector<std::uint8_t> bds_with(const std::vector<std::uint8_t>& payload, std::uint8_t unused = 0) {
  const std::size_t length = 11 + payload.size();
  std::vector<std::uint8_t> bds(length, 0);
  bds[0] = static_cast<std::uint8_t>(length >> 16);
  bds[1] = static_cast<std::uint8_t>(length >> 8);
  bds[2] = static_cast<std::uint8_t>(length);
  bds[3] = unused;
  for (std::size_t i = 0; i < payload.size(); ++i) bds[11 + i] = payload[i];
  return bds;
}

// Packs values of `width` bits most significant bit first.
std::vector<std::uint8_t> pack_bits(const std::vector<std::uint64_t>& values, unsigned width) {
  std::vector<std::uint8_t> out((values.size() * width + 7) / 8, 0);
  std::uint64_t bit = 0;
  for (std::uint64_t v : values) {
    for (unsigned b = 0; b < width; ++b, ++bit) {
      if ((v >> (width - 1 - b)) & 1u) out[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
    }
  }
  return out;
}

Grib1DataHeader header_with(unsigned width, std::int16_t binary = 0, float reference = 0.0f,
                            std::uint8_t unused = 0) {
  Grib1DataHeader header;
  header.bitsPerValue = static_cast<std::uint8_t>(width);
  header.binaryScaleFactor = binary;
  header.referenceValue = reference;
  header.unused_bits = unused;
  return header;
}

TEST(DecodeGrib1Unpack, DividesByPowerOfTen) {
  const auto bds = bds_with(pack_bits({1, 3}, 8));
  const auto values = unpack_grib1(bds, header_with(8), 1, 2);
  ASSERT_TRUE(values) << values.error();
  expect_values(*values, {1.0 / 10.0, 3.0 / 10.0});

  const auto scaled = unpack_grib1(bds, header_with(8, -1, 16.0f), -2, 2);
  ASSERT_TRUE(scaled) << scaled.error();
  expect_values(*scaled, {(1 * 0.5 + 16.0) / 0.01, (3 * 0.5 + 16.0) / 0.01});
}

TEST(DecodeGrib1Unpack, ConstantFieldIgnoresPayload) {
  const auto values = unpack_grib1(bds_with({}), header_with(0, 3, 273.15f), 1, 4);
  ASSERT_TRUE(values) << values.error();
  const double expected = static_cast<double>(273.15f) / 10.0;
  expect_values(*values, {expected, expected, expected, expected});
}

TEST(DecodeGrib1Unpack, WidthsUpTo64RoundTrip) {
  std::mt19937_64 random(7);
  for (unsigned width = 1; width <= 64; ++width) {
    const std::uint64_t mask = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
    std::vector<std::uint64_t> raw(37);
    for (auto& v : raw) v = random() & mask;
    const auto values = unpack_grib1(bds_with(pack_bits(raw, width)), header_with(width), 0, raw.size());
    ASSERT_TRUE(values) << values.error();
    for (std::size_t i = 0; i < raw.size(); ++i) {
      ASSERT_EQ((*values)[i], static_cast<double>(raw[i])) << "width " << width << " entry " << i;
    }
  }
}

struct Grib1FailureCase {
  const char* label;
  std::vector<std::uint8_t> bds;
  Grib1DataHeader header;
  std::uint64_t count;
  std::string error;
};

class DecodeGrib1UnpackRefusal : public ::testing::TestWithParam<Grib1FailureCase> {};

TEST_P(DecodeGrib1UnpackRefusal, FailsWithItsText) {
  const Grib1FailureCase& c = GetParam();
  const auto values = unpack_grib1(c.bds, c.header, 0, c.count);
  ASSERT_FALSE(values);
  EXPECT_EQ(values.error(), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeGrib1UnpackRefusal,
    ::testing::Values(
        Grib1FailureCase{"no_header", std::vector<std::uint8_t>(10, 0), header_with(8), 1,
                         "GRIB1 BDS missing payload"},
        Grib1FailureCase{"unused_bits_count", bds_with({0, 0, 0}, 5), header_with(10, 0, 0, 5), 2,
                         "GRIB1 payload has 19 usable bits but 20 are required"},
        Grib1FailureCase{"short_payload", bds_with({0, 0, 0}, 8), header_with(10, 0, 0, 8), 2,
                         "GRIB1 payload has 16 usable bits but 20 are required"},
        Grib1FailureCase{"too_wide", bds_with(std::vector<std::uint8_t>(9, 0)), header_with(65), 1,
                         "BitReader only supports reads up to 64 bits"},
        Grib1FailureCase{"constant_field_too_large", bds_with({}), header_with(0), kMaxGridPoints + 1,
                         "grid of 268435457 points exceeds the supported maximum 268435456"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DecodeGrib1Unpack, ZeroCountAndExactFit) {
  const auto none = unpack_grib1(bds_with({}), header_with(12), 0, 0);
  ASSERT_TRUE(none) << none.error();
  EXPECT_TRUE(none->empty());
  // Four bits unused at the end: exactly two 10-bit values fit in 24 - 4 bits.
  const auto exact = unpack_grib1(bds_with(pack_bits({1023, 5}, 10), 4), header_with(10, 0, 0, 4), 0, 2);
  ASSERT_TRUE(exact) << exact.error();
  expect_values(*exact, {1023, 5});
}

}  // namespace
}  // namespace vorlak
