// Template 5.200: runs from the test-side encoder at several widths, every
// refusal, the section 5 reader, and the JMA nowcast's seven fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>

#include "grib/decode_message.hpp"
#include "grib/decoders.hpp"
#include "grib/framing.hpp"
#include "grib/text.hpp"
#include "support/message_builder.hpp"
#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

using test::ByteVector;
using test::encode_run_length;
using test::LevelRun;
using test::run_length_drs;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void expect_values(const Values& actual, const Values& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (std::isnan(expected[i])) {
      ASSERT_TRUE(std::isnan(actual[i])) << "entry " << i << " is " << actual[i];
    } else {
      ASSERT_EQ(actual[i], expected[i]) << "entry " << i;
    }
  }
}

// The worked layout: V = 8, MV = 3, base 252. Level 0 for 6065 points
// (digits 16 and 24: 1 + 16 + 24 * 252), level 1 once, level 3 for 2 points,
// level 2 for 253 points (digits 0 and 1).
TEST(RunLengthPacking, WorkedStream) {
  const ByteVector payload{0x00, 0x14, 0x1C, 0x01, 0x03, 0x05, 0x02, 0x04, 0x05};
  auto values = unpack_run_length(payload, run_length_drs(8, 3, {10, 20, 35}, 1), 6065 + 1 + 2 + 253);
  ASSERT_TRUE(values) << values.error();
  Values expected(6065, kNaN);
  expected.push_back(1.0);
  expected.insert(expected.end(), 2, 3.5);
  expected.insert(expected.end(), 253, 2.0);
  expect_values(*values, expected);
}

struct WidthCase {
  unsigned bits;
  std::uint16_t mv;
};

class RunLengthWidths : public ::testing::TestWithParam<WidthCase> {};

// Random runs, many of them long enough for three or more digits, at widths
// that do and do not fill whole octets.
TEST_P(RunLengthWidths, RoundTripsRandomRuns) {
  const WidthCase& c = GetParam();
  std::mt19937_64 rng(c.bits * 1000 + c.mv);
  std::vector<std::uint16_t> levels;
  for (std::uint16_t l = 1; l <= c.mv; ++l) levels.push_back(static_cast<std::uint16_t>(7 * l + 1));
  std::vector<LevelRun> runs;
  Values expected;
  for (int r = 0; r < 300; ++r) {
    const auto level = static_cast<std::uint32_t>(rng() % (c.mv + 1u));
    const std::uint64_t length = 1 + (r % 3 == 0 ? rng() % 5000 : rng() % 4);
    runs.push_back({level, length});
    expected.insert(expected.end(), length, level == 0 ? kNaN : levels[level - 1] * 0.01);
  }
  const ByteVector payload = encode_run_length(runs, c.bits, c.mv);
  auto values = unpack_run_length(payload, run_length_drs(c.bits, c.mv, levels, 2), expected.size());
  ASSERT_TRUE(values) << values.error();
  expect_values(*values, expected);
}

INSTANTIATE_TEST_SUITE_P(Widths, RunLengthWidths,
                         ::testing::Values(WidthCase{2, 1}, WidthCase{3, 2}, WidthCase{4, 3}, WidthCase{5, 29},
                                           WidthCase{8, 3}, WidthCase{8, 200}, WidthCase{12, 100},
                                           WidthCase{16, 40000}, WidthCase{32, 7}),
                         [](const auto& info) {
                           return "V" + std::to_string(info.param.bits) + "_MV" + std::to_string(info.param.mv);
                         });

struct RefusalCase {
  const char* label;
  DataRepresentation drs;
  ByteVector payload;
  std::uint64_t count;
  std::string text;
};

class RunLengthRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RunLengthRefusals, FailWithAClearText) {
  const RefusalCase& c = GetParam();
  auto values = unpack_run_length(c.payload, c.drs, c.count);
  ASSERT_FALSE(values);
  EXPECT_EQ(values.error(), c.text);
}

DataRepresentation with_max_level(DataRepresentation drs, std::uint16_t mvl) {
  drs.runLength.maxLevel = mvl;
  return drs;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, RunLengthRefusals,
    ::testing::Values(
        // Level 2 for 6 points where the field has 5.
        RefusalCase{"overshoot", run_length_drs(8, 3, {1, 2, 3}), {0x02, 0x09}, 5,
                    "run-length run overshoots the field of 5 values"},
        RefusalCase{"overshoot_by_digit_weight", run_length_drs(8, 3, {1, 2, 3}), {0x01, 0x04, 0x04, 0x04, 0x05}, 100,
                    "run-length run overshoots the field of 100 values"},
        RefusalCase{"runs_after_the_field", run_length_drs(8, 3, {1, 2, 3}), {0x01, 0x05, 0x02}, 2,
                    "run-length runs continue after the 2 values of the field"},
        RefusalCase{"ends_early", run_length_drs(8, 3, {1, 2, 3}), {0x01, 0x05}, 3,
                    "run-length data ends after 2 of 3 values"},
        RefusalCase{"empty_stream", run_length_drs(8, 3, {1, 2, 3}), {}, 3, "run-length data ends after 0 of 3 values"},
        RefusalCase{"starts_with_a_digit", run_length_drs(8, 3, {1, 2, 3}), {0x07, 0x01}, 3,
                    "run-length value 7 at position 0 is a run-length digit where a level is due"},
        // MV 5 with only 3 levels defined: level 4 is a level but has no value.
        RefusalCase{"level_above_mvl", run_length_drs(8, 5, {1, 2, 3}), {0x01, 0x04}, 2,
                    "run-length level 4 is above the largest level 3"},
        RefusalCase{"base_zero", run_length_drs(2, 3, {1, 2, 3}), {0x00}, 1, "run-length base 2^2 - 1 - 3 = 0 is below 1"},
        RefusalCase{"base_negative", run_length_drs(2, 5, {1, 2, 3, 4, 5}), {0x00}, 1,
                    "run-length base 2^2 - 1 - 5 = -2 is below 1"},
        RefusalCase{"no_bits", run_length_drs(0, 0, {}), {0x00}, 1, "run-length base 2^0 - 1 - 0 = 0 is below 1"},
        RefusalCase{"too_wide", run_length_drs(33, 3, {1, 2, 3}), {0x00}, 1,
                    "run-length packing with 33 bits per value is not supported (at most 32)"},
        RefusalCase{"short_list", with_max_level(run_length_drs(8, 3, {1, 2}), 3), {0x01}, 1,
                    "run-length level list holds 2 of the 3 representative values"},
        RefusalCase{"over_bound", run_length_drs(8, 3, {1, 2, 3}), {0x01}, std::uint64_t{1} << 29,
                    "value count 536870912 exceeds the supported maximum 268435456"}),
    [](const auto& info) { return std::string(info.param.label); });

// Padding is not a run: 3-bit values leave 5 bits after a single level in
// one octet (a zero there would read as level 0), and 16-bit values leave
// an odd octet that holds no value. A whole value after the field is a run.
TEST(RunLengthPacking, PaddingAfterTheLastRunIsIgnored) {
  auto three = unpack_run_length(ByteVector{0x20}, run_length_drs(3, 2, {4, 5}), 1);
  ASSERT_TRUE(three) << three.error();
  expect_values(*three, {4.0});
  auto sixteen = unpack_run_length(ByteVector{0x00, 0x01, 0x00}, run_length_drs(16, 2, {4, 5}), 1);
  ASSERT_TRUE(sixteen) << sixteen.error();
  expect_values(*sixteen, {4.0});
  EXPECT_EQ(unpack_run_length(ByteVector{0x00, 0x01, 0x00, 0x00}, run_length_drs(16, 2, {4, 5}), 1).error(),
            "run-length runs continue after the 1 values of the field");
}

// Base 1 (MV = 2^V - 2): every digit is zero, so every run is one point long.
TEST(RunLengthPacking, BaseOneRunsAreSinglePoints) {
  auto values = unpack_run_length(ByteVector{0b01'11'10'00, 0b11'11'01'00}, run_length_drs(2, 2, {3, 6}), 5);
  ASSERT_TRUE(values) << values.error();
  expect_values(*values, {3.0, 6.0, kNaN, 3.0, kNaN});
}

TEST(RunLengthPacking, NegativeScaleFactorAndEmptyField) {
  auto values = unpack_run_length(encode_run_length({{2, 3}}, 8, 3), run_length_drs(8, 3, {1, 25, 3}, -2), 3);
  ASSERT_TRUE(values) << values.error();
  expect_values(*values, {2500.0, 2500.0, 2500.0});
  auto empty = unpack_run_length({}, run_length_drs(8, 3, {1, 2, 3}), 0);
  ASSERT_TRUE(empty) << empty.error();
  EXPECT_TRUE(empty->empty());
}

// ------------------------------------------------------------ section 5

TEST(RunLengthPacking, SectionFiveReader) {
  // V 8, MV 3, MVL 3, scale -1 (sign-magnitude 0x81), levels 100, 200, 65535.
  const auto full = parse_section5(test::g2_section5_run_length(12, 8, 3, {100, 200, 65535}, -1));
  ASSERT_TRUE(full) << full.error();
  EXPECT_EQ(full->dataRepresentationTemplateNumber, 200);
  EXPECT_EQ(full->numberOfValues, 12u);
  EXPECT_EQ(full->runLength.bitsPerValue, 8);
  EXPECT_EQ(full->runLength.maxLevelUsed, 3);
  EXPECT_EQ(full->runLength.maxLevel, 3);
  EXPECT_EQ(full->runLength.decimalScaleFactor, -1);
  EXPECT_EQ(full->runLength.levelValues, (std::vector<std::uint16_t>{100, 200, 65535}));
  // 0xC1 is -65 as sign and magnitude (not -63, the two's complement some
  // scale factors of other templates are written in).
  EXPECT_EQ(parse_section5(test::g2_section5_run_length(12, 8, 3, {1, 2, 3}, -65))->runLength.decimalScaleFactor, -65);

  // MVL 4 with three values in the section: read as far as it goes; the
  // message is still listed and the decoder refuses it.
  const auto cut = parse_section5(test::g2_section5_run_length(12, 8, 3, {100, 200, 300}, 0, 4));
  ASSERT_TRUE(cut) << cut.error();
  EXPECT_EQ(cut->runLength.maxLevel, 4);
  EXPECT_EQ(cut->runLength.levelValues.size(), 3u);
  EXPECT_EQ(unpack_run_length(ByteVector{0x01}, *cut, 1).error(), "run-length level list holds 3 of the 4 representative values");
}

// ------------------------------------------------------------ whole messages

Result<DecodedMessage> decode_with(const test::ByteVec& message, const DecodeOptions& options) {
  auto scan = scan_messages(message);
  if (!scan) return fail("scan: " + scan.error());
  const MessageRecord& record = scan->records.front();
  return decode_message(Bytes(message).subspan(record.offset, record.totalLength), record, options);
}

// A 4 x 3 grid with a bitmap of 10 present points: the runs cover those 10,
// level 0 and the bitmap both make missing points.
TEST(RunLengthPacking, MessageWithBitmapCountsEveryMissingPoint) {
  const std::vector<bool> present{1, 1, 0, 1, 1, 1, 1, 0, 1, 1, 1, 1};
  const ByteVector payload = encode_run_length({{1, 3}, {0, 2}, {2, 5}}, 8, 2);
  const auto message = test::grib2_message(
      {test::g2_section1(), test::g2_section3_latlon({.Ni = 4, .Nj = 3}), test::g2_section4(),
       test::g2_section5_run_length(10, 8, 2, {15, 25}, 1), test::g2_section6_bitmap(present),
       test::g2_section7(payload)});
  EXPECT_EQ(decode_with(message, {}).error(), "GRIB2 data representation template 200 (unknown) is not implemented yet");
  const auto decoded = decode_with(message, {.all_templates = true});
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->missing_count, 4u);
  expect_values(decoded->field.values(), {1.5, 1.5, kNaN, 1.5, kNaN, kNaN, 2.5, kNaN, 2.5, 2.5, 2.5, 2.5});
}

// The JMA tornado nowcast: one message of seven fields on a 256 x 336 grid,
// V 8, MV = MVL = 3, levels 1, 2, 3. Counts per level from an independent
// walk of each field's runs.
struct NowcastField {
  std::uint64_t missing, ones, twos, threes;
};

TEST(RunLengthPacking, JmaNowcastFieldsDecode) {
  const auto path = std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata") / "jma_tornado_nowcast_runlength.grib2";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

  // Each field's sections 5 and 7, found by walking the sections.
  std::vector<std::pair<Bytes, Bytes>> fields;
  Bytes section5;
  for (std::size_t at = 16; at + 4 <= bytes.size() && std::memcmp(&bytes[at], "7777", 4) != 0;) {
    const std::uint32_t length = load_u32_be(&bytes[at]);
    ASSERT_GE(length, 5u);
    ASSERT_LE(length, bytes.size() - at);
    const Bytes section(&bytes[at], length);
    if (section[4] == 5) section5 = section;
    if (section[4] == 7) fields.emplace_back(section5, section.subspan(5));
    at += length;
  }
  const NowcastField expected[] = {{71493, 14383, 64, 76},  {71493, 14364, 86, 73},  {71493, 14363, 82, 78},
                                   {71495, 14358, 92, 71},  {71500, 14342, 110, 64}, {71501, 14340, 120, 55},
                                   {71503, 14349, 119, 45}};
  ASSERT_EQ(fields.size(), std::size(expected));
  for (std::size_t f = 0; f < fields.size(); ++f) {
    SCOPED_TRACE(str_cat("field ", f + 1));
    const auto drs = parse_section5(fields[f].first);
    ASSERT_TRUE(drs) << drs.error();
    const auto values = unpack_run_length(fields[f].second, *drs, drs->numberOfValues);
    ASSERT_TRUE(values) << values.error();
    ASSERT_EQ(values->size(), 256u * 336u);
    const auto count = [&](double v) { return static_cast<std::uint64_t>(std::count(values->begin(), values->end(), v)); };
    EXPECT_EQ(static_cast<std::uint64_t>(std::count_if(values->begin(), values->end(), [](double v) { return std::isnan(v); })),
              expected[f].missing);
    EXPECT_EQ(count(1.0), expected[f].ones);
    EXPECT_EQ(count(2.0), expected[f].twos);
    EXPECT_EQ(count(3.0), expected[f].threes);
    if (f == 0) {
      // Runs: level 0 for 6065 points, then level 1 for 20; level 2 first at
      // 36269, level 3 first at 36524.
      EXPECT_TRUE(std::isnan((*values)[6064]));
      EXPECT_EQ((*values)[6065], 1.0);
      EXPECT_EQ((*values)[6084], 1.0);
      EXPECT_TRUE(std::isnan((*values)[6085]));
      EXPECT_EQ((*values)[36269], 2.0);
      EXPECT_EQ((*values)[36524], 3.0);
    }
  }

  // The codes API reads the message as its last field and still refuses it.
  const auto scan = scan_messages(bytes);
  ASSERT_TRUE(scan) << scan.error();
  const MessageRecord& record = scan->records.front();
  const Bytes message = Bytes(bytes).subspan(record.offset, record.totalLength);
  EXPECT_EQ(decode_message(message, record).error(),
            "GRIB2 data representation template 200 (unknown) is not implemented yet");
  const auto last = decode_message(message, record, {.all_templates = true});
  ASSERT_TRUE(last) << last.error();
  EXPECT_EQ(last->missing_count, expected[6].missing);
}

}  // namespace
}  // namespace vorlak
