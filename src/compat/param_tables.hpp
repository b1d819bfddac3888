#pragma once
// Parameter naming: the scan-time names of a record (the key-time names,
// paramId and CF names are in param_rules.hpp).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "grib/message_record.hpp"

namespace vorlak {

struct ParamNames {
  std::string_view shortName;
  std::string_view name;
  std::string_view units;
};

// Edition 2 scan-time names; level_type is 255 when absent.
ParamNames scan_names_grib2(std::uint8_t discipline, std::uint8_t category, std::uint8_t number,
                            std::uint8_t level_type, std::optional<double> level);

// Edition 1 scan-time names.
ParamNames scan_names_grib1(std::optional<std::uint16_t> centre, std::uint8_t indicator_of_parameter);

}  // namespace vorlak
