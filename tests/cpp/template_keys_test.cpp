// Keys that follow the product template, from messages the builders make:
// statistical time ranges (negative forecast times, stated ends, two
// ranges, units), ensembles, derived forecasts, probabilities,
// percentiles, layers, chemistry and satellites at their own octets,
// undescribed templates; GRIB1 time ranges, units and layers; and the key
// set of plain template 4.0 fields, which does not change.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/handle_record.hpp"
#include "core/key_lookup.hpp"
#include "support/message_builder.hpp"
#include "support/synthetic_handle.hpp"
#include "support/template_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;
using test::kMissingValue;
using test::TemplateValue;
using Expected = std::map<std::string, std::variant<std::int64_t, double, std::string, std::nullopt_t>>;

// One field on the 4 x 3 grid with this section 4 and reference time.
ByteVec product_message(const ByteVec& section4, test::G2Identification id = {}) {
  const auto packed = test::pack_simple(std::vector<double>(12, 1.0), 8);
  return test::grib2_message({test::g2_section1(id), test::g2_section3_latlon({}), section4,
                              test::g2_section5_simple(packed), test::g2_section6_none(),
                              test::g2_section7(packed.data)});
}

void expect_keys(const HandleRecord& h, const Expected& expected) {
  for (const auto& [key, want] : expected) {
    SCOPED_TRACE(key);
    const KeyValue* got = h.derived.find(key);
    if (std::holds_alternative<std::nullopt_t>(want)) {
      EXPECT_EQ(got, nullptr);
      continue;
    }
    ASSERT_NE(got, nullptr);
    if (const auto* v = std::get_if<std::int64_t>(&want)) {
      ASSERT_EQ(got->tag(), KeyTag::Long);
      EXPECT_EQ(std::get<std::int64_t>(got->value), *v);
    } else if (const auto* d = std::get_if<double>(&want)) {
      ASSERT_EQ(got->tag(), KeyTag::Double);
      EXPECT_DOUBLE_EQ(std::get<double>(got->value), *d);
    } else {
      ASSERT_EQ(got->tag(), KeyTag::String);
      EXPECT_EQ(std::get<std::string>(got->value), std::get<std::string>(want));
    }
  }
}

std::vector<TemplateValue> with(std::vector<TemplateValue> values, const std::vector<TemplateValue>& more) {
  values.insert(values.end(), more.begin(), more.end());
  return values;
}

// The end of an overall time interval.
std::vector<TemplateValue> ends_at(std::int64_t y, std::int64_t mo, std::int64_t d, std::int64_t h) {
  return {{"yearOfEndOfOverallTimeInterval", {y}}, {"monthOfEndOfOverallTimeInterval", {mo}},
          {"dayOfEndOfOverallTimeInterval", {d}}, {"hourOfEndOfOverallTimeInterval", {h}}};
}

const std::vector<TemplateValue> kSurface = {{"typeOfFirstFixedSurface", {1}}, {"typeOfSecondFixedSurface", {255}},
                                             {"indicatorOfUnitOfTimeRange", {1}}};

struct ProductCase {
  const char* label;
  std::uint16_t product_template;
  std::vector<TemplateValue> values;
  test::G2Identification reference;
  Expected expected;
};

class TemplateKeys : public ::testing::TestWithParam<ProductCase> {};

TEST_P(TemplateKeys, Derived) {
  const ProductCase& c = GetParam();
  const HandleRecord h =
      test::handle_from_bytes(product_message(test::g2_template_section(4, c.product_template, c.values),
                                              c.reference));
  ASSERT_TRUE(h.memo) << "not scanned";
  expect_keys(h, c.expected);
  // Whatever the template, the values decode.
  EXPECT_TRUE(h.decoded());
}

const test::G2Identification kRef{.year = 2024, .month = 5, .day = 16, .hour = 12};
const std::nullopt_t absent = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Products, TemplateKeys,
    ::testing::Values(
        // AQM's daily maximum: forecast time -7 h (0xFFFFFFF9), 23 h, ending
        // 2024-05-17 04:00.
        ProductCase{"aqm_daily_maximum", 8,
                    with(with(kSurface, ends_at(2024, 5, 17, 4)),
                         {{"forecastTime", {-7}}, {"typeOfStatisticalProcessing", {2}},
                          {"indicatorOfUnitForTimeRange", {1}}, {"lengthOfTimeRange", {23}}}),
                    kRef,
                    {{"forecastTime", std::int64_t{-7}}, {"startStep", std::int64_t{-7}},
                     {"endStep", std::int64_t{16}}, {"stepRange", std::string("-7-16")},
                     {"stepType", std::string("max")}, {"stepUnits", std::int64_t{1}},
                     {"validityDate", std::int64_t{20240517}}, {"validityTime", std::int64_t{400}},
                     {"dataType", std::string("fc")}, {"numberOfTimeRanges", std::int64_t{1}},
                     {"typeOfStatisticalProcessing", std::int64_t{2}}, {"lengthOfTimeRange", std::int64_t{23}}}},
        // CMC's 24-hour analysis: forecast time 24 h, length -24 h, ending at
        // the reference time: the 24 hours before it.
        ProductCase{"cmc_24h_analysis", 8,
                    with(with(kSurface, ends_at(2023, 12, 18, 6)),
                         {{"forecastTime", {24}}, {"typeOfStatisticalProcessing", {1}},
                          {"indicatorOfUnitForTimeRange", {1}}, {"lengthOfTimeRange", {-24}}}),
                    {.year = 2023, .month = 12, .day = 18, .hour = 6},
                    {{"startStep", std::int64_t{-24}}, {"endStep", std::int64_t{0}},
                     {"stepRange", std::string("-24-0")}, {"stepType", std::string("accum")},
                     {"validityDate", std::int64_t{20231218}}, {"validityTime", std::int64_t{600}}}},
        // Two time ranges: the outermost (first) one counts.
        ProductCase{"two_time_ranges", 8,
                    with(with(kSurface, ends_at(2024, 5, 17, 12)),
                         {{"forecastTime", {0}}, {"typeOfStatisticalProcessing", {0, 2}},
                          {"indicatorOfUnitForTimeRange", {1, 1}}, {"lengthOfTimeRange", {24, 1}}}),
                    kRef,
                    {{"stepRange", std::string("0-24")}, {"stepType", std::string("avg")},
                     {"numberOfTimeRanges", std::int64_t{2}}, {"validityDate", std::int64_t{20240517}},
                     {"validityTime", std::int64_t{1200}}}},
        // Forecast time in hours, length in minutes: steps in minutes.
        ProductCase{"finer_unit", 8,
                    with(with(kSurface, ends_at(2024, 5, 16, 13)),
                         {{"forecastTime", {1}}, {"typeOfStatisticalProcessing", {1}},
                          {"indicatorOfUnitForTimeRange", {0}}, {"lengthOfTimeRange", {30}},
                          {"minuteOfEndOfOverallTimeInterval", {30}}}),
                    kRef,
                    {{"stepUnits", std::int64_t{0}}, {"startStep", std::int64_t{60}}, {"endStep", std::int64_t{90}},
                     {"stepRange", std::string("60-90")}, {"validityTime", std::int64_t{1330}}}},
        // No date in the end fields: the forecast time and length alone.
        ProductCase{"no_stated_end", 8,
                    with(kSurface, {{"forecastTime", {6}}, {"typeOfStatisticalProcessing", {3}},
                                    {"indicatorOfUnitForTimeRange", {1}}, {"lengthOfTimeRange", {6}}}),
                    kRef,
                    {{"stepRange", std::string("6-12")}, {"stepType", std::string("min")},
                     {"validityDate", std::int64_t{20240517}}, {"validityTime", std::int64_t{0}}}},
        ProductCase{"unlisted_statistic", 8,
                    with(kSurface, {{"typeOfStatisticalProcessing", {8}}, {"indicatorOfUnitForTimeRange", {1}},
                                    {"lengthOfTimeRange", {3}}}),
                    kRef, {{"stepType", std::string("unknown")}, {"stepRange", std::string("0-3")}}},
        ProductCase{"ensemble_member", 1,
                    with(kSurface, {{"forecastTime", {6}}, {"typeOfEnsembleForecast", {3}},
                                    {"perturbationNumber", {7}}, {"numberOfForecastsInEnsemble", {20}}}),
                    kRef,
                    {{"number", std::int64_t{7}}, {"perturbationNumber", std::int64_t{7}},
                     {"typeOfEnsembleForecast", std::int64_t{3}}, {"numberOfForecastsInEnsemble", std::int64_t{20}},
                     {"stepType", std::string("instant")}, {"stepRange", std::string("6")},
                     {"startStep", absent}, {"typeOfFirstFixedSurface", absent}}},
        ProductCase{"ensemble_mean", 2, with(kSurface, {{"derivedForecast", {0}}, {"numberOfForecastsInEnsemble", {51}}}),
                    kRef, {{"derivedForecast", std::int64_t{0}}, {"number", absent}}},
        ProductCase{"probability_lower_limit", 5,
                    with(kSurface, {{"probabilityType", {1}}, {"scaleFactorOfLowerLimit", {1}},
                                    {"scaledValueOfLowerLimit", {25}}, {"scaleFactorOfUpperLimit", {kMissingValue}},
                                    {"scaledValueOfUpperLimit", {kMissingValue}}}),
                    kRef,
                    {{"lowerLimit", 2.5}, {"upperLimit", absent}, {"probabilityType", std::int64_t{1}},
                     {"scaledValueOfUpperLimit", std::int64_t{4294967295}}, {"scaleFactorOfUpperLimit", std::int64_t{255}}}},
        ProductCase{"probability_both_limits", 5,
                    with(kSurface, {{"probabilityType", {2}}, {"scaleFactorOfLowerLimit", {-2}},
                                    {"scaledValueOfLowerLimit", {3}}, {"scaleFactorOfUpperLimit", {0}},
                                    {"scaledValueOfUpperLimit", {-5}}}),
                    kRef, {{"lowerLimit", 300.0}, {"upperLimit", -5.0}}},
        ProductCase{"percentile", 6, with(kSurface, {{"percentileValue", {90}}}), kRef,
                    {{"percentileValue", std::int64_t{90}}, {"stepType", std::string("instant")}}},
        // Chemistry (4.40): constituent type at 12-13 shifts the first
        // surface and the forecast time two octets on.
        ProductCase{"chemical_constituent", 40,
                    {{"constituentType", {10008}}, {"typeOfFirstFixedSurface", {103}},
                     {"scaledValueOfFirstFixedSurface", {2}}, {"typeOfSecondFixedSurface", {255}},
                     {"indicatorOfUnitOfTimeRange", {1}}, {"forecastTime", {3}}, {"generatingProcessIdentifier", {81}}},
                    kRef,
                    {{"constituentType", std::int64_t{10008}}, {"typeOfLevel", std::string("heightAboveGround")},
                     {"level", 2.0}, {"forecastTime", std::int64_t{3}}, {"generatingProcessIdentifier", std::int64_t{81}},
                     {"validityTime", std::int64_t{1500}}}},
        // Wave template 4.103: significant wave height at its surface, not
        // at template 4.0's octets.
        ProductCase{"wave_periods", 103,
                    {{"typeOfWavePeriodInterval", {7}}, {"scaledValueOfLowerWavePeriodLimit", {10}},
                     {"typeOfFirstFixedSurface", {101}}, {"typeOfSecondFixedSurface", {255}}},
                    kRef,
                    {{"typeOfLevel", std::string("meanSea")}, {"level", 0.0},
                     {"scaledValueOfLowerWavePeriodLimit", std::int64_t{10}}}},
        // A satellite template of 25 octets: no level, no time, its band's keys.
        ProductCase{"satellite_one_band", 31,
                    {{"satelliteSeries", {333}}, {"satelliteNumber", {72}}, {"instrumentType", {207}},
                     {"scaleFactorOfCentralWaveNumber", {0}}, {"scaledValueOfCentralWaveNumber", {93000}}},
                    kRef,
                    {{"satelliteSeries", std::int64_t{333}}, {"scaledValueOfCentralWaveNumber", std::int64_t{93000}},
                     {"typeOfLevel", std::string("unknown")}, {"forecastTime", absent}, {"stepRange", absent}}},
        // A template the WMO tables do not describe (written with 4.0's
        // layout and another number): listed, decodable, and nothing read at
        // another template's octets.
        ProductCase{"undescribed", 0,
                    {{"productDefinitionTemplateNumber", {40033}}, {"typeOfFirstFixedSurface", {103}},
                     {"scaledValueOfFirstFixedSurface", {2}}},
                    kRef,
                    {{"productDefinitionTemplateNumber", std::int64_t{40033}}, {"typeOfLevel", std::string("unknown")},
                     {"level", 0.0}, {"forecastTime", absent}, {"parameterCategory", std::int64_t{0}}}}),
    [](const auto& info) { return std::string(info.param.label); });

struct LayerCase {
  const char* label;
  std::int64_t type1, factor1, value1, type2, factor2, value2;
  const char* type_of_level;
  double level, top, bottom;
};

class LayerKeys : public ::testing::TestWithParam<LayerCase> {};

TEST_P(LayerKeys, TwoSurfaces) {
  const LayerCase& c = GetParam();
  const HandleRecord h = test::handle_from_bytes(product_message(test::g2_template_section(
      4, 0,
      {{"typeOfFirstFixedSurface", {c.type1}}, {"scaleFactorOfFirstFixedSurface", {c.factor1}},
       {"scaledValueOfFirstFixedSurface", {c.value1}}, {"typeOfSecondFixedSurface", {c.type2}},
       {"scaleFactorOfSecondFixedSurface", {c.factor2}}, {"scaledValueOfSecondFixedSurface", {c.value2}}})));
  expect_keys(h, {{"typeOfLevel", std::string(c.type_of_level)}, {"levelType", std::string(c.type_of_level)},
                  {"level", c.level}, {"topLevel", c.top}, {"bottomLevel", c.bottom},
                  {"typeOfFirstFixedSurface", c.type1}, {"typeOfSecondFixedSurface", c.type2}});
}

INSTANTIATE_TEST_SUITE_P(
    Surfaces, LayerKeys,
    ::testing::Values(LayerCase{"soil_0_10cm", 106, 0, 0, 106, 1, 1, "depthBelowLandLayer", 0.0, 0.0, 0.1},
                      LayerCase{"soil_0_200cm", 106, 0, 0, 106, 0, 2, "depthBelowLandLayer", 0.0, 0.0, 2.0},
                      LayerCase{"helicity_3000_0m", 103, 0, 3000, 103, 0, 0, "heightAboveGroundLayer", 3000.0, 3000.0,
                                0.0},
                      LayerCase{"isobaric_500_1000", 100, 0, 50000, 100, 0, 100000, "isobaricLayer", 500.0, 500.0,
                                1000.0},
                      // Two types: the first surface names the field.
                      LayerCase{"surface_to_top", 1, 0, 0, 8, 0, 0, "surface", 0.0, 0.0, 0.0}),
    [](const auto& info) { return std::string(info.param.label); });

// A plain template 4.0 field has exactly the keys it had before templates
// were read: reading the bytes adds nothing to what the record gives.
TEST(TemplateKeySets, Template0WithoutSecondSurfaceIsUnchanged) {
  const ByteVec message = product_message(test::g2_section4({.forecast_time = 6, .level_type = 100}));
  const HandleRecord h = test::handle_from_bytes(message);
  const DerivedKeys record_only = derive_keys(FieldView{h.record, {}, h.grid_size_known, h.grid_size});
  ASSERT_EQ(h.derived.entries().size(), record_only.entries().size());
  for (std::size_t i = 0; i < record_only.entries().size(); ++i) {
    EXPECT_EQ(h.derived.entries()[i].first, record_only.entries()[i].first);
  }
  EXPECT_FALSE(h.derived.contains("startStep"));
  EXPECT_FALSE(h.derived.contains("typeOfFirstFixedSurface"));
}

// Every field of the field's templates, for the field API.
TEST(TemplateKeySets, AllKeysIncludeEveryTemplateField) {
  const ByteVec message =
      product_message(test::g2_template_section(4, 1, with(kSurface, {{"perturbationNumber", {4}}})));
  const HandleRecord h = test::handle_from_bytes(message);
  const DerivedKeys all = derive_keys(FieldView{h.record, message, h.grid_size_known, h.grid_size}, KeySet::All);
  for (const char* key : {"Ni", "latitudeOfFirstGridPoint", "shapeOfTheEarth", "typeOfFirstFixedSurface",
                          "scaledValueOfSecondFixedSurface", "perturbationNumber", "referenceValue",
                          "decimalScaleFactor", "number", "shortName"}) {
    EXPECT_TRUE(all.contains(key)) << key;
  }
  EXPECT_EQ(std::get<std::int64_t>(all.find("perturbationNumber")->value), 4);
  EXPECT_FALSE(h.derived.contains("Ni"));  // not a key of vorlak._vorlak
  // Keys stay unique and sorted when three templates contribute.
  for (std::size_t i = 1; i < all.entries().size(); ++i) {
    EXPECT_LT(all.entries()[i - 1].first, all.entries()[i].first);
  }
}

// The second field of a message, derived on its own.
TEST(TemplateKeySets, AnyFieldOfAMessage) {
  const auto packed = test::pack_simple(std::vector<double>(12, 1.0), 8);
  const ByteVec message = test::grib2_message(
      {test::g2_section1({}), test::g2_section3_latlon({}),
       test::g2_template_section(4, 1, with(kSurface, {{"perturbationNumber", {1}}})), test::g2_section5_simple(packed),
       test::g2_section6_none(), test::g2_section7(packed.data),
       test::g2_template_section(4, 1, with(kSurface, {{"perturbationNumber", {2}}})), test::g2_section5_simple(packed),
       test::g2_section6_none(), test::g2_section7(packed.data)});
  const auto scan = scan_messages(message);
  ASSERT_TRUE(scan);
  ASSERT_EQ(scan->fields.size(), 2u);
  const MessageRecord& last = scan->records[0];
  for (std::int64_t k = 0; k < 2; ++k) {
    const auto field = summarise_field(message, last, scan->fields[static_cast<std::size_t>(k)]);
    ASSERT_TRUE(field) << field.error();
    const DerivedKeys keys = derive_keys(FieldView{*field, message, true, 12}, KeySet::All);
    EXPECT_EQ(std::get<std::int64_t>(keys.find("number")->value), k + 1);
    EXPECT_EQ(std::get<std::int64_t>(keys.find("numberOfPoints")->value), 12);
    EXPECT_TRUE(keys.contains("Ni"));
  }
}

// ---------------------------------------------------------------- GRIB1

struct Grib1Case {
  const char* label;
  test::G1Product pds;
  Expected expected;
};

class Grib1Keys : public ::testing::TestWithParam<Grib1Case> {};

TEST_P(Grib1Keys, TimeRangesUnitsAndLayers) {
  const HandleRecord h = test::handle_from_bytes(test::minimal_grib1(GetParam().pds));
  ASSERT_TRUE(h.memo);
  expect_keys(h, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pds, Grib1Keys,
    ::testing::Values(
        Grib1Case{"instant",
                  {.P1 = 6, .P2 = 0, .time_range = 0},
                  {{"stepRange", std::string("6")}, {"stepType", std::string("instant")},
                   {"timeRangeIndicator", std::int64_t{0}}, {"P1", std::int64_t{6}}, {"P2", std::int64_t{0}},
                   {"startStep", std::int64_t{6}}, {"endStep", std::int64_t{6}}, {"validityTime", std::int64_t{600}}}},
        Grib1Case{"range", {.P1 = 6, .P2 = 12, .time_range = 2},
                  {{"stepRange", std::string("6-12")}, {"stepType", std::string("instant")}}},
        Grib1Case{"average", {.P1 = 0, .P2 = 24, .time_range = 3},
                  {{"stepRange", std::string("0-24")}, {"stepType", std::string("avg")},
                   {"validityDate", std::int64_t{20240102}}, {"validityTime", std::int64_t{0}}}},
        Grib1Case{"accumulation", {.P1 = 6, .P2 = 12, .time_range = 4},
                  {{"stepRange", std::string("6-12")}, {"stepType", std::string("accum")},
                   {"startStep", std::int64_t{6}}, {"endStep", std::int64_t{12}}, {"validityTime", std::int64_t{1200}}}},
        Grib1Case{"difference", {.P1 = 0, .P2 = 3, .time_range = 5}, {{"stepType", std::string("diff")}}},
        // Indicator 10: P1 is octets 19-20 (here 0x0100 = 256 hours).
        Grib1Case{"long_p1", {.P1 = 1, .P2 = 0, .time_range = 10},
                  {{"stepRange", std::string("256")}, {"P2", absent}, {"validityDate", std::int64_t{20240111}}}},
        Grib1Case{"quarter_hours", {.time_unit = 13, .P1 = 3},
                  {{"stepUnits", std::int64_t{0}}, {"stepRange", std::string("45")}, {"forecastTime", std::int64_t{3}},
                   {"validityTime", std::int64_t{45}}}},
        Grib1Case{"half_hours", {.time_unit = 14, .P1 = 3}, {{"stepUnits", std::int64_t{0}}, {"endStep", std::int64_t{90}}}},
        Grib1Case{"seconds", {.time_unit = 254, .P1 = 120},
                  {{"stepUnits", std::int64_t{13}}, {"validityTime", std::int64_t{2}}}},
        Grib1Case{"isobaric_layer_kpa", {.level_type = 101, .level = (50 << 8) | 100},
                  {{"typeOfLevel", std::string("isobaricLayer")}, {"level", 50.0}, {"topLevel", 50.0},
                   {"bottomLevel", 100.0}, {"typeOfSecondFixedSurface", absent}}},
        Grib1Case{"sigma_layer", {.level_type = 108, .level = (95 << 8) | 100},
                  {{"typeOfLevel", std::string("sigmaLayer")}, {"topLevel", 95.0}, {"bottomLevel", 100.0}}},
        Grib1Case{"single_level", {.level_type = 105, .level = 0x0102},
                  {{"typeOfLevel", std::string("heightAboveGround")}, {"level", 258.0}, {"topLevel", absent}}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace vorlak
