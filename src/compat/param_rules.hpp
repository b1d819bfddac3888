#pragma once
// The pieces of key-time parameter naming, each over its own constant table.
// Every result is a view of constant data (or of the record's own texts).
#include <cstdint>
#include <optional>
#include <string_view>

#include "compat/param_tables.hpp"
#include "grib/message_record.hpp"

namespace vorlak {

struct CentreParamRow {
  std::uint64_t key;    // centre, discipline, category, number, level type
  std::int64_t level;   // -1: any level
  std::string_view shortName;
  std::string_view name;
  std::string_view units;
  std::int64_t paramId;
};

// The centre-specific row (centres 7, 8, 80, 98) of an edition 2 field.
// `level` is the record's level (absent when it has none); an isobaric level
// of at least 100 Pa is compared in hPa. Rows at level type 103 need a level.
const CentreParamRow* find_centre_param(std::uint16_t centre, std::uint8_t discipline,
                                        std::uint8_t category, std::uint8_t number,
                                        std::uint8_t level_type, std::optional<double> level);

// Names from the generated WMO and producer tables, by codes. A local
// discipline, category or number (192-254) is named only by its producer's
// table: NCEP's for centres 7, 8 and 161, MRMS's for discipline 209 of centre
// 161; never by another centre's. Any other parameter is named by the WMO
// table, with NCEP's abbreviation in lower case as short name ("unknown" where
// NCEP lists none). Units are empty where the table states none. Absent when
// no table names the parameter.
std::optional<ParamNames> table_param_names(std::optional<std::uint16_t> centre,
                                            std::uint8_t discipline, std::uint8_t category,
                                            std::uint8_t number);

// Edition 2 fallback short name by discipline/category/number, or empty.
std::string_view grib2_fallback_short_name(std::uint8_t discipline, std::uint8_t category,
                                           std::uint8_t number);

// Edition 1 fallback by table version and indicator of parameter. Empty
// texts mean "keep the record's own".
struct Grib1Fallback {
  std::string_view shortName;
  std::string_view units;
  std::string_view name;
};
std::optional<Grib1Fallback> grib1_fallback(std::optional<std::uint16_t> table2_version,
                                            std::optional<std::uint16_t> centre,
                                            std::uint8_t indicator_of_parameter);

// Height-above-ground refinements of short names: the one-letter names t, u,
// v and the three-letter dpt. Returns the name unchanged when none applies.
std::string_view refine_short_name(std::string_view name, std::optional<std::uint8_t> level_type,
                                   std::optional<double> level);

// paramId of a record without a centre row; absent without a parameter number.
std::optional<std::int64_t> default_param_id(const MessageRecord& record);

// CF names of an edition 2 record; cfVarName starts from the key-time short
// name. Empty views mean "no key".
std::string_view cf_name(const MessageRecord& record);
std::string_view cf_var_name(const MessageRecord& record, std::string_view key_time_short_name);

// All key-time names as views, for derive_keys.
struct KeyTimeNameViews {
  std::string_view shortName;
  std::string_view name;
  std::string_view units;
  std::optional<std::int64_t> paramId;
  std::string_view cfName;     // empty: no key
  std::string_view cfVarName;  // empty: no key
};
KeyTimeNameViews key_time_name_views(const MessageRecord& record);

}  // namespace vorlak
