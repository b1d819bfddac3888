// GRIB1 sections: PDS, GDS, BMS and BDS header parsing with their refusals,
// IBM floats, and the scanning and decoding walks.
#include "grib/grib1_sections.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "grib/limits.hpp"
#include "support/message_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;

// A GRIB1 section cut (or zero-padded) to `length` octets, its 24-bit length rewritten.
ByteVec resized(ByteVec section, std::size_t length) {
  section.resize(length, 0);
  if (length >= 3) {
    section[0] = static_cast<std::uint8_t>(length >> 16);
    section[1] = static_cast<std::uint8_t>(length >> 8);
    section[2] = static_cast<std::uint8_t>(length);
  }
  return section;
}

// The same bytes with only the 24-bit length field changed.
ByteVec with_length(ByteVec section, std::uint32_t length) {
  section[0] = static_cast<std::uint8_t>(length >> 16);
  section[1] = static_cast<std::uint8_t>(length >> 8);
  section[2] = static_cast<std::uint8_t>(length);
  return section;
}

template <class T>
std::string error_of(const Result<T>& r) {
  return r ? "" : r.error();
}

// ---------------------------------------------------------------- PDS

TEST(Grib1Pds, Fields) {
  auto pds = parse_pds(test::g1_pds({.table_version = 3, .centre = 7, .process = 81, .has_gds = true,
                                     .has_bms = true, .parameter = 11, .level_type = 100, .level = 500,
                                     .century = 21, .year_of_century = 24, .month = 2, .day = 29, .hour = 18,
                                     .minute = 45, .time_unit = 11, .P1 = 3, .subcentre = 2, .D = -2}));
  ASSERT_TRUE(pds) << pds.error();
  EXPECT_EQ(pds->reference_time, (ReferenceTime{2024, 2, 29, 18, 45, 0}));
  EXPECT_EQ(pds->table2Version, 3);
  EXPECT_EQ(pds->centre, 7);
  EXPECT_EQ(pds->generatingProcessIdentifier, 81);
  EXPECT_EQ(pds->indicatorOfParameter, 11);
  EXPECT_EQ(pds->indicatorOfTypeOfLevel, 100);
  EXPECT_EQ(pds->level, 500);
  EXPECT_EQ(pds->unitOfTimeRange, 11);
  EXPECT_EQ(pds->P1, 3);
  EXPECT_EQ(pds->subCentre, 2);
  EXPECT_EQ(pds->decimalScaleFactor, -2);
  EXPECT_TRUE(pds->has_gds);
  EXPECT_TRUE(pds->has_bms);
}

TEST(Grib1Pds, YearFromCenturyAndYearOfCentury) {
  struct Case {
    std::uint8_t century, year;
    std::uint16_t full_year;
  };
  for (const Case c : {Case{21, 24, 2024}, Case{20, 100, 2000}, Case{20, 99, 1999}, Case{0, 69, 2069},
                       Case{0, 70, 1970}, Case{0, 0, 2000}, Case{1, 5, 5}, Case{255, 255, 25655}}) {
    auto pds = parse_pds(test::g1_pds({.century = c.century, .year_of_century = c.year}));
    ASSERT_TRUE(pds);
    EXPECT_EQ(pds->reference_time.year, c.full_year) << int(c.century) << " " << int(c.year);
  }
}

TEST(Grib1Pds, LevelAndLength) {
  // Layer types keep their top in octet 11 and their bottom in octet 12
  // (WMO GRIB1 code table 3); single levels use both octets.
  for (const std::uint8_t layer : {101, 104, 106, 108, 110, 112, 114, 116, 120, 121, 128, 141}) {
    const auto pds = parse_pds(test::g1_pds({.level_type = layer, .level = 0x0A14}));
    EXPECT_EQ(pds->level, 0x0A) << int(layer);
    EXPECT_EQ(pds->level_bottom, 0x14) << int(layer);
  }
  for (const std::uint8_t single : {1, 100, 102, 103, 105, 107, 109, 111, 113, 115, 117, 119, 200}) {
    const auto pds = parse_pds(test::g1_pds({.level_type = single, .level = 0x0A14}));
    EXPECT_EQ(pds->level, 0x0A14) << int(single);
    EXPECT_FALSE(pds->level_bottom) << int(single);
  }
  EXPECT_EQ(error_of(parse_pds(resized(test::g1_pds(), 27))), "GRIB1 PDS too short");
  EXPECT_EQ(error_of(parse_pds(ByteVec{})), "GRIB1 PDS too short");
  EXPECT_TRUE(parse_pds(test::g1_pds({.extra = ByteVec(12, 0xEE)})));
}

// ---------------------------------------------------------------- GDS

TEST(Grib1Gds, LatLon) {
  auto grid = parse_gds(test::g1_gds_latlon(
      {.Ni = 144, .Nj = 73, .la1 = 90, .lo1 = 350, .la2 = -90, .lo2 = 357.5, .di = 2.5, .dj = 2.5,
       .scanning_mode = 0x40}));
  ASSERT_TRUE(grid) << grid.error();
  EXPECT_EQ(grid->gridDefinitionTemplateNumber, 0);
  EXPECT_EQ(grid->Ni, 144u);
  EXPECT_EQ(grid->Nj, 73u);
  EXPECT_DOUBLE_EQ(*grid->latitudeOfFirstGridPoint, 90);
  EXPECT_DOUBLE_EQ(*grid->longitudeOfFirstGridPoint, -10);  // 350000 thousandths, over 180
  EXPECT_DOUBLE_EQ(*grid->latitudeOfLastGridPoint, -90);
  EXPECT_DOUBLE_EQ(*grid->longitudeOfLastGridPoint, -2.5);
  EXPECT_DOUBLE_EQ(*grid->iDirectionIncrement, 2.5);
  EXPECT_DOUBLE_EQ(*grid->jDirectionIncrement, 2.5);
  EXPECT_EQ(grid->scanningMode, 0x40);
  EXPECT_FALSE(grid->N);
  EXPECT_FALSE(grid->reduced_point_count);
}

TEST(Grib1Gds, GaussianLambertSpherical) {
  auto gauss = parse_gds(test::g1_gds_latlon({.Ni = 8, .Nj = 4, .la1 = 59.444, .lo1 = 0, .la2 = -59.444,
                                              .lo2 = 315, .di = 45, .N = 2}));
  ASSERT_TRUE(gauss);
  EXPECT_EQ(gauss->gridDefinitionTemplateNumber, 40);
  EXPECT_EQ(gauss->N.value(), 2u);
  EXPECT_FALSE(gauss->jDirectionIncrement);
  EXPECT_DOUBLE_EQ(*gauss->longitudeOfLastGridPoint, -45);
  EXPECT_DOUBLE_EQ(*gauss->latitudeOfFirstGridPoint, 59.444);

  auto lambert = parse_gds(test::g1_gds_lambert(93, 65, 12.19, 226.541, 81271, 81270));
  ASSERT_TRUE(lambert);
  EXPECT_EQ(lambert->gridDefinitionTemplateNumber, 30);
  EXPECT_EQ(lambert->projection_kind, 1);
  EXPECT_DOUBLE_EQ(*lambert->latitudeOfFirstGridPoint, 12.19);
  EXPECT_DOUBLE_EQ(*lambert->longitudeOfFirstGridPoint, 226.541 - 360);
  EXPECT_DOUBLE_EQ(*lambert->iDirectionIncrement, 81271);
  EXPECT_DOUBLE_EQ(*lambert->jDirectionIncrement, 81270);
  EXPECT_FALSE(lambert->latitudeOfLastGridPoint);
  EXPECT_EQ(lambert->scanningMode, 0x40);

  for (const std::uint8_t type : {50, 51}) {
    test::Writer body;
    body.u16(106).u16(106).u16(106).u8(1).u8(1).zeros(18);
    auto sh = parse_gds(test::g1_gds(type, body.take()));
    ASSERT_TRUE(sh);
    EXPECT_EQ(sh->gridDefinitionTemplateNumber, type);
    EXPECT_EQ(sh->Ni, 106u);
    EXPECT_FALSE(sh->latitudeOfFirstGridPoint);
    EXPECT_EQ(sh->scanningMode, 0);
  }
}

TEST(Grib1Gds, ReducedGaussianPointCount) {
  struct Case {
    std::uint16_t Nj;
    std::vector<std::uint16_t> rows;
    std::size_t cut;  // GDS length after cutting; 0 keeps it whole
    std::uint64_t total;
  };
  const std::vector<Case> cases{
      {4, {20, 27, 27, 20}, 0, 94},
      {3, {20, 27, 27, 20}, 0, 74},       // only Nj entries
      {4, {20, 27, 27, 20}, 37, 47},      // room for two entries
      {4, {20, 27, 27, 20}, 36, 47},
      {4, {20, 27, 27, 20}, 32, 0},       // no room
      {0, {20, 27}, 0, 0},
  };
  for (const auto& c : cases) {
    ByteVec gds = test::g1_gds_latlon({.Nj = c.Nj, .N = 2, .points_per_row = c.rows});
    if (c.cut) gds = resized(gds, c.cut);
    auto grid = parse_gds(gds);
    ASSERT_TRUE(grid) << grid.error();
    EXPECT_EQ(grid->gridDefinitionTemplateNumber, 41);
    EXPECT_EQ(grid->reduced_point_count.value(), c.total) << c.Nj << " cut " << c.cut;
  }
  // Reduced because of Di alone (Ni given).
  ByteVec by_di = test::g1_gds_latlon({.Ni = 8, .Nj = 2, .N = 1});
  by_di[23] = by_di[24] = 0xFF;
  EXPECT_EQ(parse_gds(by_di)->gridDefinitionTemplateNumber, 41);
  // With vertical coordinates the list follows them.
  ByteVec hybrid = test::g1_gds_latlon({.Nj = 2, .N = 1});
  hybrid[3] = 2;   // NV
  hybrid[4] = 33;  // PV location
  hybrid[6] = hybrid[7] = 0xFF;
  const ByteVec tail{0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 7};
  hybrid.insert(hybrid.end(), tail.begin(), tail.end());
  EXPECT_EQ(parse_gds(resized(hybrid, hybrid.size()))->reduced_point_count.value(), 12u);
}

TEST(Grib1Gds, Refusals) {
  const ByteVec latlon = test::g1_gds_latlon({});
  ByteVec reduced = test::g1_gds_latlon({.Nj = 2, .N = 1, .points_per_row = {4, 4}});
  ByteVec polar = latlon;
  polar[5] = 5;
  const std::vector<std::pair<ByteVec, std::string>> cases{
      {ByteVec{}, "GRIB1 GDS too short"},
      {resized(latlon, 27), "GRIB1 GDS too short"},
      {resized(latlon, 28), ""},
      {resized(reduced, 31), "GRIB1 GDS too short"},
      {resized(reduced, 32), ""},
      {polar, ""},
      {test::g1_gds(2, ByteVec(26, 0)), "GRIB1 GDS data representation type 2 is not implemented yet"},
      {test::g1_gds(192, ByteVec(26, 0)), "GRIB1 GDS data representation type 192 is not implemented yet"},
  };
  for (const auto& [gds, error] : cases) EXPECT_EQ(error_of(parse_gds(gds)), error) << gds.size();
}

// ---------------------------------------------------------------- BMS

TEST(Grib1Bms, EntriesFollowThePointCount) {
  const std::vector<bool> ten{true, false, true, true, false, false, true, true, true, false};
  struct Case {
    ByteVec bms;
    std::uint64_t points;
    std::uint64_t present;
  };
  const std::vector<Case> cases{
      {test::g1_bms(ten), 10, 6},
      {test::g1_bms(ten), 8, 5},  // fewer points than stored bits
      {test::g1_bms(ten), 40, 6},  // bits run out: the rest absent
      {test::g1_bms(std::vector<bool>(16, true)), 16, 16},
      {test::g1_bms(std::vector<bool>(16, true), 0, 4), 16, 12},  // 4 unused bits declared
      {test::g1_bms(std::vector<bool>(16, true), 0, 200), 16, 0},  // more unused than stored
      {test::g1_bms(ten), 0, 0},
  };
  for (const auto& c : cases) {
    auto bitmap = parse_bms(c.bms, c.points);
    ASSERT_TRUE(bitmap) << bitmap.error();
    EXPECT_EQ(bitmap->size, c.points);
    EXPECT_EQ(bitmap->bits.size(), (c.points + 7) / 8);
    EXPECT_EQ(bitmap->count_present(), c.present) << c.points;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(c.points, ten.size()) && c.bms == test::g1_bms(ten); ++i) {
      EXPECT_EQ(bitmap->present(i), ten[i]) << i;
    }
  }
}

TEST(Grib1Bms, Refusals) {
  EXPECT_EQ(error_of(parse_bms(resized(test::g1_bms({true}), 5), 1)), "GRIB1 BMS too short");
  EXPECT_EQ(error_of(parse_bms(test::g1_bms({}, 3), 1)), "GRIB1 predefined bitmap 3 is not implemented yet");
  EXPECT_EQ(error_of(parse_bms(test::g1_bms({true}), kMaxGridPoints + 1)),
            "grid of " + std::to_string(kMaxGridPoints + 1) + " points exceeds the supported maximum " +
                std::to_string(kMaxGridPoints));
  EXPECT_TRUE(parse_bms(resized(test::g1_bms({true}), 6), 3));
}

// ---------------------------------------------------------------- BDS

TEST(Grib1Bds, HeaderAndFlags) {
  auto header = parse_bds_header(test::g1_bds(-118.625, -3, 12, ByteVec(3, 0), 2));
  ASSERT_TRUE(header) << header.error();
  EXPECT_EQ(header->binaryScaleFactor, -3);
  EXPECT_FLOAT_EQ(header->referenceValue, -118.625f);
  EXPECT_EQ(header->bitsPerValue, 12);
  EXPECT_EQ(header->unused_bits, 0);  // 3 octets hold the two 12-bit values exactly
  EXPECT_EQ(error_of(parse_bds_header(resized(test::g1_bds(0, 0, 8, {}, 0), 10))), "GRIB1 BDS too short");
  EXPECT_EQ(error_of(parse_bds_header(test::g1_bds(0, 0, 8, ByteVec(4, 0), 4, 0x40))),
            "GRIB1 BDS flags 01001000 are not implemented beyond simple packing");
  EXPECT_EQ(error_of(parse_bds_header(test::g1_bds(0, 0, 8, ByteVec(1, 0), 1, 0x80))),
            "GRIB1 BDS flags 10000000 are not implemented beyond simple packing");
  // 15 is only unused bits: accepted.
  ByteVec fifteen = test::g1_bds(0, 0, 8, ByteVec(4, 0), 4);
  fifteen[3] = 0x0F;
  EXPECT_TRUE(parse_bds_header(fifteen));
}

TEST(Grib1Ibm, Conversions) {
  struct Case {
    std::uint32_t raw;
    float value;
  };
  const float inf = std::numeric_limits<float>::infinity();
  for (const Case c : {Case{0x00000000u, 0.0f}, Case{0x41100000u, 1.0f}, Case{0xC276A000u, -118.625f},
                       Case{0x42640000u, 100.0f}, Case{0x40800000u, 0.5f}, Case{0x7FFFFFFFu, inf},
                       Case{0xFFFFFFFFu, -inf}, Case{0x00100000u, 0.0f} /* 2^-260, below the float range */,
                       Case{0x80000000u, -0.0f}}) {
    EXPECT_EQ(ibm_to_float(c.raw), c.value) << std::hex << c.raw;
  }
}

// ---------------------------------------------------------------- walks

Result<MessageRecord> summarise(const ByteVec& message, std::uint64_t number = 1) {
  MessageRecord record;
  record.edition = Edition::One;
  record.totalLength = message.size();
  std::vector<FieldSpans> fields;
  auto walked = summarise_grib1(message, number, record, fields);
  if (!walked) return fail(walked.error());
  EXPECT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields.back(), record.spans);
  return record;
}

TEST(Grib1Summary, RecordFields) {
  auto r = summarise(test::grib1_message(
      test::g1_pds({.table_version = 128, .centre = 98, .process = 145, .parameter = 130, .level_type = 100,
                    .level = 850, .century = 21, .year_of_century = 1, .month = 12, .day = 31, .hour = 23,
                    .minute = 59, .time_unit = 1, .P1 = 6, .subcentre = 4}),
      test::g1_gds_latlon({.Ni = 4, .Nj = 3, .scanning_mode = 0x40}), {},
      test::g1_bds(0, 0, 8, ByteVec(12, 0), 12)));
  ASSERT_TRUE(r) << r.error();
  EXPECT_DOUBLE_EQ(r->level.value(), 850);
  EXPECT_EQ(r->reference_time.value(), (ReferenceTime{2001, 12, 31, 23, 59, 0}));
  EXPECT_EQ(r->indicatorOfUnitOfTimeRange.value(), 1);
  EXPECT_EQ(r->forecastTime.value(), 6);
  EXPECT_EQ(r->timeRangeIndicator.value(), 0);
  EXPECT_EQ(r->P2.value(), 0);
  EXPECT_EQ(r->centre.value(), 98);
  EXPECT_EQ(r->subCentre.value(), 4);
  EXPECT_EQ(r->table2Version.value(), 128);
  EXPECT_EQ(r->generatingProcessIdentifier.value(), 145);
  EXPECT_EQ(r->parameterNumber.value(), 130);
  EXPECT_EQ(r->levelType.value(), 100);
  EXPECT_EQ(r->Ni.value(), 4u);
  EXPECT_EQ(r->gridDefinitionTemplateNumber.value(), 0);
  EXPECT_EQ(r->scanningMode.value(), 0x40);
  EXPECT_FALSE(r->parameterCategory);
  // PDS from octet 9, GDS after it, BDS last.
  EXPECT_EQ(r->spans.product, (SectionSpan{8, 28}));
  EXPECT_EQ(r->spans.grid.offset, 36u);
  EXPECT_TRUE(r->spans.data.present());
  EXPECT_FALSE(r->spans.bitmap.present());
  EXPECT_FALSE(r->dataRepresentationTemplateNumber);

  auto no_gds = summarise(test::minimal_grib1({.has_gds = false}));
  ASSERT_TRUE(no_gds) << no_gds.error();
  EXPECT_FALSE(no_gds->Ni);
  EXPECT_FALSE(no_gds->gridDefinitionTemplateNumber);
}

// Mercator, polar stereographic and rotated latitude/longitude grids (NCEP
// Stage IV, FNMOC, COSMO) are listed with their grid keys; their
// coordinates are not computed here.
TEST(Grib1Gds, ProjectedAndRotatedGridsAreListed) {
  struct Case {
    std::uint8_t type;
    std::uint16_t grid_template;
    std::uint8_t projection_kind;
  };
  for (const Case c : {Case{1, 10, 3}, Case{5, 20, 2}, Case{10, 1, 0}}) {
    ByteVec body(36, 0);
    body[0] = 0, body[1] = 7;   // Ni (Nx) 7
    body[2] = 0, body[3] = 5;   // Nj (Ny) 5
    body[21] = 0x40;            // octet 28: scanning mode
    auto grid = parse_gds(test::g1_gds(c.type, body));
    ASSERT_TRUE(grid) << grid.error();
    EXPECT_EQ(grid->gridDefinitionTemplateNumber, c.grid_template);
    EXPECT_EQ(grid->projection_kind, c.projection_kind);
    EXPECT_EQ(grid->Ni, 7u);
    EXPECT_EQ(grid->Nj, 5u);
    EXPECT_EQ(grid->scanningMode, 0x40);
    EXPECT_FALSE(grid->latitudeOfFirstGridPoint);
    auto r = summarise(test::grib1_message(test::g1_pds(), test::g1_gds(c.type, body), {},
                                           test::g1_bds(0, 0, 8, ByteVec(35, 0), 35)));
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(r->gridDefinitionTemplateNumber.value(), c.grid_template);
  }
}

TEST(Grib1Summary, TimeRangeAndLayers) {
  auto r = summarise(test::minimal_grib1({.level_type = 112, .level = 0x000A, .P1 = 0, .P2 = 24, .time_range = 4}));
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->timeRangeIndicator.value(), 4);
  EXPECT_EQ(r->P2.value(), 24);
  EXPECT_DOUBLE_EQ(r->level.value(), 0);
  EXPECT_DOUBLE_EQ(r->secondLevel.value(), 10);
  // Indicator 10: P1 in octets 19-20, no P2.
  auto long_p1 = summarise(test::minimal_grib1({.P1 = 0x01, .P2 = 0x2C, .time_range = 10}));
  ASSERT_TRUE(long_p1) << long_p1.error();
  EXPECT_EQ(long_p1->forecastTime.value(), 0x012C);
  EXPECT_FALSE(long_p1->P2);
}

TEST(Grib1Summary, Refusals) {
  ByteVec polar_gds = test::g1_gds_latlon({});
  polar_gds[5] = 192;
  const ByteVec pds = test::g1_pds();
  const ByteVec bds = test::g1_bds(0, 0, 8, ByteVec(12, 0), 12);
  const std::vector<std::pair<ByteVec, std::string>> cases{
      {test::grib1_message(pds, polar_gds, {}, bds),
       "GRIB1 GDS data representation type 192 is not implemented yet"},
      {test::grib1_message(test::g1_pds({.length = 200}), {}, {}, {}), "truncated GRIB1 PDS in message 7"},
      {ByteVec{'G', 'R', 'I', 'B', 0, 0, 10, 1, 0, 0}, "truncated GRIB1 PDS in message 7"},
      {test::grib1_message(pds, ByteVec{0, 0}, {}, {}, {}, ""), "truncated GRIB1 GDS in message 7"},
      {test::grib1_message(pds, with_length(test::g1_gds_latlon({}), 300), {}, {}), "truncated GRIB1 GDS in message 7"},
      {test::grib1_message(test::g1_pds({.length = 20}), {}, {}, {}), "GRIB1 PDS too short"},
  };
  for (const auto& [message, error] : cases) {
    auto r = summarise(message, 7);
    ASSERT_FALSE(r) << error;
    EXPECT_EQ(r.error(), error);
  }
  // The scan leaves such messages out.
  auto scan = scan_messages(test::concat({cases[0].first, test::minimal_grib1()}));
  ASSERT_TRUE(scan);
  EXPECT_EQ(scan->records.size(), 1u);
  EXPECT_EQ(scan->records[0].offset, cases[0].first.size());
}

TEST(Grib1Collect, SectionsAndPointCount) {
  const std::vector<bool> present{true, false, true, true, true, true, true, true, true, true, true, false};
  const test::SimplePacked packed = test::pack_simple({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 8, 1, {}, true);
  const ByteVec message = test::grib1_message(test::g1_pds({.has_bms = true, .D = 1}), test::g1_gds_latlon({}),
                                              test::g1_bms(present), test::g1_bds_simple(packed));
  auto c = collect_grib1(message);
  ASSERT_TRUE(c) << c.error();
  EXPECT_EQ(c->product.decimalScaleFactor, 1);
  EXPECT_EQ(c->grid.Ni, 4u);
  ASSERT_TRUE(c->bitmap);
  EXPECT_EQ(c->bitmap->size, 12u);
  EXPECT_EQ(c->bitmap->count_present(), 10u);
  EXPECT_EQ(c->header.bitsPerValue, 8);
  EXPECT_DOUBLE_EQ(c->header.referenceValue, packed.reference);
  EXPECT_EQ(c->bds.size(), 22u);
  EXPECT_EQ(c->bds.data(), message.data() + 8 + 28 + 32 + 8);

  // A reduced Gaussian grid counts the points of its rows.
  const ByteVec reduced = test::grib1_message(
      test::g1_pds({.has_bms = true}), test::g1_gds_latlon({.Nj = 2, .N = 1, .points_per_row = {3, 5}}),
      test::g1_bms(std::vector<bool>(8, true)), test::g1_bds(0, 0, 8, ByteVec(8, 0), 8));
  auto r = collect_grib1(reduced);
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->grid.reduced_point_count.value(), 8u);
  EXPECT_EQ(r->bitmap->size, 8u);
}

TEST(Grib1Collect, Refusals) {
  const ByteVec pds = test::g1_pds();
  const ByteVec gds = test::g1_gds_latlon({});
  const ByteVec bds = test::g1_bds(0, 0, 8, ByteVec(12, 0), 12);
  const std::vector<std::pair<ByteVec, std::string>> cases{
      {ByteVec{'G', 'R', 'I', 'B', 0, 0, 8}, "input is not a GRIB1 message"},
      {ByteVec{'G', 'R', 'I', 'C', 0, 0, 8, 1, 0, 0, 0}, "input is not a GRIB1 message"},
      {ByteVec{'G', 'R', 'I', 'B', 0, 0, 10, 1, 0, 0}, "read_u24_be out of range at offset 8"},
      {test::grib1_message(test::g1_pds({.length = 100}), {}, {}, {}), "truncated GRIB1 PDS"},
      {test::grib1_message(test::g1_pds({.length = 27}), {}, {}, {}), "GRIB1 PDS too short"},
      {test::minimal_grib1({.has_gds = false}), "GRIB1 decode currently requires a GDS"},
      {test::grib1_message(pds, ByteVec{0, 0}, {}, {}, {}, ""), "truncated GRIB1 GDS"},
      {test::grib1_message(pds, with_length(gds, 100), {}, {}, {}, ""), "truncated GRIB1 GDS"},
      {test::grib1_message(test::g1_pds({.has_bms = true}), gds, {}, {}, {}, ""), "truncated GRIB1 BMS"},
      {test::grib1_message(test::g1_pds({.has_bms = true}), gds, with_length(test::g1_bms({true}), 90), {}),
       "truncated GRIB1 BMS"},
      {test::grib1_message(test::g1_pds({.has_bms = true}), gds, test::g1_bms({}, 7), bds),
       "GRIB1 predefined bitmap 7 is not implemented yet"},
      {test::grib1_message(pds, gds, {}, {}, {}, ""), "truncated GRIB1 BDS"},
      {test::grib1_message(pds, gds, {}, with_length(bds, 200)), "truncated GRIB1 BDS"},
      {test::grib1_message(pds, gds, {}, resized(bds, 10)), "GRIB1 BDS too short"},
      {test::grib1_message(pds, gds, {}, test::g1_bds(0, 0, 8, ByteVec(12, 0), 12, 0x20)),
       "GRIB1 BDS flags 00101000 are not implemented beyond simple packing"},
  };
  for (const auto& [message, error] : cases) {
    auto r = collect_grib1(message);
    ASSERT_FALSE(r) << error;
    EXPECT_EQ(r.error(), error);
  }
}

TEST(Grib1Collect, EveryTruncationStaysInside) {
  const ByteVec whole = test::grib1_message(test::g1_pds({.has_bms = true}), test::g1_gds_latlon({}),
                                            test::g1_bms(std::vector<bool>(12, true)),
                                            test::g1_bds(0, 0, 8, ByteVec(12, 0), 12));
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const ByteVec cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    auto r = collect_grib1(cut);
    if (r) {
      EXPECT_LE(r->bds.data() + r->bds.size(), cut.data() + cut.size());
    }
    MessageRecord record;
    std::vector<FieldSpans> fields;
    (void)summarise_grib1(cut, 1, record, fields);
  }
}

}  // namespace
}  // namespace vorlak
