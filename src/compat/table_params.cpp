// Parameter names from the generated tables: the WMO's code table 4.2 for
// standard parameters, the producers' own tables for local ones.
#include "compat/generated/grib2_parameter_table.hpp"
#include "compat/param_rules.hpp"
#include "compat/sorted_table.hpp"

namespace vorlak {
namespace {

using generated::ParamRow;

static_assert(rows_strictly_ascending(generated::kWmoParams));
static_assert(rows_strictly_ascending(generated::kNcepLocalParams));
static_assert(rows_strictly_ascending(generated::kMrmsParams));

constexpr bool local_code(std::uint8_t code) { return code >= 192 && code <= 254; }

// The table that names a parameter of this centre, or null: a local code is
// its producer's to name, and no other centre's table applies to it.
const ParamRow* find_param_row(std::optional<std::uint16_t> centre, std::uint8_t d, std::uint8_t c,
                               std::uint8_t n) {
  const std::uint32_t key = generated::key(d, c, n);
  if (!local_code(d) && !local_code(c) && !local_code(n)) return find_row(generated::kWmoParams, key);
  if (!centre) return nullptr;
  switch (*centre) {
    case 161:  // NOAA/OAR: MRMS products, NOAA's local parameters otherwise
      if (d == 209) return find_row(generated::kMrmsParams, key);
      [[fallthrough]];
    case 7:    // NCEP
    case 8:    // NWS telecommunications gateway (NDFD)
      return find_row(generated::kNcepLocalParams, key);
    default: return nullptr;
  }
}

}  // namespace

std::optional<ParamNames> table_param_names(std::optional<std::uint16_t> centre, std::uint8_t discipline,
                                            std::uint8_t category, std::uint8_t number) {
  const ParamRow* row = find_param_row(centre, discipline, category, number);
  if (!row) return std::nullopt;
  const TextPool& texts = generated::kParamTexts;
  return ParamNames{texts[row->shortName], texts[row->name], texts[row->units]};
}

}  // namespace vorlak
