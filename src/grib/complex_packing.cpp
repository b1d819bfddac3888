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
//
// Decoding is one pass over the groups straight into the output: constant
// groups are runs of one value, packed groups go to the kernels a batch at
// a time. With missing value management, a constant group whose reference
// is a missing code and every packed value equal to one become NaN and take
// no part in differencing; under 5.3 the first `order` present points stand
// for the initial values.
//
// A large field is cut into pieces at group boundaries (the check pass
// notes where each piece starts in the bits and in the output). Template
// 5.2 decodes the pieces side by side. Under 5.3 a piece's values depend on
// the running value and difference it starts from: a first pass sums each
// piece's steps, the starting states follow from those sums in order, and
// a second pass decodes the pieces side by side. The sums are exact in
// wrapping 64-bit arithmetic, so the values are those of the one-piece pass.
#include <algorithm>
#include <atomic>
#include <limits>
#include <optional>

#include "grib/bit_reader.hpp"
#include "grib/complex_packing.hpp"
#include "grib/kernels/bit_window.hpp"
#include "grib/kernels/run_loops.hpp"
#include "grib/text.hpp"
#include "grib/value_count.hpp"
#include "grib/worker_pool.hpp"

namespace vorlak {
namespace {

constexpr std::size_t kGroupChunk = 512;
constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

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

struct Group {
  std::uint64_t reference;
  std::uint64_t width;  // above 255 only before check_groups has refused it
  std::uint32_t length;
};

// Calls visit(group) for groups [first, end) in order while it returns true.
template <class Visit>
void for_each_group(const GroupLayout& layout, const DataRepresentation& drs, const UnpackKernels& k,
                    bool want_references, std::uint64_t first, std::uint64_t end, Visit&& visit) {
  const auto load = [&](const PackedColumn& column, std::uint64_t from, std::size_t n, std::uint64_t* out) {
    k.unpack(layout.data.data(), layout.data.size(), column.start + from * column.width, column.width, n, out);
  };
  GroupChunk chunk;
  for (std::uint64_t from = first; from < end; from += kGroupChunk) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kGroupChunk, end - from));
    if (want_references) load(layout.references, from, n, chunk.reference);
    load(layout.widths, from, n, chunk.raw_width);
    load(layout.lengths, from, n, chunk.raw_length);
    for (std::size_t j = 0; j < n; ++j) {
      const bool last = from + j + 1 == layout.group_count;
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

// A stretch of groups decoded as one: where it starts among the groups, in
// the packed bits and in the output.
struct Piece {
  std::uint64_t first_group = 0;
  std::uint64_t end_group = 0;
  std::uint64_t bit_position = 0;
  std::uint64_t point = 0;
};

struct CheckedGroups {
  std::uint64_t points = 0;
  std::vector<Piece> pieces;
};

// Walks the groups as the decoder will: a width past 255 anywhere fails
// first ("group width overflow"), then the first group that would meet a
// width above 64 or run out of bits; gives the number of packed points and
// the groups cut into pieces, a new piece starting at the first group with
// points once `cuts[k]` points lie before it.
Result<CheckedGroups> check_groups(const GroupLayout& layout, const DataRepresentation& drs, const UnpackKernels& k,
                                   const std::vector<std::uint64_t>& cuts) {
  const std::uint64_t available = std::uint64_t{layout.data.size()} * 8 - layout.values_start;
  CheckedGroups checked;
  checked.pieces.reserve(cuts.size() + 1);
  checked.pieces.push_back(Piece{0, layout.group_count, layout.values_start, 0});
  std::uint64_t bits = 0;
  std::uint64_t points = 0;
  std::uint64_t group = 0;
  const char* error = nullptr;
  bool overflow = false;
  for_each_group(layout, drs, k, false, 0, layout.group_count, [&](const Group& g) {
    const std::uint64_t index = group++;
    if (g.width > 255) {
      overflow = true;
      return false;
    }
    if (error || g.length == 0) return true;
    if (checked.pieces.size() <= cuts.size() && points >= cuts[checked.pieces.size() - 1]) {
      checked.pieces.back().end_group = index;
      checked.pieces.push_back(Piece{index, layout.group_count, layout.values_start + bits, points});
    }
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
  checked.points = points;
  return checked;
}

// The number of values the route without missing values produces: the
// initial values it writes itself, then every packed point but those it skips.
std::uint64_t single_pass_output_count(std::uint64_t points, std::uint64_t initial_outputs) {
  return initial_outputs + points - std::min(initial_outputs, points);
}

Result<void> check_output_count(std::uint64_t produced, std::uint64_t count) {
  if (produced != count) {
    return fail(str_cat("complex packed value count ", produced, " does not match expected ", count));
  }
  return {};
}

// What every piece's walk shares.
struct Field {
  const GroupLayout& layout;
  const DataRepresentation& drs;
  const UnpackKernels& k;
  ScaleFactors scale;
  const SpatialDifferencing* differencing;  // 5.3 only
  MissingCodes codes;                       // of packed values
  bool constant_may_be_missing;             // missing value management on
  std::uint64_t primary;                    // constant groups: all ones of bitsPerValue bits
  std::uint64_t secondary;                  // and that minus one, under management 2
  double* out;

  bool constant_missing(std::uint64_t reference) const {
    return constant_may_be_missing &&
           (reference == primary || (drs.missingValueManagement == 2 && reference == secondary));
  }
  double scaled(std::uint64_t integer) const {
    return apply_scale(static_cast<double>(static_cast<std::int64_t>(integer)), scale);
  }
};

// Walks the groups of a piece: sink.missing(n) for a constant group that is
// missing, sink.constant(reference, n) for another constant group of 5.2,
// sink.run(bit_position, add, n, width) for packed values (and under 5.3
// for constant groups, as runs of width 0), add being the reference under
// 5.2 and the reference plus the overall minimum under 5.3; until
// sink.stopped().
template <class Sink>
void walk_piece(const Field& f, const Piece& piece, Sink& sink) {
  std::uint64_t position = piece.bit_position;
  const auto minimum =
      f.differencing ? static_cast<std::uint64_t>(f.differencing->overall_minimum) : std::uint64_t{0};
  for_each_group(f.layout, f.drs, f.k, true, piece.first_group, piece.end_group, [&](const Group& g) {
    if (g.length == 0) return true;
    if (g.width == 0 && f.constant_missing(g.reference)) {
      sink.missing(g.length);
    } else if (g.width == 0 && !f.differencing) {
      sink.constant(g.reference, g.length);
    } else {
      sink.run(position, g.reference + minimum, g.length, static_cast<unsigned>(g.width));
      position += g.width * g.length;
    }
    return !sink.stopped();
  });
}

// Runs of packed values gathered a chunk of groups at a time and handed to
// the kernels together.
class RunBatch {
 public:
  bool full() const { return size_ == kGroupChunk; }
  bool empty() const { return size_ == 0; }
  void add(std::uint64_t bit_offset, std::uint64_t add, std::uint64_t count, unsigned width) {
    runs_[size_++] = PackedRun{bit_offset, add, static_cast<std::uint32_t>(count), width};
    values_ += count;
  }
  const PackedRun* runs() const { return runs_; }
  std::size_t size() const { return size_; }
  std::uint64_t values() const { return values_; }
  void clear() {
    size_ = 0;
    values_ = 0;
  }

 private:
  PackedRun runs_[kGroupChunk];
  std::size_t size_ = 0;
  std::uint64_t values_ = 0;
};

using Running = DifferencingState;

// Writes a piece's values.
class DecodeSink {
 public:
  DecodeSink(const Field& f, const Piece& piece, const Running& start)
      : f_(f), out_(f.out + piece.point), state_(start) {}

  void missing(std::uint64_t n) {
    flush();
    out_ = std::fill_n(out_, n, kMissing);
  }
  void constant(std::uint64_t reference, std::uint64_t n) {
    flush();
    out_ = std::fill_n(out_, n, f_.scaled(reference));
  }
  void run(std::uint64_t position, std::uint64_t add, std::uint64_t n, unsigned width) {
    if (state_.to_skip > 0) {
      flush();
      const std::uint64_t taken = take_initial(position, n, width);
      position += taken * width;
      n -= taken;
      if (n == 0) return;
    }
    batch_.add(position, add, n, width);
    if (batch_.full()) flush();
  }
  void finish() { flush(); }
  bool stopped() const { return false; }
  // The running state after the values written so far.
  const Running& state() const { return state_; }

 private:
  // The first values of a run while present points still stand for initial
  // values: NaN for a missing one, the next initial value for a present one.
  std::uint64_t take_initial(std::uint64_t position, std::uint64_t n, unsigned width) {
    const SpatialDifferencing& sd = *f_.differencing;
    const std::uint64_t ones = kernels::all_ones(width);
    std::uint64_t i = 0;
    for (; i < n && state_.to_skip > 0; ++i) {
      const std::uint64_t x =
          width == 0 ? 0 : kernels::read_bits_exact(f_.layout.data.data(), position + i * width, width);
      const bool missing = width > 0 && ((f_.codes == MissingCodes::primary && x == ones) ||
                                         (f_.codes == MissingCodes::both && (x == ones || x == ones - 1)));
      if (missing) {
        *out_++ = kMissing;
        continue;
      }
      *out_++ = f_.scaled(static_cast<std::uint64_t>(sd.initial_values[sd.order - state_.to_skip]));
      if (--state_.to_skip == 0) state_ = after_initial_values(sd);
    }
    return i;
  }

  void flush() {
    if (batch_.empty()) return;
    const Bytes data = f_.layout.data;
    if (!f_.differencing) {
      f_.k.runs_scaled(data.data(), data.size(), batch_.runs(), batch_.size(), f_.codes, f_.scale, out_);
    } else {
      auto value = static_cast<std::int64_t>(state_.value);
      auto difference = static_cast<std::int64_t>(state_.difference);
      if (f_.differencing->order == 1) {
        f_.k.runs_order1_scaled(data.data(), data.size(), batch_.runs(), batch_.size(), f_.codes, &value, f_.scale,
                                out_);
      } else {
        f_.k.runs_order2_scaled(data.data(), data.size(), batch_.runs(), batch_.size(), f_.codes, &value,
                                &difference, f_.scale, out_);
      }
      state_.value = static_cast<std::uint64_t>(value);
      state_.difference = static_cast<std::uint64_t>(difference);
    }
    out_ += batch_.values();
    batch_.clear();
  }

 private:
  const Field& f_;
  double* out_;
  Running state_;
  RunBatch batch_;
};

// Sums a piece's steps (5.3).
// How far a piece of a split 5.3 field has got.
enum : int { kPieceWaiting, kPieceStarted, kPieceDecoded };

// Stops once `done` says the piece has been decoded (its state after it is
// known then without the sums).
class SumSink {
 public:
  SumSink(const Field& f, const std::atomic<int>& done) : f_(f), done_(done) {}
  void missing(std::uint64_t) {}
  void constant(std::uint64_t, std::uint64_t) {}  // 5.2 only
  void run(std::uint64_t position, std::uint64_t add, std::uint64_t n, unsigned width) {
    batch_.add(position, add, n, width);
    if (batch_.full()) flush();
  }
  bool stopped() const { return stopped_; }
  StepSums finish() {
    flush();
    return sums_;
  }

 private:
  void flush() {
    if (batch_.empty()) return;
    f_.k.runs_step_sums(f_.layout.data.data(), f_.layout.data.size(), batch_.runs(), batch_.size(), f_.codes, &sums_);
    batch_.clear();
    stopped_ = done_.load(std::memory_order_relaxed) == kPieceDecoded;
  }
  const Field& f_;
  const std::atomic<int>& done_;
  RunBatch batch_;
  StepSums sums_;
  bool stopped_ = false;
};

// Where to cut a field of `count` points for `threads` threads. Without
// differencing the pieces are equal, a few per thread. With differencing
// there is one piece per thread: piece k starts only once the steps of the
// pieces before it are summed, and its thread sums piece k - 1 first, so
// the later pieces are shorter by the cost of summing their predecessor
// (0.5 to 0.7 of decoding it on operational fields with short groups).
std::vector<std::uint64_t> piece_cuts(std::uint64_t count, unsigned threads, std::size_t pieces, bool differenced) {
  std::vector<std::uint64_t> cuts;
  if (!differenced) {
    for (std::size_t k = 1; k < pieces; ++k) cuts.push_back(count / pieces * k + count % pieces * k / pieces);
    return cuts;
  }
  constexpr double kSumCost = 0.6;  // summing a point's step against decoding it (measured)
  std::vector<double> share(threads, 1.0);
  double total = 1.0;
  for (unsigned k = 1; k < threads; ++k) {
    share[k] = std::max(0.0, 1.0 - kSumCost * share[k - 1]);
    total += share[k];
  }
  double before = 0;
  for (unsigned k = 0; k + 1 < threads; ++k) {
    before += share[k];
    cuts.push_back(static_cast<std::uint64_t>(static_cast<double>(count) * (before / total)));
  }
  return cuts;
}

void decode_pieces(const Field& f, const std::vector<Piece>& pieces, unsigned threads) {
  Running initial;
  if (f.differencing) initial.to_skip = f.differencing->order;
  if (!f.differencing || pieces.size() == 1) {
    run_jobs(threads, pieces.size(), [&](std::size_t i) {
      DecodeSink sink(f, pieces[i], initial);
      walk_piece(f, pieces[i], sink);
      sink.finish();
    });
    return;
  }
  // Job k needs the running state at the start of piece k. When piece k - 1
  // has been decoded by then, it is the state that decoding left. Otherwise
  // job k sums the steps of piece k - 1 (stopping should that piece get
  // decoded meanwhile) and carries the start of piece k - 1 across them,
  // waiting for that start if job k - 1 has not published it yet. Jobs are
  // taken in order, so whatever job k waits for is running and publishes
  // without waiting for anything later; and when one thread runs the jobs
  // one after another, no sums are made at all.
  struct Progress {
    Running start, end;
    std::atomic<int> stage{kPieceWaiting};
  };
  std::vector<Progress> progress(pieces.size());
  const auto publish = [](Progress& p, int stage) {
    p.stage.store(stage, std::memory_order_release);
    p.stage.notify_all();
  };
  run_jobs(threads, pieces.size(), [&](std::size_t k) {
    Running start = initial;
    if (k > 0) {
      Progress& before = progress[k - 1];
      std::optional<StepSums> sums;
      if (before.stage.load(std::memory_order_acquire) != kPieceDecoded) {
        SumSink sink(f, before.stage);
        walk_piece(f, pieces[k - 1], sink);
        if (!sink.stopped()) sums = sink.finish();
      }
      if (sums) {
        // The start of piece k - 1, unless it has been decoded meanwhile.
        while (before.stage.load(std::memory_order_acquire) == kPieceWaiting) {
          before.stage.wait(kPieceWaiting, std::memory_order_acquire);
        }
      }
      if (!sums || before.stage.load(std::memory_order_acquire) == kPieceDecoded) {
        // Without sums the piece was seen decoded: wait for that to be seen here too.
        for (int stage; (stage = before.stage.load(std::memory_order_acquire)) != kPieceDecoded;) {
          before.stage.wait(stage, std::memory_order_acquire);
        }
        start = before.end;
      } else {
        start = carry_over(*f.differencing, before.start, *sums);
      }
    }
    Progress& mine = progress[k];
    mine.start = start;
    publish(mine, kPieceStarted);
    DecodeSink sink(f, pieces[k], start);
    walk_piece(f, pieces[k], sink);
    sink.finish();
    mine.end = sink.state();
    publish(mine, kPieceDecoded);
  });
}

}  // namespace

Result<void> unpack_complex_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                 const OutputProvider& output, const DecodeOptions& options) {
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
  const UnpackKernels& k = active_kernels();
  const unsigned threads = split_threads(options, count);
  auto checked = check_groups(*layout, drs, k,
                              piece_cuts(count, threads, split_pieces(options, count), differencing.has_value()));
  if (!checked) return fail(checked.error());

  const unsigned management = drs.missingValueManagement;
  // With missing values every packed point is a value; without, 5.3 writes
  // its initial values itself when the packed points fall short of them.
  const std::uint64_t initial_outputs =
      differencing && management == 0 ? std::min<std::uint64_t>(count, differencing->order) : 0;
  const std::uint64_t produced =
      management != 0 ? checked->points : single_pass_output_count(checked->points, initial_outputs);
  if (auto ok = check_output_count(produced, count); !ok) return fail(ok.error());

  const std::span<double> out = output(count);
  const std::uint64_t primary = kernels::all_ones(drs.bitsPerValue);
  const Field f{
      *layout,
      drs,
      k,
      scale_factors(drs),
      differencing ? &*differencing : nullptr,
      management == 1 ? MissingCodes::primary : management == 2 ? MissingCodes::both : MissingCodes::none,
      management != 0,
      drs.bitsPerValue == 0 ? 0 : primary,
      drs.bitsPerValue == 0 ? 0 : primary - 1,
      out.data(),
  };
  decode_pieces(f, checked->pieces, threads);
  // Initial values past the packed points.
  for (std::uint64_t p = checked->points; p < initial_outputs; ++p) {
    out[p] = f.scaled(static_cast<std::uint64_t>(differencing->initial_values[p]));
  }
  return {};
}

}  // namespace vorlak
