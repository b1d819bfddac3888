#pragma once
// MessageRecord values for key and table tests, filled as the scanners fill
// them, without message bytes.
#include <cstdint>
#include <optional>
#include <string>

#include "grib/message_record.hpp"

namespace vorlak::test {

// An edition 2 field as the scanner records it: discipline/category/number,
// first fixed surface, centre.
inline MessageRecord grib2_record(std::uint16_t centre, std::uint8_t discipline, std::uint8_t category,
                                  std::uint8_t number, std::optional<std::uint8_t> level_type,
                                  std::optional<double> level) {
  MessageRecord r;
  r.edition = Edition::Two;
  r.messageNumber = 1;
  r.totalLength = 200;
  r.centre = centre;
  r.subCentre = 0;
  r.discipline = discipline;
  r.parameterCategory = category;
  r.parameterNumber = number;
  r.levelType = level_type;
  r.level = level;
  return r;
}

// An edition 1 field: centre, table version, indicator of parameter, level.
inline MessageRecord grib1_record(std::optional<std::uint16_t> centre,
                                  std::optional<std::uint16_t> table2_version, std::uint8_t parameter,
                                  std::uint8_t level_type = 1, double level = 0) {
  MessageRecord r;
  r.edition = Edition::One;
  r.messageNumber = 1;
  r.totalLength = 100;
  r.centre = centre;
  r.table2Version = table2_version;
  r.parameterNumber = parameter;
  r.levelType = level_type;
  r.level = level;
  return r;
}

}  // namespace vorlak::test
