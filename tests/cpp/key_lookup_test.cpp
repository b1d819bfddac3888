// The typed readers' conversion rules, and key lookup on handles built from
// real files when those are present.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "core/key_lookup.hpp"

namespace vorlak {
namespace {

struct FormatCase {
  double value;
  std::string text;
};

class FormatDouble : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatDouble, WritesShortestPositionalDigits) {
  EXPECT_EQ(format_double(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatDouble,
    ::testing::Values(
        FormatCase{2.0, "2"}, FormatCase{0.5, "0.5"}, FormatCase{1e-7, "0.0000001"},
        FormatCase{1e21, "1000000000000000000000"}, FormatCase{std::nan(""), "NaN"},
        FormatCase{-std::nan(""), "NaN"}, FormatCase{std::numeric_limits<double>::infinity(), "inf"},
        FormatCase{-std::numeric_limits<double>::infinity(), "-inf"}, FormatCase{-0.0, "-0"},
        FormatCase{0.0, "0"}, FormatCase{0.1 + 0.2, "0.30000000000000004"}, FormatCase{-2.5, "-2.5"},
        FormatCase{123456.789, "123456.789"}, FormatCase{100.0, "100"}, FormatCase{1.5e-5, "0.000015"},
        FormatCase{5e-324, "0." + std::string(323, '0') + "5"},
        FormatCase{1.7976931348623157e308, "17976931348623157" + std::string(292, '0')}));

TEST(FormatDouble, ReadsBackExactly) {
  for (double v : {0.1, 1.0 / 3.0, 2.0 / 3.0e-10, 6371.0088, 1e300, -4.9e-300, 273.15}) {
    const std::string text = format_double(v);
    EXPECT_EQ(text.find('e'), std::string::npos) << text;
    auto back = parse_decimal_double(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, v) << text;
  }
}

struct LongCase {
  const char* text;
  std::optional<std::int64_t> value;
};

class ParseLong : public ::testing::TestWithParam<LongCase> {};

TEST_P(ParseLong, AcceptsOnlyStrictDecimalIntegers) {
  EXPECT_EQ(parse_decimal_long(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseLong,
    ::testing::Values(LongCase{"42", 42}, LongCase{"+42", 42}, LongCase{"-42", -42}, LongCase{"007", 7},
                      LongCase{"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
                      LongCase{"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
                      LongCase{"9223372036854775808", std::nullopt},
                      LongCase{"-9223372036854775809", std::nullopt},
                      LongCase{"99999999999999999999", std::nullopt}, LongCase{"", std::nullopt},
                      LongCase{"+", std::nullopt}, LongCase{"-", std::nullopt}, LongCase{"4.2", std::nullopt},
                      LongCase{" 42", std::nullopt}, LongCase{"42 ", std::nullopt},
                      LongCase{"+-4", std::nullopt}, LongCase{"1e3", std::nullopt},
                      LongCase{"0x10", std::nullopt}));

struct DoubleCase {
  const char* text;
  std::optional<double> value;
};

class ParseDouble : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(ParseDouble, AcceptsDecimalNumbersAndWords) {
  const auto got = parse_decimal_double(GetParam().text);
  const auto want = GetParam().value;
  ASSERT_EQ(got.has_value(), want.has_value()) << GetParam().text;
  if (!want) return;
  if (std::isnan(*want)) {
    EXPECT_TRUE(std::isnan(*got)) << GetParam().text;
  } else {
    EXPECT_EQ(*got, *want) << GetParam().text;
    EXPECT_EQ(std::signbit(*got), std::signbit(*want)) << GetParam().text;
  }
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseDouble,
    ::testing::Values(
        DoubleCase{"1e3", 1000.0}, DoubleCase{"1E3", 1000.0}, DoubleCase{"+1.5", 1.5}, DoubleCase{"-0", -0.0},
        DoubleCase{".5", 0.5}, DoubleCase{"5.", 5.0}, DoubleCase{"2.5e-3", 0.0025}, DoubleCase{"1e+2", 100.0},
        DoubleCase{"inf", kInf}, DoubleCase{"-Infinity", -kInf}, DoubleCase{"INF", kInf},
        DoubleCase{"+iNfInItY", kInf}, DoubleCase{"nan", std::nan("")}, DoubleCase{"NaN", std::nan("")},
        DoubleCase{"-NAN", std::nan("")}, DoubleCase{"1e400", kInf}, DoubleCase{"-1e400", -kInf},
        DoubleCase{"1e-400", 0.0}, DoubleCase{"5e-324", 5e-324}, DoubleCase{"0.30000000000000004", 0.1 + 0.2},
        DoubleCase{"1e99999999999999999999", kInf}, DoubleCase{"0e99999999999999999999", 0.0},
        DoubleCase{"abc", std::nullopt}, DoubleCase{"", std::nullopt}, DoubleCase{".", std::nullopt},
        DoubleCase{"-", std::nullopt}, DoubleCase{"e5", std::nullopt}, DoubleCase{"1e", std::nullopt},
        DoubleCase{"1e+", std::nullopt}, DoubleCase{" 1", std::nullopt}, DoubleCase{"1 ", std::nullopt},
        DoubleCase{"nan(1)", std::nullopt}, DoubleCase{"infin", std::nullopt},
        DoubleCase{"0x1p3", std::nullopt}, DoubleCase{"1.2.3", std::nullopt}, DoubleCase{"++1", std::nullopt}));

TEST(SaturatingDoubleToLong, TruncatesTowardZeroAndSaturates) {
  EXPECT_EQ(saturating_double_to_long(2.7), 2);
  EXPECT_EQ(saturating_double_to_long(-2.7), -2);
  EXPECT_EQ(saturating_double_to_long(std::nan("")), 0);
  EXPECT_EQ(saturating_double_to_long(1e300), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(saturating_double_to_long(9223372036854775808.0), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(saturating_double_to_long(-9223372036854775808.0), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(saturating_double_to_long(-kInf), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(saturating_double_to_long(9223372036854774784.0), 9223372036854774784);
}

}  // namespace
}  // namespace vorlak
