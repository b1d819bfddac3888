// Portable kernels: plain C++ the compiler can schedule and, for the
// byte-aligned widths and the IEEE loops, vectorise for the baseline CPU.
#include <bit>
#include <limits>

#include "grib/kernels/run_loops.hpp"
#include "grib/kernels/unpack_kernels.hpp"
#include "grib/kernels/value_walk.hpp"

namespace vorlak {
namespace {

using kernels::is_missing;
using kernels::walk_values;
using kernels::with_missing;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void unpack(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
            std::size_t count, std::uint64_t* out) {
  walk_values(data, nbytes, bit_offset, width, count, [out](std::size_t i, std::uint64_t x) { out[i] = x; });
}

template <bool kSmall, MissingCodes kMissing>
void unpack_scaled_as(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                      std::size_t count, std::uint64_t add, const ScaleFactors& scale, double* out) {
  const ScaleFactors s = scale;
  const std::uint64_t ones = kernels::all_ones(width);
  walk_values(data, nbytes, bit_offset, width, count, [out, add, s, ones](std::size_t i, std::uint64_t x) {
    (void)ones;  // unused without missing values
    const auto v = static_cast<std::int64_t>(x + add);
    const double d = kSmall ? kernels::small_int_to_double(v) : static_cast<double>(v);
    const double scaled = apply_scale(d, s);
    if constexpr (kMissing == MissingCodes::none) {
      out[i] = scaled;
    } else {
      out[i] = is_missing<kMissing>(x, ones) ? kNaN : scaled;
    }
  });
}

template <MissingCodes kMissing>
void scaled_run(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                std::size_t count, std::uint64_t add, const ScaleFactors& scale, double* out) {
  if (kernels::sums_are_small(width, add)) {
    unpack_scaled_as<true, kMissing>(data, nbytes, bit_offset, width, count, add, scale, out);
  } else {
    unpack_scaled_as<false, kMissing>(data, nbytes, bit_offset, width, count, add, scale, out);
  }
}

void unpack_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                   std::size_t count, std::uint64_t add, const ScaleFactors& scale, double* out) {
  scaled_run<MissingCodes::none>(data, nbytes, bit_offset, width, count, add, scale, out);
}

template <MissingCodes kMissing>
void order1_run(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                std::size_t count, std::int64_t bias, std::int64_t* value, const ScaleFactors& scale, double* out) {
  const ScaleFactors s = scale;
  const std::uint64_t ones = kernels::all_ones(width);
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  const auto b = static_cast<std::uint64_t>(bias);
  walk_values(data, nbytes, bit_offset, width, count, [&v, b, s, ones, out](std::size_t i, std::uint64_t x) {
    if (is_missing<kMissing>(x, ones)) {
      out[i] = kNaN;
      return;
    }
    v += b + x;
    out[i] = apply_scale(static_cast<double>(static_cast<std::int64_t>(v)), s);
  });
  *value = static_cast<std::int64_t>(v);
}

void unpack_order1_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                          std::size_t count, std::int64_t bias, std::int64_t* value, const ScaleFactors& scale,
                          double* out) {
  order1_run<MissingCodes::none>(data, nbytes, bit_offset, width, count, bias, value, scale, out);
}

template <MissingCodes kMissing>
void order2_run(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                std::size_t count, std::int64_t bias, std::int64_t* value, std::int64_t* difference,
                const ScaleFactors& scale, double* out) {
  const ScaleFactors s = scale;
  const std::uint64_t ones = kernels::all_ones(width);
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  std::uint64_t d = static_cast<std::uint64_t>(*difference);
  const auto b = static_cast<std::uint64_t>(bias);
  walk_values(data, nbytes, bit_offset, width, count, [&v, &d, b, s, ones, out](std::size_t i, std::uint64_t x) {
    if (is_missing<kMissing>(x, ones)) {
      out[i] = kNaN;
      return;
    }
    d += b + x;
    v += d;
    out[i] = apply_scale(static_cast<double>(static_cast<std::int64_t>(v)), s);
  });
  *value = static_cast<std::int64_t>(v);
  *difference = static_cast<std::int64_t>(d);
}

void unpack_order2_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                          std::size_t count, std::int64_t bias, std::int64_t* value, std::int64_t* difference,
                          const ScaleFactors& scale, double* out) {
  order2_run<MissingCodes::none>(data, nbytes, bit_offset, width, count, bias, value, difference, scale, out);
}

// Width 0 never holds a missing value, so those runs take the plain loops.
void runs_scaled(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                 MissingCodes missing, const ScaleFactors& scale, double* out) {
  with_missing(missing, [&]<MissingCodes kMissing>() {
    for (std::size_t r = 0; r < nruns; ++r) {
      const PackedRun& run = runs[r];
      if (run.width == 0) {
        scaled_run<MissingCodes::none>(data, nbytes, run.bit_offset, 0, run.count, run.add, scale, out);
      } else {
        scaled_run<kMissing>(data, nbytes, run.bit_offset, run.width, run.count, run.add, scale, out);
      }
      out += run.count;
    }
  });
}

void runs_order1_scaled(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                        MissingCodes missing, std::int64_t* value, const ScaleFactors& scale, double* out) {
  with_missing(missing, [&]<MissingCodes kMissing>() {
    for (std::size_t r = 0; r < nruns; ++r) {
      const PackedRun& run = runs[r];
      const auto bias = static_cast<std::int64_t>(run.add);
      if (run.width == 0) {
        order1_run<MissingCodes::none>(data, nbytes, run.bit_offset, 0, run.count, bias, value, scale, out);
      } else {
        order1_run<kMissing>(data, nbytes, run.bit_offset, run.width, run.count, bias, value, scale, out);
      }
      out += run.count;
    }
  });
}

void runs_order2_scaled(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                        MissingCodes missing, std::int64_t* value, std::int64_t* difference,
                        const ScaleFactors& scale, double* out) {
  with_missing(missing, [&]<MissingCodes kMissing>() {
    for (std::size_t r = 0; r < nruns; ++r) {
      const PackedRun& run = runs[r];
      const auto bias = static_cast<std::int64_t>(run.add);
      if (run.width == 0) {
        order2_run<MissingCodes::none>(data, nbytes, run.bit_offset, 0, run.count, bias, value, difference, scale,
                                       out);
      } else {
        order2_run<kMissing>(data, nbytes, run.bit_offset, run.width, run.count, bias, value, difference, scale, out);
      }
      out += run.count;
    }
  });
}

void runs_step_sums(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                    MissingCodes missing, StepSums* sums) {
  StepSums s = *sums;
  with_missing(missing, [&]<MissingCodes kMissing>() {
    for (std::size_t r = 0; r < nruns; ++r) {
      const PackedRun& run = runs[r];
      if (run.width == 0) {
        kernels::add_equal_steps(s, run.add, run.count);
        continue;
      }
      const std::uint64_t ones = kernels::all_ones(run.width);
      walk_values(data, nbytes, run.bit_offset, run.width, run.count, [&s, &run, ones](std::size_t, std::uint64_t x) {
        if (!is_missing<kMissing>(x, ones)) kernels::add_step(s, run.add + x);
      });
    }
  });
  *sums = s;
}

void ieee32_be(const std::uint8_t* data, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = static_cast<double>(std::bit_cast<float>(kernels::load_be32(data + 4 * i)));
  }
}

void ieee64_be(const std::uint8_t* data, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = std::bit_cast<double>(kernels::load_be64(data + 8 * i));
}

template <unsigned kOctets, bool kLittle, bool kSigned>
void samples_as(const std::uint8_t* bytes, unsigned width, std::size_t count, const ScaleFactors& scale,
                double* out) {
  const ScaleFactors s = scale;
  const std::uint64_t mask = kSigned ? (std::uint64_t{1} << width) - 1 : 0;
  const std::uint64_t sign = kSigned ? std::uint64_t{1} << (width - 1) : 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = bytes + i * kOctets;
    std::uint64_t raw = 0;
    for (unsigned k = 0; k < kOctets; ++k) raw = (raw << 8) | p[kLittle ? kOctets - 1 - k : k];
    // (raw AND mask) XOR sign, less sign: the value of a width-bit two's complement number.
    const auto sample = kSigned ? static_cast<std::int64_t>(((raw & mask) ^ sign) - sign) : static_cast<std::int64_t>(raw);
    out[i] = apply_scale(kernels::small_int_to_double(sample), s);
  }
}

template <unsigned kOctets>
void samples_by_order(const std::uint8_t* bytes, bool little_endian, bool is_signed, unsigned width,
                      std::size_t count, const ScaleFactors& scale, double* out) {
  if (little_endian) {
    is_signed ? samples_as<kOctets, true, true>(bytes, width, count, scale, out)
              : samples_as<kOctets, true, false>(bytes, width, count, scale, out);
  } else {
    is_signed ? samples_as<kOctets, false, true>(bytes, width, count, scale, out)
              : samples_as<kOctets, false, false>(bytes, width, count, scale, out);
  }
}

void samples_scaled(const std::uint8_t* bytes, unsigned octets, bool little_endian, bool is_signed, unsigned width,
                    std::size_t count, const ScaleFactors& scale, double* out) {
  switch (octets) {
    case 1: samples_by_order<1>(bytes, little_endian, is_signed, width, count, scale, out); break;
    case 2: samples_by_order<2>(bytes, little_endian, is_signed, width, count, scale, out); break;
    case 3: samples_by_order<3>(bytes, little_endian, is_signed, width, count, scale, out); break;
    default: samples_by_order<4>(bytes, little_endian, is_signed, width, count, scale, out); break;
  }
}

constexpr UnpackKernels kPortable{
    "portable",
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

const UnpackKernels& portable_kernels() { return kPortable; }

}  // namespace vorlak
