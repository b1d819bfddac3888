// AVX2 kernels, compiled for AVX2 function by function (target attribute)
// and used only when the CPU reports AVX2. Eight values (8 * width bits, a
// whole number of octets) at a time: each pair of values lies in one 16-byte
// load, a byte shuffle puts each value's first eight octets big-end-first in
// its 64-bit lane, a per-lane shift drops the bits before it and a shift down
// leaves its width. Since every block starts at the same bit within its
// first octet, the shuffle masks and shifts are worked out once per call.
// Integers become doubles by the exact 2^52 trick (every sum is below 2^51
// in magnitude there), and scaling keeps its three separately rounded
// steps: no fused multiply-add. What the vector loops do not cover goes
// through the portable code.
#include "grib/kernels/unpack_kernels.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VORLAK_HAVE_AVX2_KERNELS 1
#include <immintrin.h>

#include <bit>
#include <cmath>

#include "grib/kernels/bit_window.hpp"
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

// One run; `s` is `scale` in vector form, set up once by the caller.
VORLAK_AVX2 inline void scaled_run(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                   unsigned width, std::size_t count, std::uint64_t add, const ScaleFactors& scale,
                                   const Scale4& s, double* out) {
  const std::size_t fast = kernels::sums_are_small(width, add) ? block_count(nbytes, bit_offset, width, count) : 0;
  if (fast > 0) {
    constexpr std::uint64_t kMagicBits = 0x4338000000000000ull;
    const Block8 b = block_setup(bit_offset, width);
    const __m256i bias = _mm256_set1_epi64x(static_cast<long long>(add + kMagicBits));
    const __m256d magic = _mm256_set1_pd(6755399441055744.0);
    const std::uint8_t* p = data + (bit_offset >> 3);
    for (std::size_t i = 0; i < fast; i += 8, p += width) {
      for (unsigned h = 0; h < 2; ++h) {
        const __m256i x = block_half(p, b, h);
        const __m256d d = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(x, bias)), magic);
        _mm256_storeu_pd(out + i + 4 * h, scale4(d, s));
      }
    }
    if (fast == count) return;
  }
  portable_kernels().unpack_scaled(data, nbytes, bit_offset + fast * width, width, count - fast, add, scale,
                                   out + fast);
}

VORLAK_AVX2 void unpack_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                               unsigned width, std::size_t count, std::uint64_t add, const ScaleFactors& scale,
                               double* out) {
  scaled_run(data, nbytes, bit_offset, width, count, add, scale, scale_setup(scale), out);
}

VORLAK_AVX2 void runs_scaled(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                             const ScaleFactors& scale, double* out) {
  const Scale4 s = scale_setup(scale);
  for (std::size_t r = 0; r < nruns; ++r) {
    scaled_run(data, nbytes, runs[r].bit_offset, runs[r].width, runs[r].count, runs[r].add, scale, s, out);
    out += runs[r].count;
  }
}

// Running sums four lanes at a time: [a, b, c, d] -> [a, a+b, a+b+c, a+b+c+d].
VORLAK_AVX2 inline __m256i prefix_sum4(__m256i t) {
  t = _mm256_add_epi64(t, _mm256_slli_si256(t, 8));                      // [a, a+b, c, c+d]
  const __m256i low_total = _mm256_permute4x64_epi64(t, 0x55);           // a+b in every lane
  return _mm256_add_epi64(t, _mm256_blend_epi32(low_total, _mm256_setzero_si256(), 0x0F));  // + [0, 0, a+b, a+b]
}

VORLAK_AVX2 inline __m256i last_lane(__m256i v) { return _mm256_permute4x64_epi64(v, 0xFF); }

// Scaled running values. kChecked: the exact 2^52 conversion when all four
// lie within 2^51 of zero, the scalar conversion otherwise; unchecked when
// the caller has shown every running value stays within that range.
template <bool kChecked>
VORLAK_AVX2 inline void store_scaled(__m256i v, const Scale4& s, double* out) {
  if constexpr (!kChecked) {
    const __m256i magic_bits = _mm256_set1_epi64x(0x4338000000000000ll);
    const __m256d d =
        _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(v, magic_bits)), _mm256_set1_pd(6755399441055744.0));
    _mm256_storeu_pd(out, scale4(d, s));
    return;
  }
  const __m256i lower = _mm256_set1_epi64x(-(1ll << 51) - 1);
  const __m256i upper = _mm256_set1_epi64x(1ll << 51);
  const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi64(v, lower), _mm256_cmpgt_epi64(upper, v));
  __m256d d;
  if (_mm256_movemask_pd(_mm256_castsi256_pd(inside)) == 0xF) {
    const __m256i magic_bits = _mm256_set1_epi64x(0x4338000000000000ll);
    d = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(v, magic_bits)), _mm256_set1_pd(6755399441055744.0));
  } else {
    alignas(32) long long lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    d = _mm256_setr_pd(static_cast<double>(lanes[0]), static_cast<double>(lanes[1]), static_cast<double>(lanes[2]),
                       static_cast<double>(lanes[3]));
  }
  _mm256_storeu_pd(out, scale4(d, s));
}

// Bounds on the running values of a run, from its start and the largest
// step (bias plus a value of `width` bits), in doubles with room to spare.
inline double step_bound(std::int64_t bias, unsigned width) {
  const double two_to_width = std::bit_cast<double>(std::uint64_t{1023 + width} << 52);  // width <= 57
  return std::abs(static_cast<double>(bias)) + two_to_width;
}
constexpr double kExactLimit = 0x1p50;  // below the 2^51 of the conversion, leaving margin for rounding

template <bool kChecked>
VORLAK_AVX2 void order1_blocks(const std::uint8_t* p, const Block8& b, const Scale4& s, std::size_t fast,
                               unsigned width, std::int64_t bias, std::int64_t* value, double* out) {
  const __m256i add = _mm256_set1_epi64x(bias);
  __m256i running = _mm256_set1_epi64x(*value);
  for (std::size_t i = 0; i < fast; i += 8, p += width) {
    for (unsigned h = 0; h < 2; ++h) {
      const __m256i steps = prefix_sum4(_mm256_add_epi64(block_half(p, b, h), add));
      const __m256i v = _mm256_add_epi64(steps, running);
      running = _mm256_add_epi64(running, last_lane(steps));
      store_scaled<kChecked>(v, s, out + i + 4 * h);
    }
  }
  *value = _mm256_extract_epi64(running, 0);
}

VORLAK_AVX2 inline void order1_run(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                   unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                                   const ScaleFactors& scale, const Scale4& s, double* out) {
  const std::size_t fast = block_count(nbytes, bit_offset, width, count);
  if (fast > 0) {
    const Block8 b = block_setup(bit_offset, width);
    const std::uint8_t* p = data + (bit_offset >> 3);
    const double bound = std::abs(static_cast<double>(*value)) + static_cast<double>(fast) * step_bound(bias, width);
    if (bound < kExactLimit) {
      order1_blocks<false>(p, b, s, fast, width, bias, value, out);
    } else {
      order1_blocks<true>(p, b, s, fast, width, bias, value, out);
    }
    if (fast == count) return;
  }
  portable_kernels().unpack_order1_scaled(data, nbytes, bit_offset + fast * width, width, count - fast, bias, value,
                                          scale, out + fast);
}

VORLAK_AVX2 void unpack_order1_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                      unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                                      const ScaleFactors& scale, double* out) {
  order1_run(data, nbytes, bit_offset, width, count, bias, value, scale, scale_setup(scale), out);
}

VORLAK_AVX2 void runs_order1_scaled(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs,
                                    std::size_t nruns, std::int64_t* value, const ScaleFactors& scale, double* out) {
  const Scale4 s = scale_setup(scale);
  for (std::size_t r = 0; r < nruns; ++r) {
    order1_run(data, nbytes, runs[r].bit_offset, runs[r].width, runs[r].count, static_cast<std::int64_t>(runs[r].add),
               value, scale, s, out);
    out += runs[r].count;
  }
}

template <bool kChecked>
VORLAK_AVX2 void order2_blocks(const std::uint8_t* p, const Block8& b, const Scale4& s, std::size_t fast,
                               unsigned width, std::int64_t bias, std::int64_t* value, std::int64_t* difference,
                               double* out) {
  const __m256i add = _mm256_set1_epi64x(bias);
  __m256i running_difference = _mm256_set1_epi64x(*difference);
  __m256i running_value = _mm256_set1_epi64x(*value);
  for (std::size_t i = 0; i < fast; i += 8, p += width) {
    for (unsigned h = 0; h < 2; ++h) {
      const __m256i steps = prefix_sum4(_mm256_add_epi64(block_half(p, b, h), add));
      const __m256i differences = _mm256_add_epi64(steps, running_difference);
      running_difference = _mm256_add_epi64(running_difference, last_lane(steps));
      const __m256i rises = prefix_sum4(differences);
      const __m256i v = _mm256_add_epi64(rises, running_value);
      running_value = _mm256_add_epi64(running_value, last_lane(rises));
      store_scaled<kChecked>(v, s, out + i + 4 * h);
    }
  }
  *value = _mm256_extract_epi64(running_value, 0);
  *difference = _mm256_extract_epi64(running_difference, 0);
}

VORLAK_AVX2 inline void order2_run(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                   unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                                   std::int64_t* difference, const ScaleFactors& scale, const Scale4& s,
                                   double* out) {
  const std::size_t fast = block_count(nbytes, bit_offset, width, count);
  if (fast > 0) {
    const Block8 b = block_setup(bit_offset, width);
    const std::uint8_t* p = data + (bit_offset >> 3);
    const double n = static_cast<double>(fast);
    const double bound = std::abs(static_cast<double>(*value)) + n * std::abs(static_cast<double>(*difference)) +
                         n * n * step_bound(bias, width);
    if (bound < kExactLimit) {
      order2_blocks<false>(p, b, s, fast, width, bias, value, difference, out);
    } else {
      order2_blocks<true>(p, b, s, fast, width, bias, value, difference, out);
    }
    if (fast == count) return;
  }
  portable_kernels().unpack_order2_scaled(data, nbytes, bit_offset + fast * width, width, count - fast, bias, value,
                                          difference, scale, out + fast);
}

VORLAK_AVX2 void unpack_order2_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                                      unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                                      std::int64_t* difference, const ScaleFactors& scale, double* out) {
  order2_run(data, nbytes, bit_offset, width, count, bias, value, difference, scale, scale_setup(scale), out);
}

VORLAK_AVX2 void runs_order2_scaled(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs,
                                    std::size_t nruns, std::int64_t* value, std::int64_t* difference,
                                    const ScaleFactors& scale, double* out) {
  const Scale4 s = scale_setup(scale);
  for (std::size_t r = 0; r < nruns; ++r) {
    order2_run(data, nbytes, runs[r].bit_offset, runs[r].width, runs[r].count, static_cast<std::int64_t>(runs[r].add),
               value, difference, scale, s, out);
    out += runs[r].count;
  }
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

constexpr UnpackKernels kAvx2{
    "avx2",
    unpack,
    unpack_scaled,
    unpack_order1_scaled,
    unpack_order2_scaled,
    runs_scaled,
    runs_order1_scaled,
    runs_order2_scaled,
    ieee32_be,
    ieee64_be,
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
