// Template 5.200, run-length packing with level values. Section 7 is a
// stream of V-bit unsigned integers, most significant bit first, with no
// padding between them. A value up to MV (the largest level used) is a
// level; the values above MV that follow it are the digits, least
// significant first, of its run length in base 2^V - 1 - MV:
//   run length = 1 + sum over k of (v_k - MV - 1) * base^k.
// Level 0 is a missing point (NaN); level L from 1 to MVL is the L-th
// representative value of section 5 times 10^(-scale factor).
//
// The runs must cover exactly the values of the field: a run past its end,
// a stream that ends early, a level above MVL, a digit where a level is
// due, a base below 1 and a level list shorter than MVL are errors. Bits
// after the final run that fill less than an octet or less than a value
// are padding; anything longer is a run the field has no room for. The stream is
// walked once to check it and once to write the values, so the output (as
// large as the field, whatever the stream's size) is asked for only once
// the stream is known to describe that many points.
#include <algorithm>
#include <limits>

#include "grib/bit_reader.hpp"
#include "grib/decoders.hpp"
#include "grib/text.hpp"
#include "grib/value_count.hpp"

namespace vorlak {
namespace {

constexpr unsigned kMaxBits = 32;

// V-bit values from the payload, most significant bit first.
class ValueStream {
 public:
  ValueStream(Bytes bytes, unsigned bits)
      : bytes_(bytes), bits_(bits), values_(std::uint64_t{bytes.size()} * 8 / bits) {}

  bool empty() const { return index_ == values_; }
  // What follows the last value read is shorter than an octet or than a value.
  bool only_padding_left() const {
    const std::uint64_t rest = std::uint64_t{bytes_.size()} * 8 - index_ * bits_;
    return rest < 8 || rest < bits_;
  }
  std::uint32_t peek() const {
    const std::uint64_t bit = index_ * bits_;
    const std::size_t first = static_cast<std::size_t>(bit / 8);
    // Up to 5 octets hold a value of at most 32 bits at any bit offset.
    std::uint64_t window = 0;
    if (bytes_.size() - first >= 8) {
      window = load_u64_be(bytes_.data() + first) >> 24;
    } else {
      for (std::size_t k = 0; k < 5; ++k) window = (window << 8) | (first + k < bytes_.size() ? bytes_[first + k] : 0u);
    }
    const unsigned shift = 40 - static_cast<unsigned>(bit % 8) - bits_;
    return static_cast<std::uint32_t>((window >> shift) & ((std::uint64_t{1} << bits_) - 1));
  }
  void skip() { ++index_; }
  std::uint64_t index() const { return index_; }

 private:
  static std::uint64_t load_u64_be(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 8) | p[k];
    return v;
  }
  Bytes bytes_;
  unsigned bits_;
  std::uint64_t values_;
  std::uint64_t index_ = 0;
};

// The byte-aligned 8-bit case, which is what producers write.
class OctetStream {
 public:
  OctetStream(Bytes bytes, unsigned) : bytes_(bytes) {}
  bool empty() const { return index_ == bytes_.size(); }
  bool only_padding_left() const { return empty(); }
  std::uint32_t peek() const { return bytes_[index_]; }
  void skip() { ++index_; }
  std::uint64_t index() const { return index_; }

 private:
  Bytes bytes_;
  std::size_t index_ = 0;
};

struct Layout {
  std::uint32_t max_level_used;  // MV
  std::uint32_t max_level;       // MVL
  std::uint64_t base;
};

std::string overshoot(std::uint64_t count) { return str_cat("run-length run overshoots the field of ", count, " values"); }

// Hands the runs of the stream to sink(level, length) in order, checking
// them against the layout and the field's `count` values.
template <class Stream, class Sink>
Result<void> walk_runs(Stream stream, const Layout& layout, std::uint64_t count, Sink&& sink) {
  const std::uint32_t mv = layout.max_level_used;
  std::uint64_t done = 0;
  while (done < count) {
    if (stream.empty()) return fail(str_cat("run-length data ends after ", done, " of ", count, " values"));
    const std::uint32_t level = stream.peek();
    if (level > mv) {
      return fail(str_cat("run-length value ", level, " at position ", stream.index(),
                          " is a run-length digit where a level is due"));
    }
    if (level > layout.max_level) {
      return fail(str_cat("run-length level ", level, " is above the largest level ", layout.max_level));
    }
    stream.skip();
    const std::uint64_t left = count - done;
    std::uint64_t length = 1;
    std::uint64_t weight = 1;  // base^k, no longer raised once it passes `left`
    while (!stream.empty() && stream.peek() > mv) {
      const std::uint64_t digit = stream.peek() - mv - 1;
      stream.skip();
      if (digit != 0) {
        if (weight > left) return fail(overshoot(count));
        length += digit * weight;  // below 2^32 * 2^28
        if (length > left) return fail(overshoot(count));
      }
      if (weight <= left) weight *= layout.base;
    }
    if (length > left) return fail(overshoot(count));
    sink(level, length);
    done += length;
  }
  if (!stream.only_padding_left()) {
    return fail(str_cat("run-length runs continue after the ", count, " values of the field"));
  }
  return {};
}

template <class Stream>
Result<void> decode_runs(Bytes payload, unsigned bits, const Layout& layout, const std::vector<double>& value_of,
                         std::uint64_t count, const OutputProvider& output) {
  auto checked = walk_runs(Stream(payload, bits), layout, count, [](std::uint32_t, std::uint64_t) {});
  if (!checked) return fail(checked.error());
  double* const out = output(count).data();
  std::uint64_t at = 0;
  // Short runs are written as eight values where the output has room (the
  // next run writes over the surplus), sparing a loop of unpredictable length.
  (void)walk_runs(Stream(payload, bits), layout, count, [&](std::uint32_t level, std::uint64_t length) {
    const double v = value_of[level];
    double* p = out + at;
    if (length <= 8 && count - at >= 8) {
      for (int k = 0; k < 8; ++k) p[k] = v;
    } else {
      std::fill(p, p + length, v);
    }
    at += length;
  });
  return {};
}

}  // namespace

Result<void> unpack_run_length_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                                    const OutputProvider& output, const DecodeOptions&) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  const RunLengthLevels& p = drs.runLength;
  const unsigned bits = p.bitsPerValue;
  if (bits > kMaxBits) {
    return fail(str_cat("run-length packing with ", bits, " bits per value is not supported (at most ", kMaxBits, ")"));
  }
  const std::int64_t base = (std::int64_t{1} << bits) - 1 - p.maxLevelUsed;
  if (base < 1) {
    return fail(str_cat("run-length base 2^", bits, " - 1 - ", p.maxLevelUsed, " = ", base, " is below 1"));
  }
  if (p.levelValues.size() < p.maxLevel) {
    return fail(str_cat("run-length level list holds ", p.levelValues.size(), " of the ", p.maxLevel,
                        " representative values"));
  }
  if (count == 0) {
    output(0);
    return {};
  }

  // The value of each level a run can name: 0 missing, 1..MVL scaled.
  const std::uint32_t named = std::min<std::uint32_t>(p.maxLevelUsed, p.maxLevel);
  std::vector<double> value_of(named + 1);
  value_of[0] = std::numeric_limits<double>::quiet_NaN();
  const double decimal = int_power(10.0, -static_cast<std::int32_t>(p.decimalScaleFactor));
  for (std::uint32_t level = 1; level <= named; ++level) value_of[level] = p.levelValues[level - 1] * decimal;

  const Layout layout{p.maxLevelUsed, p.maxLevel, static_cast<std::uint64_t>(base)};
  if (bits == 8) return decode_runs<OctetStream>(payload, bits, layout, value_of, count, output);
  return decode_runs<ValueStream>(payload, bits, layout, value_of, count, output);
}

}  // namespace vorlak
