#pragma once
// The level as the parameter tables compare it: clamped to 0 .. 4294967295
// and truncated towards zero. NaN counts as 0, like a saturating cast.
#include <cstdint>
#include <optional>

namespace vorlak {

constexpr std::uint32_t table_level(double level) {
  if (!(level > 0.0)) return 0;  // also NaN
  if (level >= 4294967295.0) return 4294967295u;
  return static_cast<std::uint32_t>(level);
}

// The level compared by the "at 103 with level L" rules: present only when
// the level type is 103 (height above ground) and the record has a level.
constexpr std::optional<std::uint32_t> level_at_103(std::optional<std::uint8_t> level_type,
                                                    std::optional<double> level) {
  if (level_type != std::uint8_t{103} || !level) return std::nullopt;
  return table_level(*level);
}

// An isobaric level of at least 100 Pa is read in hPa, as the `level` key is.
constexpr double level_in_table_units(std::optional<std::uint8_t> level_type, double level) {
  return (level_type == std::uint8_t{100} && level >= 100.0) ? level / 100.0 : level;
}

}  // namespace vorlak
