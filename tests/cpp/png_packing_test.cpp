// Template 5.41: images from the test-side writer at every depth GRIB uses,
// the checks made before the library sees an image, its own errors, and
// the MRMS field.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "grib/decode_message.hpp"
#include "grib/decoders.hpp"
#include "grib/framing.hpp"
#include "support/payload_encoders.hpp"
#include "support/png_writer.hpp"

namespace vorlak {
namespace {

using test::ByteVector;
using test::encode_png;
using test::make_drs;
using test::PngImage;

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

struct DepthCase {
  const char* label;
  std::uint8_t bit_depth;
  std::uint8_t colour_type;
  unsigned bits;  // bits per pixel, the largest integer is 2^bits - 1
};

struct LayoutCase {
  DepthCase depth;
  int filter;  // -1: all five filter types in turn
  bool interlaced;
};

class PngDepths : public ::testing::TestWithParam<LayoutCase> {};

// 13 x 11 pixels: rows of sub-octet depths end in a partial octet, and every
// Adam7 pass has pixels. Both extremes of the depth occur.
TEST_P(PngDepths, DecodesEverySampleExactly) {
  const LayoutCase& c = GetParam();
  PngImage image{13, 11, c.depth.bit_depth, c.depth.colour_type, {}, c.filter, c.interlaced};
  std::mt19937_64 rng(c.depth.bits * 10 + static_cast<unsigned>(c.filter + 1) + (c.interlaced ? 100 : 0));
  const std::uint64_t top = (std::uint64_t{1} << c.depth.bits) - 1;
  for (std::uint32_t i = 0; i < image.width * image.height; ++i) image.pixels.push_back(static_cast<std::uint32_t>(rng() & top));
  image.pixels[0] = static_cast<std::uint32_t>(top);
  image.pixels[1] = 0;
  image.pixels.back() = static_cast<std::uint32_t>(top);
  const ByteVector payload = encode_png(image);

  auto values = unpack_png(payload, make_drs(41, -1.5f, 1, 0, static_cast<std::uint8_t>(c.depth.bits)),
                           image.pixels.size());
  ASSERT_TRUE(values) << values.error();
  ASSERT_EQ(values->size(), image.pixels.size());
  for (std::size_t i = 0; i < image.pixels.size(); ++i) {
    ASSERT_EQ((*values)[i], static_cast<double>(image.pixels[i]) * 2.0 - 1.5) << "pixel " << i;
  }
}

const DepthCase kDepths[] = {
    {"grey1", 1, 0, 1}, {"grey2", 2, 0, 2}, {"grey4", 4, 0, 4}, {"grey8", 8, 0, 8},
    {"grey16", 16, 0, 16}, {"rgb", 8, 2, 24}, {"rgba", 8, 6, 32},
};

std::vector<LayoutCase> layouts() {
  std::vector<LayoutCase> cases;
  for (const DepthCase& d : kDepths) {
    cases.push_back({d, 0, false});
    cases.push_back({d, -1, false});
    cases.push_back({d, -1, true});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Images, PngDepths, ::testing::ValuesIn(layouts()), [](const auto& info) {
  const LayoutCase& c = info.param;
  return std::string(c.depth.label) + (c.filter < 0 ? "_filters" : "_plain") + (c.interlaced ? "_adam7" : "");
});

TEST(PngPacking, WorkedSixteenBitImage) {
  const ByteVector payload = encode_png({3, 1, 16, 0, {0, 1, 65535}});
  auto values = unpack_png(payload, make_drs(41, 100.0f, 0, 1, 16), 3);
  ASSERT_TRUE(values) << values.error();
  EXPECT_EQ(*values, (Values{10.0, 10.100000000000001, 6563.5}));
}

// The image says how its samples are read, whatever depth section 5 states.
TEST(PngPacking, ImageDepthRulesOverTheTemplate) {
  const ByteVector payload = encode_png({4, 1, 8, 0, {0, 7, 200, 255}});
  auto values = unpack_png(payload, make_drs(41, 0.0f, 0, 0, 16), 4);
  ASSERT_TRUE(values) << values.error();
  EXPECT_EQ(*values, (Values{0, 7, 200, 255}));
}

TEST(PngPacking, AncillaryChunksAreSkipped) {
  using test::png_chunk;
  std::vector<std::uint8_t> text{'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'x'};
  const PngImage image{2, 2, 8, 0, {1, 2, 3, 4}};
  const ByteVector payload =
      test::png_file({test::png_ihdr(2, 2, 8, 0), png_chunk("tEXt", text), png_chunk("vpAg", {1, 2, 3}),
                      png_chunk("IDAT", test::zlib_compress(test::png_scanlines(image), 6)), png_chunk("IEND", {})});
  auto values = unpack_png(payload, make_drs(41, 0.0f, 0, 0, 8), 4);
  ASSERT_TRUE(values) << values.error();
  EXPECT_EQ(*values, (Values{1, 2, 3, 4}));
}

TEST(PngPacking, ConstantAndEmptyFieldsNeedNoImage) {
  auto constant = unpack_png({}, make_drs(41, 273.15f, 0, 0, 0), 3);
  ASSERT_TRUE(constant) << constant.error();
  EXPECT_EQ(*constant, Values(3, static_cast<double>(273.15f)));
  auto empty = unpack_png({}, make_drs(41, 0.0f, 0, 0, 8), 0);
  ASSERT_TRUE(empty) << empty.error();
  EXPECT_TRUE(empty->empty());
}

struct RefusalCase {
  const char* label;
  ByteVector payload;
  std::uint64_t count;
  std::string text;  // the whole error, or its start when `prefix`
  bool prefix = false;
};

class PngRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(PngRefusals, FailWithAClearText) {
  const RefusalCase& c = GetParam();
  auto values = unpack_png(c.payload, make_drs(41, 0.0f, 0, 0, 8), c.count);
  ASSERT_FALSE(values);
  if (c.prefix) {
    EXPECT_TRUE(starts_with(values.error(), c.text)) << values.error();
    EXPECT_GT(values.error().size(), c.text.size()) << "the library's reason is missing";
  } else {
    EXPECT_EQ(values.error(), c.text);
  }
}

ByteVector grey_image(std::uint32_t w, std::uint32_t h) {
  PngImage image{w, h, 8, 0, std::vector<std::uint32_t>(std::size_t{w} * h, 9), -1};
  return encode_png(image);
}

// A valid 4 x 4 image whose header claims another size (the CRC recomputed).
ByteVector claiming(std::uint32_t w, std::uint32_t h, std::uint8_t depth = 8, std::uint8_t colour = 0) {
  const PngImage image{4, 4, 8, 0, std::vector<std::uint32_t>(16, 9)};
  return test::png_file({test::png_ihdr(w, h, depth, colour),
                         test::png_chunk("IDAT", test::zlib_compress(test::png_scanlines(image), 6)),
                         test::png_chunk("IEND", {})});
}

ByteVector cut(ByteVector bytes, std::size_t keep) {
  bytes.resize(keep);
  return bytes;
}

ByteVector with_bad_idat_crc() {
  ByteVector bytes = grey_image(4, 4);
  bytes[bytes.size() - 12 - 1] ^= 0xFF;  // last CRC octet of IDAT, before the 12-octet IEND
  return bytes;
}

ByteVector with_short_data() {
  // The scanlines of two rows where the header promises four.
  const PngImage two_rows{4, 2, 8, 0, std::vector<std::uint32_t>(8, 9)};
  return test::png_file({test::png_ihdr(4, 4, 8, 0),
                         test::png_chunk("IDAT", test::zlib_compress(test::png_scanlines(two_rows), 6)),
                         test::png_chunk("IEND", {})});
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, PngRefusals,
    ::testing::Values(
        RefusalCase{"empty", {}, 4, "png decode failed: payload is not a PNG image"},
        RefusalCase{"jpeg2000", {0xFF, 0x4F, 0xFF, 0x51, 0, 0, 0, 0, 0}, 4, "png decode failed: payload is not a PNG image"},
        RefusalCase{"no_header", test::png_file({test::png_chunk("IEND", {})}), 4,
                    "png decode failed: the image header (IHDR) is missing"},
        RefusalCase{"signature_only", cut(grey_image(2, 2), 20), 4,
                    "png decode failed: the image header (IHDR) is missing"},
        RefusalCase{"too_few_pixels", grey_image(4, 4), 17, "png image of 4x4 pixels does not hold the 17 packed values"},
        RefusalCase{"too_many_pixels", grey_image(4, 4), 15, "png image of 4x4 pixels does not hold the 15 packed values"},
        // Checked before anything is allocated for the image.
        RefusalCase{"huge_header", claiming(2000000000, 2000000000), 16,
                    "png image of 2000000000x2000000000 pixels does not hold the 16 packed values"},
        RefusalCase{"palette", claiming(4, 4, 8, 3), 16,
                    "png image of colour type 3 with 8-bit samples holds no GRIB values (greyscale of 1, 2, 4, 8 "
                    "or 16 bits, 8-bit RGB or RGBA)"},
        RefusalCase{"grey_alpha", claiming(4, 4, 8, 4), 16,
                    "png image of colour type 4 with 8-bit samples holds no GRIB values (greyscale of 1, 2, 4, 8 "
                    "or 16 bits, 8-bit RGB or RGBA)"},
        RefusalCase{"rgb16", claiming(4, 4, 16, 2), 16,
                    "png image of colour type 2 with 16-bit samples holds no GRIB values (greyscale of 1, 2, 4, 8 "
                    "or 16 bits, 8-bit RGB or RGBA)"},
        RefusalCase{"grey3", claiming(4, 4, 3, 0), 16,
                    "png image of colour type 0 with 3-bit samples holds no GRIB values (greyscale of 1, 2, 4, 8 "
                    "or 16 bits, 8-bit RGB or RGBA)"},
        RefusalCase{"truncated", cut(grey_image(64, 64), 60), 64 * 64, "png decode failed: ", true},
        RefusalCase{"short_data", with_short_data(), 16, "png decode failed: ", true},
        RefusalCase{"bad_crc", with_bad_idat_crc(), 16, "png decode failed: ", true},
        RefusalCase{"over_bound", grey_image(2, 2), std::uint64_t{1} << 29,
                    "value count 536870912 exceeds the supported maximum 268435456"}),
    [](const auto& info) { return std::string(info.param.label); });

// ------------------------------------------------------------ whole messages

std::filesystem::path testdata(const char* name) {
  return std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata") / name;
}

// MRMS merged RhoHV at 19 km: 7000 x 3500 points as 24-bit RGB, R = -99900,
// D = 2. Counts and samples from an independent decode of the image.
TEST(PngPacking, MrmsFieldDecodes) {
  const auto path = testdata("MRMS_MergedRhoHV_19.00_20260219-042039.grib2");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const auto scan = scan_messages(bytes);
  ASSERT_TRUE(scan) << scan.error();
  ASSERT_EQ(scan->records.size(), 1u);
  const MessageRecord& record = scan->records.front();
  const Bytes message = Bytes(bytes).subspan(record.offset, record.totalLength);

  EXPECT_EQ(decode_message(message, record).error(),
            "GRIB2 data representation template 41 (grid point data - PNG) is not implemented yet");

  const auto decoded = decode_message(message, record, DecodeOptions{.all_templates = true});
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->field.Ni(), 7000u);
  EXPECT_EQ(decoded->field.Nj(), 3500u);
  EXPECT_EQ(decoded->missing_count, 0u);
  const auto& v = decoded->field.values();
  ASSERT_EQ(v.size(), 24500000u);
  EXPECT_EQ(std::count(v.begin(), v.end(), -999.0), 10177095);
  EXPECT_EQ(std::count(v.begin(), v.end(), -99.0), 14322874);
  EXPECT_EQ(std::count_if(v.begin(), v.end(), [](double x) { return x > -99.0; }), 31);
  EXPECT_EQ(*std::max_element(v.begin(), v.end()), 1.05);
  EXPECT_EQ(v[0], -999.0);
  EXPECT_EQ(v[3081140], 0.9500000000000001);
  EXPECT_EQ(v[6846789], 0.97);
  EXPECT_EQ(v[10668728], 1.01);
  EXPECT_EQ(v[12251234], -99.0);
  EXPECT_EQ(v[24499999], -999.0);
}

}  // namespace
}  // namespace vorlak
