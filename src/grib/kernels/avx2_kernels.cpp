// AVX2 kernels, compiled for AVX2 function by function (target attribute)
// and used only when the CPU reports AVX2. Eight values (8 * width bits, a
// whole number of octets) at a time: each pair of values lies in one 16-byte
// load, a byte shuffle puts each value's first eight octets big-end-first in
// its 64-bit lane, a per-lane shift drops the bits before it and a shift down
// leaves its width. Since every block starts at the same bit within its
// first octet, the shuffle masks and shifts are worked out once per call.
// Integers become doubles by the exact 2^52 trick (every sum is below 2^51
// in magnitude there), and scaling keeps its three separately rounded
// steps: no fused multiply-add. Missing values are lanes compared with the
// run's missing codes: their steps are masked out of the running sums and
// their outputs blended to NaN. What the vector loops do not cover (the
// last few values of a run) goes through the portable code, which is
// faster there than partly filled vectors.
#include "grib/kernels/unpack_kernels.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VORLAK_HAVE_AVX2_KERNELS 1
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "grib/kernels/bit_window.hpp"
#include "grib/kernels/run_loops.hpp"
#endif

namespace vorlak {

#if VORLAK_HAVE_AVX2_KERNELS
namespace {

// A value's eight octets start at most 8 octets after its pair's first, so
// a 16-byte load holds both, and shift + width stays within 64 bits.
constexpr unsigned kMaxBlockWidth = 57;

#define VORLAK_AVX2 __attribute__((target("avx2")))

struct Block8 {
  unsigned load_at[4];  // octet of each pair's first value, from the block's first octet
  __m256i mask[2];      // values 0-3 and 4-7: each lane's octets, most significant first
  __m256i shift[2];     // bits before each value in its first octet
  __m128i down;         // 64 - width
};

// Worked out with a handful of vector operations, since complex packing
// sets a block up for every group.
VORLAK_AVX2 inline Block8 block_setup(std::uint64_t bit_offset, unsigned width) {
  Block8 b;
  const auto first_bit = static_cast<long long>(bit_offset & 7);
  const auto w = static_cast<long long>(width);
  for (unsigned p = 0; p < 4; ++p) b.load_at[p] = static_cast<unsigned>((first_bit + 2 * p * w) >> 3);
  const __m256i lanes = _mm256_setr_epi64x(0, w, 2 * w, 3 * w);
  const __m256i byte0 = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0, 8, 8,
                                         8, 8, 8, 8, 8, 8);
  const __m256i reversed = _mm256_set1_epi64x(0x0001020304050607ll);  // octet k of a lane takes 7 - k
  for (unsigned h = 0; h < 2; ++h) {
    const __m256i at = _mm256_add_epi64(lanes, _mm256_set1_epi64x(first_bit + 4 * h * w));
    const __m256i octet = _mm256_srli_epi64(at, 3);
    const __m256i pair_first = _mm256_shuffle_epi32(octet, 0x44);  // each 128-bit lane's low half, twice
    const __m256i from = _mm256_sub_epi64(octet, pair_first);
    b.mask[h] = _mm256_add_epi8(_mm256_shuffle_epi8(from, byte0), reversed);
    b.shift[h] = _mm256_and_si256(at, _mm256_set1_epi64x(7));
  }
  b.down = _mm_cvtsi32_si128(static_cast<int>(64 - width));
  return b;
}

// Four values of the block starting at octet `p`: half 0 or 1.
VORLAK_AVX2 inline __m256i block_half(const std::uint8_t* p, const Block8& b, unsigned h) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + b.load_at[2 * h]));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + b.load_at[2 * h + 1]));
  __m256i words = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
  words = _mm256_shuffle_epi8(words, b.mask[h]);
  words = _mm256_sllv_epi64(words, b.shift[h]);
  return _mm256_srl_epi64(words, b.down);
}

// Values covered by whole blocks whose 16-byte loads stay inside the buffer.
inline std::size_t block_count(std::size_t nbytes, std::uint64_t bit_offset, unsigned width, std::size_t count) {
  if (width == 0 || width > kMaxBlockWidth || count < 8) return 0;
  const std::uint64_t last_load = (std::uint64_t{7 + 6 * width}) / 8 + 16;  // octets past a block's first
  const std::uint64_t first = bit_offset >> 3;
  const std::uint64_t blocks = count / 8;
  // A block spans `width` octets; the usual case, all blocks fitting, needs no division.
  if (first + (blocks - 1) * width + last_load <= nbytes) return static_cast<std::size_t>(blocks * 8);
  if (first + last_load > nbytes) return 0;
  return static_cast<std::size_t>(((nbytes - first - last_load) / width + 1) * 8);
}

VORLAK_AVX2 void unpack(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                        std::size_t count, std::uint64_t* out) {
  const std::size_t fast = block_count(nbytes, bit_offset, width, count);
  if (fast > 0) {
    const Block8 b = block_setup(bit_offset, width);
    const std::uint8_t* p = data + (bit_offset >> 3);
    for (std::size_t i = 0; i < fast; i += 8, p += width) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), block_half(p, b, 0));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 4), block_half(p, b, 1));
    }
    if (fast == count) return;
  }
  portable_kernels().unpack(data, nbytes, bit_offset + fast * width, width, count - fast, out + fast);
}

struct Scale4 {
  __m256d binary, reference, decimal;
};

VORLAK_AVX2 inline Scale4 scale_setup(const ScaleFactors& s) {
  return {_mm256_set1_pd(s.binary), _mm256_set1_pd(s.reference), _mm256_set1_pd(s.decimal)};
}

VORLAK_AVX2 inline __m256d scale4(__m256d x, const Scale4& s) {
  return _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(x, s.binary), s.reference), s.decimal);
}

constexpr double kMissingValue = std::numeric_limits<double>::quiet_NaN();

// All-ones lanes where x is a missing code of the run (`ones`: all ones of its width).
template <MissingCodes kMissing>
VORLAK_AVX2 inline __m256i missing_mask(__m256i x, __m256i ones) {
  if constexpr (kMissing == MissingCodes::none) {
    return _mm256_setzero_si256();
  } else if constexpr (kMissing == MissingCodes::primary) {
    return _mm256_cmpeq_epi64(x, ones);
  } else {
    const __m256i below = _mm256_sub_epi64(ones, _mm256_set1_epi64x(1));
    return _mm256_or_si256(_mm256_cmpeq_epi64(x, ones), _mm256_cmpeq_epi64(x, below));
  }
}

template <MissingCodes kMissing>
VORLAK_AVX2 inline __m256d blend_missing(__m256d values, __m256i missing) {
  if constexpr (kMissing == MissingCodes::none) {
    return values;
  } else {
    return _mm256_blendv_pd(values, _mm256_set1_pd(kMissingValue), _mm256_castsi256_pd(missing));
  }
}

// A run's tail, past what the vector loops cover, through the portable set.
inline PackedRun tail_of(std::uint64_t bit_offset, unsigned width, std::size_t count, std::uint64_t add,
                         std::size_t done) {
  return PackedRun{bit_offset + done * width, add, static_cast<std::uint32_t>(count - done), width};
}

// One run; `s` is `scale` in vector form, set up once by the caller.
template <MissingCodes kMissing>
VORLAK_AVX2 inline void scaled_run(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                   unsigned width, std::size_t count, std::uint64_t add, const ScaleFactors& scale,
                                   const Scale4& s, double* out) {
  if (width == 0) {
    std::fill_n(out, count, apply_scale(static_cast<double>(static_cast<std::int64_t>(add)), scale));
    return;
  }
  const std::size_t fast = kernels::sums_are_small(width, add) ? block_count(nbytes, bit_offset, width, count) : 0;
  if (fast > 0) {
    constexpr std::uint64_t kMagicBits = 0x4338000000000000ull;
    const Block8 b = block_setup(bit_offset, width);
    const __m256i bias = _mm256_set1_epi64x(static_cast<long long>(add + kMagicBits));
    const __m256i ones = _mm256_set1_epi64x(static_cast<long long>(kernels::all_ones(width)));
    const __m256d magic = _mm256_set1_pd(6755399441055744.0);
    const std::uint8_t* p = data + (bit_offset >> 3);
    for (std::size_t i = 0; i < fast; i += 8, p += width) {
      for (unsigned h = 0; h < 2; ++h) {
        const __m256i x = block_half(p, b, h);
        const __m256d d = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(x, bias)), magic);
        _mm256_storeu_pd(out + i + 4 * h, blend_missing<kMissing>(scale4(d, s), missing_mask<kMissing>(x, ones)));
      }
    }
    if (fast == count) return;
  }
  const PackedRun tail = tail_of(bit_offset, width, count, add, fast);
  portable_kernels().runs_scaled(data, nbytes, &tail, 1, kMissing, scale, out + fast);
}

VORLAK_AVX2 void unpack_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                               unsigned width, std::size_t count, std::uint64_t add, const ScaleFactors& scale,
                               double* out) {
  scaled_run<MissingCodes::none>(data, nbytes, bit_offset, width, count, add, scale, scale_setup(scale), out);
}

template <MissingCodes kMissing>
VORLAK_AVX2 void runs_scaled_as(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs,
                                std::size_t nruns, const ScaleFactors& scale, double* out) {
  const Scale4 s = scale_setup(scale);
  for (std::size_t r = 0; r < nruns; ++r) {
    scaled_run<kMissing>(data, nbytes, runs[r].bit_offset, runs[r].width, runs[r].count, runs[r].add, scale, s, out);
    out += runs[r].count;
  }
}

// The loops over runs take the missing codes as a template argument; the
// switch is spelled out because a lambda would not be compiled for AVX2.
VORLAK_AVX2 void runs_scaled(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                             MissingCodes missing, const ScaleFactors& scale, double* out) {
  switch (missing) {
    case MissingCodes::none: runs_scaled_as<MissingCodes::none>(data, nbytes, runs, nruns, scale, out); break;
    case MissingCodes::primary: runs_scaled_as<MissingCodes::primary>(data, nbytes, runs, nruns, scale, out); break;
    case MissingCodes::both: runs_scaled_as<MissingCodes::both>(data, nbytes, runs, nruns, scale, out); break;
  }
}

// Running sums four lanes at a time: [a, b, c, d] -> [a, a+b, a+b+c, a+b+c+d].
VORLAK_AVX2 inline __m256i prefix_sum4(__m256i t) {
  t = _mm256_add_epi64(t, _mm256_slli_si256(t, 8));                      // [a, a+b, c, c+d]
  const __m256i low_total = _mm256_permute4x64_epi64(t, 0x55);           // a+b in every lane
  return _mm256_add_epi64(t, _mm256_blend_epi32(low_total, _mm256_setzero_si256(), 0x0F));  // + [0, 0, a+b, a+b]
}

VORLAK_AVX2 inline __m256i last_lane(__m256i v) { return _mm256_permute4x64_epi64(v, 0xFF); }

// Scaled running values, NaN in the missing lanes. kChecked: the exact 2^52
// conversion when all four lie within 2^51 of zero, the scalar conversion
// otherwise; unchecked when the caller has shown every running value stays
// within that range.
template <bool kChecked, MissingCodes kMissing>
VORLAK_AVX2 inline void store_scaled(__m256i v, __m256i missing, const Scale4& s, double* out) {
  const __m256i magic_bits = _mm256_set1_epi64x(0x4338000000000000ll);
  const __m256d magic = _mm256_set1_pd(6755399441055744.0);
  __m256d d;
  if constexpr (!kChecked) {
    d = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(v, magic_bits)), magic);
  } else {
    const __m256i lower = _mm256_set1_epi64x(-(1ll << 51) - 1);
    const __m256i upper = _mm256_set1_epi64x(1ll << 51);
    const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi64(v, lower), _mm256_cmpgt_epi64(upper, v));
    if (_mm256_movemask_pd(_mm256_castsi256_pd(inside)) == 0xF) {
      d = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(v, magic_bits)), magic);
    } else {
      alignas(32) long long lanes[4];
      _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
      d = _mm256_setr_pd(static_cast<double>(lanes[0]), static_cast<double>(lanes[1]),
                         static_cast<double>(lanes[2]), static_cast<double>(lanes[3]));
    }
  }
  _mm256_storeu_pd(out, blend_missing<kMissing>(scale4(d, s), missing));
}

// Bounds on the running values of a run, from its start and the largest
// step (bias plus a value of `width` bits), in doubles with room to spare.
inline double step_bound(std::int64_t bias, unsigned width) {
  const double two_to_width = std::bit_cast<double>(std::uint64_t{1023 + width} << 52);  // width <= 57
  return std::abs(static_cast<double>(bias)) + two_to_width;
}
constexpr double kExactLimit = 0x1p50;  // below the 2^51 of the conversion, leaving margin for rounding

// Where the vector loops take their values from: packed blocks of eight, or
// the zeros of a constant run.
struct PackedSource {
  const std::uint8_t* p;
  Block8 block;
  unsigned width;
  VORLAK_AVX2 __m256i half(unsigned h) const { return block_half(p, block, h); }
  void next() { p += width; }
};
struct ZeroSource {
  VORLAK_AVX2 __m256i half(unsigned) const { return _mm256_setzero_si256(); }
  void next() {}
};

// Steps of four values: bias + x, zero where missing.
template <MissingCodes kMissing>
VORLAK_AVX2 inline __m256i present_steps(__m256i x, __m256i add, __m256i missing) {
  const __m256i steps = _mm256_add_epi64(x, add);
  if constexpr (kMissing == MissingCodes::none) return steps;
  return _mm256_andnot_si256(missing, steps);
}

template <bool kChecked, MissingCodes kMissing, class Source>
VORLAK_AVX2 void order1_blocks(Source src, const Scale4& s, std::size_t fast, unsigned width, std::int64_t bias,
                               std::int64_t* value, double* out) {
  const __m256i add = _mm256_set1_epi64x(bias);
  const __m256i ones = _mm256_set1_epi64x(static_cast<long long>(kernels::all_ones(width)));
  __m256i running = _mm256_set1_epi64x(*value);
  for (std::size_t i = 0; i < fast; i += 8, src.next()) {
    for (unsigned h = 0; h < 2; ++h) {
      const __m256i x = src.half(h);
      const __m256i missing = missing_mask<kMissing>(x, ones);
      const __m256i steps = prefix_sum4(present_steps<kMissing>(x, add, missing));
      const __m256i v = _mm256_add_epi64(steps, running);
      running = _mm256_add_epi64(running, last_lane(steps));
      store_scaled<kChecked, kMissing>(v, missing, s, out + i + 4 * h);
    }
  }
  *value = _mm256_extract_epi64(running, 0);
}

template <bool kChecked, MissingCodes kMissing, class Source>
VORLAK_AVX2 void order2_blocks(Source src, const Scale4& s, std::size_t fast, unsigned width, std::int64_t bias,
                               std::int64_t* value, std::int64_t* difference, double* out) {
  const __m256i add = _mm256_set1_epi64x(bias);
  const __m256i ones = _mm256_set1_epi64x(static_cast<long long>(kernels::all_ones(width)));
  __m256i running_difference = _mm256_set1_epi64x(*difference);
  __m256i running_value = _mm256_set1_epi64x(*value);
  for (std::size_t i = 0; i < fast; i += 8, src.next()) {
    for (unsigned h = 0; h < 2; ++h) {
      const __m256i x = src.half(h);
      const __m256i missing = missing_mask<kMissing>(x, ones);
      const __m256i steps = prefix_sum4(present_steps<kMissing>(x, add, missing));
      const __m256i differences = _mm256_add_epi64(steps, running_difference);
      running_difference = _mm256_add_epi64(running_difference, last_lane(steps));
      __m256i rises = differences;
      if constexpr (kMissing != MissingCodes::none) rises = _mm256_andnot_si256(missing, rises);
      rises = prefix_sum4(rises);
      const __m256i v = _mm256_add_epi64(rises, running_value);
      running_value = _mm256_add_epi64(running_value, last_lane(rises));
      store_scaled<kChecked, kMissing>(v, missing, s, out + i + 4 * h);
    }
  }
  *value = _mm256_extract_epi64(running_value, 0);
  *difference = _mm256_extract_epi64(running_difference, 0);
}

// How many of a run's values the vector loops take: whole blocks of eight
// (constant runs need no bytes).
inline std::size_t vector_count(std::size_t nbytes, std::uint64_t bit_offset, unsigned width, std::size_t count) {
  return width == 0 ? count / 8 * 8 : block_count(nbytes, bit_offset, width, count);
}

template <bool kChecked, MissingCodes kMissing>
VORLAK_AVX2 inline void order1_vector(const std::uint8_t* data, std::uint64_t bit_offset, unsigned width,
                                      std::size_t fast, std::int64_t bias, std::int64_t* value, const Scale4& s,
                                      double* out) {
  if (width == 0) {
    order1_blocks<kChecked, MissingCodes::none>(ZeroSource{}, s, fast, 0, bias, value, out);
  } else {
    const PackedSource src{data + (bit_offset >> 3), block_setup(bit_offset, width), width};
    order1_blocks<kChecked, kMissing>(src, s, fast, width, bias, value, out);
  }
}

template <MissingCodes kMissing>
VORLAK_AVX2 inline void order1_run(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                   unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                                   const ScaleFactors& scale, const Scale4& s, double* out) {
  const std::size_t fast = vector_count(nbytes, bit_offset, width, count);
  if (fast > 0) {
    const double bound = std::abs(static_cast<double>(*value)) + static_cast<double>(fast) * step_bound(bias, width);
    if (bound < kExactLimit) {
      order1_vector<false, kMissing>(data, bit_offset, width, fast, bias, value, s, out);
    } else {
      order1_vector<true, kMissing>(data, bit_offset, width, fast, bias, value, s, out);
    }
    if (fast == count) return;
  }
  const PackedRun tail = tail_of(bit_offset, width, count, static_cast<std::uint64_t>(bias), fast);
  portable_kernels().runs_order1_scaled(data, nbytes, &tail, 1, kMissing, value, scale, out + fast);
}

VORLAK_AVX2 void unpack_order1_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                      unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                                      const ScaleFactors& scale, double* out) {
  order1_run<MissingCodes::none>(data, nbytes, bit_offset, width, count, bias, value, scale, scale_setup(scale), out);
}

template <MissingCodes kMissing>
VORLAK_AVX2 void runs_order1_as(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs,
                                std::size_t nruns, std::int64_t* value, const ScaleFactors& scale, double* out) {
  const Scale4 s = scale_setup(scale);
  for (std::size_t r = 0; r < nruns; ++r) {
    order1_run<kMissing>(data, nbytes, runs[r].bit_offset, runs[r].width, runs[r].count,
                         static_cast<std::int64_t>(runs[r].add), value, scale, s, out);
    out += runs[r].count;
  }
}

VORLAK_AVX2 void runs_order1_scaled(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs,
                                    std::size_t nruns, MissingCodes missing, std::int64_t* value,
                                    const ScaleFactors& scale, double* out) {
  switch (missing) {
    case MissingCodes::none: runs_order1_as<MissingCodes::none>(data, nbytes, runs, nruns, value, scale, out); break;
    case MissingCodes::primary:
      runs_order1_as<MissingCodes::primary>(data, nbytes, runs, nruns, value, scale, out);
      break;
    case MissingCodes::both: runs_order1_as<MissingCodes::both>(data, nbytes, runs, nruns, value, scale, out); break;
  }
}

template <bool kChecked, MissingCodes kMissing>
VORLAK_AVX2 inline void order2_vector(const std::uint8_t* data, std::uint64_t bit_offset, unsigned width,
                                      std::size_t fast, std::int64_t bias, std::int64_t* value,
                                      std::int64_t* difference, const Scale4& s, double* out) {
  if (width == 0) {
    order2_blocks<kChecked, MissingCodes::none>(ZeroSource{}, s, fast, 0, bias, value, difference, out);
  } else {
    const PackedSource src{data + (bit_offset >> 3), block_setup(bit_offset, width), width};
    order2_blocks<kChecked, kMissing>(src, s, fast, width, bias, value, difference, out);
  }
}

template <MissingCodes kMissing>
VORLAK_AVX2 inline void order2_run(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                   unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                                   std::int64_t* difference, const ScaleFactors& scale, const Scale4& s,
                                   double* out) {
  const std::size_t fast = vector_count(nbytes, bit_offset, width, count);
  if (fast > 0) {
    const double n = static_cast<double>(fast);
    const double bound = std::abs(static_cast<double>(*value)) + n * std::abs(static_cast<double>(*difference)) +
                         n * n * step_bound(bias, width);
    if (bound < kExactLimit) {
      order2_vector<false, kMissing>(data, bit_offset, width, fast, bias, value, difference, s, out);
    } else {
      order2_vector<true, kMissing>(data, bit_offset, width, fast, bias, value, difference, s, out);
    }
    if (fast == count) return;
  }
  const PackedRun tail = tail_of(bit_offset, width, count, static_cast<std::uint64_t>(bias), fast);
  portable_kernels().runs_order2_scaled(data, nbytes, &tail, 1, kMissing, value, difference, scale, out + fast);
}

VORLAK_AVX2 void unpack_order2_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                      unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                                      std::int64_t* difference, const ScaleFactors& scale, double* out) {
  order2_run<MissingCodes::none>(data, nbytes, bit_offset, width, count, bias, value, difference, scale,
                                 scale_setup(scale), out);
}

template <MissingCodes kMissing>
VORLAK_AVX2 void runs_order2_as(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs,
                                std::size_t nruns, std::int64_t* value, std::int64_t* difference,
                                const ScaleFactors& scale, double* out) {
  const Scale4 s = scale_setup(scale);
  for (std::size_t r = 0; r < nruns; ++r) {
    order2_run<kMissing>(data, nbytes, runs[r].bit_offset, runs[r].width, runs[r].count,
                         static_cast<std::int64_t>(runs[r].add), value, difference, scale, s, out);
    out += runs[r].count;
  }
}

VORLAK_AVX2 void runs_order2_scaled(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs,
                                    std::size_t nruns, MissingCodes missing, std::int64_t* value,
                                    std::int64_t* difference, const ScaleFactors& scale, double* out) {
  switch (missing) {
    case MissingCodes::none:
      runs_order2_as<MissingCodes::none>(data, nbytes, runs, nruns, value, difference, scale, out);
      break;
    case MissingCodes::primary:
      runs_order2_as<MissingCodes::primary>(data, nbytes, runs, nruns, value, difference, scale, out);
      break;
    case MissingCodes::both:
      runs_order2_as<MissingCodes::both>(data, nbytes, runs, nruns, value, difference, scale, out);
      break;
  }
}

VORLAK_AVX2 inline std::uint64_t horizontal_sum(__m256i v) {
  alignas(32) std::uint64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
  return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

// The step sums of one packed run: the first steps one at a time (their
// values are kept), then blocks of eight, then the portable loop.
template <MissingCodes kMissing>
VORLAK_AVX2 void step_sums_run(const std::uint8_t* data, std::size_t nbytes, const PackedRun& run, StepSums& s) {
  const unsigned width = run.width;
  const std::uint64_t ones = kernels::all_ones(width);
  std::size_t done = 0;
  for (; done < run.count && s.present < 2; ++done) {
    const std::uint64_t x = kernels::read_bits_exact(data, run.bit_offset + done * width, width);
    if (!kernels::is_missing<kMissing>(x, ones)) kernels::add_step(s, run.add + x);
  }
  const std::uint64_t start = run.bit_offset + done * width;
  const std::size_t fast = block_count(nbytes, start, width, run.count - done);
  if (kMissing == MissingCodes::none && width <= 32) {
    // Without missing values the steps sum in closed form: the k-th of n
    // steps b + x_k adds to the running sum after itself and every later
    // one, so the sum of sums grows by n S + b n(n+1)/2 + sum of
    // (n + 1 - k) x_k = n S + b n(n+1)/2 + (n + 1) X - sum of k x_k, with X
    // the sum of the x. Values of at most 32 bits multiply exactly. Blocks
    // of eight first, then the last few values by 64-bit windows.
    std::uint64_t x_sum = 0, kx_sum = 0;
    if (fast > 0) {
      const Block8 b = block_setup(start, width);
      __m256i total = _mm256_setzero_si256();
      __m256i weighted = _mm256_setzero_si256();
      __m256i rank = _mm256_setr_epi64x(1, 2, 3, 4);
      const __m256i four = _mm256_set1_epi64x(4);
      const std::uint8_t* p = data + (start >> 3);
      for (std::size_t i = 0; i < fast; i += 8, p += width) {
        for (unsigned h = 0; h < 2; ++h) {
          const __m256i x = block_half(p, b, h);
          total = _mm256_add_epi64(total, x);
          weighted = _mm256_add_epi64(weighted, _mm256_mul_epu32(x, rank));
          rank = _mm256_add_epi64(rank, four);
        }
      }
      x_sum = horizontal_sum(total);
      kx_sum = horizontal_sum(weighted);
    }
    const std::size_t n = run.count - done;
    const std::size_t safe = fast + kernels::window_safe_count(nbytes, start + fast * width, width, n - fast);
    std::uint64_t position = start + fast * width;
    for (std::uint64_t k = fast + 1; k <= n; ++k, position += width) {
      const std::uint64_t x = k <= safe ? kernels::read_bits_window(data, position, width)
                                        : kernels::read_bits_exact(data, position, width);
      x_sum += x;
      kx_sum += k * x;
    }
    const std::uint64_t triangle = n % 2 == 0 ? (n / 2) * (n + 1) : n * ((n + 1) / 2);
    s.sum_of_sums += n * s.sum + run.add * triangle + (n + 1) * x_sum - kx_sum;
    s.sum += n * run.add + x_sum;
    s.present += n;
    return;
  } else if (fast > 0) {
    const Block8 b = block_setup(start, width);
    const __m256i add = _mm256_set1_epi64x(static_cast<long long>(run.add));
    const __m256i ones4 = _mm256_set1_epi64x(static_cast<long long>(ones));
    __m256i running = _mm256_set1_epi64x(static_cast<long long>(s.sum));
    __m256i total = _mm256_setzero_si256();
    std::uint64_t missing_count = 0;
    const std::uint8_t* p = data + (start >> 3);
    for (std::size_t i = 0; i < fast; i += 8, p += width) {
      for (unsigned h = 0; h < 2; ++h) {
        const __m256i x = block_half(p, b, h);
        const __m256i missing = missing_mask<kMissing>(x, ones4);
        const __m256i steps = prefix_sum4(present_steps<kMissing>(x, add, missing));
        __m256i sums = _mm256_add_epi64(steps, running);
        running = _mm256_add_epi64(running, last_lane(steps));
        if constexpr (kMissing != MissingCodes::none) {
          sums = _mm256_andnot_si256(missing, sums);
          missing_count += static_cast<unsigned>(std::popcount(
              static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(missing)))));
        }
        total = _mm256_add_epi64(total, sums);
      }
    }
    s.sum = static_cast<std::uint64_t>(_mm256_extract_epi64(running, 0));
    s.sum_of_sums += horizontal_sum(total);
    s.present += fast - missing_count;
    done += fast;
  }
  if (done < run.count) {
    const PackedRun tail = tail_of(run.bit_offset, width, run.count, run.add, done);
    portable_kernels().runs_step_sums(data, nbytes, &tail, 1, kMissing, &s);
  }
}

template <MissingCodes kMissing>
VORLAK_AVX2 void runs_step_sums_as(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs,
                                   std::size_t nruns, StepSums& s) {
  for (std::size_t r = 0; r < nruns; ++r) {
    if (runs[r].width == 0) {
      kernels::add_equal_steps(s, runs[r].add, runs[r].count);
    } else {
      step_sums_run<kMissing>(data, nbytes, runs[r], s);
    }
  }
}

VORLAK_AVX2 void runs_step_sums(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                                MissingCodes missing, StepSums* sums) {
  StepSums s = *sums;
  switch (missing) {
    case MissingCodes::none: runs_step_sums_as<MissingCodes::none>(data, nbytes, runs, nruns, s); break;
    case MissingCodes::primary: runs_step_sums_as<MissingCodes::primary>(data, nbytes, runs, nruns, s); break;
    case MissingCodes::both: runs_step_sums_as<MissingCodes::both>(data, nbytes, runs, nruns, s); break;
  }
  *sums = s;
}

VORLAK_AVX2 void ieee32_be(const std::uint8_t* data, std::size_t count, double* out) {
  const __m256i swap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6, 5,
                                        4, 11, 10, 9, 8, 15, 14, 13, 12);
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 4 * i));
    const __m256 f = _mm256_castsi256_ps(_mm256_shuffle_epi8(words, swap));
    _mm256_storeu_pd(out + i, _mm256_cvtps_pd(_mm256_castps256_ps128(f)));
    _mm256_storeu_pd(out + i + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(f, 1)));
  }
  portable_kernels().ieee32_be(data + 4 * i, count - i, out + i);
}

VORLAK_AVX2 void ieee64_be(const std::uint8_t* data, std::size_t count, double* out) {
  const __m256i swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1,
                                        0, 15, 14, 13, 12, 11, 10, 9, 8);
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 8 * i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_shuffle_epi8(words, swap));
  }
  portable_kernels().ieee64_be(data + 8 * i, count - i, out + i);
}

// Four samples of `octets` octets from one 16-byte load (broadcast to both
// halves, whose shuffles pick lanes 0-1 and 2-3), each into its 64-bit lane
// in the right byte order with zeros above; signed ones sign-extended as
// ((x AND mask) XOR sign) - sign; then the exact 2^52 conversion.
VORLAK_AVX2 void samples_scaled(const std::uint8_t* bytes, unsigned octets, bool little_endian, bool is_signed,
                                unsigned width, std::size_t count, const ScaleFactors& scale, double* out) {
  alignas(32) std::int8_t order[32];
  for (unsigned lane = 0; lane < 4; ++lane) {
    for (unsigned j = 0; j < 8; ++j) {
      const unsigned from = lane * octets + (little_endian ? j : octets - 1 - j);
      order[lane * 8 + j] = j < octets ? static_cast<std::int8_t>(from) : static_cast<std::int8_t>(0x80);
    }
  }
  const __m256i shuffle = _mm256_load_si256(reinterpret_cast<const __m256i*>(order));
  const std::uint64_t sign_bit = is_signed ? std::uint64_t{1} << (width - 1) : 0;
  const __m256i mask = _mm256_set1_epi64x(is_signed ? static_cast<long long>((std::uint64_t{1} << width) - 1) : -1);
  const __m256i sign = _mm256_set1_epi64x(static_cast<long long>(sign_bit));
  const __m256i magic_bits = _mm256_set1_epi64x(0x4338000000000000ll);
  const __m256d magic = _mm256_set1_pd(6755399441055744.0);
  const Scale4 s = scale_setup(scale);
  std::size_t i = 0;
  // A load reads 16 octets from the first sample of four.
  for (; i + 4 <= count && i * octets + 16 <= count * octets; i += 4) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i * octets));
    __m256i x = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(raw), shuffle);
    x = _mm256_sub_epi64(_mm256_xor_si256(_mm256_and_si256(x, mask), sign), sign);
    const __m256d d = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(x, magic_bits)), magic);
    _mm256_storeu_pd(out + i, scale4(d, s));
  }
  portable_kernels().samples_scaled(bytes + i * octets, octets, little_endian, is_signed, width, count - i, scale,
                                    out + i);
}

constexpr UnpackKernels kAvx2{
    "avx2",
    unpack,
    unpack_scaled,
    unpack_order1_scaled,
    unpack_order2_scaled,
    runs_scaled,
    runs_order1_scaled,
    runs_order2_scaled,
    runs_step_sums,
    ieee32_be,
    ieee64_be,
    samples_scaled,
};

}  // namespace

const UnpackKernels* avx2_kernels() {
  static const bool usable = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return usable ? &kAvx2 : nullptr;
}

#else

const UnpackKernels* avx2_kernels() { return nullptr; }

#endif

}  // namespace vorlak
