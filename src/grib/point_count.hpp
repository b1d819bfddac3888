#pragma once
// The refusal of grids too large to hold, checked before any value buffer is
// allocated for a count taken from a header.
#include <cstdint>

#include "grib/limits.hpp"
#include "grib/result.hpp"
#include "grib/text.hpp"

namespace vorlak {

inline Result<void> check_point_count(std::uint64_t points) {
  if (points > kMaxGridPoints) {
    return fail(str_cat("grid of ", points, " points exceeds the supported maximum ", kMaxGridPoints));
  }
  return {};
}

}  // namespace vorlak
