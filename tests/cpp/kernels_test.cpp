// Every kernel set against the reference on random data: all widths 0 to 64,
// odd counts, bit offsets in every position of an octet, and buffers that end
// exactly where the last value does (so over-reads show under ASan). The
// sets are picked by name, as tests and benchmarks select them.
#include "grib/kernels/unpack_kernels.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

struct ReferenceSet {
  static const UnpackKernels* get() { return kernels_by_name("reference"); }
};
struct PortableSet {
  static const UnpackKernels* get() { return kernels_by_name("portable"); }
};
struct Avx2Set {
  static const UnpackKernels* get() { return kernels_by_name("avx2"); }
};
struct ActiveSet {
  static const UnpackKernels* get() { return &active_kernels(); }
};

template <class Set>
class KernelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kernels_ = Set::get();
    if (!kernels_) GTEST_SKIP() << "not available on this CPU";
  }
  const UnpackKernels* kernels_ = nullptr;
  const UnpackKernels& ref_ = reference_kernels();
};

using KernelSets = ::testing::Types<ReferenceSet, PortableSet, Avx2Set, ActiveSet>;
TYPED_TEST_SUITE(KernelsTest, KernelSets);

// A heap buffer of exactly the bits needed, filled at random.
std::vector<std::uint8_t> random_bits(std::mt19937_64& rng, std::uint64_t bits) {
  std::vector<std::uint8_t> bytes((bits + 7) / 8);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

const std::size_t kCounts[] = {0, 1, 3, 4, 5, 7, 31, 33, 257};
const unsigned kOffsets[] = {0, 1, 3, 7, 8, 13};

std::uint64_t bits_of(double d) { return std::bit_cast<std::uint64_t>(d); }

TYPED_TEST(KernelsTest, UnpackMatchesReference) {
  std::mt19937_64 rng(1);
  for (unsigned width = 0; width <= 64; ++width) {
    for (std::size_t count : kCounts) {
      for (unsigned offset : kOffsets) {
        const auto bytes = random_bits(rng, offset + std::uint64_t{width} * count);
        std::vector<std::uint64_t> want(count + 1, 0xDEAD), got(count + 1, 0xDEAD);
        this->ref_.unpack(bytes.data(), bytes.size(), offset, width, count, want.data());
        this->kernels_->unpack(bytes.data(), bytes.size(), offset, width, count, got.data());
        ASSERT_EQ(got, want) << "width " << width << " count " << count << " offset " << offset;
      }
    }
  }
}

TYPED_TEST(KernelsTest, ScaledUnpackMatchesReference) {
  std::mt19937_64 rng(2);
  const ScaleFactors scales[] = {{0.0, 1.0, 1.0}, {static_cast<double>(273.15f), 0.0078125, 0.01}, {-1e5, 8.0, 1e-3}};
  const std::uint64_t adds[] = {0, 17, ~std::uint64_t{0} - 40, std::uint64_t{1} << 50, std::uint64_t{1} << 62};
  for (unsigned width = 0; width <= 64; ++width) {
    for (std::size_t count : kCounts) {
      for (unsigned offset : kOffsets) {
        const auto bytes = random_bits(rng, offset + std::uint64_t{width} * count);
        const std::uint64_t add = adds[rng() % std::size(adds)];
        const ScaleFactors& s = scales[rng() % std::size(scales)];
        std::vector<double> want(count), got(count);
        this->ref_.unpack_scaled(bytes.data(), bytes.size(), offset, width, count, add, s, want.data());
        this->kernels_->unpack_scaled(bytes.data(), bytes.size(), offset, width, count, add, s, got.data());
        for (std::size_t i = 0; i < count; ++i) {
          ASSERT_EQ(bits_of(got[i]), bits_of(want[i])) << "width " << width << " count " << count << " offset "
                                                       << offset << " add " << add << " index " << i;
        }
      }
    }
  }
}

TYPED_TEST(KernelsTest, DifferencingMatchesReference) {
  std::mt19937_64 rng(3);
  const ScaleFactors s{2.5, 0.5, 0.1};
  for (unsigned width = 0; width <= 64; ++width) {
    for (std::size_t count : kCounts) {
      const unsigned offset = static_cast<unsigned>(rng() % 8);
      const auto bytes = random_bits(rng, offset + std::uint64_t{width} * count);
      const auto bias = static_cast<std::int64_t>(rng() % 2001) - 1000;
      std::int64_t v_want = 12345, v_got = 12345, d_want = -7, d_got = -7;
      std::vector<double> want(count), got(count);
      this->ref_.unpack_order1_scaled(bytes.data(), bytes.size(), offset, width, count, bias, &v_want, s,
                                      want.data());
      this->kernels_->unpack_order1_scaled(bytes.data(), bytes.size(), offset, width, count, bias, &v_got, s,
                                           got.data());
      ASSERT_EQ(v_got, v_want) << "order 1 width " << width << " count " << count;
      for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(bits_of(got[i]), bits_of(want[i])) << "order 1 " << i;

      this->ref_.unpack_order2_scaled(bytes.data(), bytes.size(), offset, width, count, bias, &v_want, &d_want, s,
                                      want.data());
      this->kernels_->unpack_order2_scaled(bytes.data(), bytes.size(), offset, width, count, bias, &v_got, &d_got,
                                           s, got.data());
      ASSERT_EQ(v_got, v_want) << "order 2 width " << width << " count " << count;
      ASSERT_EQ(d_got, d_want) << "order 2 width " << width << " count " << count;
      for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(bits_of(got[i]), bits_of(want[i])) << "order 2 " << i;
    }
  }
}

TYPED_TEST(KernelsTest, IeeeMatchesReference) {
  std::mt19937_64 rng(4);
  for (std::size_t count : kCounts) {
    for (unsigned octets : {4u, 8u}) {
      auto bytes = random_bits(rng, std::uint64_t{octets} * 8 * count);
      std::vector<double> want(count), got(count);
      if (octets == 4) {
        this->ref_.ieee32_be(bytes.data(), count, want.data());
        this->kernels_->ieee32_be(bytes.data(), count, got.data());
      } else {
        this->ref_.ieee64_be(bytes.data(), count, want.data());
        this->kernels_->ieee64_be(bytes.data(), count, got.data());
      }
      for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(bits_of(got[i]), bits_of(want[i])) << octets << " octets, count " << count << " index " << i;
      }
    }
  }
}

// Runs as complex packing lays them out: back to back from an odd bit,
// widths 0 to 64, counts around the vector block sizes, with values that
// are the missing codes of their width mixed in; the buffer ends with the
// last run.
struct RunCase {
  std::vector<PackedRun> runs;
  std::vector<std::uint8_t> bytes;
  std::size_t values = 0;
};

RunCase random_runs(std::mt19937_64& rng, bool small_adds) {
  const unsigned widths[] = {0, 1, 2, 3, 5, 7, 8, 11, 12, 13, 16, 24, 31, 32, 33, 52, 57, 58, 63, 64};
  const std::uint32_t counts[] = {0, 1, 3, 7, 8, 9, 15, 16, 17, 33, 100};
  RunCase c;
  test::BitWriter w;
  const unsigned offset = static_cast<unsigned>(rng() % 8);
  w.put(0, offset);
  std::uint64_t position = offset;
  for (int r = 0; r < 24; ++r) {
    const unsigned width = widths[rng() % std::size(widths)];
    const std::uint32_t count = counts[rng() % std::size(counts)];
    const std::uint64_t ones = width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
    std::uint64_t add = small_adds ? rng() % 4001 : rng();
    if (small_adds && rng() % 2) add = 0 - add;
    c.runs.push_back(PackedRun{position, add, count, width});
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint64_t x = rng() & ones;
      if (width > 0 && rng() % 5 == 0) x = ones - (rng() % 2 ? 1 : 0);
      w.put(x, width);
    }
    position += std::uint64_t{width} * count;
    c.values += count;
  }
  c.bytes = w.take();
  if (c.bytes.empty()) c.bytes.push_back(0);
  return c;
}

void expect_same_doubles(const std::vector<double>& got, const std::vector<double>& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(bits_of(got[i]), bits_of(want[i])) << what << " index " << i << ": " << got[i] << " vs " << want[i];
  }
}

TYPED_TEST(KernelsTest, RunsMatchReference) {
  std::mt19937_64 rng(5);
  const ScaleFactors s{static_cast<double>(273.15f), 0.0078125, 0.01};
  for (int trial = 0; trial < 60; ++trial) {
    const bool small = trial % 3 != 0;
    const RunCase c = random_runs(rng, small);
    for (MissingCodes missing : {MissingCodes::none, MissingCodes::primary, MissingCodes::both}) {
      const std::string what = "trial " + std::to_string(trial) + " missing " +
                               std::to_string(static_cast<int>(missing));
      const std::uint8_t* data = c.bytes.data();
      const std::size_t n = c.bytes.size();
      std::vector<double> want(c.values), got(c.values);
      this->ref_.runs_scaled(data, n, c.runs.data(), c.runs.size(), missing, s, want.data());
      this->kernels_->runs_scaled(data, n, c.runs.data(), c.runs.size(), missing, s, got.data());
      expect_same_doubles(got, want, "scaled, " + what);

      // Running values near the exact conversion's limit too.
      const std::int64_t start = small && trial % 2 ? (std::int64_t{1} << 50) - 3 : static_cast<std::int64_t>(rng() % 100000);
      std::int64_t v_want = start, v_got = start;
      this->ref_.runs_order1_scaled(data, n, c.runs.data(), c.runs.size(), missing, &v_want, s, want.data());
      this->kernels_->runs_order1_scaled(data, n, c.runs.data(), c.runs.size(), missing, &v_got, s, got.data());
      ASSERT_EQ(v_got, v_want) << what;
      expect_same_doubles(got, want, "order 1, " + what);

      std::int64_t d_want = -17, d_got = -17;
      v_want = v_got = start;
      this->ref_.runs_order2_scaled(data, n, c.runs.data(), c.runs.size(), missing, &v_want, &d_want, s, want.data());
      this->kernels_->runs_order2_scaled(data, n, c.runs.data(), c.runs.size(), missing, &v_got, &d_got, s,
                                         got.data());
      ASSERT_EQ(v_got, v_want) << what;
      ASSERT_EQ(d_got, d_want) << what;
      expect_same_doubles(got, want, "order 2, " + what);

      for (std::uint64_t present : {0u, 1u, 5u}) {
        StepSums sums_want{present, 11, 23, {3, 8}}, sums_got = sums_want;
        this->ref_.runs_step_sums(data, n, c.runs.data(), c.runs.size(), missing, &sums_want);
        this->kernels_->runs_step_sums(data, n, c.runs.data(), c.runs.size(), missing, &sums_got);
        EXPECT_EQ(sums_got.present, sums_want.present) << what;
        EXPECT_EQ(sums_got.sum, sums_want.sum) << what;
        EXPECT_EQ(sums_got.sum_of_sums, sums_want.sum_of_sums) << what;
        EXPECT_EQ(sums_got.first[0], sums_want.first[0]) << what;
        EXPECT_EQ(sums_got.first[1], sums_want.first[1]) << what;
      }
    }
  }
}

TYPED_TEST(KernelsTest, SamplesMatchReference) {
  std::mt19937_64 rng(6);
  const ScaleFactors s{-3.5, 0.25, 100.0};
  for (unsigned octets = 1; octets <= 4; ++octets) {
    for (std::size_t count : {0u, 1u, 3u, 4u, 5u, 7u, 8u, 33u, 257u}) {
      for (int mode = 0; mode < 4; ++mode) {
        const bool little = mode & 1, is_signed = mode & 2;
        const unsigned width = is_signed ? 1 + static_cast<unsigned>(rng() % (8 * octets)) : 8 * octets;
        std::vector<std::uint8_t> bytes(count * octets);  // exactly the samples, so over-reads show
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        std::vector<double> want(count), got(count);
        this->ref_.samples_scaled(bytes.data(), octets, little, is_signed, width, count, s, want.data());
        this->kernels_->samples_scaled(bytes.data(), octets, little, is_signed, width, count, s, got.data());
        expect_same_doubles(got, want, "octets " + std::to_string(octets) + " count " + std::to_string(count) +
                                           " mode " + std::to_string(mode) + " width " + std::to_string(width));
      }
    }
  }
}

TEST(Kernels, ReferenceSamplesSignExtendFromTheirWidth) {
  const std::uint8_t bytes[] = {0x0F, 0xFF, 0x07, 0xFF, 0xFF, 0x0F};
  const ScaleFactors unit{0.0, 1.0, 1.0};
  double out[3];
  reference_kernels().samples_scaled(bytes, 2, false, true, 12, 3, unit, out);
  EXPECT_EQ(out[0], -1.0);
  EXPECT_EQ(out[1], 2047.0);
  EXPECT_EQ(out[2], -241.0);  // 0xFF0F: bits 0xF0F of 12, negative
  reference_kernels().samples_scaled(bytes, 2, true, false, 16, 1, unit, out);
  EXPECT_EQ(out[0], 65295.0);  // 0xFF0F little-endian
}

TEST(Kernels, ReferenceRunsMarkMissingCodesAndSkipThemInSums) {
  // Width 3: 7 is all ones, 6 all ones minus one; width 0 never missing.
  const std::uint8_t bytes[] = {0b11111000, 0b10000000};  // 7, 6, 1 (bits 111 110 001)
  const PackedRun runs[] = {{0, 10, 3, 3}, {9, 100, 2, 0}};
  const ScaleFactors unit{0.0, 1.0, 1.0};
  double out[5];
  reference_kernels().runs_scaled(bytes, 2, runs, 2, MissingCodes::both, unit, out);
  EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]));
  EXPECT_EQ(out[2], 11.0);
  EXPECT_EQ(out[3], 100.0);
  reference_kernels().runs_scaled(bytes, 2, runs, 2, MissingCodes::primary, unit, out);
  EXPECT_EQ(out[1], 16.0);
  std::int64_t value = 0;
  reference_kernels().runs_order1_scaled(bytes, 2, runs, 2, MissingCodes::both, &value, unit, out);
  EXPECT_EQ(out[2], 11.0);
  EXPECT_EQ(out[4], 211.0);
  StepSums sums;
  reference_kernels().runs_step_sums(bytes, 2, runs, 2, MissingCodes::both, &sums);
  EXPECT_EQ(sums.present, 3u);
  EXPECT_EQ(sums.sum, 211u);
  EXPECT_EQ(sums.sum_of_sums, 11u + 111u + 211u);
  EXPECT_EQ(sums.first[0], 11u);
  EXPECT_EQ(sums.first[1], 100u);
}

TEST(Kernels, SetsAreFoundByNameAndCanBePutInPlace) {
  const auto sets = available_kernels();
  ASSERT_GE(sets.size(), 2u);
  EXPECT_STREQ(sets[0]->name, "reference");
  for (const UnpackKernels* set : sets) EXPECT_EQ(kernels_by_name(set->name), set);
  EXPECT_EQ(kernels_by_name("no such set"), nullptr);
  const UnpackKernels* chosen = &active_kernels();
  override_active_kernels(&reference_kernels());
  EXPECT_EQ(&active_kernels(), &reference_kernels());
  override_active_kernels(nullptr);
  EXPECT_EQ(&active_kernels(), chosen);
  EXPECT_EQ(chosen == &portable_kernels() || chosen == avx2_kernels(), true);
}

TEST(Kernels, ReferenceReadsMostSignificantBitFirst) {
  const std::uint8_t bytes[] = {0xAB, 0xCD, 0xEF};
  std::uint64_t out[2];
  reference_kernels().unpack(bytes, 3, 0, 12, 2, out);
  EXPECT_EQ(out[0], 0xABCu);
  EXPECT_EQ(out[1], 0xDEFu);
  reference_kernels().unpack(bytes, 3, 4, 8, 2, out);
  EXPECT_EQ(out[0], 0xBCu);
  EXPECT_EQ(out[1], 0xDEu);
}

}  // namespace
}  // namespace vorlak
