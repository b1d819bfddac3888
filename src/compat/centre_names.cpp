// Descriptions of the originating centres (common code table C-11) that
// this reader names; every other centre is "Unknown".
#include "compat/code_names.hpp"

namespace vorlak {

std::string_view centre_description(std::uint16_t centre) {
  switch (centre) {
    case 7: return "US National Weather Service - NCEP";
    case 34: return "Japanese Meteorological Agency - Tokyo";
    case 46: return "Brazilian Space Agency - INPE";
    case 54: return "Canadian Meteorological Service - Montreal";
    case 74: return "UK Meteorological Office - Exeter";
    case 78:
    case 79: return "Deutscher Wetterdienst";
    case 85: return "French Weather Service - Toulouse";
    case 98: return "European Centre for Medium-Range Weather Forecasts";
    default: return "Unknown";
  }
}

}  // namespace vorlak
