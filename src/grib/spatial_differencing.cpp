// Spatial differencing of template 5.3: the descriptors at the start of
// section 7 and the restoring of values from their first or second
// differences, for the route that keeps missing points.
#include <algorithm>
#include <limits>

#include "grib/bit_reader.hpp"
#include "grib/complex_packing.hpp"
#include "grib/text.hpp"

namespace vorlak {
namespace {

std::string unsupported_order(unsigned order) { return str_cat("unsupported spatial differencing order ", order); }

// A big-endian field of 1 to 8 octets whose top bit is the sign.
Result<std::int64_t> read_sign_magnitude(Bytes field) {
  if (field.empty() || field.size() > 8) {
    return fail(str_cat("sign-magnitude descriptor width must be between 1 and 8 bytes, got ", field.size()));
  }
  std::uint64_t raw = 0;
  for (std::uint8_t b : field) raw = (raw << 8) | b;
  const unsigned bits = static_cast<unsigned>(field.size()) * 8;
  const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
  const auto magnitude = static_cast<std::int64_t>(raw & (sign - 1));
  return (raw & sign) ? -magnitude : magnitude;
}

}  // namespace

Result<SpatialDifferencing> parse_differencing_descriptors(Bytes payload, unsigned order,
                                                           unsigned descriptor_octets) {
  if (order != 1 && order != 2) return fail(unsupported_order(order));
  if (descriptor_octets == 0) return fail("spatial differencing metadata has zero extra descriptor octets");
  const std::size_t need = std::size_t{order + 1} * descriptor_octets;
  if (payload.size() < need) {
    return fail(str_cat("section 7 too short for spatial differencing descriptors: need ", need, " bytes"));
  }
  SpatialDifferencing sd;
  sd.order = static_cast<std::uint8_t>(order);
  for (unsigned k = 0; k <= order; ++k) {
    auto field = read_sign_magnitude(payload.subspan(std::size_t{k} * descriptor_octets, descriptor_octets));
    if (!field) return fail(field.error());
    if (k < order) {
      sd.initial_values.push_back(*field);
    } else {
      sd.overall_minimum = *field;
    }
  }
  return sd;
}

Result<OptionalIntegers> undo_differencing(OptionalIntegers values, const SpatialDifferencing& differencing) {
  const auto& initial = differencing.initial_values;
  const auto minimum = static_cast<std::uint64_t>(differencing.overall_minimum);
  if (differencing.order == 1) {
    if (initial.empty()) return fail("missing first initial value for order-1 differencing");
    auto running = static_cast<std::uint64_t>(initial[0]);
    bool first = true;
    for (auto& entry : values) {
      if (!entry) continue;
      if (first) {
        first = false;
      } else {
        running += minimum + static_cast<std::uint64_t>(*entry);
      }
      entry = static_cast<std::int64_t>(running);
    }
    return values;
  }
  if (differencing.order == 2) {
    if (initial.size() < 2) return fail("missing initial values for order-2 differencing");
    const auto first = static_cast<std::uint64_t>(initial[0]);
    const auto second = static_cast<std::uint64_t>(initial[1]);
    std::uint64_t value = second;
    std::uint64_t difference = second - first;
    std::uint64_t seen = 0;
    for (auto& entry : values) {
      if (!entry) continue;
      if (seen == 0) {
        entry = static_cast<std::int64_t>(first);
      } else if (seen == 1) {
        entry = static_cast<std::int64_t>(second);
      } else {
        difference += minimum + static_cast<std::uint64_t>(*entry);
        value += difference;
        entry = static_cast<std::int64_t>(value);
      }
      ++seen;
    }
    return values;
  }
  return fail(unsupported_order(differencing.order));
}

DifferencingState after_initial_values(const SpatialDifferencing& differencing) {
  DifferencingState r;
  const auto first = static_cast<std::uint64_t>(differencing.initial_values[0]);
  r.value = first;
  if (differencing.order == 2) {
    const auto second = static_cast<std::uint64_t>(differencing.initial_values[1]);
    r.value = second;
    r.difference = second - first;
  }
  return r;
}

// Over n present steps s_1 .. s_n from value v and difference d, order 2
// ends at difference d + S and value v + n d + T, where S is the sum of
// the steps and T the sum of their running sums (order 1: value v + S).
// The first steps of the field stand for initial values instead: they are
// taken out of S and T, and the stretch continues from the state the
// initial values leave.
DifferencingState carry_over(const SpatialDifferencing& differencing, DifferencingState r, const StepSums& s) {
  const std::uint64_t skipped = std::min(r.to_skip, s.present);
  if (skipped < r.to_skip) {  // the initial values reach past this stretch
    r.to_skip -= skipped;
    return r;
  }
  std::uint64_t present = s.present, sum = s.sum, sum_of_sums = s.sum_of_sums;
  if (skipped > 0) {
    // s_1 (and s_2) leave S, and so do their shares of every running sum.
    const std::uint64_t dropped = skipped == 1 ? s.first[0] : s.first[0] + s.first[1];
    const std::uint64_t dropped_running = skipped == 1 ? s.first[0] : 2 * s.first[0] + s.first[1];
    present -= skipped;
    sum -= dropped;
    sum_of_sums -= dropped_running + present * dropped;
    r = after_initial_values(differencing);
  }
  if (differencing.order == 1) {
    r.value += sum;
  } else {
    r.value += present * r.difference + sum_of_sums;
    r.difference += sum;
  }
  return r;
}

Values scale_optional(const OptionalIntegers& values, const DataRepresentation& drs) {
  const ScaleFactors scale = scale_factors(drs);
  Values out(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    out[i] = values[i] ? apply_scale(static_cast<double>(*values[i]), scale)
                       : std::numeric_limits<double>::quiet_NaN();
  }
  return out;
}

}  // namespace vorlak
