#pragma once
// Code-table texts of the derived keys: level type names, grid types,
// packing types and centre and sub-centre descriptions.
#include <cstdint>
#include <optional>
#include <string_view>

#include "grib/message_record.hpp"

namespace vorlak {

// `typeOfLevel` by edition and, for the local fixed surfaces of edition 2,
// originating centre; "unknown" for an absent or unlisted code.
std::string_view type_of_level_name(Edition edition, std::optional<std::uint16_t> centre,
                                    std::optional<std::uint8_t> level_type,
                                    std::optional<double> level);

// `level`: the record's level (0 when absent), in hPa for edition 2 isobaric
// levels of at least 100 Pa.
double level_value(const MessageRecord& record);

// `gridType` and `gridDefinitionDescription` by grid definition template.
// An unlisted template has an empty grid type here; the caller names it
// "unknown_{template}".
struct GridTypeNames {
  std::string_view gridType;
  std::string_view description;
};
GridTypeNames grid_type_names(std::optional<std::uint16_t> grid_template);
// The same for a grid with a points-per-row list: templates 0 and 40 are
// then thinned latitude/longitude and reduced Gaussian grids.
GridTypeNames grid_type_names(std::optional<std::uint16_t> grid_template, bool quasi_regular);

// `packingType`.
std::string_view packing_type_name(Edition edition, std::optional<std::uint16_t> data_template);

// `centreDescription`: "Unknown" for a centre no table names.
std::string_view centre_description(std::uint16_t centre);

// `subCentreDescription`: the sub-centre's name among its centre's
// (common code table C-12), "Unknown" when the table has none.
std::string_view sub_centre_description(std::uint16_t centre, std::uint16_t sub_centre);

}  // namespace vorlak
