// The typed readers' conversion rules, and key lookup on handles built from
// real files when those are present.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "core/key_lookup.hpp"
#include "support/synthetic_handle.hpp"

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

using test::ByteVec;

// A 4 x 3 regular grid: latitudes 60, 59, 58, longitudes 0 to 3, values 0..11.
ByteVec regular_grid_message(const test::G2LatLonGrid& grid = {}) {
  std::vector<double> values(12);
  for (int i = 0; i < 12; ++i) values[i] = i;
  auto field = test::g2_simple_field(values, 8);
  std::vector<ByteVec> sections = {test::g2_section1(), test::g2_section3_latlon(grid)};
  sections.insert(sections.end(), field.begin(), field.end());
  return test::grib2_message(sections);
}

TEST(GetKey, ExpandsTheAxesIntoOneCoordinatePerPoint) {
  const HandleRecord handle = test::handle_from_bytes(regular_grid_message());
  auto latitudes = get_double_array(handle, "latitudes");
  auto longitudes = get_double_array(handle, "longitudes");
  ASSERT_TRUE(latitudes && longitudes);
  EXPECT_EQ(*latitudes, (std::vector<double>{60, 60, 60, 60, 59, 59, 59, 59, 58, 58, 58, 58}));
  EXPECT_EQ(*longitudes, (std::vector<double>{0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3}));
  EXPECT_EQ(*get_double_array(handle, "distinctLatitudes"), (std::vector<double>{60, 59, 58}));
  EXPECT_EQ(*get_double(handle, "latitudeOfLastGridPointInDegrees"), 58.0);
  EXPECT_EQ(*get_double(handle, "longitudeOfLastGridPointInDegrees"), 3.0);
  EXPECT_EQ(*get_double(handle, "jDirectionIncrementInDegrees"), 1.0);
  EXPECT_EQ(get_double_array(handle, "values")->size(), 12u);
  EXPECT_EQ(*get_long(handle, "numberOfMissing"), 0);
}

TEST(GetKey, IncrementIsPositiveWhenLongitudesDecrease) {
  test::G2LatLonGrid grid;
  grid.lo1 = 3;
  grid.lo2 = 0;
  grid.scanning_mode = 0x80;  // i scans negatively
  const HandleRecord handle = test::handle_from_bytes(regular_grid_message(grid));
  auto longitudes = get_double_array(handle, "distinctLongitudes");
  ASSERT_TRUE(longitudes);
  ASSERT_GE(longitudes->size(), 2u);
  EXPECT_GT((*longitudes)[0], (*longitudes)[1]);
  EXPECT_EQ(*get_double(handle, "iDirectionIncrementInDegrees"), 1.0);
}

TEST(GetKey, TypedReadsOfArraysNameBothTypes) {
  const HandleRecord handle = test::handle_from_bytes(regular_grid_message());
  struct Case {
    CodesError error;
    const char* requested;
  };
  for (const Case& c : {Case{get_long(handle, "values").error(), "long"},
                        Case{get_double(handle, "values").error(), "double"},
                        Case{get_string(handle, "values").error(), "string"}}) {
    EXPECT_EQ(c.error.kind, CodesError::Kind::TypeMismatch);
    EXPECT_EQ(c.error.message(),
              std::string("key 'values' cannot be read as ") + c.requested + "; actual type is double_array");
  }
  EXPECT_EQ(get_double_array(handle, "edition").error().message(),
            "key 'edition' cannot be read as double_array; actual type is long");
}

TEST(GetKey, NamesAreExactAndCaseSensitive) {
  const HandleRecord handle = test::handle_from_bytes(regular_grid_message());
  EXPECT_EQ(*get_long(handle, "edition"), 2);
  EXPECT_EQ(get_key(handle, "Edition").error().message(), "key 'Edition' is not defined");
  EXPECT_EQ(get_key(handle, "Values").error().kind, CodesError::Kind::KeyNotFound);
  EXPECT_EQ(get_key(handle, "").error().kind, CodesError::Kind::KeyNotFound);
}

TEST(GetKey, FailedDecodeRaisesForValuesButNotForDerivedKeys) {
  test::G2DataRep png;  // template 5.41 is refused by the decoder
  png.template_number = 41;
  png.count = 12;
  png.bits = 8;
  const ByteVec message =
      test::grib2_message({test::g2_section1(), test::g2_section3_latlon({}), test::g2_section4(),
                           test::g2_section5(png), test::g2_section6_none(), test::g2_section7(ByteVec(12, 0))});
  const HandleRecord handle = test::handle_from_bytes(message);
  ASSERT_TRUE(handle.memo);
  auto values = get_key(handle, "values");
  ASSERT_FALSE(values);
  EXPECT_EQ(values.error().kind, CodesError::Kind::Internal);
  EXPECT_FALSE(values.error().text.empty());
  EXPECT_EQ(get_key(handle, "numberOfMissing").error().text, values.error().text);
  EXPECT_EQ(get_key(handle, "distinctLatitudes").error().text, values.error().text);
  // The coordinate arrays drop the decode error and fall back to the derived keys.
  EXPECT_EQ(get_key(handle, "latitudes").error().kind, CodesError::Kind::KeyNotFound);
  EXPECT_EQ(*get_long(handle, "edition"), 2);
}

TEST(GetKey, CoordinateArraysFallBackToDerivedKeys) {
  DerivedKeys derived;
  derived.set("latitudes", KeyValue{std::vector<double>{1, 2}});
  derived.set("iDirectionIncrementInDegrees", KeyValue{0.25});
  const HandleRecord failed = test::handle_with(fail("bad data"), derived);
  EXPECT_EQ(*get_double_array(failed, "latitudes"), (std::vector<double>{1, 2}));
  EXPECT_EQ(get_key(failed, "iDirectionIncrementInDegrees").error().text, "bad data");
  // Decoded without axes: axis keys go on to the derived keys.
  const HandleRecord no_axes = test::handle_with(test::decoded_field({1, 2, 3}, 3, 1), derived);
  EXPECT_EQ(*get_double(no_axes, "iDirectionIncrementInDegrees"), 0.25);
  EXPECT_EQ(get_key(no_axes, "longitudes").error().kind, CodesError::Kind::KeyNotFound);
  EXPECT_EQ(get_key(no_axes, "distinctLatitudes").error().kind, CodesError::Kind::KeyNotFound);
}

TEST(GetKey, OneLongitudeHasNoIncrement) {
  DerivedKeys derived;
  derived.set("iDirectionIncrementInDegrees", KeyValue{9.0});
  const HandleRecord handle =
      test::handle_with(test::decoded_field({1, 2}, 1, 2, test::axes({10, 20}, {5})), derived);
  EXPECT_EQ(*get_double(handle, "iDirectionIncrementInDegrees"), 9.0);
  EXPECT_EQ(*get_double(handle, "jDirectionIncrementInDegrees"), 10.0);
  EXPECT_EQ(*get_double(handle, "longitudeOfFirstGridPointInDegrees"), 5.0);
}

TEST(GetKey, OversizedCoordinateArraysAreRefusedBeforeAllocating) {
  // Axes far larger than any grid (the field itself stays small).
  const HandleRecord handle = test::handle_with(test::decoded_field(
      {1}, 1, 1, test::axes(std::vector<double>(1 << 15, 0.0), std::vector<double>(1 << 14, 0.0))));
  auto latitudes = get_key(handle, "latitudes");
  ASSERT_FALSE(latitudes);
  EXPECT_EQ(latitudes.error().message(), "latitudes array of 32768 x 16384 points is too large");
}

// key_shape describes what get_key answers without building it, and
// read_double_array_into writes what get_double_array gives: on every kind
// of handle, for every computed key and a few derived and unknown ones.
struct ShapeCase {
  const char* name;
  HandleRecord (*make)();
};

HandleRecord shape_handle_regular() { return test::handle_from_bytes(regular_grid_message()); }
HandleRecord shape_handle_failed() {
  DerivedKeys derived;
  derived.set("latitudes", KeyValue{std::vector<double>{1, 2}});
  derived.set("centre", KeyValue{std::string("ecmf")});
  return test::handle_with(fail("bad data"), derived);
}
HandleRecord shape_handle_no_axes() {
  DerivedKeys derived;
  derived.set("iDirectionIncrementInDegrees", KeyValue{0.25});
  return test::handle_with(test::decoded_field({1, 2, 3}, 3, 1), derived);
}
HandleRecord shape_handle_one_column() {
  return test::handle_with(test::decoded_field({1, 2, 3}, 1, 3, test::axes({10, 20, 30}, {5})));
}
HandleRecord shape_handle_oversized() {
  return test::handle_with(test::decoded_field(
      {1}, 1, 1, test::axes(std::vector<double>(1 << 15, 0.0), std::vector<double>(1 << 14, 0.0))));
}

class KeyShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(KeyShapes, AgreeWithTheBuiltValues) {
  const HandleRecord handle = GetParam().make();
  for (const char* key :
       {"values", "latitudes", "longitudes", "distinctLatitudes", "distinctLongitudes", "numberOfMissing",
        "iDirectionIncrementInDegrees", "jDirectionIncrementInDegrees", "latitudeOfFirstGridPointInDegrees",
        "latitudeOfLastGridPointInDegrees", "longitudeOfFirstGridPointInDegrees",
        "longitudeOfLastGridPointInDegrees", "edition", "centre", "shortName", "noSuchKey"}) {
    SCOPED_TRACE(key);
    const auto value = get_key(handle, key);
    const auto shape = key_shape(handle, key);
    ASSERT_EQ(static_cast<bool>(value), static_cast<bool>(shape));
    if (!value) {
      EXPECT_EQ(shape.error().kind, value.error().kind);
      EXPECT_EQ(shape.error().message(), value.error().message());
      continue;
    }
    EXPECT_EQ(shape->tag, value->tag());
    std::uint64_t size = 1;
    if (value->tag() == KeyTag::String) size = std::get<std::string>(value->value).size();
    if (value->tag() == KeyTag::DoubleArray) size = std::get<std::vector<double>>(value->value).size();
    EXPECT_EQ(shape->size, size);

    std::vector<double> out(shape->size, -1.0);
    const auto written = read_double_array_into(handle, key, out);
    if (value->tag() != KeyTag::DoubleArray) {
      ASSERT_FALSE(written);
      EXPECT_EQ(written.error().message(), get_double_array(handle, key).error().message());
      continue;
    }
    ASSERT_TRUE(written) << written.error().message();
    EXPECT_EQ(out, std::get<std::vector<double>>(value->value));
    std::vector<double> wrong(shape->size + 1);
    EXPECT_FALSE(read_double_array_into(handle, key, wrong)) << "a buffer of the wrong size is refused";
  }
}

INSTANTIATE_TEST_SUITE_P(Handles, KeyShapes,
                         ::testing::Values(ShapeCase{"regular", shape_handle_regular},
                                           ShapeCase{"failed_decode", shape_handle_failed},
                                           ShapeCase{"decoded_without_axes", shape_handle_no_axes},
                                           ShapeCase{"one_column", shape_handle_one_column},
                                           ShapeCase{"oversized_axes", shape_handle_oversized}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TypedReaders, ConvertDerivedValuesByTheirRules) {
  DerivedKeys derived;
  derived.set("plus", KeyValue{std::string("+42")});
  derived.set("spaced", KeyValue{std::string(" 42")});
  derived.set("decimal", KeyValue{std::string("4.2")});
  derived.set("thousand", KeyValue{std::string("1e3")});
  derived.set("word", KeyValue{std::string("abc")});
  derived.set("ratio", KeyValue{2.7});
  derived.set("count", KeyValue{std::int64_t{-7}});
  const HandleRecord handle = test::handle_with(fail("unused"), derived);
  EXPECT_EQ(*get_long(handle, "plus"), 42);
  EXPECT_EQ(get_long(handle, "spaced").error().message(), "key 'spaced' cannot be read as long; actual type is string");
  EXPECT_FALSE(get_long(handle, "decimal"));
  EXPECT_EQ(*get_double(handle, "thousand"), 1000.0);
  EXPECT_EQ(get_double(handle, "word").error().message(), "key 'word' cannot be read as double; actual type is string");
  EXPECT_EQ(*get_long(handle, "ratio"), 2);
  EXPECT_EQ(*get_string(handle, "ratio"), "2.7");
  EXPECT_EQ(*get_string(handle, "count"), "-7");
  EXPECT_EQ(*get_double(handle, "count"), -7.0);
  EXPECT_EQ(*get_string(handle, "word"), "abc");
}

}  // namespace
}  // namespace vorlak
