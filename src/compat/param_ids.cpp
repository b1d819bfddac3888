// paramId of fields without a centre row. Edition 2: discipline D, category
// C, number N give D * 100000 + C * 1000 + N, except for the parameters
// below, which take their ECMWF identifiers (some by height above ground).
// Edition 1: the indicator of parameter, offset by its table version.
#include <array>

#include "compat/param_rules.hpp"
#include "compat/sorted_table.hpp"
#include "compat/table_level.hpp"

namespace vorlak {
namespace {

constexpr std::uint32_t dcn(unsigned d, unsigned c, unsigned n) { return d << 16 | c << 8 | n; }

struct ParamIdRow {
  std::uint32_t key;   // discipline, category, number
  std::int64_t level;  // -1: any level; else at 103 with this level only
  std::int64_t paramId;
};

constexpr ParamIdRow id(std::uint32_t key, std::int64_t param_id) { return {key, -1, param_id}; }
constexpr ParamIdRow id_at_103(std::uint32_t key, std::int64_t level, std::int64_t param_id) {
  return {key, level, param_id};
}

constexpr auto kRows = sorted_rows(std::array{
    id(dcn(2, 0, 0), 172),
    id(dcn(2, 0, 1), 244),
    id(dcn(0, 0, 0), 130),
    id_at_103(dcn(0, 0, 0), 2, 167),
    id(dcn(0, 0, 6), 3017),
    id_at_103(dcn(0, 0, 6), 2, 168),
    id(dcn(0, 1, 0), 133),
    id(dcn(0, 1, 1), 157),
    id(dcn(0, 1, 3), 3054),
    id(dcn(0, 1, 8), 228228),
    id(dcn(0, 2, 2), 131),
    id_at_103(dcn(0, 2, 2), 10, 165),
    id_at_103(dcn(0, 2, 2), 100, 228246),
    id(dcn(0, 2, 3), 132),
    id_at_103(dcn(0, 2, 3), 10, 166),
    id_at_103(dcn(0, 2, 3), 100, 228247),
    id(dcn(0, 2, 8), 135),
    id(dcn(0, 2, 10), 3041),
    id(dcn(0, 3, 0), 134),
    id(dcn(0, 3, 5), 156),
    id(dcn(0, 6, 1), 228164),
    id(dcn(0, 6, 3), 3073),
    id(dcn(0, 6, 4), 3074),
    id(dcn(0, 6, 5), 3075),
    id(dcn(0, 7, 6), 59),
    id(dcn(0, 7, 7), 228001),
    id(dcn(0, 19, 0), 3020),
});
static_assert(rows_unique(kRows));

std::int64_t grib2_param_id(std::uint8_t d, std::uint8_t c, std::uint8_t n,
                            std::optional<std::uint8_t> level_type, std::optional<double> level) {
  std::optional<std::uint32_t> at;
  if (level_type == std::uint8_t{103} && level) {
    at = table_level(level_in_table_units(level_type, *level));
  }
  if (const auto* row = find_row_at_level(kRows, dcn(d, c, n), at)) return row->paramId;
  return std::int64_t{c} * 1000 + n + std::int64_t{d} * 100000;
}

std::int64_t grib1_param_id(const MessageRecord& r, std::uint8_t parameter) {
  const std::uint16_t version = r.table2Version.value_or(0);
  if (r.centre && version == 1 && *r.centre == 96 && parameter == 112) return 3112;
  if (version == 172) return 172000 + parameter;
  if (version == 228) return 228000 + parameter;
  return parameter;
}

}  // namespace

std::optional<std::int64_t> default_param_id(const MessageRecord& r) {
  if (!r.parameterNumber) return std::nullopt;
  switch (r.edition) {
    case Edition::Two:
      if (!r.discipline || !r.parameterCategory) return std::int64_t{*r.parameterNumber};
      return grib2_param_id(*r.discipline, *r.parameterCategory, *r.parameterNumber, r.levelType,
                            r.level);
    case Edition::One: return grib1_param_id(r, *r.parameterNumber);
    case Edition::Unknown: return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace vorlak
