#pragma once
// Templates 5.2 and 5.3: the pieces of complex packing and spatial
// differencing that are useful on their own (and to test).
#include <cstdint>
#include <optional>
#include <vector>

#include "grib/decoders.hpp"
#include "grib/kernels/unpack_kernels.hpp"

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

// Where the one-pass decoding of template 5.3 stands: the running value and
// difference (wrapping), and how many present points still stand for
// initial values (the first `order` of the field do).
struct DifferencingState {
  std::uint64_t value = 0;
  std::uint64_t difference = 0;
  std::uint64_t to_skip = 0;
};

// The state once the initial values have been given out.
DifferencingState after_initial_values(const SpatialDifferencing& differencing);

// The state after a stretch of present points whose steps (reference +
// overall minimum + packed value) sum to `steps`, from the state before it,
// without decoding the stretch: how a field split into pieces learns where
// each piece starts.
DifferencingState carry_over(const SpatialDifferencing& differencing, DifferencingState before,
                             const StepSums& steps);

}  // namespace vorlak
