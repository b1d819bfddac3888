#include "compat/layer_names.hpp"

#include "compat/code_names.hpp"
#include "compat/table_level.hpp"

namespace vorlak {

bool is_layer(const MessageRecord& r) {
  if (!r.secondLevelType || !r.secondLevel) return false;
  return r.edition == Edition::One || *r.secondLevelType != 255;
}

std::string layer_level_name(std::optional<std::uint16_t> centre, std::uint8_t first_type,
                             std::uint8_t second_type) {
  if (first_type != second_type) return {};
  if (first_type == 100) return "isobaricLayer";
  const std::string_view single = type_of_level_name(Edition::Two, centre, first_type, std::nullopt);
  if (single == "unknown") return {};
  return std::string(single) + "Layer";
}

double surface_in_level_units(Edition edition, std::optional<std::uint8_t> type, double value) {
  return edition == Edition::Two ? level_in_table_units(type, value) : value;
}

}  // namespace vorlak
