// Scan-time parameter names of edition 2 records. Only discipline 0
// (meteorological products) is named here; the key-time tables refine these.
#include <array>

#include "compat/param_tables.hpp"
#include "compat/sorted_table.hpp"
#include "compat/table_level.hpp"

namespace vorlak {
namespace {

struct ScanRow2 {
  std::uint16_t key;  // category << 8 | number, discipline 0
  ParamNames names;
};

constexpr std::uint16_t cn(unsigned category, unsigned number) {
  return static_cast<std::uint16_t>(category << 8 | number);
}

constexpr auto kRows = sorted_rows(std::array{
    ScanRow2{cn(0, 0), {"t", "Temperature", "K"}},
    ScanRow2{cn(0, 6), {"d", "Dewpoint Temperature", "K"}},
    ScanRow2{cn(1, 0), {"q", "Specific Humidity", "kg/kg"}},
    ScanRow2{cn(1, 1), {"r", "Relative Humidity", "%"}},
    ScanRow2{cn(1, 3), {"pwat", "Precipitable Water", "kg/m^2"}},
    ScanRow2{cn(1, 7), {"prate", "Precipitation Rate", "kg/m^2/s"}},
    ScanRow2{cn(1, 8), {"tp", "Total Precipitation", "kg/m^2"}},
    ScanRow2{cn(2, 0), {"wdir", "Wind Direction", "degree"}},
    ScanRow2{cn(2, 1), {"ws", "Wind Speed", "m/s"}},
    ScanRow2{cn(2, 2), {"u", "U-Component of Wind", "m/s"}},
    ScanRow2{cn(2, 3), {"v", "V-Component of Wind", "m/s"}},
    ScanRow2{cn(2, 8), {"w", "Vertical Velocity (Pressure)", "Pa/s"}},
    ScanRow2{cn(2, 10), {"absv", "Absolute Vorticity", "1/s"}},
    ScanRow2{cn(2, 12), {"vo", "Relative Vorticity", "1/s"}},
    ScanRow2{cn(2, 22), {"gust", "Wind Speed (Gust)", "m/s"}},
    ScanRow2{cn(3, 0), {"sp", "Pressure", "Pa"}},
    ScanRow2{cn(3, 1), {"msl", "Pressure Reduced to MSL", "Pa"}},
    ScanRow2{cn(3, 5), {"gh", "Geopotential Height", "gpm"}},
    ScanRow2{cn(6, 1), {"tcc", "Total Cloud Cover", "%"}},
    ScanRow2{cn(7, 6), {"cape", "Convective Available Potential Energy", "J/kg"}},
    ScanRow2{cn(7, 7), {"cin", "Convective Inhibition", "J/kg"}},
    ScanRow2{cn(7, 8), {"hlcy", "Storm Relative Helicity", "m^2/s^2"}},
    ScanRow2{cn(19, 0), {"vis", "Visibility", "m"}},
});
static_assert(rows_unique(kRows));

constexpr ParamNames kUnknown{"unknown", "Unknown", "?"};

// Height-above-ground names of the one-letter rows: 2 m temperature and
// dewpoint, 10 m and 100 m wind components.
std::string_view refined_scan_name(std::string_view name, std::uint8_t level_type,
                                   std::optional<double> level) {
  const auto at = level_at_103(level_type, level);
  if (!at || name.size() != 1) return name;
  switch (name[0]) {
    case 't': return *at == 2 ? "2t" : name;
    case 'd': return *at == 2 ? "2d" : name;
    case 'u': return *at == 10 ? "10u" : *at == 100 ? "100u" : name;
    case 'v': return *at == 10 ? "10v" : *at == 100 ? "100v" : name;
    default: return name;
  }
}

}  // namespace

ParamNames scan_names_grib2(std::uint8_t discipline, std::uint8_t category, std::uint8_t number,
                            std::uint8_t level_type, std::optional<double> level) {
  if (discipline != 0) return kUnknown;
  const ScanRow2* row = find_row(kRows, cn(category, number));
  if (!row) return kUnknown;
  ParamNames names = row->names;
  names.shortName = refined_scan_name(names.shortName, level_type, level);
  return names;
}

}  // namespace vorlak
