// Key-time parameter naming: a centre row when there is one, else the
// fallback tables and the record's scan-time names, then the generated WMO and
// producer tables for what those leave unnamed, then paramId and the CF names.
#include "compat/param_rules.hpp"
#include "compat/param_tables.hpp"

namespace vorlak {
namespace {

// The scan-time names of a record's codes: the fallback of the key-time
// names. A record of neither edition has none.
std::optional<ParamNames> scan_names(const MessageRecord& r) {
  if (r.edition == Edition::One && r.parameterNumber) return scan_names_grib1(r.centre, *r.parameterNumber);
  if (r.edition == Edition::Two && r.parameterNumber) {
    return scan_names_grib2(r.discipline.value_or(0), r.parameterCategory.value_or(0), *r.parameterNumber,
                            r.levelType.value_or(255), r.level);
  }
  return std::nullopt;
}

const CentreParamRow* centre_row(const MessageRecord& r) {
  if (r.edition != Edition::Two || !r.centre || !r.discipline || !r.parameterCategory ||
      !r.parameterNumber) {
    return nullptr;
  }
  return find_centre_param(*r.centre, *r.discipline, *r.parameterCategory, *r.parameterNumber,
                           r.levelType.value_or(255), r.level);
}

std::string_view fallback_short_name(const MessageRecord& r, const Grib1Fallback* grib1,
                                     const std::optional<ParamNames>& scanned) {
  if (r.edition == Edition::Two && r.discipline && r.parameterCategory && r.parameterNumber) {
    const auto name = grib2_fallback_short_name(*r.discipline, *r.parameterCategory, *r.parameterNumber);
    if (!name.empty()) return refine_short_name(name, r.levelType, r.level);
  }
  if (grib1 && !grib1->shortName.empty()) return grib1->shortName;
  return refine_short_name(scanned ? scanned->shortName : std::string_view{}, r.levelType, r.level);
}

// A centre row with "unknown" texts and paramId 0: the centre publishes the
// combination without naming it. It holds only until a table names it.
bool names_nothing(const CentreParamRow& row) { return row.shortName == "unknown"; }

std::optional<ParamNames> generated_names(const MessageRecord& r) {
  if (r.edition != Edition::Two || !r.discipline || !r.parameterCategory || !r.parameterNumber) {
    return std::nullopt;
  }
  return table_param_names(r.centre, *r.discipline, *r.parameterCategory, *r.parameterNumber);
}

bool unnamed_short_name(std::string_view s) { return s == "unknown"; }
bool unnamed_name(std::string_view s) { return s == "Unknown" || s == "unknown"; }
bool unnamed_units(std::string_view s) { return s == "?" || s == "unknown"; }

// The generated tables fill in only what the rows above left unnamed.
void fill_unnamed(const ParamNames& table, KeyTimeNameViews& out) {
  if (unnamed_short_name(out.shortName)) out.shortName = table.shortName;
  if (unnamed_name(out.name)) out.name = table.name;
  if (unnamed_units(out.units) && !table.units.empty()) out.units = table.units;
}

}  // namespace

KeyTimeNameViews key_time_name_views(const MessageRecord& r) {
  KeyTimeNameViews out;
  const CentreParamRow* row = centre_row(r);
  std::optional<ParamNames> table;
  if (row && names_nothing(*row)) {
    table = generated_names(r);
    if (table) row = nullptr;
  }
  if (row) {
    out.shortName = row->shortName;
    out.name = row->name;
    out.units = row->units;
    out.paramId = row->paramId;
  } else {
    std::optional<Grib1Fallback> grib1;
    if (r.edition == Edition::One && r.parameterNumber) {
      grib1 = grib1_fallback(r.table2Version, r.centre, *r.parameterNumber);
    }
    const std::optional<ParamNames> scanned = scan_names(r);
    out.shortName = fallback_short_name(r, grib1 ? &*grib1 : nullptr, scanned);
    out.name = scanned ? scanned->name : std::string_view{};
    out.units = scanned ? scanned->units : std::string_view("?");
    if (grib1) {
      if (!grib1->name.empty()) out.name = grib1->name;
      if (!grib1->units.empty()) out.units = grib1->units;
    }
    if (!table && (unnamed_short_name(out.shortName) || unnamed_name(out.name) ||
                   unnamed_units(out.units))) {
      table = generated_names(r);
    }
    if (table) fill_unnamed(*table, out);
    out.paramId = default_param_id(r);
  }
  out.cfName = cf_name(r);
  out.cfVarName = cf_var_name(r, out.shortName);
  return out;
}

}  // namespace vorlak
