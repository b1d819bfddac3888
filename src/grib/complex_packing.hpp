#pragma once
// Templates 5.2 and 5.3: the pieces of complex packing and spatial
// differencing that are useful on their own (and to test).
#include <cstdint>
#include <optional>
#include <vector>

#include "grib/decoders.hpp"

namespace vorlak {

struct SpatialDifferencing {
  std::uint8_t order = 0;                   // 1 or 2
  std::vector<std::int64_t> initial_values;  // one per order
  std::int64_t overall_minimum = 0;
};

// One entry per decoded point; empty where the point is missing.
using OptionalIntegers = std::vector<std::optional<std::int64_t>>;

// The extra descriptors at the start of a template 5.3 section 7: `order`
// initial values and the overall minimum, each a sign-magnitude field of
// `descriptor_octets` octets.
Result<SpatialDifferencing> parse_differencing_descriptors(Bytes payload, unsigned order,
                                                           unsigned descriptor_octets);

// Restores the present points from their differences; missing points stay
// missing and take no part. Sums wrap in signed 64 bits.
Result<OptionalIntegers> undo_differencing(OptionalIntegers values, const SpatialDifferencing& differencing);

// Present integers by the scaling rule, missing points as NaN.
Values scale_optional(const OptionalIntegers& values, const DataRepresentation& drs);

}  // namespace vorlak
