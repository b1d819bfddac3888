#pragma once
// The hot loops of value decoding behind one small table of functions, so
// that the plain reference code, the portable fast paths and the AVX2 paths
// (chosen at run time by a CPU check) can be swapped and compared.
//
// Every bit-reading kernel reads `count` unsigned values of `width` bits
// (0 to 64), most significant bit first with no padding, starting `bit_offset`
// bits into `data`. The caller guarantees bit_offset + width * count <= 8 * nbytes;
// kernels never touch a byte at or past `nbytes`.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vorlak {

// The scaling rule of the edition 2 templates: ((X as double) * 2^E + R) * 10^(-D),
// one multiplication, one addition, one multiplication, each rounded on its own.
struct ScaleFactors {
  double reference = 0.0;  // R, the single-precision reference widened
  double binary = 1.0;     // 2^E
  double decimal = 1.0;    // 10^(-D)
};

inline double apply_scale(double x, const ScaleFactors& s) {
  const double binary_scaled = x * s.binary;
  const double referenced = binary_scaled + s.reference;
  return referenced * s.decimal;
}

// One group of complex packing: `count` values of `width` bits from `bit_offset`.
struct PackedRun {
  std::uint64_t bit_offset;
  std::uint64_t add;  // the group reference (template 5.2) or the bias, reference + overall minimum (5.3)
  std::uint32_t count;
  std::uint32_t width;
};

// Which packed values of a run stand for a missing point (missing value
// management of complex packing): none; all ones of the run's width; all
// ones or all ones minus one. A missing value becomes a quiet NaN and takes
// no part in differencing. Runs of width 0 never hold a missing value: a
// constant group is missing by its reference, which the caller judges.
enum class MissingCodes : std::uint8_t { none = 0, primary = 1, both = 2 };

// The differencing steps of a stretch of runs, summed without knowing where
// the stretch starts: a field is split into stretches decoded side by side,
// each starting from the state its predecessors leave (see complex_packing.cpp).
// A step is add + X of a present value; sums wrap in 64 bits.
struct StepSums {
  std::uint64_t present = 0;      // present values seen
  std::uint64_t sum = 0;          // the sum of their steps
  std::uint64_t sum_of_sums = 0;  // the running step sum after each present value, summed
  std::uint64_t first[2] = {0, 0};  // the first two steps (as far as `present` reaches)
};

struct UnpackKernels {
  const char* name;

  // out[i] = X_i.
  void (*unpack)(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                 std::size_t count, std::uint64_t* out);

  // out[i] = scaled((int64)(X_i + add)), the sum wrapping in 64 bits. Simple
  // packing passes add = 0, complex packing the group reference.
  void (*unpack_scaled)(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                        std::size_t count, std::uint64_t add, const ScaleFactors& scale, double* out);

  // First-order differencing: value := value + bias + X_i; out[i] = scaled(value).
  // `value` carries the running value across calls; sums wrap in 64 bits.
  void (*unpack_order1_scaled)(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                               unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                               const ScaleFactors& scale, double* out);

  // Second-order differencing: difference := difference + bias + X_i;
  // value := value + difference; out[i] = scaled(value).
  void (*unpack_order2_scaled)(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset,
                               unsigned width, std::size_t count, std::int64_t bias, std::int64_t* value,
                               std::int64_t* difference, const ScaleFactors& scale, double* out);

  // The three above over several runs, their values written one after
  // another from `out`; the running value and difference carry across runs.
  // Values that `missing` marks become NaN and leave value and difference as
  // they are.
  void (*runs_scaled)(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                      MissingCodes missing, const ScaleFactors& scale, double* out);
  void (*runs_order1_scaled)(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                             MissingCodes missing, std::int64_t* value, const ScaleFactors& scale, double* out);
  void (*runs_order2_scaled)(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                             MissingCodes missing, std::int64_t* value, std::int64_t* difference,
                             const ScaleFactors& scale, double* out);

  // Adds the steps of the runs' present values to `sums`.
  void (*runs_step_sums)(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                         MissingCodes missing, StepSums* sums);

  // Big-endian IEEE numbers to doubles (single precision widened).
  void (*ieee32_be)(const std::uint8_t* data, std::size_t count, double* out);
  void (*ieee64_be)(const std::uint8_t* data, std::size_t count, double* out);

  // Samples a library has decoded (CCSDS): `count` samples of 1 to 4 octets,
  // little- or big-endian; signed ones sign-extended from `width` bits (1 to
  // 32), unsigned ones taken whole; out[i] = scaled(sample). The caller
  // guarantees count * octets bytes.
  void (*samples_scaled)(const std::uint8_t* bytes, unsigned octets, bool little_endian, bool is_signed,
                         unsigned width, std::size_t count, const ScaleFactors& scale, double* out);
};

// Bit-by-bit loops that state the arithmetic plainly; the yardstick for the others.
const UnpackKernels& reference_kernels();
// 64-bit loads, byte-aligned and 12-bit special cases, scaling fused in.
const UnpackKernels& portable_kernels();
// Gathered loads for four values at a time; nullptr unless built in and the CPU has AVX2.
const UnpackKernels* avx2_kernels();

// The fastest set this CPU can run, chosen once, unless a test or benchmark
// has put another set in its place.
const UnpackKernels& active_kernels();

// Every set this CPU runs, the reference first; and one of them by name
// ("reference", "portable", "avx2"), nullptr when not built or not runnable.
std::span<const UnpackKernels* const> available_kernels();
const UnpackKernels* kernels_by_name(std::string_view name);

// Makes active_kernels() give `set` (nullptr: the CPU's choice again), for
// tests and benchmarks that run the decoders with each set. Decoders read
// the active set once per field; do not switch while another thread decodes.
void override_active_kernels(const UnpackKernels* set);

}  // namespace vorlak
