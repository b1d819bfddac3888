#include <gtest/gtest.h>

#include <random>

#include "grib/decoders.hpp"
#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

using test::ByteVector;
using test::encode_jpeg2000;
using test::Jpeg2000Image;
using test::make_drs;

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(Jpeg2000Packing, WorkedTwelveBitImage) {
  for (bool jp2 : {false, true}) {
    const ByteVector payload = encode_jpeg2000({3, 1, 12, 1, jp2, {0, 1, 4095}});
    auto values = unpack_jpeg2000(payload, make_drs(40, 100.0f, 0, 1, 12), 3);
    ASSERT_TRUE(values) << values.error();
    EXPECT_EQ(*values, (Values{10.0, 10.100000000000001, 419.5})) << (jp2 ? "JP2" : "J2K");
  }
}

// Precisions on both sides of the one-, two- and four-octet sample sizes,
// including a 19-bit component whose values pass 65535 and must not be clamped.
class Jpeg2000Precision : public ::testing::TestWithParam<unsigned> {};

TEST_P(Jpeg2000Precision, RoundTripsAtFullPrecision) {
  const unsigned precision = GetParam();
  std::mt19937 rng(precision);
  Jpeg2000Image image{37, 21, precision, 1, false, {}};
  const std::int32_t top = (1 << precision) - 1;
  for (std::uint32_t i = 0; i < image.width * image.height; ++i) {
    image.samples.push_back(static_cast<std::int32_t>(rng() % (static_cast<std::uint32_t>(top) + 1)));
  }
  image.samples[0] = top;
  image.samples[1] = 0;
  const ByteVector payload = encode_jpeg2000(image);
  const std::uint64_t n = image.samples.size() - 5;  // samples past n are ignored
  auto values = unpack_jpeg2000(payload, make_drs(40, 0.5f, 1, 0, static_cast<std::uint8_t>(precision)), n);
  ASSERT_TRUE(values) << values.error();
  ASSERT_EQ(values->size(), n);
  for (std::uint64_t i = 0; i < n; ++i) {
    ASSERT_EQ((*values)[i], static_cast<double>(image.samples[i]) * 2.0 + 0.5) << "precision " << precision << " at " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Precisions, Jpeg2000Precision, ::testing::Values(1u, 8u, 9u, 16u, 17u, 19u, 24u));

TEST(Jpeg2000Packing, ConstantFieldNeedsNoImage) {
  for (const ByteVector& payload : {ByteVector{}, ByteVector{0x00}, ByteVector{0xFF, 0x4F}}) {
    auto values = unpack_jpeg2000(payload, make_drs(40, 273.15f, 0, 0, 0), 4);
    ASSERT_TRUE(values) << values.error();
    EXPECT_EQ(*values, Values(4, static_cast<double>(273.15f)));
  }
}

TEST(Jpeg2000Packing, Refusals) {
  const DataRepresentation drs = make_drs(40, 0.0f, 0, 0, 12);
  auto empty = unpack_jpeg2000({}, drs, 1);
  ASSERT_FALSE(empty);
  EXPECT_TRUE(starts_with(empty.error(), "jpeg2000 codestream parse failed: ")) << empty.error();

  const ByteVector rgb = encode_jpeg2000({4, 4, 8, 3, false, std::vector<std::int32_t>(16, 7)});
  EXPECT_EQ(unpack_jpeg2000(rgb, drs, 16).error(), "jpeg2000 GRIB decode expects 1 component, got 3");

  const ByteVector small = encode_jpeg2000({3, 1, 12, 1, false, {1, 2, 3}});
  EXPECT_EQ(unpack_jpeg2000(small, drs, 4).error(), "decoded payload has 6 bytes but 8 are required for 4 samples");

  EXPECT_EQ(unpack_jpeg2000(small, drs, 1ull << 29).error(),
            "value count 536870912 exceeds the supported maximum 268435456");
}

TEST(Jpeg2000Packing, LibraryErrorsCarryItsMessages) {
  const DataRepresentation drs = make_drs(40, 0.0f, 0, 0, 12);
  // A code stream start followed by a broken image and tile size marker.
  const ByteVector broken_header{0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x05, 0x01, 0x02, 0x03};
  auto header = unpack_jpeg2000(broken_header, drs, 1);
  ASSERT_FALSE(header);
  EXPECT_TRUE(starts_with(header.error(), "jpeg2000 codestream parse failed: ")) << header.error();
  EXPECT_GT(header.error().size(), std::string("jpeg2000 codestream parse failed: ").size());

  std::vector<std::int32_t> samples(64 * 64);
  std::mt19937 rng(3);
  for (auto& s : samples) s = static_cast<std::int32_t>(rng() % 4096);
  ByteVector cut = encode_jpeg2000({64, 64, 12, 1, false, samples});
  cut.resize(cut.size() / 2);
  auto truncated = unpack_jpeg2000(cut, drs, samples.size());
  ASSERT_FALSE(truncated);
  EXPECT_TRUE(starts_with(truncated.error(), "jpeg2000 codestream decode failed: ")) << truncated.error();
}

}  // namespace
}  // namespace vorlak
