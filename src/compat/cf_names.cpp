// CF standard names and CF variable names of edition 2 parameters.
#include <array>

#include "compat/param_rules.hpp"
#include "compat/sorted_table.hpp"
#include "compat/table_level.hpp"

namespace vorlak {
namespace {

constexpr std::uint32_t dcn(unsigned d, unsigned c, unsigned n) { return d << 16 | c << 8 | n; }

struct CfRow {
  std::uint32_t key;  // discipline, category, number
  std::string_view name;
};

constexpr auto kStandardNames = sorted_rows(std::array{
    CfRow{dcn(0, 0, 0), "air_temperature"},
    CfRow{dcn(0, 0, 4), "air_temperature"},
    CfRow{dcn(0, 0, 5), "air_temperature"},
    CfRow{dcn(0, 0, 2), "air_potential_temperature"},
    CfRow{dcn(0, 0, 6), "dew_point_temperature"},
    CfRow{dcn(0, 1, 0), "specific_humidity"},
    CfRow{dcn(0, 1, 1), "relative_humidity"},
    CfRow{dcn(0, 1, 3), "atmosphere_mass_content_of_water_vapor"},
    CfRow{dcn(0, 1, 8), "precipitation_amount"},
    CfRow{dcn(0, 1, 19), "precipitation_flux"},
    CfRow{dcn(0, 2, 0), "wind_from_direction"},
    CfRow{dcn(0, 2, 1), "wind_speed"},
    CfRow{dcn(0, 2, 2), "eastward_wind"},
    CfRow{dcn(0, 2, 3), "northward_wind"},
    CfRow{dcn(0, 2, 8), "lagrangian_tendency_of_air_pressure"},
    CfRow{dcn(0, 2, 10), "atmosphere_absolute_vorticity"},
    CfRow{dcn(0, 3, 0), "air_pressure"},
    CfRow{dcn(0, 3, 1), "air_pressure_at_mean_sea_level"},
    CfRow{dcn(0, 3, 5), "geopotential_height"},
    CfRow{dcn(0, 6, 1), "cloud_area_fraction"},
    CfRow{dcn(0, 6, 3), "low_type_cloud_area_fraction"},
    CfRow{dcn(0, 6, 4), "medium_type_cloud_area_fraction"},
    CfRow{dcn(0, 6, 5), "high_type_cloud_area_fraction"},
    CfRow{dcn(0, 7, 6), "atmosphere_convective_available_potential_energy"},
    CfRow{dcn(0, 7, 7), "atmosphere_convective_inhibition"},
    CfRow{dcn(2, 0, 0), "land_binary_mask"},
    CfRow{dcn(2, 0, 2), "soil_temperature"},
    CfRow{dcn(10, 0, 3), "sea_surface_wave_significant_height"},
});
static_assert(rows_unique(kStandardNames));

constexpr auto kVarNames = sorted_rows(std::array{
    CfRow{dcn(2, 0, 0), "lsm"},
    CfRow{dcn(0, 0, 0), "t"},
    CfRow{dcn(0, 0, 6), "dpt"},
    CfRow{dcn(0, 1, 0), "q"},
    CfRow{dcn(0, 1, 1), "r"},
    CfRow{dcn(0, 1, 8), "tp"},
    CfRow{dcn(0, 2, 2), "u"},
    CfRow{dcn(0, 2, 3), "v"},
    CfRow{dcn(0, 3, 0), "sp"},
    CfRow{dcn(0, 3, 1), "msl"},
    CfRow{dcn(0, 3, 5), "gh"},
    CfRow{dcn(0, 6, 1), "tcc"},
    CfRow{dcn(0, 7, 6), "cape"},
    CfRow{dcn(0, 7, 7), "cin"},
});
static_assert(rows_unique(kVarNames));

const CfRow* find_cf(const auto& table, const MessageRecord& r) {
  if (r.edition != Edition::Two || !r.discipline || !r.parameterCategory || !r.parameterNumber) {
    return nullptr;
  }
  return find_row(table, dcn(*r.discipline, *r.parameterCategory, *r.parameterNumber));
}

// Height-above-ground variable names: t2m, d2m, u10, v10, u100, v100.
std::string_view refine_var_name(std::string_view name, std::optional<std::uint32_t> at) {
  if (!at) return name;
  if (name == "t") return *at == 2 ? "t2m" : name;
  if (name == "dpt") return *at == 2 ? "d2m" : name;
  if (name == "u") return *at == 10 ? "u10" : *at == 100 ? "u100" : name;
  if (name == "v") return *at == 10 ? "v10" : *at == 100 ? "v100" : name;
  return name;
}

}  // namespace

std::string_view cf_name(const MessageRecord& r) {
  const CfRow* row = find_cf(kStandardNames, r);
  return row ? row->name : std::string_view{};
}

std::string_view cf_var_name(const MessageRecord& r, std::string_view key_time_short_name) {
  const CfRow* row = find_cf(kVarNames, r);
  const std::string_view base = row ? row->name : key_time_short_name;
  return refine_var_name(base, level_at_103(r.levelType, r.level));
}

}  // namespace vorlak
