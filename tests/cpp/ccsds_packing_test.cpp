#include <gtest/gtest.h>

#include <random>

#include "grib/decoders.hpp"
#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

using test::AecSettings;
using test::ByteVector;
using test::ccsds_drs;
using test::encode_ccsds;

TEST(CcsdsPacking, ParameterChecksInOrder) {
  struct Case {
    unsigned bits, block, rsi;
    const char* detail;
  };
  const Case cases[] = {
      {33, 0, 0, "bits_per_sample must be 1..=32"},
      {12, 0, 0, "block_size must be > 0"},
      {12, 12, 0, "rsi must be > 0"},
      {12, 12, 128, "block_size must be one of 8,16,32,64"},
      // 0 bits is a constant field, yet the other checks still apply first.
      {0, 12, 128, "block_size must be one of 8,16,32,64"},
  };
  for (const auto& c : cases) {
    auto values = unpack_ccsds({}, ccsds_drs({c.bits, c.block, c.rsi, 0}), 4);
    ASSERT_FALSE(values) << c.detail;
    EXPECT_EQ(values.error(), std::string("ccsds/aec decode failed: ") + c.detail);
  }
}

TEST(CcsdsPacking, LibraryRefusalsReleaseTheDecoder) {
  // libaec refuses restricted coding of 5 to 8 bits once its state is
  // allocated; the state must still be released (checked under ASan).
  auto values = unpack_ccsds(ByteVector{1, 2, 3}, ccsds_drs({5, 32, 128, AEC_RESTRICTED}), 4);
  ASSERT_FALSE(values);
  EXPECT_EQ(values.error(), "ccsds/aec decode failed: invalid coding parameters (AEC_CONF_ERROR)");
}

TEST(CcsdsPacking, ConstantFieldNeedsNoStream) {
  for (const ByteVector& payload : {ByteVector{}, ByteVector{0x00, 0x01}}) {
    auto values = unpack_ccsds(payload, ccsds_drs({0, 32, 128, 8}, 42.5f, 0, 1), 3);
    ASSERT_TRUE(values) << values.error();
    EXPECT_EQ(*values, Values(3, 42.5 * (1.0 / 10.0)));
  }
}

struct RoundTrip {
  AecSettings settings;
  bool negative;  // signed samples below zero
};

class CcsdsRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(CcsdsRoundTrip, RestoresTheSamples) {
  const AecSettings s = GetParam().settings;
  std::mt19937_64 rng(s.bits * 131 + s.flags);
  const bool is_signed = s.flags & AEC_DATA_SIGNED;
  std::vector<std::int64_t> samples(1537);
  for (auto& v : samples) {
    const std::uint64_t raw = s.bits == 32 ? rng() & 0xFFFFFFFFu : rng() % (1ull << s.bits);
    v = is_signed ? static_cast<std::int64_t>(raw) - (std::int64_t{1} << (s.bits - 1)) : static_cast<std::int64_t>(raw);
    if (is_signed && !GetParam().negative && v < 0) v = -v - 1;
  }
  const ByteVector payload = encode_ccsds(samples, s);
  auto values = unpack_ccsds(payload, ccsds_drs(s, 1.25f, -1, -1), samples.size());
  ASSERT_TRUE(values) << values.error();
  for (std::size_t i = 0; i < samples.size(); ++i) {
    ASSERT_EQ((*values)[i], (static_cast<double>(samples[i]) * 0.5 + 1.25) * 10.0) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CcsdsRoundTrip,
    ::testing::Values(RoundTrip{{8, 32, 128, AEC_DATA_PREPROCESS}, false},
                      RoundTrip{{12, 16, 64, AEC_DATA_PREPROCESS | AEC_DATA_MSB}, false},
                      RoundTrip{{12, 16, 64, AEC_DATA_PREPROCESS | AEC_DATA_SIGNED}, true},
                      RoundTrip{{16, 64, 4096, 0}, false},
                      RoundTrip{{24, 32, 128, AEC_DATA_PREPROCESS}, false},
                      RoundTrip{{24, 32, 128, AEC_DATA_PREPROCESS | AEC_DATA_3BYTE | AEC_DATA_MSB}, false},
                      RoundTrip{{32, 8, 32, AEC_DATA_PREPROCESS | AEC_DATA_MSB}, false}));

TEST(CcsdsPacking, SignedTwelveBitAllOnesIsMinusOne) {
  const AecSettings s{12, 16, 64, AEC_DATA_SIGNED};
  const ByteVector payload = encode_ccsds(std::vector<std::int64_t>(20, 0x0FFF), s);
  auto values = unpack_ccsds(payload, ccsds_drs(s), 20);
  ASSERT_TRUE(values) << values.error();
  EXPECT_EQ(*values, Values(20, -1.0));
}

TEST(CcsdsPacking, ShortStreamsFail) {
  const AecSettings s{16, 32, 128, AEC_DATA_PREPROCESS};
  std::vector<std::int64_t> samples(4096);
  std::mt19937 rng(5);
  for (auto& v : samples) v = rng() % 65536;
  ByteVector payload = encode_ccsds(samples, s);
  // Asking for more samples than were coded must not pass off the rest of the buffer as data.
  auto more = unpack_ccsds(payload, ccsds_drs(s), samples.size() + 100);
  ASSERT_FALSE(more);
  EXPECT_TRUE(more.error().rfind("decoded payload has ", 0) == 0 || more.error().rfind("ccsds/aec decode failed: ", 0) == 0)
      << more.error();
  payload.resize(payload.size() / 3);
  EXPECT_FALSE(unpack_ccsds(payload, ccsds_drs(s), samples.size()));
  EXPECT_EQ(unpack_ccsds(payload, ccsds_drs(s), 1ull << 30).error(),
            "value count 1073741824 exceeds the supported maximum 268435456");
}

}  // namespace
}  // namespace vorlak
