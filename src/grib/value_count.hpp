#pragma once
// The bounds applied to counts that come from header fields, before anything
// of that size is allocated: the number of values a decoder is asked for (a
// constant field would otherwise allocate whatever the header claims without
// reading a payload byte) and the number of points of a grid.
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

inline Result<void> check_point_count(std::uint64_t points) {
  if (points > kMaxGridPoints) {
    return fail(str_cat("grid of ", points, " points exceeds the supported maximum ", kMaxGridPoints));
  }
  return {};
}

}  // namespace vorlak
