// Reference kernels: one bit at a time, one value at a time. Slow and
// obviously right; the other kernel sets are tested against these.
#include <bit>
#include <cstring>
#include <limits>

#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak {
namespace {

std::uint64_t read_bits(const std::uint8_t* data, std::uint64_t bit_offset, unsigned width) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    const std::uint64_t bit = bit_offset + i;
    value = (value << 1) | ((data[bit >> 3] >> (7 - (bit & 7))) & 1u);
  }
  return value;
}

double scaled(std::uint64_t integer, const ScaleFactors& scale) {
  return apply_scale(static_cast<double>(static_cast<std::int64_t>(integer)), scale);
}

bool is_missing(std::uint64_t x, unsigned width, MissingCodes missing) {
  if (width == 0 || missing == MissingCodes::none) return false;
  const std::uint64_t ones = width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
  return x == ones || (missing == MissingCodes::both && x == ones - 1);
}

void unpack(const std::uint8_t* data, std::size_t, std::uint64_t bit_offset, unsigned width, std::size_t count,
            std::uint64_t* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = read_bits(data, bit_offset + i * width, width);
}

void unpack_scaled(const std::uint8_t* data, std::size_t, std::uint64_t bit_offset, unsigned width,
                   std::size_t count, std::uint64_t add, const ScaleFactors& scale, double* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = scaled(read_bits(data, bit_offset + i * width, width) + add, scale);
}

void unpack_order1_scaled(const std::uint8_t* data, std::size_t, std::uint64_t bit_offset, unsigned width,
                          std::size_t count, std::int64_t bias, std::int64_t* value, const ScaleFactors& scale,
                          double* out) {
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  for (std::size_t i = 0; i < count; ++i) {
    v += static_cast<std::uint64_t>(bias) + read_bits(data, bit_offset + i * width, width);
    out[i] = scaled(v, scale);
  }
  *value = static_cast<std::int64_t>(v);
}

void unpack_order2_scaled(const std::uint8_t* data, std::size_t, std::uint64_t bit_offset, unsigned width,
                          std::size_t count, std::int64_t bias, std::int64_t* value, std::int64_t* difference,
                          const ScaleFactors& scale, double* out) {
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  std::uint64_t d = static_cast<std::uint64_t>(*difference);
  for (std::size_t i = 0; i < count; ++i) {
    d += static_cast<std::uint64_t>(bias) + read_bits(data, bit_offset + i * width, width);
    v += d;
    out[i] = scaled(v, scale);
  }
  *value = static_cast<std::int64_t>(v);
  *difference = static_cast<std::int64_t>(d);
}

// Calls each(x, missing, out slot) for every value of every run, in order.
template <class Each>
void each_value(const std::uint8_t* data, const PackedRun* runs, std::size_t nruns, MissingCodes missing,
                double* out, Each&& each) {
  for (std::size_t r = 0; r < nruns; ++r) {
    const PackedRun& run = runs[r];
    for (std::uint32_t i = 0; i < run.count; ++i) {
      const std::uint64_t x = read_bits(data, run.bit_offset + std::uint64_t{i} * run.width, run.width);
      each(run.add + x, is_missing(x, run.width, missing), out ? out++ : nullptr);
    }
  }
}

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

void runs_scaled(const std::uint8_t* data, std::size_t, const PackedRun* runs, std::size_t nruns,
                 MissingCodes missing, const ScaleFactors& scale, double* out) {
  each_value(data, runs, nruns, missing, out, [&](std::uint64_t sum, bool gone, double* to) {
    *to = gone ? kMissing : scaled(sum, scale);
  });
}

void runs_order1_scaled(const std::uint8_t* data, std::size_t, const PackedRun* runs, std::size_t nruns,
                        MissingCodes missing, std::int64_t* value, const ScaleFactors& scale, double* out) {
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  each_value(data, runs, nruns, missing, out, [&](std::uint64_t step, bool gone, double* to) {
    if (gone) {
      *to = kMissing;
      return;
    }
    v += step;
    *to = scaled(v, scale);
  });
  *value = static_cast<std::int64_t>(v);
}

void runs_order2_scaled(const std::uint8_t* data, std::size_t, const PackedRun* runs, std::size_t nruns,
                        MissingCodes missing, std::int64_t* value, std::int64_t* difference,
                        const ScaleFactors& scale, double* out) {
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  std::uint64_t d = static_cast<std::uint64_t>(*difference);
  each_value(data, runs, nruns, missing, out, [&](std::uint64_t step, bool gone, double* to) {
    if (gone) {
      *to = kMissing;
      return;
    }
    d += step;
    v += d;
    *to = scaled(v, scale);
  });
  *value = static_cast<std::int64_t>(v);
  *difference = static_cast<std::int64_t>(d);
}

void runs_step_sums(const std::uint8_t* data, std::size_t, const PackedRun* runs, std::size_t nruns,
                    MissingCodes missing, StepSums* sums) {
  StepSums s = *sums;
  each_value(data, runs, nruns, missing, nullptr, [&](std::uint64_t step, bool gone, double*) {
    if (gone) return;
    if (s.present < 2) s.first[s.present] = step;
    ++s.present;
    s.sum += step;
    s.sum_of_sums += s.sum;
  });
  *sums = s;
}

void ieee32_be(const std::uint8_t* data, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = data + 4 * i;
    const std::uint32_t bits = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                               (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
    out[i] = static_cast<double>(std::bit_cast<float>(bits));
  }
}

void ieee64_be(const std::uint8_t* data, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits = (bits << 8) | data[8 * i + k];
    out[i] = std::bit_cast<double>(bits);
  }
}

void samples_scaled(const std::uint8_t* bytes, unsigned octets, bool little_endian, bool is_signed, unsigned width,
                    std::size_t count, const ScaleFactors& scale, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = bytes + i * octets;
    std::uint64_t raw = 0;
    for (unsigned k = 0; k < octets; ++k) raw = (raw << 8) | p[little_endian ? octets - 1 - k : k];
    std::int64_t sample = static_cast<std::int64_t>(raw);
    if (is_signed) {
      const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
      sample = static_cast<std::int64_t>(raw & mask);
      if ((raw >> (width - 1)) & 1u) sample -= std::int64_t{1} << width;
    }
    out[i] = apply_scale(static_cast<double>(sample), scale);
  }
}

constexpr UnpackKernels kReference{
    "reference",
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

const UnpackKernels& reference_kernels() { return kReference; }

}  // namespace vorlak
