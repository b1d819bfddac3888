// Key-time parameter rows of edition 2 fields by originating centre: the
// large NCEP table (centre 7) and the few rows of centres 8, 80 and 98.
// One row per line: centre, discipline/category/number, level type, [level,]
// shortName, name, units, paramId.
#include <array>

#include "compat/param_rules.hpp"
#include "compat/sorted_table.hpp"
#include "compat/table_level.hpp"

namespace vorlak {
namespace {

constexpr std::uint64_t centre_key(unsigned centre, unsigned d, unsigned c, unsigned n, unsigned type) {
  return std::uint64_t{centre} << 32 | std::uint64_t{d} << 24 | c << 16 | n << 8 | type;
}

// A row for any level of its level type.
constexpr CentreParamRow row(unsigned centre, unsigned d, unsigned c, unsigned n, unsigned type,
                             std::string_view short_name, std::string_view name,
                             std::string_view units, std::int64_t param_id) {
  return {centre_key(centre, d, c, n, type), -1, short_name, name, units, param_id};
}

// A row for one level only (height above ground in metres).
constexpr CentreParamRow at_level(unsigned centre, unsigned d, unsigned c, unsigned n, unsigned type,
                                  std::int64_t level, std::string_view short_name,
                                  std::string_view name, std::string_view units,
                                  std::int64_t param_id) {
  return {centre_key(centre, d, c, n, type), level, short_name, name, units, param_id};
}

// A combination the centre publishes without a name: it stays unnamed
// rather than falling through to the generic tables.
constexpr CentreParamRow unnamed(unsigned centre, unsigned d, unsigned c, unsigned n, unsigned type) {
  return {centre_key(centre, d, c, n, type), -1, "unknown", "unknown", "unknown", 0};
}

constexpr std::string_view kWm2 = "W m**-2";
constexpr std::string_view kMs = "m s**-1";
constexpr std::string_view kKgKg = "kg kg**-1";
constexpr std::string_view kKgM2 = "kg m**-2";
constexpr std::string_view kCode4222 = "(Code table 4.222)";

constexpr auto kRows = sorted_rows(std::array{
    // Centre 8 (US NWS telecommunications gateway)
    row(8, 10, 0, 5, 1, "shww", "Significant height of wind waves", "m", 140234),
    // Centre 80 (Rome)
    row(80, 0, 0, 0, 103, "2t", "2 metre temperature", "K", 167),
    // Centre 98 (ECMWF)
    row(98, 0, 0, 0, 100, "t", "Temperature", "K", 130),
    row(98, 0, 0, 0, 105, "t", "Temperature", "K", 130),
    row(98, 0, 0, 0, 103, "2t", "2 metre temperature", "K", 167),
    row(98, 0, 2, 2, 103, "10u", "10 metre U wind component", kMs, 165),

    // Centre 7 (NCEP), discipline 0: temperature
    row(7, 0, 0, 0, 1, "t", "Temperature", "K", 130),
    row(7, 0, 0, 0, 100, "t", "Temperature", "K", 130),
    row(7, 0, 0, 0, 103, "2t", "2 metre temperature", "K", 167),
    row(7, 0, 0, 2, 103, "pt", "Potential temperature", "K", 3),
    row(7, 0, 0, 6, 100, "dpt", "Dew point temperature", "K", 3017),
    row(7, 0, 0, 6, 103, "2d", "2 metre dewpoint temperature", "K", 168),
    row(7, 0, 0, 10, 1, "slhtf", "Surface latent heat net flux", kWm2, 260002),
    row(7, 0, 0, 11, 1, "ishf", "Instantaneous surface sensible heat flux", kWm2, 231),
    // moisture
    row(7, 0, 1, 0, 100, "q", "Specific humidity", kKgKg, 133),
    row(7, 0, 1, 0, 103, "2sh", "2 metre specific humidity", kKgKg, 174096),
    row(7, 0, 1, 1, 4, "r", "Relative humidity", "%", 157),
    row(7, 0, 1, 1, 100, "r", "Relative humidity", "%", 157),
    row(7, 0, 1, 1, 204, "r", "Relative humidity", "%", 157),
    row(7, 0, 1, 1, 103, "2r", "2 metre relative humidity", "%", 260242),
    row(7, 0, 1, 3, 200, "pwat", "Precipitable water", kKgM2, 3054),
    row(7, 0, 1, 7, 1, "prate", "Precipitation rate", "kg m**-2 s**-1", 3059),
    row(7, 0, 1, 8, 1, "tp", "Total Precipitation", kKgM2, 228228),
    row(7, 0, 1, 11, 1, "sde", "Snow depth", "m", 3066),
    row(7, 0, 1, 13, 1, "sdwe", "Water equivalent of accumulated snow depth", kKgM2, 260056),
    row(7, 0, 1, 22, 100, "clwmr", "Cloud mixing ratio", kKgKg, 260018),
    row(7, 0, 1, 24, 100, "rwmr", "Rain mixing ratio", kKgKg, 260020),
    row(7, 0, 1, 25, 100, "snmr", "Snow mixing ratio", kKgKg, 260021),
    row(7, 0, 1, 32, 100, "grle", "Graupel (snow pellets)", kKgKg, 260028),
    row(7, 0, 1, 31, 10, "hail", "Hail", "m", 260027),
    row(7, 0, 1, 31, 104, "hail", "Hail", "m", 260027),
    row(7, 0, 1, 33, 1, "crain", "Categorical rain", kCode4222, 260029),
    row(7, 0, 1, 34, 1, "cfrzr", "Categorical freezing rain", kCode4222, 260030),
    row(7, 0, 1, 193, 1, "cfrzr", "Categorical freezing rain", kCode4222, 260030),
    row(7, 0, 1, 35, 1, "cicep", "Categorical ice pellets", kCode4222, 260031),
    row(7, 0, 1, 36, 1, "csnow", "Categorical snow", kCode4222, 260032),
    row(7, 0, 1, 37, 1, "cpr", "Convective precipitation rate", "kg m**-2 s**-1", 260033),
    row(7, 0, 1, 196, 1, "cpr", "Convective precipitation rate", "kg m**-2 s**-1", 260033),
    row(7, 0, 1, 39, 1, "cpofp", "Percent frozen precipitation", "%", 260035),
    row(7, 0, 1, 42, 1, "snowc", "Snow cover", "%", 260038),
    row(7, 0, 1, 225, 1, "frzr", "Freezing rain", kKgM2, 260288),
    // momentum
    row(7, 0, 2, 1, 103, "max_10si", "Time-maximum 10 metre wind speed", kMs, 237207),
    row(7, 0, 2, 2, 100, "u", "U component of wind", kMs, 131),
    at_level(7, 0, 2, 2, 103, 10, "10u", "10 metre U wind component", kMs, 165),
    at_level(7, 0, 2, 2, 103, 80, "u", "U component of wind", kMs, 131),
    row(7, 0, 2, 3, 100, "v", "V component of wind", kMs, 132),
    at_level(7, 0, 2, 3, 103, 10, "10v", "10 metre V wind component", kMs, 166),
    at_level(7, 0, 2, 3, 103, 80, "v", "V component of wind", kMs, 132),
    row(7, 0, 2, 8, 100, "w", "Vertical velocity", "Pa s**-1", 135),
    row(7, 0, 2, 9, 104, "wz", "Geometric vertical velocity", kMs, 260238),
    row(7, 0, 2, 10, 100, "absv", "Absolute vorticity", "s**-1", 3041),
    row(7, 0, 2, 12, 103, "max_vo", "Time-maximum vorticity", "s**-1", 237138),
    row(7, 0, 2, 15, 103, "vucsh", "Vertical u-component shear", "s**-1", 3045),
    row(7, 0, 2, 16, 103, "vvcsh", "Vertical v-component shear", "s**-1", 3046),
    row(7, 0, 2, 27, 103, "ustm", "U-component storm motion", kMs, 260070),
    row(7, 0, 2, 28, 103, "vstm", "V-component storm motion", kMs, 260071),
    row(7, 0, 2, 22, 1, "gust", "Wind speed (gust)", kMs, 260065),
    row(7, 0, 2, 30, 1, "fricv", "Frictional velocity", kMs, 260073),
    // mass
    row(7, 0, 3, 0, 1, "sp", "Surface pressure", "Pa", 134),
    row(7, 0, 3, 0, 2, "pcdb", "Pressure at cloud base", "Pa", 231045),
    row(7, 0, 3, 0, 3, "pres", "Pressure", "Pa", 54),
    row(7, 0, 3, 0, 4, "pres", "Pressure", "Pa", 54),
    row(7, 0, 3, 0, 204, "pres", "Pressure", "Pa", 54),
    row(7, 0, 3, 1, 101, "prmsl", "Pressure reduced to MSL", "Pa", 260074),
    row(7, 0, 3, 5, 1, "orog", "Orography", "m", 228002),
    row(7, 0, 3, 5, 2, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 5, 3, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 5, 4, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 5, 5, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 5, 14, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 5, 20, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 5, 100, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 5, 204, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 5, 215, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 5, 247, "gh", "Geopotential height", "gpm", 156),
    row(7, 0, 3, 18, 1, "blh", "Boundary layer height", "m", 159),
    row(7, 0, 3, 198, 101, "mslma", "MSLP (MAPS system reduction)", "Pa", 260323),
    row(7, 0, 3, 200, 108, "plpl", "Pressure of level from which parcel was lifted", "Pa", 260325),
    row(7, 0, 3, 205, 20, "layth", "Layer thickness", "m", 260330),
    // short-wave and long-wave radiation
    row(7, 0, 4, 7, 1, "sdswrf", "Surface downward short-wave radiation flux", kWm2, 260087),
    row(7, 0, 4, 8, 1, "suswrf", "Surface upward short-wave radiation flux", kWm2, 260088),
    row(7, 0, 4, 199, 1, "cfnsf", "Cloud forcing net solar flux", kWm2, 260345),
    row(7, 0, 4, 200, 1, "vbdsf", "Visible beam downward solar flux", kWm2, 260346),
    row(7, 0, 4, 201, 1, "vddsf", "Visible diffuse downward solar flux", kWm2, 260347),
    row(7, 0, 5, 3, 1, "sdlwrf", "Surface downward long-wave radiation flux", kWm2, 260097),
    row(7, 0, 5, 4, 1, "sulwrf", "Surface upward long-wave radiation flux", kWm2, 260098),
    unnamed(7, 0, 5, 4, 8),
    // cloud
    row(7, 0, 6, 1, 10, "tcc", "Total Cloud Cover", "%", 228164),
    row(7, 0, 6, 3, 214, "lcc", "Low cloud cover", "%", 3073),
    row(7, 0, 6, 4, 224, "mcc", "Medium cloud cover", "%", 3074),
    row(7, 0, 6, 5, 234, "hcc", "High cloud cover", "%", 3075),
    // thermodynamic stability
    row(7, 0, 7, 6, 1, "cape", "Convective available potential energy", "J kg**-1", 59),
    row(7, 0, 7, 6, 103, "cape", "Convective available potential energy", "J kg**-1", 59),
    row(7, 0, 7, 6, 108, "cape", "Convective available potential energy", "J kg**-1", 59),
    row(7, 0, 7, 7, 1, "cin", "Convective inhibition", "J kg**-1", 228001),
    row(7, 0, 7, 7, 108, "cin", "Convective inhibition", "J kg**-1", 228001),
    row(7, 0, 7, 8, 103, "hlcy", "Storm relative helicity", "m**2 s**-2", 260125),
    row(7, 0, 7, 10, 100, "lftx", "Surface lifted index", "K", 260127),
    row(7, 0, 7, 193, 108, "4lftx", "Best (4-layer) lifted index", "K", 260128),
    // radar, electrodynamics, physical atmospheric properties
    row(7, 0, 15, 3, 10, "veril", "Vertically-integrated liquid", kKgM2, 260136),
    row(7, 0, 16, 195, 20, "refd", "Derived radar reflectivity", "dB", 260389),
    row(7, 0, 16, 195, 103, "refd", "Derived radar reflectivity", "dB", 260389),
    row(7, 0, 16, 196, 10, "refc", "Maximum/Composite radar reflectivity", "dB", 260390),
    row(7, 0, 17, 192, 10, "ltng", "Lightning", "dimensionless", 260391),
    row(7, 0, 19, 0, 1, "vis", "Visibility", "m", 3020),
    // discipline 1: hydrology
    row(7, 1, 0, 5, 1, "bgrun", "Baseflow-groundwater runoff", kKgM2, 260174),
    row(7, 1, 0, 6, 1, "ssrun", "Storm surface runoff", kKgM2, 260175),
    // discipline 2: land surface
    row(7, 2, 0, 0, 1, "lsm", "Land-sea mask", "(0 - 1)", 172),
    row(7, 2, 0, 1, 1, "fsr", "Forecast surface roughness", "m", 244),
    row(7, 2, 0, 10, 1, "gflux", "Ground heat flux", kWm2, 260186),
    row(7, 2, 0, 13, 1, "cnwat", "Plant canopy surface water", kKgM2, 260189),
    row(7, 2, 0, 198, 1, "vgtyp", "Vegetation Type", "Integer(0-13)", 260439),
    row(7, 2, 0, 2, 106, "st", "Soil temperature", "K", 228139),
    row(7, 2, 0, 192, 106, "soilw", "Volumetric soil moisture content", "Proportion", 260185),
    row(7, 2, 0, 194, 106, "mstav", "Moisture availability", "%", 260187),
    // discipline 3: satellite, simulated brightness temperatures
    row(7, 3, 192, 1, 8, "SBT123", "Simulated Brightness Temperature for GOES 12, Channel 3", "K", 7001305),
    row(7, 3, 192, 2, 8, "SBT124", "Simulated Brightness Temperature for GOES 12, Channel 4", "K", 7001306),
    row(7, 3, 192, 7, 8, "SBT113", "Simulated Brightness Temperature for GOES 11, Channel 3", "K", 7001301),
    row(7, 3, 192, 8, 8, "SBT114", "Simulated Brightness Temperature for GOES 11, Channel 4", "K", 7001302),
    // discipline 10: oceanography
    row(7, 10, 2, 0, 1, "ci", "Sea ice area fraction", "(0 - 1)", 31),
    // published without a name
    unnamed(7, 0, 1, 29, 1),
    unnamed(7, 0, 1, 227, 1),
    unnamed(7, 0, 1, 74, 200),
    unnamed(7, 0, 1, 82, 100),
    unnamed(7, 0, 1, 242, 10),
    unnamed(7, 0, 2, 220, 108),
    unnamed(7, 0, 2, 221, 108),
    unnamed(7, 0, 2, 222, 103),
    unnamed(7, 0, 2, 223, 103),
    unnamed(7, 0, 20, 0, 103),
    unnamed(7, 0, 20, 1, 200),
    unnamed(7, 0, 20, 102, 200),
});
static_assert(rows_unique(kRows));

}  // namespace

const CentreParamRow* find_centre_param(std::uint16_t centre, std::uint8_t discipline,
                                        std::uint8_t category, std::uint8_t number,
                                        std::uint8_t level_type, std::optional<double> level) {
  // Rows "at 103" (height above ground) need a level to be there at all.
  if (level_type == 103 && !level) return nullptr;
  std::optional<std::uint32_t> compared;
  if (level) compared = table_level(level_in_table_units(level_type, *level));
  return find_row_at_level(kRows, centre_key(centre, discipline, category, number, level_type),
                           compared);
}

}  // namespace vorlak
