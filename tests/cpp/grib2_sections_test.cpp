// GRIB2 sections: section 3 and 5 parsing with their refusals, the scanning
// walk's record fields, and the decoding walk's sections and bitmap.
#include "grib/grib2_sections.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/message_builder.hpp"
#include "support/template_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;

// A section cut (or padded with zeros) to `length` octets, its length field rewritten.
ByteVec resized(ByteVec section, std::size_t length) {
  section.resize(length, 0);
  if (length >= 4) {
    section[0] = static_cast<std::uint8_t>(length >> 24);
    section[1] = static_cast<std::uint8_t>(length >> 16);
    section[2] = static_cast<std::uint8_t>(length >> 8);
    section[3] = static_cast<std::uint8_t>(length);
  }
  return section;
}

std::string error_of(const Result<GridSummary>& r) { return r ? "" : r.error(); }
std::string error_of(const Result<DataRepresentation>& r) { return r ? "" : r.error(); }

// ---------------------------------------------------------------- section 3

struct Section3Length {
  ByteVec section;
  std::size_t length;
  const char* error;  // "" when accepted
};

TEST(Grib2Section3, LengthRefusals) {
  const ByteVec latlon = test::g2_section3_latlon({});
  const ByteVec gauss = test::g2_section3_latlon({.N = 2});
  const ByteVec lambert = test::g2_section3_lambert({});
  const ByteVec polar = test::g2_section3_polar({});
  const ByteVec mercator = test::g2_section3_mercator({});
  const ByteVec other = test::g2_section3_template(101, 0, 0, ByteVec(5, 0));
  const std::vector<Section3Length> cases{
      {latlon, 0, "section 3 too short"},
      {latlon, 13, "section 3 too short"},
      {latlon, 37, "section 3 too short"},
      {latlon, 38, "section 3 template 0 too short"},
      {latlon, 71, "section 3 template 0 too short"},
      {latlon, 72, ""},
      {gauss, 37, "section 3 too short"},
      {gauss, 71, "section 3 template 40 too short"},
      {gauss, 72, ""},
      {lambert, 37, "section 3 too short"},
      {lambert, 80, "section 3 template 30 too short"},
      {lambert, 81, ""},
      {polar, 37, "section 3 too short"},
      {polar, 38, ""},
      {polar, 65, ""},
      {mercator, 37, "section 3 too short"},
      {mercator, 59, ""},
      {other, 13, "section 3 too short"},
      {other, 14, ""},
      {other, 35, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(parse_section3(resized(c.section, c.length))), c.error)
        << "template " << load_u16_be(c.section.data() + 12) << " length " << c.length;
  }
}

TEST(Grib2Section3, LatLonTemplate) {
  auto grid = parse_section3(test::g2_section3_latlon(
      {.Ni = 360, .Nj = 181, .la1 = 90, .lo1 = 0, .la2 = -90, .lo2 = 359, .di = 1, .dj = 1, .scanning_mode = 0x40}));
  ASSERT_TRUE(grid) << grid.error();
  EXPECT_EQ(grid->gridDefinitionTemplateNumber, 0);
  EXPECT_EQ(grid->Ni, 360u);
  EXPECT_EQ(grid->Nj, 181u);
  EXPECT_DOUBLE_EQ(*grid->latitudeOfFirstGridPoint, 90);
  EXPECT_DOUBLE_EQ(*grid->latitudeOfLastGridPoint, -90);
  EXPECT_DOUBLE_EQ(*grid->longitudeOfLastGridPoint, 359);
  EXPECT_DOUBLE_EQ(*grid->iDirectionIncrement, 1);
  EXPECT_DOUBLE_EQ(*grid->jDirectionIncrement, 1);
  EXPECT_FALSE(grid->N);
  EXPECT_EQ(grid->scanningMode, 0x40);
  EXPECT_EQ(grid->projection_kind, 0);
}

TEST(Grib2Section3, AngleUnitFromBasicAngleAndSubdivisions) {
  // 1/8 degree subdivisions: a raw 8 is one degree.
  auto grid = parse_section3(test::g2_section3_latlon(
      {.la1 = 10, .lo1 = -20, .la2 = 9, .lo2 = -17, .di = 0.125, .dj = 0.5, .basic_angle = 1, .subdivisions = 8}));
  ASSERT_TRUE(grid);
  EXPECT_DOUBLE_EQ(*grid->latitudeOfFirstGridPoint, 10);
  EXPECT_DOUBLE_EQ(*grid->longitudeOfFirstGridPoint, -20);
  EXPECT_DOUBLE_EQ(*grid->iDirectionIncrement, 0.125);
  EXPECT_DOUBLE_EQ(*grid->jDirectionIncrement, 0.5);
  // Basic angle 0 with subdivisions missing (all bits set) is the ordinary millionths.
  ByteVec s = test::g2_section3_latlon({.la1 = 12.5});
  for (std::size_t i = 42; i < 46; ++i) s[i] = 0xFF;
  EXPECT_DOUBLE_EQ(*parse_section3(s)->latitudeOfFirstGridPoint, 12.5);
}

TEST(Grib2Section3, GaussianLambertPolarMercatorAndOthers) {
  auto gauss = parse_section3(test::g2_section3_latlon({.Ni = 8, .Nj = 4, .di = 45, .scanning_mode = 0, .N = 2}));
  ASSERT_TRUE(gauss);
  EXPECT_EQ(gauss->gridDefinitionTemplateNumber, 40);
  EXPECT_EQ(gauss->N.value(), 2u);
  EXPECT_FALSE(gauss->jDirectionIncrement);
  EXPECT_DOUBLE_EQ(*gauss->iDirectionIncrement, 45);

  auto lambert = parse_section3(test::g2_section3_lambert({.Nx = 1799, .Ny = 1059, .la1 = 21.138, .lo1 = 237.28,
                                                           .dx_m = 3000, .dy_m = 2500, .scanning_mode = 0x50}));
  ASSERT_TRUE(lambert);
  EXPECT_EQ(lambert->projection_kind, 1);
  EXPECT_EQ(lambert->Ni, 1799u);
  EXPECT_DOUBLE_EQ(*lambert->latitudeOfFirstGridPoint, 21.138);
  EXPECT_DOUBLE_EQ(*lambert->longitudeOfFirstGridPoint, 237.28);
  EXPECT_FALSE(lambert->latitudeOfLastGridPoint);
  EXPECT_DOUBLE_EQ(*lambert->iDirectionIncrement, 3000);
  EXPECT_DOUBLE_EQ(*lambert->jDirectionIncrement, 2500);
  EXPECT_EQ(lambert->scanningMode, 0x50);

  auto polar = parse_section3(test::g2_section3_polar({.scanning_mode = 0x40}));
  ASSERT_TRUE(polar);
  EXPECT_EQ(polar->projection_kind, 2);
  EXPECT_EQ(polar->scanningMode, 0x40);
  EXPECT_FALSE(polar->latitudeOfFirstGridPoint);
  EXPECT_EQ(parse_section3(resized(test::g2_section3_polar({}), 64))->scanningMode, 0);

  auto mercator = parse_section3(test::g2_section3_mercator({.scanning_mode = 0x40}));
  ASSERT_TRUE(mercator);
  EXPECT_EQ(mercator->projection_kind, 3);
  EXPECT_EQ(mercator->scanningMode, 0x40);
  EXPECT_EQ(parse_section3(resized(test::g2_section3_mercator({}), 59))->scanningMode, 0);

  // Every other template: its scanning mode at its own octet (72 for the
  // rotated grid 3.1, as HRDPS writes 0x40), no coordinates.
  ByteVec rotated_body(46, 0xFF);
  rotated_body[72 - 39] = 0x40;
  auto other = parse_section3(test::g2_section3_template(1, 10, 20, rotated_body));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->gridDefinitionTemplateNumber, 1);
  EXPECT_EQ(other->Ni, 10u);
  EXPECT_EQ(other->Nj, 20u);
  EXPECT_EQ(other->scanningMode, 0x40);
  EXPECT_FALSE(other->latitudeOfFirstGridPoint);
  EXPECT_EQ(parse_section3(test::g2_section3_template(1, 10, 20, ByteVec(33, 0xFF)))->scanningMode, 0);  // ends at 71
  ByteVec albers_body(43, 0);
  albers_body[65 - 39] = 0x50;
  EXPECT_EQ(parse_section3(test::g2_section3_template(31, 10, 20, albers_body))->scanningMode, 0x50);
  EXPECT_EQ(parse_section3(test::g2_section3_template(999, 10, 20, ByteVec(40, 0xFF)))->scanningMode, 0);

  // A short section of a grid without rows and columns: one row of all points.
  ByteVec unstructured = test::g2_section3_template(101, 0, 0);
  unstructured.resize(35);
  unstructured[3] = 35;
  unstructured[9] = 45;  // octets 7-10: number of data points
  auto flat = parse_section3(unstructured);
  ASSERT_TRUE(flat) << flat.error();
  EXPECT_EQ(flat->Ni, 45u);
  EXPECT_EQ(flat->Nj, 1u);
}

// ---------------------------------------------------------------- section 5

TEST(Grib2Section5, LengthRefusals) {
  struct Case {
    ByteVec section;
    std::size_t length;
    const char* error;
  };
  const ByteVec simple = test::g2_section5({.template_number = 0, .count = 12, .bits = 8});
  const ByteVec complex2 = test::g2_section5_complex({.template_number = 2});
  const ByteVec complex3 = test::g2_section5_complex({.template_number = 3});
  const ByteVec jpeg = test::g2_section5_jpeg(12, 0, 0, 0, 8);
  const ByteVec ccsds = test::g2_section5_ccsds(12, 0, 0, 0, 8);
  const ByteVec ieee = test::g2_section5_ieee(12, 1);
  const std::vector<Case> cases{
      {simple, 0, "section 5 too short"},   {simple, 19, "section 5 too short"},
      {simple, 20, ""},                     {complex2, 46, "section 5 template 2 too short"},
      {complex2, 47, ""},                   {complex3, 46, "section 5 template 3 too short"},
      {complex3, 48, "section 5 template 3 too short"}, {complex3, 49, ""},
      {jpeg, 22, "section 5 template 40 too short"}, {jpeg, 23, ""},
      {ccsds, 24, "section 5 template 42 too short"}, {ccsds, 25, ""},
      {ieee, 11, "section 5 too short"},    {ieee, 12, ""},
      {ieee, 19, ""},                       {ieee, 20, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(parse_section5(resized(c.section, c.length))), c.error)
        << "template " << load_u16_be(c.section.data() + 9) << " length " << c.length;
  }
}

TEST(Grib2Section5, CommonFieldsAndTemplates) {
  auto simple = parse_section5(test::g2_section5({.template_number = 0, .count = 1038240, .reference = -1.5f,
                                                  .E = -3, .D = 2, .bits = 13}));
  ASSERT_TRUE(simple);
  EXPECT_EQ(simple->numberOfValues, 1038240u);
  EXPECT_EQ(simple->reference_value_bits, test::ieee_bits(-1.5f));
  EXPECT_EQ(simple->binaryScaleFactor, -3);
  EXPECT_EQ(simple->decimalScaleFactor, 2);
  EXPECT_EQ(simple->bitsPerValue, 13);

  auto c3 = parse_section5(test::g2_section5_complex(
      {.template_number = 3, .count = 99, .bits = 11, .splitting = 1, .missing_management = 1,
       .primary_missing = 0x7FFFFFFF, .secondary_missing = 7, .groups = 4242, .width_reference = 3, .width_bits = 4,
       .length_reference = 17, .length_increment = 2, .last_length = 23, .length_bits = 6, .order = 2,
       .descriptor_octets = 3}));
  ASSERT_TRUE(c3);
  EXPECT_EQ(c3->missingValueManagement, 1);
  EXPECT_EQ(c3->primaryMissingValue, 0x7FFFFFFFu);
  EXPECT_EQ(c3->secondaryMissingValue, 7u);
  EXPECT_EQ(c3->numberOfGroups, 4242u);
  EXPECT_EQ(c3->referenceForGroupWidths, 3);
  EXPECT_EQ(c3->bitsForGroupWidths, 4);
  EXPECT_EQ(c3->referenceForGroupLengths, 17u);
  EXPECT_EQ(c3->lengthIncrement, 2);
  EXPECT_EQ(c3->trueLengthOfLastGroup, 23u);
  EXPECT_EQ(c3->bitsForScaledGroupLengths, 6);
  EXPECT_EQ(c3->orderOfSpatialDifferencing, 2);
  EXPECT_EQ(c3->descriptorOctets, 3);

  auto c2 = parse_section5(test::g2_section5_complex({.template_number = 2, .groups = 5}));
  ASSERT_TRUE(c2);
  EXPECT_EQ(c2->numberOfGroups, 5u);
  EXPECT_EQ(c2->orderOfSpatialDifferencing, 0);

  auto jpeg = parse_section5(test::g2_section5_jpeg(10, 1.0f, 0, 1, 12, 1, 10));
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->typeOfCompression, 1);
  EXPECT_EQ(jpeg->targetCompressionRatio, 10);

  auto ccsds = parse_section5(test::g2_section5_ccsds(10, 1.0f, 0, 1, 16, 14, 32, 128));
  ASSERT_TRUE(ccsds);
  EXPECT_EQ(ccsds->ccsdsFlags, 14);
  EXPECT_EQ(ccsds->ccsdsBlockSize, 32);
  EXPECT_EQ(ccsds->ccsdsReferenceSampleInterval, 128);
}

// Template 5.4: the 12-octet WMO layout gives the width from the precision
// octet; a section of 20 octets or more takes octet 20.
TEST(Grib2Section5, IeeeBothLayouts) {
  struct Case {
    ByteVec section;
    std::uint8_t bits;
  };
  const std::vector<Case> cases{
      {test::g2_section5_ieee(7, 1), 32},
      {test::g2_section5_ieee(7, 2), 64},
      {test::g2_section5_ieee(7, 3), 128},
      {test::g2_section5_ieee(7, 0), 0},
      {test::g2_section5_ieee(7, 9), 0},
      {resized(test::g2_section5_ieee(7, 2), 19), 64},
      {test::g2_section5({.template_number = 4, .count = 7, .bits = 64}), 64},
      {resized(test::g2_section5({.template_number = 4, .count = 7, .bits = 32}), 20), 32},
  };
  for (const auto& c : cases) {
    auto drs = parse_section5(c.section);
    ASSERT_TRUE(drs) << drs.error();
    EXPECT_EQ(drs->dataRepresentationTemplateNumber, 4);
    EXPECT_EQ(drs->numberOfValues, 7u);
    EXPECT_EQ(drs->bitsPerValue, c.bits) << "length " << c.section.size();
  }
}

TEST(Grib2Names, DataRepresentationNames) {
  const std::vector<std::pair<int, std::string>> names{
      {0, "grid point data - simple packing"},
      {2, "grid point data - complex packing"},
      {3, "grid point data - complex packing with spatial differencing"},
      {4, "grid point data - IEEE floating point"},
      {40, "grid point data - JPEG 2000 code stream"},
      {41, "grid point data - PNG"},
      {42, "grid point data - CCSDS/AEC"},
      {1, "unknown"},
      {200, "unknown"},
      {65535, "unknown"}};
  for (const auto& [number, name] : names) EXPECT_EQ(data_representation_name(number), name);
}

// ---------------------------------------------------------------- scanning walk

Result<MessageRecord> summarise(const ByteVec& message, std::uint64_t number = 1,
                                std::vector<FieldSpans>* fields_out = nullptr) {
  MessageRecord record;
  record.edition = Edition::Two;
  record.totalLength = message.size();
  record.discipline = message[6];
  std::vector<FieldSpans> fields;
  auto walked = summarise_grib2(message, number, record, fields);
  if (!walked) return fail(walked.error());
  if (fields_out) *fields_out = std::move(fields);
  return record;
}

TEST(Grib2Summary, RecordFieldsFromSections1345) {
  const ByteVec message = test::grib2_message(
      {test::g2_section1({.centre = 7, .subcentre = 14, .year = 2021, .month = 5, .day = 18, .hour = 6,
                          .minute = 30, .second = 5}),
       test::g2_section(2, {}), test::g2_section3_latlon({.Ni = 4, .Nj = 3, .scanning_mode = 0x40}),
       test::g2_section4({.template_number = 8, .category = 2, .number = 3, .process = 81, .time_unit = 11,
                          .forecast_time = 4, .level_type = 103, .level_scale = 0, .level_value = 10}),
       test::g2_section5({.template_number = 0, .count = 12, .bits = 9}), test::g2_section6_none(),
       test::g2_section7(ByteVec(14, 0))});
  auto r = summarise(message);
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->centre.value(), 7);
  EXPECT_EQ(r->subCentre.value(), 14);
  EXPECT_EQ(r->reference_time.value(), (ReferenceTime{2021, 5, 18, 6, 30, 5}));
  EXPECT_EQ(r->Ni.value(), 4u);
  EXPECT_EQ(r->Nj.value(), 3u);
  EXPECT_EQ(r->gridDefinitionTemplateNumber.value(), 0);
  EXPECT_EQ(r->scanningMode.value(), 0x40);
  EXPECT_EQ(r->productDefinitionTemplateNumber.value(), 8);
  EXPECT_EQ(r->parameterCategory.value(), 2);
  EXPECT_EQ(r->parameterNumber.value(), 3);
  EXPECT_EQ(r->generatingProcessIdentifier.value(), 81);
  EXPECT_EQ(r->indicatorOfUnitOfTimeRange.value(), 11);
  EXPECT_EQ(r->forecastTime.value(), 4);
  EXPECT_EQ(r->levelType.value(), 103);
  EXPECT_DOUBLE_EQ(r->level.value(), 10.0);
  EXPECT_EQ(r->dataRepresentationTemplateNumber.value(), 0);
  EXPECT_EQ(r->bitsPerValue.value(), 9);
  EXPECT_FALSE(r->table2Version);
  EXPECT_EQ(r->secondLevelType.value(), 255);
}

TEST(Grib2Summary, LevelScaleFactorIsASignedOctet) {
  struct Case {
    std::uint8_t scale_octet;
    std::uint32_t value;
    double level;
  };
  for (const Case c : {Case{0, 85000, 85000.0}, Case{2, 1000, 10.0}, Case{0xFE, 5, 500.0}, Case{1, 15, 1.5},
                       Case{0xFF, 0, 0.0},
                       // sign-magnitude, as CMC and JMA write isobaric levels in Pa
                       Case{0x82, 1, 100.0}, Case{0x82, 975, 97500.0}, Case{0x81, 3, 30.0}}) {
    auto r = summarise(test::minimal_grib2(
        {.level_scale = static_cast<std::int8_t>(c.scale_octet), .level_value = c.value}));
    ASSERT_TRUE(r) << r.error();
    EXPECT_DOUBLE_EQ(r->level.value(), c.level) << int(c.scale_octet) << " " << c.value;
  }
}

TEST(Grib2Summary, ScaledValueWithTheTopBitIsNegative) {
  // GFS potential-vorticity surfaces: -2 PVU is 0x800007D0 at factor 9.
  for (const auto& [value, level] : {std::pair{0x800007D0u, -2e-6}, std::pair{0x7FFFFFFEu, 2147483646e-9}}) {
    auto r = summarise(test::minimal_grib2({.level_type = 109, .level_scale = 9, .level_value = value}));
    ASSERT_TRUE(r) << r.error();
    EXPECT_DOUBLE_EQ(r->level.value(), level) << value;
  }
}

TEST(Grib2Summary, MissingScaledValueMeansNoLevel) {
  auto r = summarise(test::minimal_grib2({.level_scale = -1, .level_value = 0xFFFFFFFFu}));
  ASSERT_TRUE(r) << r.error();
  EXPECT_FALSE(r->level);
}

TEST(Grib2Summary, ShortSection1LeavesIdentificationAbsent) {
  const ByteVec message = test::grib2_message({resized(test::g2_section1({.centre = 7}), 18),
                                               test::g2_section4(), test::g2_section5({.count = 0})});
  auto r = summarise(message);
  ASSERT_TRUE(r) << r.error();
  EXPECT_FALSE(r->centre);
  EXPECT_FALSE(r->subCentre);
  EXPECT_FALSE(r->reference_time);
  // A later short section 1 clears what an earlier one gave.
  auto cleared = summarise(test::grib2_message({test::g2_section1({.centre = 7}), test::g2_section4(),
                                                resized(test::g2_section1({.centre = 7}), 18)}));
  ASSERT_TRUE(cleared);
  EXPECT_FALSE(cleared->centre);
}

TEST(Grib2Summary, Refusals) {
  struct Case {
    ByteVec message;
    std::uint64_t number;
    std::string error;
  };
  const ByteVec s1 = test::g2_section1();
  const ByteVec s4 = test::g2_section4();
  const std::vector<Case> cases{
      {test::grib2_message({s1, resized(s4, 10)}), 1, "GRIB2 message missing parameter number"},
      {test::grib2_message({s1}), 1, "GRIB2 message missing section 4"},
      {test::grib2_message(std::vector<ByteVec>{}), 1, "GRIB2 message missing section 4"},
      {test::grib2_message({s1, s4, resized(test::g2_section5({}), 19)}), 1, "section 5 too short"},
      {test::grib2_message({s1, resized(test::g2_section3_latlon({}), 60), s4}), 1, "section 3 template 0 too short"},
      {test::grib2_message({test::g2_section(3, ByteVec(10, 0), 0), s4}), 5, "invalid GRIB2 section 3 length 0 in message 5"},
      {test::grib2_message({test::g2_section(4, ByteVec(10, 0), 4), s4}), 2, "invalid GRIB2 section 4 length 4 in message 2"},
      {test::grib2_message({s1, test::g2_section(7, ByteVec(10, 0), 1000)}), 3,
       "invalid GRIB2 section 7 length 1000 in message 3"},
  };
  for (const auto& c : cases) {
    auto r = summarise(c.message, c.number);
    ASSERT_FALSE(r) << c.error;
    EXPECT_EQ(r.error(), c.error);
  }
}

TEST(Grib2Summary, EndMarkerAsSectionLengthEndsTheWalk) {
  // Bytes "7777" where a section length is expected: the rest is not read.
  ByteVec message = test::minimal_grib2();
  const ByteVec garbage{'7', '7', '7', '7', 0xFF, 0, 0, 0, 0, 0};
  message.insert(message.end() - 4, garbage.begin(), garbage.end());
  const std::uint64_t n = message.size();
  for (int i = 0; i < 8; ++i) message[8 + i] = static_cast<std::uint8_t>(n >> (56 - 8 * i));
  EXPECT_TRUE(summarise(message));
  auto scan = scan_messages(message);
  ASSERT_TRUE(scan);
  EXPECT_EQ(scan->records[0].totalLength, n);
}

// Two fields in one message: the record describes the second.
TEST(Grib2Summary, RepeatedSectionsLastWins) {
  std::vector<ByteVec> sections{test::g2_section1(), test::g2_section3_latlon({})};
  for (auto& s : test::g2_simple_field(std::vector<double>(12, 1.0), 8, {.category = 0, .number = 0})) {
    sections.push_back(s);
  }
  sections.push_back(test::g2_section3_latlon({.Ni = 3, .Nj = 4}));
  for (auto& s : test::g2_simple_field(std::vector<double>(12, 2.0), 4,
                                       {.category = 2, .number = 2, .level_type = 103, .level_value = 10})) {
    sections.push_back(s);
  }
  auto r = summarise(test::grib2_message(sections));
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->parameterCategory.value(), 2);
  EXPECT_EQ(r->parameterNumber.value(), 2);
  EXPECT_EQ(r->levelType.value(), 103);
  EXPECT_EQ(r->Ni.value(), 3u);
  EXPECT_EQ(r->bitsPerValue.value(), 4);
}

// Section 4 is read where its template's layout puts each field; what the
// template or the section does not hold is absent, and the message stays.
TEST(Grib2Summary, Section4FollowsItsTemplate) {
  struct Case {
    const char* label;
    ByteVec section4;
    std::optional<std::uint8_t> level_type;
    std::optional<double> level;
    std::optional<std::int64_t> forecast;
    std::optional<std::uint8_t> category;
  };
  const std::vector<Case> cases{
      // Aerosol template 4.44: forecast time in two octets at 32-33, the
      // first surface at 34-39.
      {"aerosol_4_44",
       test::g2_template_section(4, 44, {{"parameterCategory", {20}}, {"forecastTime", {6}},
                                         {"typeOfFirstFixedSurface", {103}}, {"scaledValueOfFirstFixedSurface", {10}},
                                         {"typeOfSecondFixedSurface", {255}}}),
       103, 10.0, 6, 20},
      // AQM's daily maximum: forecast time 0xFFFFFFF9 is -7 hours.
      {"negative_forecast", test::g2_template_section(4, 8, {{"forecastTime", {-7}}, {"typeOfFirstFixedSurface", {1}}}),
       1, 0.0, -7, 0},
      // Satellite template 4.31 of one band: 25 octets, no level, no time.
      {"satellite_4_31_short",
       test::g2_template_section(4, 31, {{"parameterCategory", {4}}, {"satelliteSeries", {333}}}), std::nullopt,
       std::nullopt, std::nullopt, 4},
      // A template the WMO tables do not describe: only octets 10 and 11.
      {"undescribed", test::g2_template_section(4, 0, {{"productDefinitionTemplateNumber", {40033}},
                                                       {"parameterCategory", {3}}}),
       std::nullopt, std::nullopt, std::nullopt, 3},
      // A template 4.0 section cut before its first surface's value.
      {"cut_4_0", resized(test::g2_section4({.level_type = 103, .level_value = 2}), 27), 103, std::nullopt, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = summarise(test::grib2_message({test::g2_section1(), c.section4}));
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(r->levelType, c.level_type);
    EXPECT_EQ(r->level, c.level);
    EXPECT_EQ(r->forecastTime, c.forecast);
    EXPECT_EQ(r->parameterCategory, c.category);
  }
}

// Every data section closes a field with the sections in effect for it.
TEST(Grib2Summary, FieldsAndTheirSpans) {
  const ByteVec s1 = test::g2_section1(), s3 = test::g2_section3_latlon({});
  const ByteVec s4a = test::g2_section4({.number = 1}), s4b = test::g2_section4({.number = 2});
  const ByteVec s5 = test::g2_section5({.count = 12});
  const ByteVec bitmap = test::g2_section6_bitmap(std::vector<bool>(12, true));
  const ByteVec reuse = test::g2_section6_indicator(254), none = test::g2_section6_none();
  const ByteVec s7 = test::g2_section7({});
  const ByteVec message = test::grib2_message({s1, s3, s4a, s5, bitmap, s7, s4b, s5, reuse, s7, s4a, s5, none, s7});
  std::vector<FieldSpans> fields;
  auto r = summarise(message, 1, &fields);
  ASSERT_TRUE(r) << r.error();
  ASSERT_EQ(fields.size(), 3u);
  // Offsets within the message: section 0 is 16 octets.
  std::uint64_t at = 16;
  auto next = [&](const ByteVec& s) { const SectionSpan span{at, s.size()}; at += s.size(); return span; };
  const SectionSpan p1 = next(s1), p3 = next(s3), p4a = next(s4a), p5a = next(s5), p6a = next(bitmap),
                    p7a = next(s7), p4b = next(s4b), p5b = next(s5), p6b = next(reuse), p7b = next(s7),
                    p4c = next(s4a), p5c = next(s5), p6c = next(none), p7c = next(s7);
  EXPECT_EQ(fields[0], (FieldSpans{p1, {}, p3, p4a, p5a, p6a, p6a, p7a}));
  EXPECT_EQ(fields[1], (FieldSpans{p1, {}, p3, p4b, p5b, p6b, p6a, p7b}));  // 254: the earlier bitmap
  EXPECT_EQ(fields[2], (FieldSpans{p1, {}, p3, p4c, p5c, p6c, {}, p7c}));   // 255: none
  EXPECT_EQ(r->spans, fields[2]);
  EXPECT_EQ(r->parameterNumber.value(), 1);
  // Any field's own record.
  auto second = summarise_field(message, *r, fields[1]);
  ASSERT_TRUE(second) << second.error();
  EXPECT_EQ(second->parameterNumber.value(), 2);
  EXPECT_EQ(second->spans, fields[1]);
}

TEST(Grib2Summary, ScanListsFieldsPerMessage) {
  std::vector<ByteVec> two{test::g2_section1(), test::g2_section3_latlon({})};
  for (int k = 0; k < 2; ++k) {
    for (auto& s : test::g2_simple_field(std::vector<double>(12, k), 8)) two.push_back(s);
  }
  ByteVec buffer = test::minimal_grib2();
  const ByteVec multi = test::grib2_message(two);
  buffer.insert(buffer.end(), multi.begin(), multi.end());
  const ByteVec broken = test::grib2_message({test::g2_section1(), test::g2_section3_latlon({}), test::g2_section7({})});
  buffer.insert(buffer.end(), broken.begin(), broken.end());  // no section 4: skipped, its field dropped
  buffer.insert(buffer.end(), multi.begin(), multi.end());
  auto scan = scan_messages(buffer);
  ASSERT_TRUE(scan) << scan.error();
  ASSERT_EQ(scan->records.size(), 3u);
  EXPECT_EQ(scan->fields.size(), 5u);
  EXPECT_EQ(scan->records[0].first_field, 0u);
  EXPECT_EQ(scan->records[0].field_count, 1u);
  EXPECT_EQ(scan->records[1].first_field, 1u);
  EXPECT_EQ(scan->records[1].field_count, 2u);
  EXPECT_EQ(scan->records[2].first_field, 3u);
  EXPECT_EQ(scan->fields[4], scan->records[2].spans);
}

// ---------------------------------------------------------------- decoding walk

TEST(Grib2Collect, SectionsOfTheLastField) {
  std::vector<ByteVec> sections{test::g2_section1(), test::g2_section3_latlon({})};
  for (auto& s : test::g2_simple_field({1, 2, NAN, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 8)) sections.push_back(s);
  for (auto& s : test::g2_simple_field({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3}, 2)) sections.push_back(s);
  const ByteVec message = test::grib2_message(sections);
  auto c = collect_grib2(message);
  ASSERT_TRUE(c) << c.error();
  EXPECT_EQ(c->representation.bitsPerValue, 2);
  EXPECT_FALSE(c->bitmap);  // the second field's section 6 says 255
  EXPECT_EQ(c->payload.size(), 3u);
  EXPECT_EQ(c->payload[2], 0x03);
}

TEST(Grib2Collect, BitmapIsCutToTheGridAndPaddingCleared) {
  // 12 points, 3 octets of bits all set: 24 bits cut to 12, bits 12..23 zero.
  const ByteVec message = test::grib2_message(
      {test::g2_section3_latlon({}), test::g2_section5({.count = 12, .bits = 8}),
       test::g2_section6_indicator(0, {0xFF, 0xFF, 0xFF}), test::g2_section7({})});
  auto c = collect_grib2(message);
  ASSERT_TRUE(c) << c.error();
  ASSERT_TRUE(c->bitmap);
  EXPECT_EQ(c->bitmap->size, 12u);
  EXPECT_EQ(c->bitmap->bits, (ByteVec{0xFF, 0xF0}));
  EXPECT_EQ(c->bitmap->count_present(), 12u);
  EXPECT_TRUE(c->payload.empty());

  // Without an earlier section 3 the bitmap keeps every stored bit.
  const ByteVec early = test::grib2_message({test::g2_section6_indicator(0, {0xA5, 0x0F}),
                                             test::g2_section3_latlon({}), test::g2_section5({}),
                                             test::g2_section7({})});
  auto e = collect_grib2(early);
  ASSERT_TRUE(e) << e.error();
  EXPECT_EQ(e->bitmap->size, 16u);
  EXPECT_EQ(e->bitmap->count_present(), 8u);
  EXPECT_TRUE(e->bitmap->present(0));
  EXPECT_FALSE(e->bitmap->present(1));
  EXPECT_TRUE(e->bitmap->present(15));
}

TEST(Grib2Collect, BitmapIndicators) {
  struct Case {
    std::vector<ByteVec> bitmaps;
    std::string error;  // "" accepted
    bool has_bitmap;
  };
  const ByteVec present = test::g2_section6_bitmap(std::vector<bool>(12, true));
  const std::vector<Case> cases{
      {{present}, "", true},
      {{present, test::g2_section6_none()}, "", false},
      {{test::g2_section6_none(), present}, "", true},
      {{present, test::g2_section6_indicator(254)}, "bitmap reuse indicator 254 is not implemented yet", false},
      {{test::g2_section6_indicator(1)}, "unsupported bitmap indicator 1", false},
      {{test::g2_section6_indicator(253)}, "unsupported bitmap indicator 253", false},
      {{test::g2_section(6, {})}, "section 6 too short", false},
  };
  for (const auto& c : cases) {
    std::vector<ByteVec> sections{test::g2_section3_latlon({}), test::g2_section5({.count = 12})};
    sections.insert(sections.end(), c.bitmaps.begin(), c.bitmaps.end());
    sections.push_back(test::g2_section7({}));
    auto r = collect_grib2(test::grib2_message(sections));
    if (c.error.empty()) {
      ASSERT_TRUE(r) << r.error();
      EXPECT_EQ(r->bitmap.has_value(), c.has_bitmap);
    } else {
      ASSERT_FALSE(r);
      EXPECT_EQ(r.error(), c.error);
    }
  }
}

TEST(Grib2Collect, MissingSectionsInOrder) {
  const ByteVec s3 = test::g2_section3_latlon({});
  const ByteVec s5 = test::g2_section5({});
  const ByteVec s7 = test::g2_section7({});
  const std::vector<std::pair<ByteVec, std::string>> cases{
      {test::grib2_message({s5, s7}), "GRIB2 message missing section 3"},
      {test::grib2_message(std::vector<ByteVec>{}), "GRIB2 message missing section 3"},
      {test::grib2_message({s3, s7}), "GRIB2 message missing section 5"},
      {test::grib2_message({s3, s5}), "GRIB2 message missing section 7"},
      {test::grib2_message({s3, test::g2_section(5, ByteVec(20, 0), 3), s7}), "invalid GRIB2 section 5 length 3"},
      {test::grib2_message({s3, s5, test::g2_section(7, {}, 10)}), "invalid GRIB2 section 7 length 10"},
  };
  for (const auto& [message, error] : cases) {
    auto r = collect_grib2(message);
    ASSERT_FALSE(r) << error;
    EXPECT_EQ(r.error(), error);
  }
}

TEST(Grib2Collect, GaussianRowsFollowTheValueCount) {
  auto collect = [](std::uint32_t Nj, std::uint32_t values, std::optional<std::uint32_t> N) {
    return collect_grib2(test::grib2_message({test::g2_section3_latlon({.Ni = 8, .Nj = Nj, .N = N}),
                                              test::g2_section5({.count = values}), test::g2_section7({})}));
  };
  EXPECT_EQ(collect(3, 32, 2)->grid.Nj, 4u);  // 32 values of 8 per row: 4 rows
  EXPECT_EQ(collect(3, 30, 2)->grid.Nj, 3u);  // not a multiple of Ni
  EXPECT_EQ(collect(3, 0, 2)->grid.Nj, 3u);
  EXPECT_EQ(collect(3, 32, std::nullopt)->grid.Nj, 3u);  // lat/lon grids keep Nj
}

TEST(Grib2Collect, EveryTruncationFailsCleanly) {
  // A decoding walk over a message cut anywhere (with its length fields left
  // as they were) either fails or describes a smaller message: never reads
  // outside the slice it was given.
  const ByteVec whole = test::minimal_grib2();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const ByteVec cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    auto r = collect_grib2(cut);
    if (r) {
      EXPECT_LE(r->payload.data() + r->payload.size(), cut.data() + cut.size());
    }
  }
}

}  // namespace
}  // namespace vorlak
