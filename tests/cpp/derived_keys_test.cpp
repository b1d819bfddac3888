// Derived keys of a record: the key set and its order, level and grid
// names, packing, centres, steps, and reference and validity times.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "compat/derived_keys.hpp"
#include "grib/framing.hpp"
#include "support/message_records.hpp"

namespace vorlak {
namespace {

using test::grib1_record;
using test::grib2_record;

std::optional<std::int64_t> long_key(const DerivedKeys& keys, std::string_view name) {
  const KeyValue* v = keys.find(name);
  if (!v) return std::nullopt;
  EXPECT_EQ(v->tag(), KeyTag::Long) << name;
  return v->tag() == KeyTag::Long ? std::optional(std::get<std::int64_t>(v->value)) : std::nullopt;
}

std::optional<std::string> text_key(const DerivedKeys& keys, std::string_view name) {
  const KeyValue* v = keys.find(name);
  if (!v) return std::nullopt;
  EXPECT_EQ(v->tag(), KeyTag::String) << name;
  return v->tag() == KeyTag::String ? std::optional(std::get<std::string>(v->value)) : std::nullopt;
}

std::optional<double> double_key(const DerivedKeys& keys, std::string_view name) {
  const KeyValue* v = keys.find(name);
  if (!v) return std::nullopt;
  EXPECT_EQ(v->tag(), KeyTag::Double) << name;
  return v->tag() == KeyTag::Double ? std::optional(std::get<double>(v->value)) : std::nullopt;
}

// A complete NCEP 2 m temperature forecast as the edition 2 scanner records it.
MessageRecord gfs_2t() {
  MessageRecord r = grib2_record(7, 0, 0, 0, 103, 2.0);
  r.messageNumber = 3;
  r.offset = 1024;
  r.totalLength = 5000;
  r.reference_time = ReferenceTime{2024, 2, 28, 18, 0, 0};
  r.indicatorOfUnitOfTimeRange = 1;
  r.forecastTime = 12;
  r.Ni = 1440;
  r.Nj = 721;
  r.generatingProcessIdentifier = 96;
  r.productDefinitionTemplateNumber = 0;
  r.dataRepresentationTemplateNumber = 3;
  r.gridDefinitionTemplateNumber = 0;
  r.bitsPerValue = 12;
  r.scanningMode = 0x00;
  return r;
}

TEST(DerivedKeysRecord, CompleteEdition2FieldInNameOrder) {
  const DerivedKeys keys = derive_keys(FieldView{gfs_2t(), {}, true, 1440 * 721});
  std::vector<std::string> names;
  for (const auto& [name, value] : keys.entries()) names.emplace_back(name);
  const std::vector<std::string> expected = {
      "Nx", "Ny", "alternativeRowScanning", "bitsPerValue", "centre", "centreDescription", "cfName",
      "cfVarName", "dataDate", "dataRepresentationTemplateNumber", "dataTime", "dataType",
      "discipline", "edition", "editionNumber", "endStep", "forecastTime",
      "generatingProcessIdentifier", "gridDefinitionDescription", "gridDefinitionTemplateNumber",
      "gridType", "iScansNegatively", "jPointsAreConsecutive", "jScansPositively", "level",
      "levelType", "messageNumber", "missingValue", "name", "numberOfDataPoints", "numberOfPoints",
      "numberOfValues", "offset", "packingType", "paramId", "parameterCategory", "parameterNumber",
      "productDefinitionTemplateNumber", "shortName", "stepRange", "stepType", "stepUnits",
      "subCentre", "subCentreDescription", "totalLength", "typeOfLevel", "units", "validityDate",
      "validityTime"};
  EXPECT_EQ(names, expected);

  EXPECT_EQ(long_key(keys, "edition"), 2);
  EXPECT_EQ(long_key(keys, "editionNumber"), 2);
  EXPECT_EQ(long_key(keys, "offset"), 1024);
  EXPECT_EQ(long_key(keys, "totalLength"), 5000);
  EXPECT_EQ(long_key(keys, "messageNumber"), 3);
  EXPECT_EQ(long_key(keys, "numberOfPoints"), 1440 * 721);
  EXPECT_EQ(long_key(keys, "numberOfValues"), 1440 * 721);
  EXPECT_EQ(long_key(keys, "Nx"), 1440);
  EXPECT_EQ(long_key(keys, "Ny"), 721);
  EXPECT_EQ(text_key(keys, "shortName"), "2t");
  EXPECT_EQ(text_key(keys, "name"), "2 metre temperature");
  EXPECT_EQ(text_key(keys, "units"), "K");
  EXPECT_EQ(long_key(keys, "paramId"), 167);
  EXPECT_EQ(text_key(keys, "cfName"), "air_temperature");
  EXPECT_EQ(text_key(keys, "cfVarName"), "t2m");
  EXPECT_EQ(text_key(keys, "typeOfLevel"), "heightAboveGround");
  EXPECT_EQ(text_key(keys, "levelType"), "heightAboveGround");
  EXPECT_EQ(double_key(keys, "level"), 2.0);
  EXPECT_EQ(text_key(keys, "gridType"), "regular_ll");
  EXPECT_EQ(text_key(keys, "packingType"), "grid_complex_spatial_differencing");
  EXPECT_EQ(text_key(keys, "dataType"), "fc");
  EXPECT_EQ(text_key(keys, "stepType"), "instant");
  EXPECT_EQ(double_key(keys, "missingValue"), 9999.0);
  EXPECT_EQ(text_key(keys, "centreDescription"), "US National Weather Service - NCEP");
  EXPECT_EQ(long_key(keys, "generatingProcessIdentifier"), 96);
  EXPECT_EQ(long_key(keys, "forecastTime"), 12);
  EXPECT_EQ(long_key(keys, "endStep"), 12);
  EXPECT_EQ(text_key(keys, "stepRange"), "12");
  EXPECT_EQ(long_key(keys, "stepUnits"), 1);
  EXPECT_EQ(long_key(keys, "dataDate"), 20240228);
  EXPECT_EQ(long_key(keys, "dataTime"), 1800);
  EXPECT_EQ(long_key(keys, "validityDate"), 20240229);
  EXPECT_EQ(long_key(keys, "validityTime"), 600);
  EXPECT_EQ(keys.find("table2Version"), nullptr);
  EXPECT_EQ(keys.find("indicatorOfParameter"), nullptr);
  EXPECT_EQ(keys.find("shortname"), nullptr);  // names are case-sensitive
}

TEST(DerivedKeysRecord, WithoutGridSectionHasNoGridKeys) {
  MessageRecord r = grib2_record(98, 0, 0, 0, 100, 50000.0);
  const DerivedKeys keys = derive_keys(FieldView{r, {}, false, 0});
  for (const char* absent : {"Nx", "Ny", "numberOfPoints", "numberOfValues", "numberOfDataPoints",
                             "iScansNegatively", "dataDate", "forecastTime", "stepRange"}) {
    EXPECT_EQ(keys.find(absent), nullptr) << absent;
  }
  EXPECT_EQ(text_key(keys, "gridType"), "unknown");
  EXPECT_EQ(text_key(keys, "gridDefinitionDescription"), "Unknown grid type");
  EXPECT_EQ(text_key(keys, "packingType"), "unknown");
  EXPECT_EQ(text_key(keys, "dataType"), "an");
}

TEST(DerivedKeysRecord, Edition1KeysAndPacking) {
  MessageRecord r = grib1_record(98, 128, 167, 1, 0);
  r.dataRepresentationTemplateNumber = 3;  // ignored: edition 1 is always simple packing
  r.forecastTime = 0;
  r.indicatorOfUnitOfTimeRange = 1;
  const DerivedKeys keys = derive_keys(FieldView{r, {}, false, 0});
  EXPECT_EQ(long_key(keys, "edition"), 1);
  EXPECT_EQ(text_key(keys, "packingType"), "grid_simple");
  EXPECT_EQ(long_key(keys, "table2Version"), 128);
  EXPECT_EQ(long_key(keys, "indicatorOfParameter"), 167);
  EXPECT_EQ(long_key(keys, "parameterNumber"), 167);
  EXPECT_EQ(text_key(keys, "shortName"), "2t");
  EXPECT_EQ(long_key(keys, "paramId"), 167);
  EXPECT_EQ(keys.find("cfName"), nullptr);
  EXPECT_EQ(text_key(keys, "dataType"), "an");
  EXPECT_EQ(text_key(keys, "stepRange"), "0");
  EXPECT_EQ(long_key(keys, "endStep"), 0);
}

TEST(DerivedKeysRecord, UnknownEdition) {
  MessageRecord r;
  r.parameterNumber = 0;
  const DerivedKeys keys = derive_keys(FieldView{r, {}, false, 0});
  EXPECT_EQ(long_key(keys, "edition"), 0);
  EXPECT_EQ(text_key(keys, "packingType"), "unknown");
  EXPECT_EQ(text_key(keys, "typeOfLevel"), "unknown");
  EXPECT_EQ(text_key(keys, "units"), "?");
  EXPECT_EQ(text_key(keys, "shortName"), "");
  EXPECT_EQ(text_key(keys, "name"), "");
  EXPECT_EQ(double_key(keys, "level"), 0.0);
  EXPECT_EQ(keys.find("paramId"), nullptr);
  EXPECT_EQ(keys.find("centre"), nullptr);
  EXPECT_EQ(keys.find("centreDescription"), nullptr);
}

struct ScanCase {
  std::uint8_t mode;
  std::int64_t i_negative, j_positive, j_consecutive, alternative;
};

class DerivedKeysScanning : public ::testing::TestWithParam<ScanCase> {};

TEST_P(DerivedKeysScanning, Flags) {
  MessageRecord r = gfs_2t();
  r.scanningMode = GetParam().mode;
  const DerivedKeys keys = derive_keys(FieldView{r, {}, true, 1});
  EXPECT_EQ(long_key(keys, "iScansNegatively"), GetParam().i_negative);
  EXPECT_EQ(long_key(keys, "jScansPositively"), GetParam().j_positive);
  EXPECT_EQ(long_key(keys, "jPointsAreConsecutive"), GetParam().j_consecutive);
  EXPECT_EQ(long_key(keys, "alternativeRowScanning"), GetParam().alternative);
}

INSTANTIATE_TEST_SUITE_P(Modes, DerivedKeysScanning,
                         ::testing::Values(ScanCase{0x00, 0, 0, 0, 0}, ScanCase{0x40, 0, 1, 0, 0},
                                           ScanCase{0x80, 1, 0, 0, 0}, ScanCase{0x20, 0, 0, 1, 0},
                                           ScanCase{0x10, 0, 0, 0, 1}, ScanCase{0xFF, 1, 1, 1, 1}));

struct LevelCase {
  const char* label;
  Edition edition;
  std::optional<std::uint8_t> level_type;
  std::optional<double> level;
  const char* type_of_level;
  double level_key;
  std::optional<std::uint16_t> centre = std::nullopt;
};

class DerivedKeysLevel : public ::testing::TestWithParam<LevelCase> {};

TEST_P(DerivedKeysLevel, NameAndValue) {
  const LevelCase& c = GetParam();
  MessageRecord r;
  r.edition = c.edition;
  r.centre = c.centre;
  r.levelType = c.level_type;
  r.level = c.level;
  const DerivedKeys keys = derive_keys(FieldView{r, {}, false, 0});
  EXPECT_EQ(text_key(keys, "typeOfLevel"), c.type_of_level);
  EXPECT_EQ(text_key(keys, "levelType"), c.type_of_level);
  EXPECT_EQ(double_key(keys, "level"), c.level_key);
}

constexpr auto kEd1 = Edition::One;
constexpr auto kEd2 = Edition::Two;

INSTANTIATE_TEST_SUITE_P(
    Table, DerivedKeysLevel,
    ::testing::Values(
        LevelCase{"ed2_500hPa", kEd2, 100, 50000.0, "isobaricInhPa", 500.0},
        LevelCase{"ed2_50Pa", kEd2, 100, 50.0, "isobaricInPa", 50.0},
        LevelCase{"ed2_exactly_100Pa", kEd2, 100, 100.0, "isobaricInhPa", 1.0},
        LevelCase{"ed2_isobaric_no_level", kEd2, 100, std::nullopt, "isobaricInPa", 0.0},
        LevelCase{"ed1_850hPa", kEd1, 100, 850.0, "isobaricInhPa", 850.0},
        LevelCase{"ed1_heightAboveGround_105", kEd1, 105, 2.0, "heightAboveGround", 2.0},
        LevelCase{"ed2_hybrid_105", kEd2, 105, 137.0, "hybrid", 137.0},
        LevelCase{"ed1_adiabatic", kEd1, 5, 0.0, "adiabaticCondensation", 0.0},
        LevelCase{"ed2_5_wmo_name", kEd2, 5, 0.0, "levelOfAdiabaticCondensationLiftedFromTheSurface", 0.0},
        LevelCase{"ed2_entire_atmosphere_10", kEd2, 10, 0.0, "entireAtmosphere", 0.0},
        LevelCase{"ed1_10_unlisted", kEd1, 10, 0.0, "unknown", 0.0},
        // Edition 1 follows WMO GRIB1 code table 3.
        LevelCase{"ed1_mean_sea", kEd1, 102, 0.0, "meanSea", 0.0},
        LevelCase{"ed1_isobaric_layer", kEd1, 101, 50.0, "isobaricLayer", 50.0},
        LevelCase{"ed1_height_above_sea", kEd1, 103, 10.0, "heightAboveSea", 10.0},
        LevelCase{"ed1_height_above_sea_layer", kEd1, 104, 1.0, "heightAboveSeaLayer", 1.0},
        LevelCase{"ed1_height_above_ground_layer", kEd1, 106, 1.0, "heightAboveGroundLayer", 1.0},
        LevelCase{"ed1_sigma", kEd1, 107, 9950.0, "sigma", 9950.0},
        LevelCase{"ed1_sigma_layer", kEd1, 108, 99.0, "sigmaLayer", 99.0},
        LevelCase{"ed1_hybrid", kEd1, 109, 60.0, "hybrid", 60.0},
        LevelCase{"ed1_hybrid_layer", kEd1, 110, 1.0, "hybridLayer", 1.0},
        LevelCase{"ed1_depth", kEd1, 111, 10.0, "depthBelowLand", 10.0},
        LevelCase{"ed1_isentropic_layer", kEd1, 114, 100.0, "isentropicLayer", 100.0},
        LevelCase{"ed1_pressure_from_ground", kEd1, 115, 30.0, "pressureFromGround", 30.0},
        LevelCase{"ed1_pressure_from_ground_layer", kEd1, 116, 30.0, "pressureFromGroundLayer", 30.0},
        LevelCase{"ed1_eta", kEd1, 119, 1.0, "eta", 1.0},
        LevelCase{"ed1_eta_layer", kEd1, 120, 1.0, "etaLayer", 1.0},
        LevelCase{"ed2_height_above_sea", kEd2, 102, 0.0, "heightAboveSea", 0.0},
        LevelCase{"ed1_theta", kEd1, 113, 320.0, "isentropic", 320.0},
        LevelCase{"ed2_theta", kEd2, 107, 320.0, "theta", 320.0},
        LevelCase{"ed1_soil_layer", kEd1, 112, 10.0, "depthBelowLandLayer", 10.0},
        LevelCase{"ed2_depth_below_sea", kEd2, 160, 5.0, "depthBelowSea", 5.0},
        LevelCase{"ed1_high_cloud_layer", kEd1, 234, 0.0, "highCloudLayer", 0.0},
        LevelCase{"ed2_234_local_without_centre", kEd2, 234, 0.0, "unknown", 0.0},
        LevelCase{"ed2_missing_255", kEd2, 255, 0.0, "unknown", 0.0},
        LevelCase{"ed2_absent_type", kEd2, std::nullopt, 7.0, "unknown", 7.0},
        LevelCase{"unknown_edition", Edition::Unknown, 1, 0.0, "unknown", 0.0},
        LevelCase{"unknown_edition_keeps_pa", Edition::Unknown, 100, 50000.0, "unknown", 50000.0}),
    [](const auto& info) { return std::string(info.param.label); });

// Fixed surfaces without a name above: the WMO's for every centre (lowerCamelCase
// of the meaning without its parenthesised part), NCEP's local ones (192-254)
// for the NOAA centres 7, 8 and 161 only; edition 1 keeps its own table.
INSTANTIATE_TEST_SUITE_P(
    Generated, DerivedKeysLevel,
    ::testing::Values(
        LevelCase{"ncep_planetary_boundary_layer", kEd2, 220, 0.0, "planetaryBoundaryLayer", 0.0, 7},
        LevelCase{"nwstg_ordered_sequence", kEd2, 241, 1.0, "orderedSequenceOfData", 1.0, 8},
        LevelCase{"noaa_oar_freezing_level", kEd2, 204, 0.0, "highestTroposphericFreezingLevel", 0.0, 161},
        LevelCase{"ncep_low_cloud_bottom", kEd2, 212, 0.0, "lowCloudBottomLevel", 0.0, 7},
        LevelCase{"ecmwf_local_220_unnamed", kEd2, 220, 0.0, "unknown", 0.0, 98},
        LevelCase{"ncep_local_without_row", kEd2, 250, 0.0, "unknown", 0.0, 7},
        LevelCase{"ncep_existing_name_first", kEd2, 200, 0.0, "entireAtmosphere", 0.0, 7},
        LevelCase{"ncep_surface_not_wmo_text", kEd2, 1, 0.0, "surface", 0.0, 7},
        LevelCase{"ukmo_cumulonimbus_base", kEd2, 11, 300.0, "cumulonimbusBase", 300.0, 74},
        LevelCase{"dwd_soil_level", kEd2, 151, 3.0, "soilLevel", 3.0, 78},
        LevelCase{"wmo_reserved_112", kEd2, 112, 0.0, "unknown", 0.0, 74},
        // Two meanings that differ only in parentheses keep them apart.
        LevelCase{"ocean_sigma_theta", kEd2, 169, 0.0,
                  "oceanLevelDefinedByWaterDensitySigmaThetaDifferenceFromNearSurfaceToLevel", 0.0, 98},
        LevelCase{"ocean_rho", kEd2, 172, 0.0,
                  "oceanLevelDefinedByWaterDensityRhoDifferenceFromNearSurfaceToLevel", 0.0, 98},
        LevelCase{"ed1_ncep_220_unlisted", kEd1, 220, 0.0, "unknown", 0.0, 7},
        LevelCase{"ed1_ncep_low_cloud_bottom", kEd1, 212, 0.0, "lowCloudBottom", 0.0, 7}),
    [](const auto& info) { return std::string(info.param.label); });

struct GridCase {
  std::optional<std::uint16_t> grid_template;
  const char* grid_type;
  const char* description;
};

class DerivedKeysGrid : public ::testing::TestWithParam<GridCase> {};

TEST_P(DerivedKeysGrid, TypeAndDescription) {
  MessageRecord r = gfs_2t();
  r.gridDefinitionTemplateNumber = GetParam().grid_template;
  const DerivedKeys keys = derive_keys(FieldView{r, {}, true, 1});
  EXPECT_EQ(text_key(keys, "gridType"), GetParam().grid_type);
  EXPECT_EQ(text_key(keys, "gridDefinitionDescription"), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DerivedKeysGrid,
    ::testing::Values(
        GridCase{0, "regular_ll", "Latitude/longitude. Also called equidistant cylindrical, or Plate Carree"},
        GridCase{1, "rotated_ll", "Rotated Latitude/longitude"},
        GridCase{10, "mercator", "Mercator"},
        GridCase{20, "polar_stereographic", "Polar stereographic projection"},
        GridCase{30, "lambert", "Lambert conformal"},
        GridCase{40, "regular_gg", "Gaussian latitude/longitude"},
        GridCase{41, "reduced_gg", "Reduced Gaussian latitude/longitude"},
        GridCase{50, "sh", "Spherical harmonic coefficients"},
        GridCase{51, "sh", "Spherical harmonic coefficients"},
        GridCase{90, "space_view", "Space view perspective or orthographic"},
        GridCase{32768, "unknown_32768", "Unknown grid type"},
        GridCase{65535, "unknown_65535", "Unknown grid type"},
        GridCase{std::nullopt, "unknown", "Unknown grid type"}));

struct PackingCase {
  std::optional<std::uint16_t> data_template;
  const char* packing;
};

class DerivedKeysPacking : public ::testing::TestWithParam<PackingCase> {};

TEST_P(DerivedKeysPacking, Edition2) {
  MessageRecord r = gfs_2t();
  r.dataRepresentationTemplateNumber = GetParam().data_template;
  EXPECT_EQ(text_key(derive_keys(FieldView{r, {}, true, 1}), "packingType"), GetParam().packing);
}

INSTANTIATE_TEST_SUITE_P(Table, DerivedKeysPacking,
                         ::testing::Values(PackingCase{0, "grid_simple"}, PackingCase{2, "grid_complex"},
                                           PackingCase{3, "grid_complex_spatial_differencing"},
                                           PackingCase{4, "grid_ieee"}, PackingCase{40, "grid_jpeg"},
                                           PackingCase{42, "grid_ccsds"}, PackingCase{41, "unknown"},
                                           PackingCase{50, "unknown"},
                                           PackingCase{std::nullopt, "unknown"}));

struct CentreCase {
  std::uint16_t centre;
  const char* description;
};

class DerivedKeysCentre : public ::testing::TestWithParam<CentreCase> {};

TEST_P(DerivedKeysCentre, Description) {
  MessageRecord r = gfs_2t();
  r.centre = GetParam().centre;
  const DerivedKeys keys = derive_keys(FieldView{r, {}, true, 1});
  EXPECT_EQ(long_key(keys, "centre"), GetParam().centre);
  EXPECT_EQ(text_key(keys, "centreDescription"), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DerivedKeysCentre,
    ::testing::Values(CentreCase{7, "US National Weather Service - NCEP"},
                      CentreCase{34, "Japanese Meteorological Agency - Tokyo"},
                      CentreCase{46, "Brazilian Space Agency - INPE"},
                      CentreCase{54, "Canadian Meteorological Service - Montreal"},
                      CentreCase{74, "UK Meteorological Office - Exeter"},
                      CentreCase{78, "Deutscher Wetterdienst"}, CentreCase{79, "Deutscher Wetterdienst"},
                      CentreCase{85, "French Weather Service - Toulouse"},
                      CentreCase{98, "European Centre for Medium-Range Weather Forecasts"},
                      // The rest from the WMO's list of centres.
                      CentreCase{8, "US National Weather Service Telecommunications Gateway (NWSTG)"},
                      CentreCase{161, "US NOAA Office of Oceanic and Atmospheric Research"},
                      CentreCase{84, "Toulouse (RSMC)"},
                      CentreCase{3, "Melbourne"},  // listed as "the same as above"
                      CentreCase{68, "Unknown"},   // reserved
                      CentreCase{255, "Unknown"}, CentreCase{4000, "Unknown"},
                      CentreCase{65535, "Unknown"}));

struct SubCentreCase {
  std::uint16_t centre;
  std::optional<std::uint16_t> sub_centre;
  const char* description;  // null: no key
};

class DerivedKeysSubCentre : public ::testing::TestWithParam<SubCentreCase> {};

TEST_P(DerivedKeysSubCentre, Description) {
  const SubCentreCase& c = GetParam();
  MessageRecord r = gfs_2t();
  r.centre = c.centre;
  r.subCentre = c.sub_centre;
  const DerivedKeys keys = derive_keys(FieldView{r, {}, true, 1});
  if (c.description) {
    EXPECT_EQ(text_key(keys, "subCentreDescription"), c.description);
  } else {
    EXPECT_EQ(keys.find("subCentreDescription"), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DerivedKeysSubCentre,
    ::testing::Values(SubCentreCase{7, 4, "Environmental Modeling Center"},
                      SubCentreCase{161, 7, "National Severe Storms Laboratory"},
                      SubCentreCase{78, 255, "Unknown"},
                      SubCentreCase{98, 0, "No sub-centre"},
                      SubCentreCase{7, 200, "Unknown"},
                      SubCentreCase{8, 65535, "Unknown"},
                      SubCentreCase{7, std::nullopt, nullptr}));

struct TimeCase {
  const char* label;
  ReferenceTime reference_time;
  std::optional<std::uint8_t> unit;
  std::optional<std::int64_t> forecast_time;
  std::optional<std::int64_t> step_units, data_date, data_time, validity_date, validity_time;
  Edition edition = Edition::Two;
};

class DerivedKeysTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(DerivedKeysTime, DateAndValidity) {
  const TimeCase& c = GetParam();
  MessageRecord r = grib2_record(7, 0, 0, 0, 103, 2.0);
  r.edition = c.edition;
  r.reference_time = c.reference_time;
  r.indicatorOfUnitOfTimeRange = c.unit;
  r.forecastTime = c.forecast_time;
  const DerivedKeys keys = derive_keys(FieldView{r, {}, false, 0});
  EXPECT_EQ(long_key(keys, "stepUnits"), c.step_units);
  EXPECT_EQ(long_key(keys, "dataDate"), c.data_date);
  EXPECT_EQ(long_key(keys, "dataTime"), c.data_time);
  EXPECT_EQ(long_key(keys, "validityDate"), c.validity_date);
  EXPECT_EQ(long_key(keys, "validityTime"), c.validity_time);
}

const std::nullopt_t no = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Validity, DerivedKeysTime,
    ::testing::Values(
        TimeCase{"leap_year_feb_29", {2024, 2, 28, 18, 0, 0}, 1, 12, 1, 20240228, 1800, 20240229, 600},
        TimeCase{"common_year_mar_1", {2023, 2, 28, 18, 0, 0}, 1, 12, 1, 20230228, 1800, 20230301, 600},
        TimeCase{"century_not_leap", {2100, 2, 28, 12, 0, 0}, 2, 1, 2, 21000228, 1200, 21000301, 1200},
        TimeCase{"four_centuries_leap", {2000, 2, 28, 12, 0, 0}, 2, 1, 2, 20000228, 1200, 20000229, 1200},
        TimeCase{"year_end_minutes", {2024, 12, 31, 23, 30, 0}, 0, 45, 0, 20241231, 2330, 20250101, 15},
        TimeCase{"month_end_30", {2024, 4, 30, 21, 0, 0}, 10, 1, 10, 20240430, 2100, 20240501, 0},
        TimeCase{"six_hours", {2024, 1, 31, 0, 0, 0}, 11, 4, 11, 20240131, 0, 20240201, 0},
        TimeCase{"twelve_hours", {2024, 6, 30, 12, 0, 0}, 12, 3, 12, 20240630, 1200, 20240702, 0},
        TimeCase{"seconds_drop", {2024, 1, 1, 0, 0, 59}, 13, 1, 13, 20240101, 0, 20240101, 1},
        TimeCase{"ten_days_across_feb", {2024, 2, 25, 0, 0, 0}, 1, 240, 1, 20240225, 0, 20240306, 0},
        TimeCase{"step_zero", {2024, 2, 28, 18, 0, 0}, 1, 0, 1, 20240228, 1800, 20240228, 1800},
        TimeCase{"month_unit_has_no_length", {2024, 2, 28, 18, 0, 0}, 3, 12, no, 20240228, 1800, no, no},
        TimeCase{"missing_unit", {2024, 2, 28, 18, 0, 0}, 255, 12, no, 20240228, 1800, no, no},
        TimeCase{"no_unit", {2024, 2, 28, 18, 0, 0}, no, 12, no, 20240228, 1800, no, no},
        TimeCase{"no_forecast_time", {2024, 2, 28, 18, 0, 0}, 1, no, 1, 20240228, 1800, no, no},
        TimeCase{"negative_step", {2024, 1, 1, 0, 0, 0}, 1, -1, 1, 20240101, 0, 20231231, 2300},
        TimeCase{"max_hours", {2024, 1, 1, 0, 0, 0}, 1, 0xFFFFFFFF, 1, 20240101, 0, 4919910718, 1500},
        TimeCase{"max_days", {2024, 1, 1, 0, 0, 0}, 2, 0xFFFFFFFF, 2, 20240101, 0, 117612450119, 0},
        TimeCase{"max_seconds", {2024, 1, 1, 0, 0, 0}, 13, 0xFFFFFFFF, 13, 20240101, 0, 21600207, 628},
        TimeCase{"year_9999_rolls_over", {9999, 12, 31, 23, 0, 0}, 1, 1, 1, 99991231, 2300, 100000101, 0},
        // Edition 1 units: 13 is 15 minutes, 14 30 minutes, 254 the second;
        // steps are then counted in minutes (or seconds).
        TimeCase{"grib1_quarter_hours", {2024, 1, 1, 0, 0, 0}, 13, 3, 0, 20240101, 0, 20240101, 45, Edition::One},
        TimeCase{"grib1_half_hours", {2024, 1, 1, 0, 0, 0}, 14, 3, 0, 20240101, 0, 20240101, 130, Edition::One},
        TimeCase{"grib1_seconds", {2024, 1, 1, 0, 0, 0}, 254, 90, 13, 20240101, 0, 20240101, 1, Edition::One}),
    [](const auto& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    ReferenceDates, DerivedKeysTime,
    ::testing::Values(
        TimeCase{"leap_second", {2016, 12, 31, 23, 59, 60}, 13, 1, 13, 20161231, 2359, 20170101, 0},
        TimeCase{"year_zero", {0, 1, 1, 0, 0, 0}, 1, 1, 1, 101, 0, 101, 100},
        TimeCase{"year_beyond_four_digits", {10000, 1, 1, 0, 0, 0}, 1, 1, 1, no, no, no, no},
        TimeCase{"feb_29_common_year", {2023, 2, 29, 0, 0, 0}, 1, 1, 1, no, no, no, no},
        TimeCase{"feb_30_leap_year", {2024, 2, 30, 0, 0, 0}, 1, 1, 1, no, no, no, no},
        TimeCase{"april_31", {2024, 4, 31, 0, 0, 0}, 1, 1, 1, no, no, no, no},
        TimeCase{"month_13", {2024, 13, 1, 0, 0, 0}, 1, 1, 1, no, no, no, no},
        TimeCase{"month_0", {2024, 0, 1, 0, 0, 0}, 1, 1, 1, no, no, no, no},
        TimeCase{"day_0", {2024, 1, 0, 0, 0, 0}, 1, 1, 1, no, no, no, no},
        TimeCase{"hour_24", {2024, 1, 1, 24, 0, 0}, 1, 1, 1, no, no, no, no},
        TimeCase{"minute_60", {2024, 1, 1, 0, 60, 0}, 1, 1, 1, no, no, no, no},
        TimeCase{"second_61", {2024, 1, 1, 0, 0, 61}, 1, 1, 1, no, no, no, no}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DerivedKeysRecord, NoReferenceTimeNoDateKeys) {
  MessageRecord r = gfs_2t();
  r.reference_time.reset();
  const DerivedKeys keys = derive_keys(FieldView{r, {}, true, 1});
  EXPECT_EQ(keys.find("dataDate"), nullptr);
  EXPECT_EQ(keys.find("validityDate"), nullptr);
  EXPECT_EQ(long_key(keys, "stepUnits"), 1);
}

TEST(DerivedKeysMap, SetReplacesAndKeepsOrder) {
  DerivedKeys keys;
  keys.set("b", KeyValue{std::int64_t{1}});
  keys.set("a", KeyValue{std::int64_t{2}});
  keys.set("c", KeyValue{std::string("x")});
  keys.set("b", KeyValue{3.5});
  ASSERT_EQ(keys.entries().size(), 3u);
  EXPECT_EQ(keys.entries()[0].first, "a");
  EXPECT_EQ(keys.entries()[1].first, "b");
  EXPECT_EQ(keys.entries()[2].first, "c");
  EXPECT_EQ(double_key(keys, "b"), 3.5);
  EXPECT_TRUE(keys.contains("c"));
  EXPECT_FALSE(keys.contains("d"));
  EXPECT_FALSE(keys.contains(""));
}

// Real files: the keys a forecaster reads first, through scanning and
// derivation together.
struct FileCase {
  const char* file;
  std::size_t message;  // 0-based
  const char* shortName;
  std::int64_t paramId;
  const char* typeOfLevel;
  std::optional<double> level;  // not checked when absent
  const char* gridType;
  std::int64_t validityDate, validityTime;
};

class DerivedKeysRealFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(DerivedKeysRealFiles, Keys) {
  const FileCase& c = GetParam();
  const std::string path = std::string(VORLAK_SOURCE_ROOT "/../shared/testdata/") + c.file;
  std::ifstream in(path, std::ios::binary);
  if (!in) GTEST_SKIP() << "absent: " << path;
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto scanned = scan_messages(Bytes(bytes.data(), bytes.size()));
  ASSERT_TRUE(scanned) << scanned.error();
  ASSERT_LT(c.message, scanned->records.size());
  const MessageRecord& r = scanned->records[c.message];
  const DerivedKeys keys = derive_keys(FieldView{r, Bytes(bytes).subspan(r.offset, r.totalLength), r.Ni && r.Nj,
                                                 r.Ni && r.Nj ? std::uint64_t{*r.Ni} * *r.Nj : 0});
  EXPECT_EQ(text_key(keys, "shortName"), c.shortName);
  EXPECT_EQ(long_key(keys, "paramId"), c.paramId);
  EXPECT_EQ(text_key(keys, "typeOfLevel"), c.typeOfLevel);
  if (c.level) {
    EXPECT_EQ(double_key(keys, "level"), c.level);
  }
  EXPECT_EQ(text_key(keys, "gridType"), c.gridType);
  EXPECT_EQ(long_key(keys, "validityDate"), c.validityDate);
  EXPECT_EQ(long_key(keys, "validityTime"), c.validityTime);
}

INSTANTIATE_TEST_SUITE_P(
    Testdata, DerivedKeysRealFiles,
    ::testing::Values(
        FileCase{"hrrr.t06z.wrfsfcf01-UGRD.grib2", 0, "10u", 165, "heightAboveGround", 10.0, "lambert",
                 20230722, 700},
        // A daily minimum (template 4.12): valid at the end of its 24 hours.
        FileCase{"s2s-pdt9-pdt10-pdt12.grib2", 0, "2t", 167, "heightAboveGround", 2.0, "regular_ll",
                 20260319, 0},
        FileCase{"gfs.t12z.pgrb2.0p25.f023-PV-TMP-missing.grib2", 0, "t", 130, "potentialVorticity",
                 -2e-6, "regular_ll", 20260606, 1100},
        FileCase{"meteofrance.arome-TCDC.grib2", 0, "tcc", 228164, "surface", 0.0, "regular_ll", 20260413,
                 2200},
        FileCase{"multi_1.at_10m.t12z.f147.grib2", 0, "ws", 2001, "surface", 1.0, "regular_ll", 20230707,
                 1600},
        FileCase{"ecmwf_soil_8vars_tiny.grib1", 1, "swvl1", 39, "depthBelowLandLayer", 0.0, "regular_ll",
                 20260219, 0},
        FileCase{"ncep_plottrak.grib1", 0, "u", 33, "isobaricInhPa", 850.0, "regular_ll", 20010802, 600}));

}  // namespace
}  // namespace vorlak
