// Key-time short names of fields without a centre row: the edition 2 table
// by discipline/category/number, the edition 1 tables by table version, and
// the height-above-ground refinements of generic names.
#include <array>

#include "compat/param_rules.hpp"
#include "compat/sorted_table.hpp"
#include "compat/table_level.hpp"

namespace vorlak {
namespace {

constexpr std::uint32_t dcn(unsigned d, unsigned c, unsigned n) { return d << 16 | c << 8 | n; }

struct Grib2FallbackRow {
  std::uint32_t key;
  std::string_view shortName;
};

constexpr auto kGrib2Rows = sorted_rows(std::array{
    Grib2FallbackRow{dcn(0, 0, 0), "t"},
    Grib2FallbackRow{dcn(0, 0, 2), "pt"},
    Grib2FallbackRow{dcn(0, 0, 4), "tmax"},
    Grib2FallbackRow{dcn(0, 0, 5), "tmin"},
    Grib2FallbackRow{dcn(0, 0, 6), "dpt"},
    Grib2FallbackRow{dcn(0, 0, 10), "aptmp"},
    Grib2FallbackRow{dcn(0, 1, 0), "q"},
    Grib2FallbackRow{dcn(0, 1, 1), "r"},
    Grib2FallbackRow{dcn(0, 1, 3), "pwat"},
    Grib2FallbackRow{dcn(0, 1, 8), "tp"},
    Grib2FallbackRow{dcn(0, 1, 10), "acpcp"},
    Grib2FallbackRow{dcn(0, 1, 13), "rwmr"},
    Grib2FallbackRow{dcn(0, 1, 19), "prate"},
    Grib2FallbackRow{dcn(0, 1, 22), "tciwv"},
    Grib2FallbackRow{dcn(0, 2, 0), "wdir"},
    Grib2FallbackRow{dcn(0, 2, 1), "ws"},
    Grib2FallbackRow{dcn(0, 2, 2), "u"},
    Grib2FallbackRow{dcn(0, 2, 3), "v"},
    Grib2FallbackRow{dcn(0, 2, 8), "w"},
    Grib2FallbackRow{dcn(0, 2, 9), "wz"},
    Grib2FallbackRow{dcn(0, 2, 10), "absv"},
    Grib2FallbackRow{dcn(0, 2, 12), "d"},
    Grib2FallbackRow{dcn(0, 2, 22), "gust"},
    Grib2FallbackRow{dcn(0, 3, 0), "sp"},
    Grib2FallbackRow{dcn(0, 3, 1), "msl"},
    Grib2FallbackRow{dcn(0, 3, 4), "gph"},
    Grib2FallbackRow{dcn(0, 3, 5), "gh"},
    Grib2FallbackRow{dcn(0, 3, 9), "gha"},
    Grib2FallbackRow{dcn(0, 4, 7), "dswrf"},
    Grib2FallbackRow{dcn(0, 4, 8), "uswrf"},
    Grib2FallbackRow{dcn(0, 4, 9), "nswrs"},
    Grib2FallbackRow{dcn(0, 5, 3), "dlwrf"},
    Grib2FallbackRow{dcn(0, 5, 4), "ulwrf"},
    Grib2FallbackRow{dcn(0, 5, 5), "nlwrs"},
    Grib2FallbackRow{dcn(0, 6, 1), "tcc"},
    Grib2FallbackRow{dcn(0, 6, 3), "lcc"},
    Grib2FallbackRow{dcn(0, 6, 4), "mcc"},
    Grib2FallbackRow{dcn(0, 6, 5), "hcc"},
    Grib2FallbackRow{dcn(0, 6, 6), "cbase"},
    Grib2FallbackRow{dcn(0, 6, 7), "ct"},
    Grib2FallbackRow{dcn(0, 7, 6), "cape"},
    Grib2FallbackRow{dcn(0, 7, 7), "cin"},
    Grib2FallbackRow{dcn(0, 7, 8), "hlcy"},
    Grib2FallbackRow{dcn(0, 7, 10), "lftx"},
    Grib2FallbackRow{dcn(0, 14, 0), "tco3"},
    Grib2FallbackRow{dcn(0, 19, 1), "vis"},
    Grib2FallbackRow{dcn(2, 0, 0), "lsm"},
    Grib2FallbackRow{dcn(2, 0, 1), "sfcr"},
    Grib2FallbackRow{dcn(2, 0, 2), "st"},
    Grib2FallbackRow{dcn(2, 0, 5), "sm"},
    Grib2FallbackRow{dcn(2, 0, 9), "soilw"},
    Grib2FallbackRow{dcn(2, 3, 0), "slt"},
    Grib2FallbackRow{dcn(10, 0, 3), "swh"},
    Grib2FallbackRow{dcn(10, 0, 4), "mwp"},
    Grib2FallbackRow{dcn(10, 0, 5), "mwd"},
});
static_assert(rows_unique(kGrib2Rows));

// Edition 1: table versions 128 (ECMWF), 172 and 228, version 1 of centre 96
// (Athens), and the rows every other version shares.
constexpr std::uint32_t kOtherVersion = 0x10000;

struct Grib1FallbackRow {
  std::uint32_t key;  // version << 8 | indicator of parameter
  Grib1Fallback names;
};

constexpr std::uint32_t vp(std::uint32_t version, unsigned parameter) { return version << 8 | parameter; }

constexpr std::string_view kSoilWater = "m**3 m**-3";

constexpr auto kGrib1Rows = sorted_rows(std::array{
    Grib1FallbackRow{vp(128, 11), {"t", "", ""}},
    Grib1FallbackRow{vp(128, 130), {"t", "K", ""}},
    Grib1FallbackRow{vp(128, 33), {"u", "", ""}},
    Grib1FallbackRow{vp(128, 131), {"u", "m/s", ""}},
    Grib1FallbackRow{vp(128, 34), {"v", "", ""}},
    Grib1FallbackRow{vp(128, 132), {"v", "m/s", ""}},
    Grib1FallbackRow{vp(128, 39), {"swvl1", kSoilWater, ""}},
    Grib1FallbackRow{vp(128, 40), {"swvl2", kSoilWater, ""}},
    Grib1FallbackRow{vp(128, 41), {"swvl3", kSoilWater, ""}},
    Grib1FallbackRow{vp(128, 42), {"swvl4", kSoilWater, ""}},
    Grib1FallbackRow{vp(128, 43), {"slt", "(Code table 4.213)", ""}},
    Grib1FallbackRow{vp(128, 52), {"r", "", ""}},
    Grib1FallbackRow{vp(128, 157), {"r", "%", ""}},
    Grib1FallbackRow{vp(128, 129), {"z", "m^2/s^2", ""}},
    Grib1FallbackRow{vp(128, 133), {"q", "kg/kg", ""}},
    Grib1FallbackRow{vp(128, 134), {"sp", "Pa", ""}},
    Grib1FallbackRow{vp(128, 135), {"w", "m/s", ""}},
    Grib1FallbackRow{vp(128, 139), {"stl1", "K", ""}},
    Grib1FallbackRow{vp(128, 151), {"msl", "Pa", ""}},
    Grib1FallbackRow{vp(128, 164), {"tcc", "%", ""}},
    Grib1FallbackRow{vp(128, 165), {"10u", "m/s", ""}},
    Grib1FallbackRow{vp(128, 166), {"10v", "m/s", ""}},
    Grib1FallbackRow{vp(128, 167), {"2t", "K", ""}},
    Grib1FallbackRow{vp(128, 168), {"2d", "K", ""}},
    Grib1FallbackRow{vp(128, 170), {"stl2", "K", ""}},
    Grib1FallbackRow{vp(128, 172), {"lsm", "0-1", ""}},
    Grib1FallbackRow{vp(128, 183), {"stl3", "K", ""}},
    Grib1FallbackRow{vp(128, 228), {"tp", "m", ""}},
    Grib1FallbackRow{vp(128, 235), {"skt", "K", ""}},
    Grib1FallbackRow{vp(128, 236), {"stl4", "K", ""}},

    Grib1FallbackRow{vp(1, 11), {"t", "", ""}},
    Grib1FallbackRow{vp(1, 33), {"u", "", ""}},
    Grib1FallbackRow{vp(1, 34), {"v", "", ""}},
    Grib1FallbackRow{vp(1, 52), {"r", "", ""}},
    Grib1FallbackRow{vp(1, 112), {"nlwrs", "W m**-2", "Net long-wave radiation flux (surface)"}},

    Grib1FallbackRow{vp(172, 11), {"t", "", ""}},
    Grib1FallbackRow{vp(172, 33), {"u", "", ""}},
    Grib1FallbackRow{vp(172, 34), {"v", "", ""}},
    Grib1FallbackRow{vp(172, 52), {"r", "", ""}},
    Grib1FallbackRow{vp(172, 228), {"tprate", "m s**-1", ""}},

    Grib1FallbackRow{vp(228, 11), {"t", "", ""}},
    Grib1FallbackRow{vp(228, 33), {"u", "", ""}},
    Grib1FallbackRow{vp(228, 34), {"v", "", ""}},
    Grib1FallbackRow{vp(228, 52), {"r", "", ""}},
    Grib1FallbackRow{vp(228, 82), {"aco2rec", "kg m**-2", ""}},

    Grib1FallbackRow{vp(kOtherVersion, 11), {"t", "", ""}},
    Grib1FallbackRow{vp(kOtherVersion, 33), {"u", "", ""}},
    Grib1FallbackRow{vp(kOtherVersion, 34), {"v", "", ""}},
    Grib1FallbackRow{vp(kOtherVersion, 52), {"r", "", ""}},
});
static_assert(rows_unique(kGrib1Rows));

std::uint32_t grib1_table_class(std::uint16_t version, std::optional<std::uint16_t> centre) {
  switch (version) {
    case 128:
    case 172:
    case 228: return version;
    case 1: return centre == std::uint16_t{96} ? 1 : kOtherVersion;
    default: return kOtherVersion;
  }
}

}  // namespace

std::string_view grib2_fallback_short_name(std::uint8_t discipline, std::uint8_t category,
                                           std::uint8_t number) {
  const auto* row = find_row(kGrib2Rows, dcn(discipline, category, number));
  return row ? row->shortName : std::string_view{};
}

std::optional<Grib1Fallback> grib1_fallback(std::optional<std::uint16_t> table2_version,
                                            std::optional<std::uint16_t> centre,
                                            std::uint8_t indicator_of_parameter) {
  const auto table = grib1_table_class(table2_version.value_or(0), centre);
  const auto* row = find_row(kGrib1Rows, vp(table, indicator_of_parameter));
  if (!row) return std::nullopt;
  return row->names;
}

std::string_view refine_short_name(std::string_view name, std::optional<std::uint8_t> level_type,
                                   std::optional<double> level) {
  const auto at = level_at_103(level_type, level);
  if (!at) return name;
  if (name == "t") return *at == 2 ? "2t" : name;
  if (name == "u") return *at == 10 ? "10u" : *at == 100 ? "100u" : name;
  if (name == "v") return *at == 10 ? "10v" : *at == 100 ? "100v" : name;
  if (name == "dpt") return *at == 2 ? "2d" : name;
  return name;
}

}  // namespace vorlak
