// Bitmap expansion, GRIB1 unpacking and whole-message decoding.
#include "grib/decode_message.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>

#include "grib/framing.hpp"
#include "grib/geometry.hpp"
#include "grib/limits.hpp"
#include "grib/text.hpp"
#include "support/message_builder.hpp"
#include "support/template_builder.hpp"

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

// Long bitmaps of runs (whole octets present or absent, and mixed ones),
// with as many packed values as present points, fewer and more, against
// the rule point by point: the k-th present point takes packed value k.
TEST(DecodeBitmapRuns, AgainstPointByPoint) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 40; ++round) {
    std::string flags;
    const std::size_t size = 1 + rng() % 3000;
    while (flags.size() < size) {
      const int kind = static_cast<int>(rng() % 3);
      const std::size_t run = 1 + rng() % 90;
      for (std::size_t k = 0; k < run && flags.size() < size; ++k) {
        flags += kind == 0 ? '1' : kind == 1 ? '0' : (rng() & 1 ? '1' : '0');
      }
    }
    const auto present = static_cast<std::size_t>(std::count(flags.begin(), flags.end(), '1'));
    for (const std::size_t packed : {present, present / 2, present + 5}) {
      std::vector<double> values(packed);
      for (std::size_t k = 0; k < packed; ++k) values[k] = static_cast<double>(k + 1);
      std::vector<double> expected(size, kNaN);
      std::size_t next = 0;
      for (std::size_t i = 0; i < size; ++i) {
        if (flags[i] == '1' && next++ < packed) expected[i] = static_cast<double>(next);
      }
      SCOPED_TRACE(testing::Message() << "round " << round << ", " << packed << " packed of " << present);
      expect_values(apply_bitmap(bitmap_of(flags), std::move(values)), expected);
    }
  }
}

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

// ------------------------------------------------------------ whole messages

using test::ByteVec;

// Scans `message` and decodes its first record, as a handle would.
Result<DecodedMessage> decode_bytes(const ByteVec& message) {
  auto scan = scan_messages(message);
  if (!scan) return fail("scan: " + scan.error());
  const MessageRecord& record = scan->records.front();
  return decode_message(Bytes(message).subspan(record.offset, record.totalLength), record);
}

std::vector<bool> flags_of(const std::string& text) {
  std::vector<bool> flags;
  for (char c : text) flags.push_back(c == '1');
  return flags;
}

ByteVec grib2_with(const ByteVec& section3, std::vector<ByteVec> field) {
  std::vector<ByteVec> sections{test::g2_section1(), section3};
  for (auto& s : field) sections.push_back(std::move(s));
  return test::grib2_message(sections);
}

// Quasi-regular grids (Ni missing, a points-per-row list): the field is
// every point of every row, one row without axes, the bitmap cut to it.
TEST(DecodeGrib2Message, QuasiRegularGridsAreOneRowOfTheirPoints) {
  using test::kMissingValue;
  const std::vector<double> values{1, 2, 3, 4, kNaN, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};
  for (std::uint16_t number : {0, 40}) {
    SCOPED_TRACE(number);
    const ByteVec section3 = test::g2_template_section(
        3, number,
        {{"numberOfDataPoints", {22}}, {"shapeOfTheEarth", {6}}, {"Ni", {kMissingValue}}, {"Nj", {3}},
         {"latitudeOfFirstGridPoint", {60000000}}, {"latitudeOfLastGridPoint", {-60000000}},
         {"longitudeOfLastGridPoint", {330000000}}, {"iDirectionIncrement", {kMissingValue}},
         {number == 40 ? "N" : "jDirectionIncrement", {number == 40 ? 2 : 60000000}}, {"pl", {6, 12, 4}}});
    const auto decoded = decode_bytes(grib2_with(section3, test::g2_simple_field(values, 8)));
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(decoded->field.Ni(), 22u);
    EXPECT_EQ(decoded->field.Nj(), 1u);
    expect_values(decoded->field.values(), values);
    EXPECT_EQ(decoded->missing_count, 1u);
    EXPECT_FALSE(decoded->coordinates);
    // A list that does not add up to the values fails the shape check.
    const ByteVec short_list = test::g2_template_section(
        3, number, {{"Ni", {kMissingValue}}, {"Nj", {3}}, {number == 40 ? "N" : "jDirectionIncrement", {2}},
                    {"pl", {6, 12, 3}}});
    const std::vector<double> present(22, 1.0);
    const auto refused = decode_bytes(grib2_with(short_list, test::g2_simple_field(present, 8)));
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("21 points of the grid's rows"), std::string::npos) << refused.error();
  }
}

TEST(DecodeGrib2Message, BitmapLeavesAbsentPointsMissing) {
  const std::vector<double> grid_values{1, kNaN, 2, 3, kNaN, 4, kNaN, 5, 6, kNaN};
  const auto decoded = decode_bytes(grib2_with(
      test::g2_section3_latlon({.Ni = 5, .Nj = 2, .la1 = 50, .lo1 = 0, .la2 = 49, .lo2 = 4, .N = {}}),
      test::g2_simple_field(grid_values, 8)));
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->field.Ni(), 5u);
  EXPECT_EQ(decoded->field.Nj(), 2u);
  expect_values(decoded->field.values(), grid_values);
  EXPECT_EQ(decoded->missing_count, 4u);
  ASSERT_TRUE(decoded->coordinates);
  EXPECT_EQ(decoded->coordinates->longitude.values, (std::vector<double>{0, 1, 2, 3, 4}));
  EXPECT_EQ(decoded->coordinates->latitude.values, (std::vector<double>{50, 49}));
}

TEST(DecodeGrib2Message, ZeroNumberOfValuesDecodesTheWholeGrid) {
  const auto packed = test::pack_simple({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 8);
  const auto decoded = decode_bytes(grib2_with(
      test::g2_section3_latlon({}),
      {test::g2_section4(), test::g2_section5_simple(packed, 0), test::g2_section6_none(),
       test::g2_section7(packed.data)}));
  ASSERT_TRUE(decoded) << decoded.error();
  expect_values(decoded->field.values(), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  EXPECT_EQ(decoded->missing_count, 0u);
}

TEST(DecodeGrib2Message, ComplexMissingValuesAddToBitmapAbsences) {
  // Groups: 3 x 10 (width 0), 2 x all-ones reference (missing), then 20 + {0xF (missing), 1, 2}.
  const std::vector<std::uint64_t> references{10, 255, 20};
  const std::vector<std::uint64_t> widths{0, 0, 4};
  const std::vector<std::uint64_t> lengths{3, 2, 0};
  const std::vector<std::uint64_t> group_values{0xF, 1, 2};
  ByteVec payload;
  for (const auto& block : {test::pack_bits(references, 8), test::pack_bits(widths, 4),
                            test::pack_bits(lengths, 4), test::pack_bits(group_values, 4)}) {
    payload.insert(payload.end(), block.begin(), block.end());
  }
  const auto decoded = decode_bytes(grib2_with(
      test::g2_section3_latlon({.Ni = 5, .Nj = 2, .la1 = 50, .lo1 = 0, .la2 = 49, .lo2 = 4, .N = {}}),
      {test::g2_section4(),
       test::g2_section5_complex({.count = 10, .bits = 8, .missing_management = 1, .groups = 3,
                                  .width_bits = 4, .length_reference = 0, .length_increment = 1,
                                  .last_length = 3, .length_bits = 4}),
       test::g2_section6_bitmap(flags_of("1111011110")), test::g2_section7(payload)}));
  ASSERT_TRUE(decoded) << decoded.error();
  expect_values(decoded->field.values(), {10, 10, 10, kNaN, kNaN, kNaN, kNaN, 21, 22, kNaN});
  EXPECT_EQ(decoded->missing_count, 5u);
}

struct Grib2RefusalCase {
  const char* label;
  ByteVec message;
  std::string error;
};

class DecodeGrib2Refusal : public ::testing::TestWithParam<Grib2RefusalCase> {};

TEST_P(DecodeGrib2Refusal, FailsWithItsText) {
  const auto decoded = decode_bytes(GetParam().message);
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error(), GetParam().error);
}

ByteVec with_template(std::uint16_t number) {
  return grib2_with(test::g2_section3_latlon({}),
                    {test::g2_section4(),
                     test::g2_section5({.template_number = number, .count = 12, .bits = 8, .tail = {}}),
                     test::g2_section6_none(), test::g2_section7(ByteVec(12, 0))});
}

ByteVec short_bitmap() {
  // 10 x 10 grid, 12 octets of bitmap: 96 points.
  const auto packed = test::pack_simple(std::vector<double>(96, 1.0), 8);
  return grib2_with(test::g2_section3_latlon({.Ni = 10, .Nj = 10, .la1 = 9, .lo1 = 0, .la2 = 0, .lo2 = 9, .N = {}}),
                    {test::g2_section4(), test::g2_section5_simple(packed, 100),
                     test::g2_section6_bitmap(std::vector<bool>(96, true)), test::g2_section7(packed.data)});
}

ByteVec oversized_grid() {
  return grib2_with(test::g2_section3_latlon({.Ni = 65536, .Nj = 65536, .N = {}}),
                    {test::g2_section4(), test::g2_section5_simple(test::pack_simple({1}, 0), 1),
                     test::g2_section6_none(), test::g2_section7({})});
}

ByteVec oversized_constant_field() {
  return grib2_with(test::g2_section3_latlon({}),
                    {test::g2_section4(), test::g2_section5_simple(test::pack_simple({1}, 0), 0xFFFFFFFFu),
                     test::g2_section6_none(), test::g2_section7({})});
}

// A 4 x 3 grid whose section 5 claims the largest field allowed: refused
// by the shape before 2 GiB of constants are made.
ByteVec constant_field_larger_than_grid() {
  return grib2_with(test::g2_section3_latlon({}),
                    {test::g2_section4(),
                     test::g2_section5_simple(test::pack_simple({1}, 0), static_cast<std::uint32_t>(kMaxGridPoints)),
                     test::g2_section6_none(), test::g2_section7({})});
}

// The same claim made by a bitmap seen before the grid.
ByteVec bitmap_larger_than_grid() {
  std::vector<ByteVec> sections{test::g2_section1(), test::g2_section4(),
                                test::g2_section5_simple(test::pack_simple({1}, 0), 12),
                                test::g2_section6_indicator(0, ByteVec(1 << 20, 0)),
                                test::g2_section3_latlon({}), test::g2_section7({})};
  return test::grib2_message(sections);
}

ByteVec oversized_bitmap() {
  // A 4 x 3 grid seen after the bitmap, so the bitmap is not cut to it.
  const std::size_t octets = kMaxGridPoints / 8 + 1;
  std::vector<ByteVec> sections{test::g2_section1(), test::g2_section4(),
                                test::g2_section5_simple(test::pack_simple({1}, 0), 12),
                                test::g2_section6_indicator(0, ByteVec(octets, 0)),
                                test::g2_section3_latlon({}), test::g2_section7({})};
  return test::grib2_message(sections);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeGrib2Refusal,
    ::testing::Values(
        Grib2RefusalCase{"png", with_template(41),
                         "GRIB2 data representation template 41 (grid point data - PNG) is not implemented yet"},
        Grib2RefusalCase{"run_length", with_template(200),
                         "GRIB2 data representation template 200 (unknown) is not implemented yet"},
        Grib2RefusalCase{"bitmap_shorter_than_grid", short_bitmap(),
                         "decoded value count 96 does not match grid dimensions 10x10"},
        Grib2RefusalCase{"grid_too_large", oversized_grid(),
                         "grid of 4294967296 points exceeds the supported maximum 268435456"},
        Grib2RefusalCase{"constant_field_too_large", oversized_constant_field(),
                         "grid of 4294967295 points exceeds the supported maximum 268435456"},
        Grib2RefusalCase{"constant_field_larger_than_grid", constant_field_larger_than_grid(),
                         "decoded value count 268435456 does not match grid dimensions 4x3"},
        Grib2RefusalCase{"bitmap_larger_than_grid", bitmap_larger_than_grid(),
                         "decoded value count 8388608 does not match grid dimensions 4x3"},
        Grib2RefusalCase{"bitmap_too_large", oversized_bitmap(),
                         "grid of 268435464 points exceeds the supported maximum 268435456"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DecodeGrib2Message, GaussianGridGetsGaussianLatitudes) {
  const auto packed = test::pack_simple({1, 2, 3, 4, 5, 6, 7, 8}, 8);
  const auto all = gaussian_latitudes(1);
  const auto decoded = decode_bytes(grib2_with(
      test::g2_section3_latlon({.Ni = 4, .Nj = 2, .la1 = (*all)[0], .lo1 = 0, .la2 = (*all)[1], .lo2 = 270,
                                .di = 90, .dj = 0, .N = 1}),
      {test::g2_section4(), test::g2_section5_simple(packed, 8), test::g2_section6_none(),
       test::g2_section7(packed.data)}));
  ASSERT_TRUE(decoded) << decoded.error();
  ASSERT_TRUE(decoded->coordinates);
  EXPECT_EQ(decoded->coordinates->latitude.values, *all);
  EXPECT_EQ(decoded->coordinates->longitude.values, (std::vector<double>{0, 90, 180, 270}));
}

TEST(DecodeGrib1Message, IbmReferenceAndDecimalScale) {
  // R = -16 (octets 0xC2 0x10 0x00 0x00), E = 0, D = 1.
  const auto bds = test::g1_bds(-16.0, 0, 8, test::pack_bits(std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 8), 12);
  ASSERT_EQ(bds[6], 0xC2);
  ASSERT_EQ(bds[7], 0x10);
  const auto decoded = decode_bytes(test::grib1_message(test::g1_pds({.D = 1, .extra = {}, .length = {}}), test::g1_gds_latlon({}), {}, bds));
  ASSERT_TRUE(decoded) << decoded.error();
  std::vector<double> expected;
  for (int x = 0; x < 12; ++x) expected.push_back((x - 16.0) / 10.0);
  expect_values(decoded->field.values(), expected);
  EXPECT_EQ(decoded->missing_count, 0u);
  ASSERT_TRUE(decoded->coordinates);
  EXPECT_EQ(decoded->coordinates->longitude.values, (std::vector<double>{0, 1, 2, 3}));
  EXPECT_EQ(decoded->coordinates->latitude.values, (std::vector<double>{60, 59, 58}));
}

TEST(DecodeGrib1Message, BitmapRunningOutLeavesTheRestMissing) {
  // The BMS holds bits for 8 of the 12 points; the others are absent.
  const auto bms = test::g1_bms(flags_of("10111111"));
  const auto packed = test::pack_simple({1, 2, 3, 4, 5, 6, 7}, 8, 0, 0, true);
  const auto decoded = decode_bytes(test::grib1_message(test::g1_pds({.has_bms = true, .extra = {}, .length = {}}), test::g1_gds_latlon({}),
                                                        bms, test::g1_bds_simple(packed)));
  ASSERT_TRUE(decoded) << decoded.error();
  expect_values(decoded->field.values(), {1, kNaN, 2, 3, 4, 5, 6, 7, kNaN, kNaN, kNaN, kNaN});
  EXPECT_EQ(decoded->missing_count, 5u);
}

TEST(DecodeGrib1Message, SphericalHarmonicsAreOneColumnWithoutCoordinates) {
  test::Writer body;
  body.u16(231).u16(1).u16(20).u8(1).u8(1).zeros(18);
  std::vector<double> coefficients;
  for (int i = 0; i < 231; ++i) coefficients.push_back(i % 50);
  const auto packed = test::pack_simple(coefficients, 8, 0, 0, true);
  const auto decoded = decode_bytes(test::grib1_message(test::g1_pds(), test::g1_gds(50, body.take()), {},
                                                        test::g1_bds_simple(packed)));
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->field.Ni(), 231u);
  EXPECT_EQ(decoded->field.Nj(), 1u);
  expect_values(decoded->field.values(), coefficients);
  EXPECT_FALSE(decoded->coordinates);
}

TEST(DecodeGrib1Message, ReducedGaussianIsOneColumnWithoutCoordinates) {
  std::vector<double> values;
  for (int i = 0; i < 24; ++i) values.push_back(i);
  const auto packed = test::pack_simple(values, 8, 0, 0, true);
  const auto decoded = decode_bytes(test::grib1_message(
      test::g1_pds(),
      test::g1_gds_latlon({.Nj = 4, .la1 = 70, .lo1 = 0, .la2 = -70, .lo2 = 315, .N = 2,
                           .points_per_row = {4, 8, 8, 4}}),
      {}, test::g1_bds_simple(packed)));
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->field.Ni(), 24u);
  EXPECT_EQ(decoded->field.Nj(), 1u);
  expect_values(decoded->field.values(), values);
  EXPECT_FALSE(decoded->coordinates);
}

// Thinned latitude/longitude grids (type 0, Ni 65535) are read as reduced
// Gaussian grids are: every point of every row, one column, no axes.
TEST(DecodeGrib1Message, ThinnedLatLonIsOneColumnWithoutCoordinates) {
  std::vector<double> values;
  for (int i = 0; i < 19; ++i) values.push_back(i);
  const auto packed = test::pack_simple(values, 8, 0, 0, true);
  const auto decoded = decode_bytes(test::grib1_message(
      test::g1_pds(),
      test::g1_gds_latlon({.Nj = 3, .la1 = 0, .lo1 = 0, .la2 = 90, .lo2 = 90, .points_per_row = {10, 7, 2}}),
      {}, test::g1_bds_simple(packed)));
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->field.Ni(), 19u);
  EXPECT_EQ(decoded->field.Nj(), 1u);
  expect_values(decoded->field.values(), values);
  EXPECT_FALSE(decoded->coordinates);
}

// ------------------------------------------------------------ real files

struct Axes {
  double lon_first, lon_last, lat_first, lat_last;
};

struct FileCase {
  const char* name;
  std::size_t messages;
  std::uint64_t Ni, Nj;         // of the first message
  std::uint64_t missing;        // of the first message
  std::optional<Axes> axes;     // of the first message
  double low, high;             // plausible range of every first-message value
  const char* refusal = nullptr;  // every message fails with this text
};

std::filesystem::path testdata(const char* name) {
  return std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata") / name;
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DecodeRealFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(DecodeRealFile, EveryMessageDecodes) {
  const FileCase& c = GetParam();
  const auto path = testdata(c.name);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
  const auto bytes = read_file(path);
  const auto scan = scan_messages(bytes);
  ASSERT_TRUE(scan) << scan.error();
  ASSERT_EQ(scan->records.size(), c.messages);

  for (const MessageRecord& record : scan->records) {
    SCOPED_TRACE(str_cat("message ", record.messageNumber));
    const auto decoded = decode_message(Bytes(bytes).subspan(record.offset, record.totalLength), record);
    if (c.refusal) {
      ASSERT_FALSE(decoded);
      EXPECT_EQ(decoded.error(), c.refusal);
      continue;
    }
    ASSERT_TRUE(decoded) << decoded.error();
    const auto& values = decoded->field.values();
    EXPECT_EQ(values.size(), decoded->field.Ni() * decoded->field.Nj());
    EXPECT_EQ(decoded->missing_count,
              static_cast<std::uint64_t>(std::count_if(values.begin(), values.end(),
                                                       [](double v) { return std::isnan(v); })));
    if (decoded->coordinates) {
      EXPECT_EQ(decoded->coordinates->longitude.values.size(), decoded->field.Ni());
      EXPECT_EQ(decoded->coordinates->latitude.values.size(), decoded->field.Nj());
    }
    if (record.messageNumber != 1) continue;

    EXPECT_EQ(decoded->field.Ni(), c.Ni);
    EXPECT_EQ(decoded->field.Nj(), c.Nj);
    EXPECT_EQ(decoded->missing_count, c.missing);
    for (const double v : values) {
      if (std::isnan(v)) continue;
      ASSERT_GE(v, c.low);
      ASSERT_LE(v, c.high);
    }
    ASSERT_EQ(decoded->coordinates.has_value(), c.axes.has_value());
    if (c.axes) {
      const auto& lon = decoded->coordinates->longitude.values;
      const auto& lat = decoded->coordinates->latitude.values;
      EXPECT_NEAR(lon.front(), c.axes->lon_first, 1e-3);
      EXPECT_NEAR(lon.back(), c.axes->lon_last, 1e-3);
      EXPECT_NEAR(lat.front(), c.axes->lat_first, 1e-3);
      EXPECT_NEAR(lat.back(), c.axes->lat_last, 1e-3);
    }
  }
}

constexpr double kHuge = 1e30;

INSTANTIATE_TEST_SUITE_P(
    Files, DecodeRealFile,
    ::testing::Values(
        // Synthetic 4 x 4 sample fields holding 0 to 15; rows 0.667 degrees apart.
        FileCase{"ecmwf_soil_8vars_tiny.grib1", 8, 4, 4, 0, Axes{0, 3, 1, -1.001}, 0, 15},
        FileCase{"ncep_plottrak.grib1", 1, 360, 181, 0, Axes{0, 359, 90, -90}, -100, 100},
        // Rotated lat/lon (3.1) carries no axes; CAPE is at least about -1.
        FileCase{"20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2", 1, 2540, 1290, 0, std::nullopt,
                 -2, 10000},
        // First point at 180 degrees east: the axis starts at -180; rows south to north.
        FileCase{"CMC_glb_TMP_ISBL_1_latlon.24x.24_2021051800_P000.grib2", 1, 1500, 751, 0,
                 Axes{-180, 179.76, -90, 90}, 150, 350},
        FileCase{"MRMS_MergedRhoHV_19.00_20260219-042039.grib2", 1, 0, 0, 0, std::nullopt, 0, 0,
                 "GRIB2 data representation template 41 (grid point data - PNG) is not implemented yet"},
        FileCase{"aqm.t12z.ave_1hr_o3-AK-polar-stereographic.grib2", 1, 825, 553, 28287, std::nullopt, 0, 300},
        FileCase{"aqm.t12z.ave_1hr_o3-HI-mercator.grib2", 1, 321, 225, 0, std::nullopt, 0, 300},
        FileCase{"ecmwf-ifs-oper-surface.grib2", 5, 1440, 721, 0, Axes{-180, 179.75, 90, -90}, -kHuge, kHuge},
        FileCase{"ecmwf_20250912120000-0h-oper-fc.msg90.grib2", 1, 1440, 721, 0, Axes{-180, 179.75, 90, -90},
                 -kHuge, kHuge},
        // Gaussian N = 768: the first parallel lies just short of the pole.
        FileCase{"gdas.t00z.sfluxgrbf000.msg1.grib2", 1, 3072, 1536, 0,
                 Axes{0, 359.884348, 89.910324534662678, -89.910324534662678}, -1000, 9000},
        FileCase{"gdas.t12z.pgrb2.0p25.f000.msg13.grib2", 1, 1440, 721, 0, Axes{0, 359.75, 90, -90}, -kHuge, kHuge},
        FileCase{"gfs.t12z.pgrb2.0p25.f023-PV-TMP-missing.grib2", 1, 1440, 721, 409080, Axes{0, 359.75, 90, -90},
                 150, 350},
        FileCase{"hrrr.t06z.wrfsfcf01-UGRD.grib2", 1, 1799, 1059, 0, std::nullopt, -100, 100},
        // Unstructured grid: numberOfValues points in one row.
        FileCase{"icon_global_icosahedral_single-level_2021112018_000_TOT_PREC.grib2", 1, 2949120, 1, 0,
                 std::nullopt, 0, 1000},
        FileCase{"jma_kousa_dust_multifield.grib2", 1, 81, 61, 0, Axes{110, 150, 50, 20}, 0, 1},
        FileCase{"jma_meps_pall_fh00-15_first20fields.grib2", 1, 241, 253, 0, Axes{120, 150, 47.6, 22.4}, -100, 100},
        FileCase{"jma_tornado_nowcast_runlength.grib2", 1, 0, 0, 0, std::nullopt, 0, 0,
                 "GRIB2 data representation template 200 (unknown) is not implemented yet"},
        // Total cloud cover in percent, with a bitmap.
        FileCase{"meteofrance.arome-TCDC.grib2", 1, 1121, 717, 138076, Axes{-12, 16, 55.4, 37.5}, 0, 100.01},
        // Wave model wind speed; land points are absent.
        FileCase{"multi_1.at_10m.t12z.f147.grib2", 19, 301, 331, 70212, Axes{260, 310, 55, 0}, 0, 100},
        FileCase{"ndfd_critfireo.grib2", 4, 2145, 1377, 1556786, std::nullopt, 0, 10},
        FileCase{"s2s-pdt12-pdt107-anomaly.grib2", 4, 720, 361, 0, Axes{0, 359.5, 90, -90}, 150, 350},
        FileCase{"s2s-pdt9-pdt10-pdt12.grib2", 10, 720, 361, 0, Axes{0, 359.5, 90, -90}, 0, 100}),
    [](const auto& info) {
      std::string label = info.param.name;
      for (char& ch : label) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return label;
    });

}  // namespace
}  // namespace vorlak
