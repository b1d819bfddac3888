// The generated template layouts and the walker that reads them: every
// described template round-trips through the test builder, groups are
// placed after the groups before them, and counts that do not fit the
// section make entries absent without reading past it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <set>
#include <string>

#include "grib/template_walk.hpp"
#include "support/template_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;
using test::g2_template_section;
using test::kMissingValue;

Bytes span_of(const ByteVec& v) { return {v.data(), v.size()}; }

std::uint16_t key(std::string_view name) {
  const auto id = template_key_id(name);
  EXPECT_TRUE(id) << name;
  return id.value_or(0);
}

// Entries of the group that holds the entry field `name`; 0 when the group
// is not located.
std::uint32_t entries(const TemplateReader& r, std::string_view name) {
  return r.count(*r.layout()->find(key(name)));
}

std::optional<std::int64_t> value(const TemplateReader& r, std::string_view name, std::uint32_t entry = 0) {
  const auto v = r.find(key(name), entry);
  if (!v) return std::nullopt;
  return v->value();
}

TEST(TemplateLayouts, KeyNamesAreSortedUniqueIdentifiers) {
  ASSERT_GT(template_key_count(), 100u);
  for (std::uint16_t k = 0; k < template_key_count(); ++k) {
    const std::string_view name = template_key_name(k);
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(name[0]))) << name;
    if (k) {
      EXPECT_LT(template_key_name(k - 1), name);
    }
    EXPECT_EQ(template_key_id(name), k);
  }
  EXPECT_FALSE(template_key_id("noSuchKey"));
}

TEST(TemplateLayouts, LookupBySectionAndNumber) {
  for (const TemplateLayout& l : all_templates()) {
    EXPECT_EQ(find_template(l.section, l.number), &l);
    EXPECT_LE(l.group_count, TemplateReader::kMaxGroups);
  }
  EXPECT_TRUE(find_template(4, 8));
  EXPECT_TRUE(find_template(3, 30));
  EXPECT_TRUE(find_template(5, 42));
  EXPECT_FALSE(find_template(4, 40033));  // local templates are not described
  EXPECT_FALSE(find_template(6, 0));
}

// Distinct values in every field of every template, with two entries per
// group: each reads back exactly, so no two fields overlap and every group
// is placed where the builder put it.
TEST(TemplateLayouts, EveryTemplateRoundTrips) {
  int checked = 0;
  for (const TemplateLayout& l : all_templates()) {
    SCOPED_TRACE(std::to_string(l.section) + "." + std::to_string(l.number));
    std::vector<test::TemplateValue> values;
    std::set<std::size_t> counts;
    for (std::size_t g = 0; g < l.group_count; ++g) {
      if (l.group(g).count_field != kRemaining) counts.insert(l.group(g).count_field);
      if (l.group(g).width_field != kNoField) counts.insert(l.group(g).width_field);
    }
    auto sample = [](std::size_t i, std::uint32_t e, unsigned width) {
      const std::int64_t v = static_cast<std::int64_t>(3 + 7 * i + 5 * e);
      return width == 1 ? v % 100 : v;
    };
    for (std::size_t i = 0; i < l.size(); ++i) {
      const TemplateField& f = l.field(i);
      const std::string_view name = template_key_name(f.key);
      if (counts.count(i) || name.ends_with("TemplateNumber")) continue;
      if (f.group == 0) {
        values.push_back({name, {sample(i, 0, f.width)}});
      } else {
        const unsigned width = f.width ? f.width : 2;
        values.push_back({name, {sample(i, 0, width), sample(i, 1, width)}});
      }
    }
    // Keys repeated within a template (none are) would make this ambiguous.
    const ByteVec s = g2_template_section(l.section, l.number, values);
    const TemplateReader r(&l, span_of(s));
    for (std::size_t i = 0; i < l.size(); ++i) {
      const TemplateField& f = l.field(i);
      if (counts.count(i) || template_key_name(f.key).ends_with("TemplateNumber")) continue;
      const std::uint32_t entries = f.group ? 2 : 1;
      ASSERT_EQ(r.count(i), entries) << template_key_name(f.key);
      for (std::uint32_t e = 0; e < entries; ++e) {
        const auto v = r.get(i, e);
        ASSERT_TRUE(v) << template_key_name(f.key);
        const unsigned width = f.width ? f.width : 2;
        EXPECT_EQ(static_cast<std::int64_t>(v->raw), sample(i, e, width)) << template_key_name(f.key) << " entry " << e;
      }
    }
    ++checked;
  }
  EXPECT_GT(checked, 200);
}

TEST(TemplateWalk, StatisticalTemplateWithTwoTimeRanges) {
  const ByteVec s = g2_template_section(
      4, 8,
      {{"forecastTime", {-7}}, {"typeOfStatisticalProcessing", {2, 1}}, {"lengthOfTimeRange", {23, 1}},
       {"indicatorOfUnitForTimeRange", {1, 1}}, {"yearOfEndOfOverallTimeInterval", {2024}}});
  ASSERT_EQ(s.size(), 70u);  // 46 octets, two 12-octet time ranges
  const TemplateReader r(find_template(4, 8), span_of(s));
  EXPECT_EQ(value(r, "numberOfTimeRanges"), 2);
  EXPECT_EQ(value(r, "forecastTime"), -7);
  EXPECT_EQ(value(r, "typeOfStatisticalProcessing", 0), 2);
  EXPECT_EQ(value(r, "typeOfStatisticalProcessing", 1), 1);
  EXPECT_EQ(value(r, "lengthOfTimeRange", 1), 1);
  EXPECT_FALSE(value(r, "lengthOfTimeRange", 2));
  EXPECT_EQ(s[47 - 1], 2);  // the outermost time range at octet 47
  EXPECT_EQ(s[59 - 1], 1);  // the next one 12 octets on
  EXPECT_EQ(value(r, "yearOfEndOfOverallTimeInterval"), 2024);
}

TEST(TemplateWalk, FieldsAfterAGroupFollowItsEntries) {
  // 4.105: NT time ranges, NA additional parameters, then fixed fields.
  const ByteVec s = g2_template_section(4, 105,
                                        {{"typeOfStatisticalProcessing", {0, 1, 2}},
                                         {"scaleFactorOfAdditionalParametersForReferencePeriod", {1}},
                                         {"yearOfStartOfReferencePeriod", {1991}}});
  const TemplateReader r(find_template(4, 105), span_of(s));
  EXPECT_EQ(value(r, "numberOfTimeRanges"), 3);
  EXPECT_EQ(value(r, "yearOfStartOfReferencePeriod"), 1991);
  // WMO: (62+(NT-1)*12+NA*5) with NT 3 and NA 1.
  EXPECT_EQ(s[62 + 2 * 12 + 5 - 1] * 256 + s[63 + 2 * 12 + 5 - 1], 1991);
}

TEST(TemplateWalk, CountBeyondTheSectionMakesEntriesAndLaterFieldsAbsent) {
  // 4.30 with one band of 10 octets but NB = 5.
  ByteVec s = g2_template_section(4, 30, {{"satelliteSeries", {333}}, {"numberOfContributingSpectralBands", {5}}});
  s.resize(24);
  s[3] = 24;
  const TemplateReader r(find_template(4, 30), span_of(s));
  EXPECT_EQ(value(r, "parameterCategory"), 0);
  EXPECT_EQ(value(r, "numberOfContributingSpectralBands"), 5);
  EXPECT_EQ(entries(r, "satelliteSeries"), 0u);
  EXPECT_FALSE(value(r, "satelliteSeries"));
  EXPECT_FALSE(value(r, "pv"));
  // With NB = 1 the same bytes hold the band.
  s[14 - 1] = 1;
  const TemplateReader one(find_template(4, 30), span_of(s));
  EXPECT_EQ(value(one, "satelliteSeries"), 333);
  EXPECT_EQ(entries(one, "satelliteSeries"), 1u);
}

TEST(TemplateWalk, HugeCountsAreRefusedWithoutReading) {
  ByteVec s = g2_template_section(4, 8, {});
  s[42 - 1] = 255;  // 255 time ranges in a 46-octet section
  const TemplateReader r(find_template(4, 8), span_of(s));
  EXPECT_EQ(entries(r, "typeOfStatisticalProcessing"), 0u);
  EXPECT_FALSE(value(r, "typeOfStatisticalProcessing"));
  EXPECT_EQ(value(r, "numberOfTimeRanges"), 255);
}

TEST(TemplateWalk, ShortSectionKeepsTheFieldsItHolds) {
  ByteVec s = g2_template_section(4, 0, {{"typeOfFirstFixedSurface", {103}}, {"typeOfSecondFixedSurface", {255}}});
  s.resize(25);
  const TemplateReader r(find_template(4, 0), span_of(s));
  EXPECT_EQ(value(r, "typeOfFirstFixedSurface"), 103);
  EXPECT_TRUE(value(r, "scaleFactorOfFirstFixedSurface"));
  EXPECT_FALSE(value(r, "scaledValueOfFirstFixedSurface"));  // octets 25-28: only 25 is there
  EXPECT_FALSE(value(r, "typeOfSecondFixedSurface"));
}

TEST(TemplateWalk, UndescribedTemplateReadsNothing) {
  const ByteVec s = g2_template_section(4, 0, {});
  const TemplateReader r(nullptr, span_of(s));
  EXPECT_FALSE(r.find(key("parameterCategory")));
  EXPECT_EQ(r.count(0), 0u);
}

struct SignCase {
  const char* label;
  std::uint64_t raw;
  std::uint8_t width;
  SignRule sign;
  std::int64_t expected;
  bool missing;
};

class TemplateSigns : public ::testing::TestWithParam<SignCase> {};

TEST_P(TemplateSigns, ValueAndMissing) {
  const SignCase& c = GetParam();
  const FieldValue v{c.raw, c.width, c.sign};
  EXPECT_EQ(v.value(), c.expected);
  EXPECT_EQ(v.missing(), c.missing);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TemplateSigns,
    ::testing::Values(SignCase{"forecast_minus_7", 0xFFFFFFF9u, 4, SignRule::TwosComplement, -7, false},
                      SignCase{"length_minus_24", 0xFFFFFFE8u, 4, SignRule::TwosComplement, -24, false},
                      SignCase{"two_octet_forecast", 0xFFFE, 2, SignRule::TwosComplement, -2, false},
                      SignCase{"latitude_south", 0x80000000u | 45000000u, 4, SignRule::SignMagnitude, -45000000, false},
                      SignCase{"scale_sign_magnitude", 0x82, 1, SignRule::ScaleFactor, -2, false},
                      SignCase{"scale_twos_complement", 0xFE, 1, SignRule::ScaleFactor, -2, false},
                      SignCase{"scale_positive", 0x03, 1, SignRule::ScaleFactor, 3, false},
                      SignCase{"scale_missing", 0xFF, 1, SignRule::ScaleFactor, -1, true},
                      SignCase{"unsigned_missing", 0xFFFFFFFFu, 4, SignRule::Unsigned, 4294967295, true},
                      SignCase{"scaled_missing", 0xFFFFFFFFu, 4, SignRule::SignMagnitude, -2147483647, true},
                      SignCase{"eight_octets", ~std::uint64_t{0}, 8, SignRule::Unsigned,
                               std::numeric_limits<std::int64_t>::max(), true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TemplateWalk, PointsPerRowListTakesItsWidthFromOctet11) {
  const ByteVec s = g2_template_section(3, 0, {{"Ni", {4294967295}}, {"Nj", {3}}, {"pl", {20, 24, 20}}});
  ASSERT_EQ(s.size(), 72u + 6);
  const TemplateReader r(find_template(3, 0), span_of(s));
  EXPECT_EQ(value(r, "numberOfOctetsForNumberOfPoints"), 2);
  EXPECT_EQ(entries(r, "pl"), 3u);
  EXPECT_EQ(value(r, "pl", 1), 24);
  EXPECT_TRUE(r.find(key("Ni"))->missing());
  // Octet 11 = 0: no list, whatever follows.
  ByteVec none = s;
  none[11 - 1] = 0;
  EXPECT_EQ(entries(TemplateReader(find_template(3, 0), span_of(none)), "pl"), 0u);
}

TEST(TemplateWalk, IeeeFieldsReadAsFloats) {
  const ByteVec s = g2_template_section(5, 0, {{"referenceValue", {0x3FC00000}}, {"binaryScaleFactor", {-3}}});
  const TemplateReader r(find_template(5, 0), span_of(s));
  EXPECT_DOUBLE_EQ(r.find(key("referenceValue"))->real(), 1.5);
  EXPECT_EQ(value(r, "binaryScaleFactor"), -3);
}

}  // namespace
}  // namespace vorlak
