#pragma once
// The plain route of complex packing's missing points and spatial
// differencing, the oracle of the one-pass decoders: one optional integer
// per point, differencing undone over the present ones, then scaling.
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "grib/bit_reader.hpp"
#include "grib/complex_packing.hpp"

namespace vorlak::test {

// One entry per decoded point; empty where the point is missing.
using OptionalIntegers = std::vector<std::optional<std::int64_t>>;

// Restores the present points from their differences (order 1 or 2, with
// its initial values); missing points stay missing and take no part. Sums
// wrap in 64 bits.
inline OptionalIntegers undo_differencing(OptionalIntegers values, const SpatialDifferencing& differencing) {
  const auto& initial = differencing.initial_values;
  const auto minimum = static_cast<std::uint64_t>(differencing.overall_minimum);
  const auto first = static_cast<std::uint64_t>(initial[0]);
  const auto second = differencing.order == 2 ? static_cast<std::uint64_t>(initial[1]) : 0;
  std::uint64_t value = differencing.order == 2 ? second : first;
  std::uint64_t difference = second - first;
  std::uint64_t seen = 0;
  for (auto& entry : values) {
    if (!entry) continue;
    if (seen == 0) {
      value = first;
    } else if (seen == 1 && differencing.order == 2) {
      value = second;
    } else if (differencing.order == 1) {
      value += minimum + static_cast<std::uint64_t>(*entry);
    } else {
      difference += minimum + static_cast<std::uint64_t>(*entry);
      value += difference;
    }
    entry = static_cast<std::int64_t>(value);
    ++seen;
  }
  return values;
}

// Present integers by the scaling rule, missing points as NaN.
inline Values scale_optional(const OptionalIntegers& values, const DataRepresentation& drs) {
  const ScaleFactors scale = scale_factors(drs);
  Values out(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    out[i] = values[i] ? apply_scale(static_cast<double>(*values[i]), scale)
                       : std::numeric_limits<double>::quiet_NaN();
  }
  return out;
}

}  // namespace vorlak::test
