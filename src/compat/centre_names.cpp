// Descriptions of originating centres and sub-centres. The centres below keep
// their own descriptions; every other centre takes its name in common code
// table C-11, and sub-centres theirs in C-12 (both generated). A code neither
// names is "Unknown".
#include "compat/code_names.hpp"
#include "compat/generated/centre_table.hpp"
#include "compat/sorted_table.hpp"

namespace vorlak {
namespace {

using generated::CentreRow;

static_assert(rows_strictly_ascending(generated::kCentres));
static_assert(rows_strictly_ascending(generated::kSubCentres));
static_assert(rows_strictly_ascending(generated::kAnyCentreSubCentres));

constexpr std::string_view kUnknown = "Unknown";

std::string_view text_of(const CentreRow* row) {
  return row ? generated::kCentreTexts[row->name] : kUnknown;
}

}  // namespace

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
    default: return text_of(find_row(generated::kCentres, std::uint32_t{centre}));
  }
}

std::string_view sub_centre_description(std::uint16_t centre, std::uint16_t sub_centre) {
  const CentreRow* row = find_row(generated::kSubCentres, std::uint32_t{centre} << 16 | sub_centre);
  if (!row) row = find_row(generated::kAnyCentreSubCentres, std::uint32_t{sub_centre});
  return text_of(row);
}

}  // namespace vorlak
