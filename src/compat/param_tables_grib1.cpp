// Scan-time parameter names of edition 1 records, by indicator of parameter.
// Centre 98 (ECMWF) uses the whole of its table 128; other centres only the
// four WMO rows every edition 1 table shares.
#include <array>

#include "compat/param_tables.hpp"
#include "compat/sorted_table.hpp"

namespace vorlak {
namespace {

struct ScanRow1 {
  std::uint8_t key;  // indicator of parameter
  bool every_centre;
  ParamNames names;
};

constexpr auto kRows = sorted_rows(std::array{
    ScanRow1{11, true, {"t", "GRIB1 parameter", "?"}},
    ScanRow1{33, true, {"u", "GRIB1 parameter", "?"}},
    ScanRow1{34, true, {"v", "GRIB1 parameter", "?"}},
    ScanRow1{52, true, {"r", "GRIB1 parameter", "?"}},
    ScanRow1{129, false, {"z", "Geopotential", "m^2/s^2"}},
    ScanRow1{130, false, {"t", "Temperature", "K"}},
    ScanRow1{131, false, {"u", "U Component of Wind", "m/s"}},
    ScanRow1{132, false, {"v", "V Component of Wind", "m/s"}},
    ScanRow1{133, false, {"q", "Specific Humidity", "kg/kg"}},
    ScanRow1{134, false, {"sp", "Surface Pressure", "Pa"}},
    ScanRow1{135, false, {"w", "Vertical Velocity", "m/s"}},
    ScanRow1{151, false, {"msl", "Mean Sea Level Pressure", "Pa"}},
    ScanRow1{157, false, {"r", "Relative Humidity", "%"}},
    ScanRow1{164, false, {"tcc", "Total Cloud Cover", "%"}},
    ScanRow1{165, false, {"10u", "10 metre U wind component", "m/s"}},
    ScanRow1{166, false, {"10v", "10 metre V wind component", "m/s"}},
    ScanRow1{167, false, {"2t", "2 metre temperature", "K"}},
    ScanRow1{168, false, {"2d", "2 metre dewpoint temperature", "K"}},
    ScanRow1{172, false, {"lsm", "Land-sea mask", "0-1"}},
    ScanRow1{228, false, {"tp", "Total precipitation", "m"}},
    ScanRow1{235, false, {"skt", "Skin temperature", "K"}},
});
static_assert(rows_unique(kRows));

constexpr ParamNames kUnknown{"grib1", "GRIB1 parameter", "?"};

}  // namespace

ParamNames scan_names_grib1(std::optional<std::uint16_t> centre, std::uint8_t indicator_of_parameter) {
  const ScanRow1* row = find_row(kRows, indicator_of_parameter);
  if (!row || !(row->every_centre || centre == std::uint16_t{98})) return kUnknown;
  return row->names;
}

}  // namespace vorlak
