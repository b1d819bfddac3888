// Grid type names by grid definition template (edition 1 grids arrive with
// their edition 2 template number), and packing type names.
#include "compat/code_names.hpp"

namespace vorlak {

GridTypeNames grid_type_names(std::optional<std::uint16_t> grid_template) {
  if (!grid_template) return {"unknown", "Unknown grid type"};
  switch (*grid_template) {
    case 0: return {"regular_ll", "Latitude/longitude. Also called equidistant cylindrical, or Plate Carree"};
    case 1: return {"rotated_ll", "Rotated Latitude/longitude"};
    case 10: return {"mercator", "Mercator"};
    case 20: return {"polar_stereographic", "Polar stereographic projection"};
    case 30: return {"lambert", "Lambert conformal"};
    case 40: return {"regular_gg", "Gaussian latitude/longitude"};
    case 41: return {"reduced_gg", "Reduced Gaussian latitude/longitude"};
    case 50:
    case 51: return {"sh", "Spherical harmonic coefficients"};
    case 90: return {"space_view", "Space view perspective or orthographic"};
    default: return {"", "Unknown grid type"};
  }
}

GridTypeNames grid_type_names(std::optional<std::uint16_t> grid_template, bool quasi_regular) {
  if (quasi_regular && grid_template == 0) return {"reduced_ll", "Reduced latitude/longitude"};
  if (quasi_regular && grid_template == 40) return grid_type_names(std::uint16_t{41});
  return grid_type_names(grid_template);
}

std::string_view packing_type_name(Edition edition, std::optional<std::uint16_t> data_template) {
  if (edition == Edition::One) return "grid_simple";  // BDS flags are not consulted
  if (edition == Edition::Unknown || !data_template) return "unknown";
  switch (*data_template) {
    case 0: return "grid_simple";
    case 2: return "grid_complex";
    case 3: return "grid_complex_spatial_differencing";
    case 4: return "grid_ieee";
    case 40: return "grid_jpeg";
    case 42: return "grid_ccsds";
    default: return "unknown";
  }
}

}  // namespace vorlak
