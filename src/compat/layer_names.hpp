#pragma once
// Layers: a field between two surfaces (GRIB2 second fixed surface other
// than 255; GRIB1 layer level types, whose names already say "Layer").
#include <cstdint>
#include <optional>
#include <string>

#include "grib/message_record.hpp"

namespace vorlak {

// True when the record describes a GRIB2 layer or a GRIB1 layer type.
bool is_layer(const MessageRecord& record);

// typeOfLevel of a GRIB2 layer: the single-surface name + "Layer" when both
// surfaces are of one type ("depthBelowLandLayer", "isobaricLayer"); empty
// when they differ or the type has no name (the single-surface name stays).
std::string layer_level_name(std::optional<std::uint16_t> centre, std::uint8_t first_type,
                             std::uint8_t second_type);

// A surface value in the unit `level` uses for its type: hPa for edition 2
// isobaric surfaces of at least 100 Pa, the value as stated otherwise.
double surface_in_level_units(Edition edition, std::optional<std::uint8_t> type, double value);

}  // namespace vorlak
