// Templates 5.2 and 5.3, complex packing (with spatial differencing for 5.3).
// Section 7 holds, in order:
//   5.3 only: (order + 1) sign-magnitude fields of `descriptorOctets` octets,
//             the initial values then the overall minimum;
//   NG group references of bitsPerValue bits, then padding to an octet;
//   NG raw group widths of bitsForGroupWidths bits, then padding;
//   NG raw scaled group lengths of bitsForScaledGroupLengths bits, then padding;
//   the packed values of all groups, group after group, no padding.
// Group k has width referenceForGroupWidths + raw width, length
// referenceForGroupLengths + lengthIncrement * raw length (the last group
// has trueLengthOfLastGroup), and its values are reference + x.
//
// Everything the header fields claim is checked before the output is
// allocated: the three group columns against the payload, each group's
// width, the packed bits of all groups against what is left, and the number
// of points the groups produce against the count asked for. The columns are
// decoded a chunk at a time, so no NG-sized list is ever held.
#include <algorithm>
#include <limits>

#include "grib/bit_reader.hpp"
#include "grib/complex_packing.hpp"
#include "grib/text.hpp"
#include "grib/value_count.hpp"

namespace vorlak {
namespace {

constexpr std::size_t kGroupChunk = 512;

struct PackedColumn {
  std::uint64_t start = 0;  // bit position
  unsigned width = 0;
};

struct GroupLayout {
  Bytes data;  // the group data: section 7 after any descriptors
  std::uint64_t group_count = 0;
  PackedColumn references, widths, lengths;
  std::uint64_t values_start = 0;  // bit position of the first packed value
};

struct GroupChunk {
  std::uint64_t reference[kGroupChunk];
  std::uint64_t raw_width[kGroupChunk];
  std::uint64_t raw_length[kGroupChunk];
};

Result<GroupLayout> locate_groups(Bytes data, const DataRepresentation& drs) {
  GroupLayout layout;
  layout.data = data;
  layout.group_count = drs.numberOfGroups;
  BitReader reader(data);
  auto column = [&](unsigned width) -> Result<PackedColumn> {
    if (width > 64) return fail(kReadWidthTooLarge);
    if (!reader.has_bits(width, layout.group_count)) return fail(kNotEnoughPackedBits);
    const PackedColumn c{reader.bit_position(), width};
    reader.skip_bits(std::uint64_t{width} * layout.group_count);
    reader.align_to_byte();
    return c;
  };
  auto references = column(drs.bitsPerValue);
  if (!references) return fail(references.error());
  auto widths = column(drs.bitsForGroupWidths);
  if (!widths) return fail(widths.error());
  auto lengths = column(drs.bitsForScaledGroupLengths);
  if (!lengths) return fail(lengths.error());
  layout.references = *references;
  layout.widths = *widths;
  layout.lengths = *lengths;
  layout.values_start = reader.bit_position();
  return layout;
}

void load_column(const GroupLayout& layout, const PackedColumn& column, std::uint64_t first, std::size_t n,
                 std::uint64_t* out) {
  active_kernels().unpack(layout.data.data(), layout.data.size(), column.start + first * column.width,
                          column.width, n, out);
}

struct Group {
  std::uint64_t reference;
  std::uint64_t width;  // above 255 only before check_groups has refused it
  std::uint32_t length;
};

// Calls visit(group) for each group in order while it returns true.
template <class Visit>
void for_each_group(const GroupLayout& layout, const DataRepresentation& drs, bool want_references,
                    Visit&& visit) {
  GroupChunk chunk;
  for (std::uint64_t first = 0; first < layout.group_count; first += kGroupChunk) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kGroupChunk, layout.group_count - first));
    if (want_references) load_column(layout, layout.references, first, n, chunk.reference);
    load_column(layout, layout.widths, first, n, chunk.raw_width);
    load_column(layout, layout.lengths, first, n, chunk.raw_length);
    for (std::size_t j = 0; j < n; ++j) {
      const bool last = first + j + 1 == layout.group_count;
      const Group g{
          want_references ? chunk.reference[j] : 0,
          drs.referenceForGroupWidths + std::min<std::uint64_t>(chunk.raw_width[j], 256),  // past 255 stays past
          last ? drs.trueLengthOfLastGroup
               : static_cast<std::uint32_t>(drs.referenceForGroupLengths +
                                            std::uint32_t{drs.lengthIncrement} *
                                                static_cast<std::uint32_t>(chunk.raw_length[j])),
      };
      if (!visit(g)) return;
    }
  }
}

// Walks the groups as the decoder will: a width past 255 anywhere fails
// first ("group width overflow"), then the first group that would meet a
// width above 64 or run out of bits; gives the number of packed points.
Result<std::uint64_t> check_groups(const GroupLayout& layout, const DataRepresentation& drs) {
  const std::uint64_t available = std::uint64_t{layout.data.size()} * 8 - layout.values_start;
  std::uint64_t bits = 0;
  std::uint64_t points = 0;
  const char* error = nullptr;
  bool overflow = false;
  for_each_group(layout, drs, false, [&](const Group& g) {
    if (g.width > 255) {
      overflow = true;
      return false;
    }
    if (error || g.length == 0) return true;
    if (g.width > 64) {
      error = kReadWidthTooLarge;
    } else {
      bits += g.width * g.length;  // below 2^39 per group, so no wrap before the check
      if (bits > available) error = kNotEnoughPackedBits;
    }
    points += g.length;
    return true;
  });
  if (overflow) return fail("group width overflow");
  if (error) return fail(error);
  return points;
}

// The number of values the single-pass route produces: the initial values
// it writes itself, then every packed point but those it skips.
std::uint64_t single_pass_output_count(std::uint64_t points, std::uint64_t initial_outputs) {
  return initial_outputs + points - std::min(initial_outputs, points);
}

Result<void> check_output_count(std::uint64_t produced, std::uint64_t count) {
  if (produced != count) {
    return fail(str_cat("complex packed value count ", produced, " does not match expected ", count));
  }
  return {};
}

// Runs of packed values gathered a chunk of groups at a time and handed to
// the kernels together.
class RunBatch {
 public:
  explicit RunBatch(double* out) : out_(out) {}
  bool full() const { return size_ == kGroupChunk; }
  void add(std::uint64_t bit_offset, std::uint64_t add, std::uint32_t count, unsigned width) {
    runs_[size_++] = PackedRun{bit_offset, add, count, width};
    pending_ += count;
  }
  // Hands the gathered runs to `decode(runs, n, out)` and moves past their values.
  template <class Decode>
  void flush(Decode&& decode) {
    if (size_ > 0) decode(runs_, size_, out_);
    out_ += pending_;
    size_ = 0;
    pending_ = 0;
  }
  double*& out() { return out_; }

 private:
  PackedRun runs_[kGroupChunk];
  std::size_t size_ = 0;
  std::uint64_t pending_ = 0;
  double* out_;
};

// Missing value management off, template 5.2: each group is a run of
// scaled reference + x; constant groups are runs of one scaled value.
void decode_plain(const GroupLayout& layout, const DataRepresentation& drs, const ScaleFactors& scale, double* out) {
  const UnpackKernels& k = active_kernels();
  const auto decode = [&](const PackedRun* runs, std::size_t n, double* to) {
    k.runs_scaled(layout.data.data(), layout.data.size(), runs, n, scale, to);
  };
  RunBatch batch(out);
  std::uint64_t position = layout.values_start;
  for_each_group(layout, drs, true, [&](const Group& g) {
    if (g.length == 0) return true;
    if (g.width == 0) {
      batch.flush(decode);
      std::fill_n(batch.out(), g.length,
                  apply_scale(static_cast<double>(static_cast<std::int64_t>(g.reference)), scale));
      batch.out() += g.length;
      return true;
    }
    batch.add(position, g.reference, g.length, static_cast<unsigned>(g.width));
    position += g.width * g.length;
    if (batch.full()) batch.flush(decode);
    return true;
  });
  batch.flush(decode);
}

// Missing value management off, template 5.3: differencing undone and values
// scaled as they are read. The first `order` packed points stand for the
// initial values and are skipped.
void decode_differenced(const GroupLayout& layout, const DataRepresentation& drs, const SpatialDifferencing& sd,
                        std::uint64_t count, const ScaleFactors& scale, double* out) {
  const UnpackKernels& k = active_kernels();
  const auto to_double = [](std::uint64_t v) { return static_cast<double>(static_cast<std::int64_t>(v)); };
  const auto first = static_cast<std::uint64_t>(sd.initial_values[0]);
  const std::uint64_t initial_outputs = std::min<std::uint64_t>(count, sd.order);
  std::int64_t value = static_cast<std::int64_t>(first);
  std::int64_t difference = 0;
  if (initial_outputs >= 1) *out++ = apply_scale(to_double(first), scale);
  if (sd.order == 2) {
    const auto second = static_cast<std::uint64_t>(sd.initial_values[1]);
    if (initial_outputs >= 2) *out++ = apply_scale(to_double(second), scale);
    value = static_cast<std::int64_t>(second);
    difference = static_cast<std::int64_t>(second - first);
  }
  const auto decode = [&](const PackedRun* runs, std::size_t n, double* to) {
    if (sd.order == 1) {
      k.runs_order1_scaled(layout.data.data(), layout.data.size(), runs, n, &value, scale, to);
    } else {
      k.runs_order2_scaled(layout.data.data(), layout.data.size(), runs, n, &value, &difference, scale, to);
    }
  };
  RunBatch batch(out);
  std::uint64_t to_skip = initial_outputs;
  std::uint64_t position = layout.values_start;
  const auto minimum = static_cast<std::uint64_t>(sd.overall_minimum);
  for_each_group(layout, drs, true, [&](const Group& g) {
    std::uint64_t length = g.length;
    if (length == 0) return true;
    const std::uint64_t skipped = std::min(to_skip, length);
    to_skip -= skipped;
    length -= skipped;
    position += g.width * skipped;
    if (length > 0) {
      batch.add(position, g.reference + minimum, static_cast<std::uint32_t>(length), static_cast<unsigned>(g.width));
      position += g.width * length;
      if (batch.full()) batch.flush(decode);
    }
    return true;
  });
  batch.flush(decode);
}

std::uint64_t all_ones(unsigned width) {
  if (width == 0) return 0;
  if (width >= 64) return ~std::uint64_t{0};
  return (std::uint64_t{1} << width) - 1;
}

// Missing value management on: one optional integer per point. Management 1
// marks all-ones values missing, management 2 also all-ones minus one;
// constant groups are missing when their reference is all ones of
// bitsPerValue bits (or that minus one under management 2).
OptionalIntegers decode_with_missing(const GroupLayout& layout, const DataRepresentation& drs,
                                     std::uint64_t points) {
  const UnpackKernels& k = active_kernels();
  const unsigned management = drs.missingValueManagement;
  const std::uint64_t primary = all_ones(drs.bitsPerValue);
  const std::uint64_t secondary = primary == 0 ? 0 : primary - 1;
  OptionalIntegers values;
  values.reserve(points);
  std::uint64_t position = layout.values_start;
  std::uint64_t raw[kGroupChunk];
  for_each_group(layout, drs, true, [&](const Group& g) {
    if (g.length == 0) return true;
    if (g.width == 0) {
      const bool missing = g.reference == primary || (management == 2 && g.reference == secondary);
      const std::optional<std::int64_t> entry =
          missing ? std::nullopt : std::optional<std::int64_t>(static_cast<std::int64_t>(g.reference));
      values.insert(values.end(), g.length, entry);
      return true;
    }
    const std::uint64_t ones = all_ones(g.width);
    for (std::uint64_t done = 0; done < g.length;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kGroupChunk, g.length - done));
      k.unpack(layout.data.data(), layout.data.size(), position, g.width, n, raw);
      position += std::uint64_t{g.width} * n;
      done += n;
      for (std::size_t j = 0; j < n; ++j) {
        const std::uint64_t x = raw[j];
        const bool missing = (management == 1 && x == ones) || (management == 2 && (x == ones || x == ones - 1));
        if (missing) {
          values.emplace_back(std::nullopt);
        } else {
          values.emplace_back(static_cast<std::int64_t>(g.reference + x));
        }
      }
    }
    return true;
  });
  return values;
}

}  // namespace

Result<Values> unpack_complex(Bytes payload, const DataRepresentation& drs, std::uint64_t count) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  if (drs.numberOfGroups == 0) return fail("complex packing metadata has zero groups");
  if (drs.numberOfGroups > kMaxGridPoints) {
    return fail(str_cat("complex packing group count ", drs.numberOfGroups, " exceeds the supported maximum ",
                        kMaxGridPoints));
  }
  const bool differenced = drs.dataRepresentationTemplateNumber == 3;
  std::optional<SpatialDifferencing> differencing;
  Bytes group_data = payload;
  if (differenced) {
    auto sd = parse_differencing_descriptors(payload, drs.orderOfSpatialDifferencing, drs.descriptorOctets);
    if (!sd) return fail(sd.error());
    differencing = std::move(*sd);
    group_data = payload.subspan(std::size_t{differencing->order + 1u} * drs.descriptorOctets);
  }
  auto layout = locate_groups(group_data, drs);
  if (!layout) return fail(layout.error());
  // The columns fit. Groups beyond the values are empty, and with
  // zero-width columns they cost no payload bits: a 100-octet message could
  // make the walks below visit 2^28 of them. Groups are allowed as far as
  // the values or the payload bits pay for them.
  if (drs.numberOfGroups > count + std::uint64_t{payload.size()} * 8) {
    return fail(str_cat("complex packing group count ", drs.numberOfGroups, " is more than ", count,
                        " values and ", payload.size(), " payload octets can hold"));
  }
  auto points = check_groups(*layout, drs);
  if (!points) return fail(points.error());

  const ScaleFactors scale = scale_factors(drs);
  if (drs.missingValueManagement != 0) {
    if (auto ok = check_output_count(*points, count); !ok) return fail(ok.error());
    OptionalIntegers integers = decode_with_missing(*layout, drs, *points);
    if (differencing) {
      auto restored = undo_differencing(std::move(integers), *differencing);
      if (!restored) return fail(restored.error());
      integers = std::move(*restored);
    }
    return scale_optional(integers, drs);
  }

  const std::uint64_t initial_outputs = differencing ? std::min<std::uint64_t>(count, differencing->order) : 0;
  if (auto ok = check_output_count(single_pass_output_count(*points, initial_outputs), count); !ok) {
    return fail(ok.error());
  }
  Values values(count);
  if (differencing) {
    decode_differenced(*layout, drs, *differencing, count, scale, values.data());
  } else {
    decode_plain(*layout, drs, scale, values.data());
  }
  return values;
}

}  // namespace vorlak
