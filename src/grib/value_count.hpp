#pragma once
// The one bound every decoder applies to the number of values it is asked
// for: the count comes from header fields, and a constant field would
// otherwise allocate whatever they claim without reading a payload byte.
#include <cstdint>

#include "grib/limits.hpp"
#include "grib/result.hpp"
#include "grib/text.hpp"

namespace vorlak {

inline Result<void> check_value_count(std::uint64_t count) {
  if (count > kMaxGridPoints) {
    return fail(str_cat("value count ", count, " exceeds the supported maximum ", kMaxGridPoints));
  }
  return {};
}

}  // namespace vorlak
