// Every kernel set against the reference on random data: all widths 0 to 64,
// odd counts, bit offsets in every position of an octet, and buffers that end
// exactly where the last value does (so over-reads show under ASan).
#include "grib/kernels/unpack_kernels.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

namespace vorlak {
namespace {

struct ReferenceSet {
  static const UnpackKernels* get() { return &reference_kernels(); }
};
struct PortableSet {
  static const UnpackKernels* get() { return &portable_kernels(); }
};
struct Avx2Set {
  static const UnpackKernels* get() { return avx2_kernels(); }
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
