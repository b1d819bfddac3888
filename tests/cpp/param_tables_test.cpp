// Parameter naming: scan-time names of both editions and the key-time
// names, paramId and CF names a user sees.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "compat/code_names.hpp"
#include "compat/param_rules.hpp"
#include "compat/param_tables.hpp"
#include "support/message_records.hpp"

namespace vorlak {
namespace {

using test::grib1_record;
using test::grib2_record;

struct ScanCase2 {
  const char* label;
  std::uint8_t d, c, n, level_type;
  std::optional<double> level;
  const char* shortName;
  const char* name;
  const char* units;
};

class ParamScanNamesGrib2 : public ::testing::TestWithParam<ScanCase2> {};

TEST_P(ParamScanNamesGrib2, Names) {
  const ScanCase2& c = GetParam();
  const ParamNames got = scan_names_grib2(c.d, c.c, c.n, c.level_type, c.level);
  EXPECT_EQ(got.shortName, c.shortName);
  EXPECT_EQ(got.name, c.name);
  EXPECT_EQ(got.units, c.units);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParamScanNamesGrib2,
    ::testing::Values(
        ScanCase2{"temperature_isobaric", 0, 0, 0, 100, 50000.0, "t", "Temperature", "K"},
        ScanCase2{"temperature_2m", 0, 0, 0, 103, 2.0, "2t", "Temperature", "K"},
        ScanCase2{"temperature_10m_stays", 0, 0, 0, 103, 10.0, "t", "Temperature", "K"},
        ScanCase2{"temperature_level_2_not_height", 0, 0, 0, 100, 2.0, "t", "Temperature", "K"},
        ScanCase2{"temperature_no_level", 0, 0, 0, 103, std::nullopt, "t", "Temperature", "K"},
        ScanCase2{"temperature_2_5m_truncated", 0, 0, 0, 103, 2.5, "2t", "Temperature", "K"},
        ScanCase2{"dewpoint_2m", 0, 0, 6, 103, 2.0, "2d", "Dewpoint Temperature", "K"},
        ScanCase2{"dewpoint_10m_stays", 0, 0, 6, 103, 10.0, "d", "Dewpoint Temperature", "K"},
        ScanCase2{"u_10m", 0, 2, 2, 103, 10.0, "10u", "U-Component of Wind", "m/s"},
        ScanCase2{"u_100m", 0, 2, 2, 103, 100.0, "100u", "U-Component of Wind", "m/s"},
        ScanCase2{"u_80m_stays", 0, 2, 2, 103, 80.0, "u", "U-Component of Wind", "m/s"},
        ScanCase2{"u_no_level_type", 0, 2, 2, 255, 10.0, "u", "U-Component of Wind", "m/s"},
        ScanCase2{"v_10m", 0, 2, 3, 103, 10.0, "10v", "V-Component of Wind", "m/s"},
        ScanCase2{"v_100m", 0, 2, 3, 103, 100.0, "100v", "V-Component of Wind", "m/s"},
        ScanCase2{"rh_2m_not_refined", 0, 1, 1, 103, 2.0, "r", "Relative Humidity", "%"},
        ScanCase2{"vorticity", 0, 2, 12, 100, 50000.0, "vo", "Relative Vorticity", "1/s"},
        ScanCase2{"msl", 0, 3, 1, 101, 0.0, "msl", "Pressure Reduced to MSL", "Pa"},
        ScanCase2{"helicity", 0, 7, 8, 103, 3000.0, "hlcy", "Storm Relative Helicity", "m^2/s^2"},
        ScanCase2{"visibility", 0, 19, 0, 1, 0.0, "vis", "Visibility", "m"},
        ScanCase2{"unlisted_number", 0, 0, 1, 1, 0.0, "unknown", "Unknown", "?"},
        ScanCase2{"space_weather", 4, 0, 0, 1, 0.0, "unknown", "Unknown", "?"},
        ScanCase2{"land_surface", 2, 0, 0, 1, 0.0, "unknown", "Unknown", "?"}),
    [](const auto& info) { return std::string(info.param.label); });

struct ScanCase1 {
  const char* label;
  std::optional<std::uint16_t> centre;
  std::uint8_t parameter;
  const char* shortName;
  const char* name;
  const char* units;
};

class ParamScanNamesGrib1 : public ::testing::TestWithParam<ScanCase1> {};

TEST_P(ParamScanNamesGrib1, Names) {
  const ScanCase1& c = GetParam();
  const ParamNames got = scan_names_grib1(c.centre, c.parameter);
  EXPECT_EQ(got.shortName, c.shortName);
  EXPECT_EQ(got.name, c.name);
  EXPECT_EQ(got.units, c.units);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParamScanNamesGrib1,
    ::testing::Values(
        ScanCase1{"ecmwf_2t", 98, 167, "2t", "2 metre temperature", "K"},
        ScanCase1{"ecmwf_geopotential", 98, 129, "z", "Geopotential", "m^2/s^2"},
        ScanCase1{"ecmwf_lsm", 98, 172, "lsm", "Land-sea mask", "0-1"},
        ScanCase1{"ecmwf_tp", 98, 228, "tp", "Total precipitation", "m"},
        ScanCase1{"ecmwf_wmo_row", 98, 11, "t", "GRIB1 parameter", "?"},
        ScanCase1{"ecmwf_unlisted", 98, 1, "grib1", "GRIB1 parameter", "?"},
        ScanCase1{"ncep_temperature", 7, 11, "t", "GRIB1 parameter", "?"},
        ScanCase1{"ncep_rh", 7, 52, "r", "GRIB1 parameter", "?"},
        ScanCase1{"ncep_ecmwf_row_unknown", 7, 167, "grib1", "GRIB1 parameter", "?"},
        ScanCase1{"no_centre_u", std::nullopt, 33, "u", "GRIB1 parameter", "?"},
        ScanCase1{"no_centre_ecmwf_row", std::nullopt, 130, "grib1", "GRIB1 parameter", "?"}),
    [](const auto& info) { return std::string(info.param.label); });

struct KeyTimeCase {
  const char* label;
  MessageRecord record;
  const char* shortName;
  const char* name;
  const char* units;
  std::optional<std::int64_t> paramId;
  std::optional<std::string> cfName;
  std::optional<std::string> cfVarName;
};

class ParamKeyTimeNames : public ::testing::TestWithParam<KeyTimeCase> {};

TEST_P(ParamKeyTimeNames, Names) {
  const KeyTimeCase& c = GetParam();
  const KeyTimeNameViews got = key_time_name_views(c.record);
  const auto key = [](std::string_view v) { return v.empty() ? std::nullopt : std::optional<std::string>(v); };
  EXPECT_EQ(got.shortName, c.shortName);
  EXPECT_EQ(got.name, c.name);
  EXPECT_EQ(got.units, c.units);
  EXPECT_EQ(got.paramId, c.paramId);
  EXPECT_EQ(key(got.cfName), c.cfName);
  EXPECT_EQ(key(got.cfVarName), c.cfVarName);
}

MessageRecord without_discipline(MessageRecord r) {
  r.discipline.reset();
  return r;
}
MessageRecord without_number(MessageRecord r) {
  r.parameterNumber.reset();
  return r;
}
MessageRecord unknown_edition(MessageRecord r) {
  r.edition = Edition::Unknown;
  return r;
}

const std::nullopt_t no = std::nullopt;
constexpr std::uint8_t kSurface = 1, kIsobaric = 100, kHeight = 103;

// Centre rows: NCEP (7), ECMWF (98) and the small tables of centres 8 and 80.
INSTANTIATE_TEST_SUITE_P(
    CentreRows, ParamKeyTimeNames,
    ::testing::Values(
        KeyTimeCase{"ncep_2t", grib2_record(7, 0, 0, 0, kHeight, 2.0), "2t", "2 metre temperature",
                    "K", 167, "air_temperature", "t2m"},
        KeyTimeCase{"ncep_t_isobaric", grib2_record(7, 0, 0, 0, kIsobaric, 85000.0), "t",
                    "Temperature", "K", 130, "air_temperature", "t"},
        KeyTimeCase{"ncep_dpt_isobaric", grib2_record(7, 0, 0, 6, kIsobaric, 85000.0), "dpt",
                    "Dew point temperature", "K", 3017, "dew_point_temperature", "dpt"},
        KeyTimeCase{"ncep_q", grib2_record(7, 0, 1, 0, kIsobaric, 50000.0), "q", "Specific humidity",
                    "kg kg**-1", 133, "specific_humidity", "q"},
        KeyTimeCase{"ncep_2r", grib2_record(7, 0, 1, 1, kHeight, 2.0), "2r",
                    "2 metre relative humidity", "%", 260242, "relative_humidity", "r"},
        KeyTimeCase{"ncep_tp", grib2_record(7, 0, 1, 8, kSurface, 0.0), "tp", "Total Precipitation",
                    "kg m**-2", 228228, "precipitation_amount", "tp"},
        KeyTimeCase{"ncep_crain", grib2_record(7, 0, 1, 33, kSurface, 0.0), "crain",
                    "Categorical rain", "(Code table 4.222)", 260029, no, "crain"},
        KeyTimeCase{"ncep_cfrzr_local_number", grib2_record(7, 0, 1, 193, kSurface, 0.0), "cfrzr",
                    "Categorical freezing rain", "(Code table 4.222)", 260030, no, "cfrzr"},
        KeyTimeCase{"ncep_10u", grib2_record(7, 0, 2, 2, kHeight, 10.0), "10u",
                    "10 metre U wind component", "m s**-1", 165, "eastward_wind", "u10"},
        KeyTimeCase{"ncep_u_80m", grib2_record(7, 0, 2, 2, kHeight, 80.0), "u", "U component of wind",
                    "m s**-1", 131, "eastward_wind", "u"},
        KeyTimeCase{"ncep_10v_truncated_level", grib2_record(7, 0, 2, 3, kHeight, 10.9), "10v",
                    "10 metre V wind component", "m s**-1", 166, "northward_wind", "v10"},
        KeyTimeCase{"ncep_u_isobaric", grib2_record(7, 0, 2, 2, kIsobaric, 25000.0), "u",
                    "U component of wind", "m s**-1", 131, "eastward_wind", "u"},
        KeyTimeCase{"ncep_w", grib2_record(7, 0, 2, 8, kIsobaric, 70000.0), "w", "Vertical velocity",
                    "Pa s**-1", 135, "lagrangian_tendency_of_air_pressure", "w"},
        KeyTimeCase{"ncep_sp", grib2_record(7, 0, 3, 0, kSurface, 0.0), "sp", "Surface pressure", "Pa",
                    134, "air_pressure", "sp"},
        KeyTimeCase{"ncep_pres_cloud_top", grib2_record(7, 0, 3, 0, 3, 0.0), "pres", "Pressure", "Pa",
                    54, "air_pressure", "sp"},
        KeyTimeCase{"ncep_orog", grib2_record(7, 0, 3, 5, kSurface, 0.0), "orog", "Orography", "m",
                    228002, "geopotential_height", "gh"},
        KeyTimeCase{"ncep_gh", grib2_record(7, 0, 3, 5, kIsobaric, 50000.0), "gh",
                    "Geopotential height", "gpm", 156, "geopotential_height", "gh"},
        KeyTimeCase{"ncep_gh_isotherm_zero", grib2_record(7, 0, 3, 5, 4, 0.0), "gh",
                    "Geopotential height", "gpm", 156, "geopotential_height", "gh"},
        KeyTimeCase{"ncep_gh_tropopause_no_row", grib2_record(7, 0, 3, 5, 7, 0.0), "gh",
                    "Geopotential Height", "gpm", 156, "geopotential_height", "gh"},
        KeyTimeCase{"ncep_tcc", grib2_record(7, 0, 6, 1, 10, 0.0), "tcc", "Total Cloud Cover", "%",
                    228164, "cloud_area_fraction", "tcc"},
        KeyTimeCase{"ncep_cape", grib2_record(7, 0, 7, 6, 108, 18000.0), "cape",
                    "Convective available potential energy", "J kg**-1", 59,
                    "atmosphere_convective_available_potential_energy", "cape"},
        KeyTimeCase{"ncep_refd", grib2_record(7, 0, 16, 195, kHeight, 1000.0), "refd",
                    "Derived radar reflectivity", "dB", 260389, no, "refd"},
        KeyTimeCase{"ncep_ltng", grib2_record(7, 0, 17, 192, 10, 0.0), "ltng", "Lightning",
                    "dimensionless", 260391, no, "ltng"},
        KeyTimeCase{"ncep_lsm", grib2_record(7, 2, 0, 0, kSurface, 0.0), "lsm", "Land-sea mask",
                    "(0 - 1)", 172, "land_binary_mask", "lsm"},
        KeyTimeCase{"ncep_soil_temperature", grib2_record(7, 2, 0, 2, 106, 0.1), "st",
                    "Soil temperature", "K", 228139, "soil_temperature", "st"},
        KeyTimeCase{"ncep_vgtyp", grib2_record(7, 2, 0, 198, kSurface, 0.0), "vgtyp",
                    "Vegetation Type", "Integer(0-13)", 260439, no, "vgtyp"},
        KeyTimeCase{"ncep_goes11_ch3", grib2_record(7, 3, 192, 7, 8, 0.0), "SBT113",
                    "Simulated Brightness Temperature for GOES 11, Channel 3", "K", 7001301, no,
                    "SBT113"},
        KeyTimeCase{"ncep_sea_ice", grib2_record(7, 10, 2, 0, kSurface, 0.0), "ci",
                    "Sea ice area fraction", "(0 - 1)", 31, no, "ci"},
        KeyTimeCase{"ncep_sulwrf", grib2_record(7, 0, 5, 4, kSurface, 0.0), "sulwrf",
                    "Surface upward long-wave radiation flux", "W m**-2", 260098, no, "sulwrf"},
        KeyTimeCase{"ecmwf_10u", grib2_record(98, 0, 2, 2, kHeight, 10.0), "10u",
                    "10 metre U wind component", "m s**-1", 165, "eastward_wind", "u10"},
        KeyTimeCase{"ecmwf_t_hybrid", grib2_record(98, 0, 0, 0, 105, 137.0), "t", "Temperature", "K",
                    130, "air_temperature", "t"},
        KeyTimeCase{"ecmwf_2t", grib2_record(98, 0, 0, 0, kHeight, 2.0), "2t", "2 metre temperature",
                    "K", 167, "air_temperature", "t2m"},
        KeyTimeCase{"centre8_wind_waves", grib2_record(8, 10, 0, 5, kSurface, 0.0), "shww",
                    "Significant height of wind waves", "m", 140234, no, "shww"},
        KeyTimeCase{"centre80_2t", grib2_record(80, 0, 0, 0, kHeight, 2.0), "2t",
                    "2 metre temperature", "K", 167, "air_temperature", "t2m"}),
    [](const auto& info) { return std::string(info.param.label); });

// Rows NCEP publishes without a name hold only until a table names the
// parameter; then the field is named as if the row were not there.
INSTANTIATE_TEST_SUITE_P(
    UnnamedRows, ParamKeyTimeNames,
    ::testing::Values(
        KeyTimeCase{"ncep_0_20_0", grib2_record(7, 0, 20, 0, kHeight, 2.0), "massden",
                    "Mass density (concentration)", "kg m-3", 20000, no, "massden"},
        KeyTimeCase{"ncep_0_5_4_nominal_top", grib2_record(7, 0, 5, 4, 8, 0.0), "ulwrf",
                    "Upward long-wave radiation flux", "W m-2", 5004, no, "ulwrf"},
        KeyTimeCase{"ncep_0_1_82", grib2_record(7, 0, 1, 82, kIsobaric, 50000.0), "cimixr",
                    "Cloud ice mixing-ratio", "kg/kg", 1082, no, "cimixr"}),
    [](const auto& info) { return std::string(info.param.label); });

// Without a centre row: the edition 2 fallback, the refinements, the
// default paramId and its exceptions.
INSTANTIATE_TEST_SUITE_P(
    Grib2Fallbacks, ParamKeyTimeNames,
    ::testing::Values(
        KeyTimeCase{"ukmo_2t", grib2_record(74, 0, 0, 0, kHeight, 2.0), "2t", "Temperature", "K", 167,
                    "air_temperature", "t2m"},
        KeyTimeCase{"ukmo_t_isobaric", grib2_record(74, 0, 0, 0, kIsobaric, 50000.0), "t",
                    "Temperature", "K", 130, "air_temperature", "t"},
        KeyTimeCase{"ukmo_dlwrf", grib2_record(74, 0, 5, 3, kSurface, 0.0), "dlwrf",
                    "Downward long-wave radiation flux", "W m-2", 5003, no, "dlwrf"},
        KeyTimeCase{"ukmo_2d", grib2_record(74, 0, 0, 6, kHeight, 2.0), "2d", "Dewpoint Temperature",
                    "K", 168, "dew_point_temperature", "d2m"},
        KeyTimeCase{"ukmo_dpt_isobaric", grib2_record(74, 0, 0, 6, kIsobaric, 85000.0), "dpt",
                    "Dewpoint Temperature", "K", 3017, "dew_point_temperature", "dpt"},
        KeyTimeCase{"ukmo_100u", grib2_record(74, 0, 2, 2, kHeight, 100.0), "100u",
                    "U-Component of Wind", "m/s", 228246, "eastward_wind", "u100"},
        KeyTimeCase{"ukmo_10v", grib2_record(74, 0, 2, 3, kHeight, 10.0), "10v",
                    "V-Component of Wind", "m/s", 166, "northward_wind", "v10"},
        KeyTimeCase{"ukmo_100v", grib2_record(74, 0, 2, 3, kHeight, 100.0), "100v",
                    "V-Component of Wind", "m/s", 228247, "northward_wind", "v100"},
        KeyTimeCase{"ncep_u_50m_no_row", grib2_record(7, 0, 2, 2, kHeight, 50.0), "u",
                    "U-Component of Wind", "m/s", 131, "eastward_wind", "u"},
        KeyTimeCase{"ncep_100u_no_row", grib2_record(7, 0, 2, 2, kHeight, 100.0), "100u",
                    "U-Component of Wind", "m/s", 228246, "eastward_wind", "u100"},
        KeyTimeCase{"negative_level_counts_as_0", grib2_record(7, 0, 2, 2, kHeight, -10.0), "u",
                    "U-Component of Wind", "m/s", 131, "eastward_wind", "u"},
        KeyTimeCase{"huge_level_clamped", grib2_record(74, 0, 2, 2, kHeight, 1e30), "u",
                    "U-Component of Wind", "m/s", 131, "eastward_wind", "u"},
        KeyTimeCase{"ukmo_vorticity_named_d", grib2_record(74, 0, 2, 12, kIsobaric, 50000.0), "d",
                    "Relative Vorticity", "1/s", 2012, no, "d"},
        KeyTimeCase{"ukmo_land_sea_mask", grib2_record(74, 2, 0, 0, kSurface, 0.0), "lsm",
                    "Land cover (0 = sea, 1 = land)", "Proportion", 172, "land_binary_mask", "lsm"},
        KeyTimeCase{"ukmo_roughness", grib2_record(74, 2, 0, 1, kSurface, 0.0), "sfcr",
                    "Surface roughness", "m", 244, no, "sfcr"},
        KeyTimeCase{"ukmo_wave_height", grib2_record(74, 10, 0, 3, kSurface, 0.0), "swh",
                    "Significant height of combined wind waves and swell", "m", 1000003,
                    "sea_surface_wave_significant_height", "swh"},
        KeyTimeCase{"ukmo_tp", grib2_record(74, 0, 1, 8, kSurface, 0.0), "tp", "Total Precipitation",
                    "kg/m^2", 228228, "precipitation_amount", "tp"},
        KeyTimeCase{"ukmo_visibility_0_19_0", grib2_record(74, 0, 19, 0, kSurface, 0.0), "vis",
                    "Visibility", "m", 3020, no, "vis"},
        KeyTimeCase{"dwd_chemistry_category_20", grib2_record(78, 0, 20, 5, kSurface, 0.0), "anpemflx",
                    "Atmosphere net production and emission mass flux", "kg m-2 s-1", 20005, no,
                    "anpemflx"},
        KeyTimeCase{"space_weather", grib2_record(74, 4, 2, 3, kSurface, 0.0), "ionden", "Ion density",
                    "m-3", 402003, no, "ionden"},
        KeyTimeCase{"space_weather_reserved", grib2_record(74, 4, 2, 100, kSurface, 0.0), "unknown",
                    "Unknown", "?", 402100, no, "unknown"},
        KeyTimeCase{"no_discipline_gives_number", without_discipline(grib2_record(74, 0, 2, 2, kHeight, 10.0)),
                    "10u", "U-Component of Wind", "m/s", 2, no, "10u"},
        // Without a parameter number (or an edition) there is nothing to name.
        KeyTimeCase{"no_number_no_param_id", without_number(grib2_record(74, 0, 0, 0, kHeight, 2.0)),
                    "", "", "?", no, no, no},
        KeyTimeCase{"unknown_edition", unknown_edition(grib2_record(74, 0, 0, 0, kHeight, 2.0)), "", "", "?", no,
                    no, no}),
    [](const auto& info) { return std::string(info.param.label); });

// The generated tables: WMO parameters for every centre (NCEP's abbreviation
// as short name), local numbers only from their producer's table (NCEP for
// centres 7, 8 and 161, MRMS for discipline 209 of centre 161). Units as the
// tables state them.
INSTANTIATE_TEST_SUITE_P(
    Tables, ParamKeyTimeNames,
    ::testing::Values(
        KeyTimeCase{"wavewatch_wave_period", grib2_record(7, 10, 0, 6, kSurface, 0.0), "wvper",
                    "Mean period of wind waves", "s", 1000006, no, "wvper"},
        KeyTimeCase{"meteofrance_primary_wave_period", grib2_record(85, 10, 0, 11, kSurface, 0.0),
                    "perpw", "Primary wave mean period", "s", 1000011, no, "perpw"},
        KeyTimeCase{"wavewatch_swell_ordered_sequence", grib2_record(7, 10, 0, 7, 241, 1.0), "swdir",
                    "Direction of swell waves", "degree true", 1000007, no, "swdir"},
        KeyTimeCase{"icon_precipitation_rate", grib2_record(78, 0, 1, 52, kSurface, 0.0), "tprate",
                    "Total precipitation rate", "kg m-2 s-1", 1052, no, "tprate"},
        KeyTimeCase{"nbm_total_snowfall", grib2_record(7, 0, 1, 29, kSurface, 0.0), "asnow",
                    "Total snowfall", "m", 1029, no, "asnow"},
        KeyTimeCase{"ecmwf_snow_density", grib2_record(98, 0, 1, 61, kSurface, 0.0), "sden",
                    "Snow density", "kg m-3", 1061, no, "sden"},
        KeyTimeCase{"aqm_ozone_local", grib2_record(7, 0, 14, 193, 104, 1.0), "ozcon",
                    "Ozone Concentration", "ppb", 14193, no, "ozcon"},
        KeyTimeCase{"ncep_minimum_rh_local", grib2_record(7, 0, 1, 198, kHeight, 2.0), "minrh",
                    "Minimum Relative Humidity", "%", 1198, no, "minrh"},
        KeyTimeCase{"hrrr_max_updraft_local", grib2_record(7, 0, 2, 220, 108, 10000.0), "maxuvv",
                    "Hourly Maximum of Upward Vertical Velocity", "m s-1", 2220, no, "maxuvv"},
        KeyTimeCase{"gdas_ventilation_rate_local", grib2_record(7, 0, 2, 224, 220, 0.0), "vrate",
                    "Ventilation Rate", "m2 s-1", 2224, no, "vrate"},
        KeyTimeCase{"ndfd_gateway_local", grib2_record(8, 0, 1, 198, kSurface, 0.0), "minrh",
                    "Minimum Relative Humidity", "%", 1198, no, "minrh"},
        KeyTimeCase{"noaa_oar_local_category", grib2_record(161, 0, 3, 192, kSurface, 0.0), "mslet",
                    "MSLP (Eta model reduction)", "Pa", 3192, no, "mslet"},
        KeyTimeCase{"mrms_rhohv", grib2_record(161, 209, 9, 3, 102, 500.0), "MergedRhoHV",
                    "3D RhoHV Mosaic - 33 CAPPIS (500-19000m)", "non-dim", 20909003, no,
                    "MergedRhoHV"},
        // Local numbers of other centres never take NCEP's or MRMS's names.
        KeyTimeCase{"ecmwf_local_not_ncep", grib2_record(98, 0, 14, 193, kSurface, 0.0), "unknown",
                    "Unknown", "?", 14193, no, "unknown"},
        KeyTimeCase{"jma_local_not_ncep", grib2_record(34, 0, 1, 198, kSurface, 0.0), "unknown",
                    "Unknown", "?", 1198, no, "unknown"},
        KeyTimeCase{"dwd_discipline_209_not_mrms", grib2_record(78, 209, 9, 3, kSurface, 0.0),
                    "unknown", "Unknown", "?", 20909003, no, "unknown"},
        KeyTimeCase{"ncep_local_without_row", grib2_record(7, 0, 192, 192, kSurface, 0.0), "unknown",
                    "Unknown", "?", 192192, no, "unknown"},
        KeyTimeCase{"wmo_reserved_number", grib2_record(7, 0, 0, 33, kSurface, 0.0), "unknown",
                    "Unknown", "?", 33, no, "unknown"},
        KeyTimeCase{"missing_number", grib2_record(74, 0, 0, 255, kSurface, 0.0), "unknown",
                    "Unknown", "?", 255, no, "unknown"},
        // A WMO parameter NCEP does not abbreviate is named but keeps no short name.
        KeyTimeCase{"wmo_without_abbreviation", grib2_record(74, 0, 21, 1, kSurface, 0.0), "unknown",
                    "Column integrated kinetic energy", "J m-2", 21001, no, "unknown"},
        // The rows above the tables keep their texts; the tables fill only the rest.
        KeyTimeCase{"fallback_short_name_kept", grib2_record(98, 0, 1, 19, kSurface, 0.0), "prate",
                    "Precipitation type", "(Code table 4.201)", 1019, "precipitation_flux", "prate"},
        KeyTimeCase{"scan_row_kept", grib2_record(74, 0, 1, 7, kSurface, 0.0), "prate",
                    "Precipitation Rate", "kg/m^2/s", 1007, no, "prate"},
        KeyTimeCase{"ncep_row_kept", grib2_record(7, 0, 1, 193, kSurface, 0.0), "cfrzr",
                    "Categorical freezing rain", "(Code table 4.222)", 260030, no, "cfrzr"},
        KeyTimeCase{"ncep_local_at_other_level", grib2_record(7, 0, 1, 193, kHeight, 2.0), "cfrzr",
                    "Categorical Freezing Rain", "Code table 4.222", 1193, no, "cfrzr"},
        KeyTimeCase{"wmo_units_unstated", grib2_record(74, 3, 1, 23, kSurface, 0.0), "angcoe",
                    "Angstrom coefficient", "?", 301023, no, "angcoe"},
        KeyTimeCase{"utf8_text", grib2_record(74, 3, 1, 20, kSurface, 0.0), "aot06",
                    "Aerosol optical thickness at 0.635 \xce\xbcm", "?", 301020, no, "aot06"},
        KeyTimeCase{"grib1_other_centre_keeps_texts", grib1_record(7, 2, 61), "grib1",
                    "GRIB1 parameter", "?", 61, no, "grib1"}),
    [](const auto& info) { return std::string(info.param.label); });

MessageRecord height_level(MessageRecord r, double level) {
  r.levelType = 103;
  r.level = level;
  return r;
}

// Edition 1: the fallback tables by table version.
INSTANTIATE_TEST_SUITE_P(
    Grib1, ParamKeyTimeNames,
    ::testing::Values(
        KeyTimeCase{"ecmwf_2t", grib1_record(98, 128, 167), "2t", "2 metre temperature", "K", 167, no,
                    "2t"},
        KeyTimeCase{"ecmwf_geopotential", grib1_record(98, 128, 129, 100, 500), "z", "Geopotential",
                    "m^2/s^2", 129, no, "z"},
        KeyTimeCase{"ecmwf_soil_water", grib1_record(98, 128, 39, 112, 0), "swvl1", "GRIB1 parameter",
                    "m**3 m**-3", 39, no, "swvl1"},
        KeyTimeCase{"ecmwf_soil_type", grib1_record(98, 128, 43), "slt", "GRIB1 parameter", "(Code table 4.213)",
                    43, no, "slt"},
        KeyTimeCase{"ecmwf_soil_temp_4", grib1_record(98, 128, 236, 112, 0), "stl4", "GRIB1 parameter", "K", 236,
                    no, "stl4"},
        KeyTimeCase{"ecmwf_wmo_t", grib1_record(98, 128, 11), "t", "GRIB1 parameter", "?", 11, no,
                    "t"},
        KeyTimeCase{"ecmwf_unlisted", grib1_record(98, 128, 200), "grib1", "GRIB1 parameter", "?", 200,
                    no, "grib1"},
        KeyTimeCase{"co2_flux_v228", grib1_record(98, 228, 82), "aco2rec", "GRIB1 parameter",
                    "kg m**-2", 228082, no, "aco2rec"},
        KeyTimeCase{"precip_rate_v172", grib1_record(98, 172, 228), "tprate", "Total precipitation",
                    "m s**-1", 172228, no, "tprate"},
        KeyTimeCase{"athens_nlwrs", grib1_record(96, 1, 112), "nlwrs",
                    "Net long-wave radiation flux (surface)", "W m**-2", 3112, no, "nlwrs"},
        KeyTimeCase{"ncep_version1_112", grib1_record(7, 1, 112), "grib1", "GRIB1 parameter", "?", 112,
                    no, "grib1"},
        KeyTimeCase{"ncep_temperature", grib1_record(7, 2, 11), "t", "GRIB1 parameter", "?", 11, no,
                    "t"},
        KeyTimeCase{"no_version_rh", grib1_record(7, std::nullopt, 52), "r", "GRIB1 parameter", "?", 52,
                    no, "r"},
        KeyTimeCase{"record_name_refined", height_level(grib1_record(98, 3, 130), 2.0), "2t",
                    "Temperature", "K", 130, no, "2t"}),
    [](const auto& info) { return std::string(info.param.label); });

bool local_code(unsigned code) { return code >= 192 && code <= 254; }

// Every category and number of a few disciplines under several centres: the
// WMO names do not depend on the centre, local numbers are named for the NOAA
// centres only, and whatever is named has a name.
TEST(ParamTables, LocalNumbersOnlyForTheirProducers) {
  const std::optional<std::uint16_t> centres[] = {7, 8, 161, 98, 34, std::nullopt};
  std::size_t named = 0, wrong = 0;
  for (const unsigned d : {0u, 2u, 3u, 10u, 20u, 209u, 255u}) {
    for (unsigned c = 0; c < 256; ++c) {
      for (unsigned n = 0; n < 256; ++n) {
        const bool local = local_code(d) || local_code(c) || local_code(n);
        const auto wmo = table_param_names(74, d, c, n);
        for (const auto centre : centres) {
          const auto got = table_param_names(centre, d, c, n);
          if (!got) continue;
          ++named;
          const bool noaa = centre == 7 || centre == 8 || centre == 161;
          if (got->shortName.empty() || got->name.empty() || (local && !noaa) ||
              (!local && got->name != wmo->name)) {
            ++wrong;
          }
        }
      }
    }
  }
  EXPECT_GT(named, 2000u);
  EXPECT_EQ(wrong, 0u);
}

// Every level type under several centres has a name, and the local ones
// (192-254) differ from "unknown" for the NOAA centres only, except where the
// fixed names already cover the code.
TEST(ParamTables, LocalLevelTypesOnlyForTheirProducers) {
  for (unsigned code = 0; code < 256; ++code) {
    const auto type = static_cast<std::uint8_t>(code);
    const std::string_view other = type_of_level_name(Edition::Two, 98, type, 0.0);
    const std::string_view noaa = type_of_level_name(Edition::Two, 7, type, 0.0);
    EXPECT_FALSE(other.empty()) << code;
    if (code == 200 || !local_code(code)) {
      EXPECT_EQ(noaa, other) << code;
    } else {
      EXPECT_EQ(other, "unknown") << code;
      EXPECT_EQ(type_of_level_name(Edition::Two, 8, type, 0.0), noaa) << code;
      EXPECT_EQ(type_of_level_name(Edition::Two, 161, type, 0.0), noaa) << code;
    }
  }
}

}  // namespace
}  // namespace vorlak
