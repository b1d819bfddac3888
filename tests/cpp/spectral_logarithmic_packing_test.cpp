// Templates 5.50 (spectral coefficients, the first one unpacked) and 5.61
// (simple packing of logarithms), decoded alone and in whole messages.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "grib/decode_message.hpp"
#include "grib/decoders.hpp"
#include "grib/framing.hpp"
#include "support/message_builder.hpp"
#include "support/payload_encoders.hpp"
#include "support/png_writer.hpp"

namespace vorlak {
namespace {

using test::ByteVector;
using test::make_drs;
using test::pack_simple;

DataRepresentation spectral_drs(float first, float reference, std::int16_t E, std::int16_t D, std::uint8_t bits) {
  DataRepresentation drs = make_drs(50, reference, E, D, bits);
  drs.realPartOfFirstCoefficient = std::bit_cast<std::uint32_t>(first);
  return drs;
}

DataRepresentation logarithm_drs(float B, float reference, std::int16_t E, std::int16_t D, std::uint8_t bits) {
  DataRepresentation drs = make_drs(61, reference, E, D, bits);
  drs.preProcessingParameter = std::bit_cast<std::uint32_t>(B);
  return drs;
}

TEST(SpectralPacking, FirstCoefficientThenPackedOnes) {
  // Four coefficients: the first from section 5, three packed in 12 bits.
  const ByteVector payload = pack_simple(std::vector<std::uint64_t>{0, 1, 4095}, 12);
  auto values = unpack_spectral_simple(payload, spectral_drs(287.25f, 100.0f, 0, 1, 12), 4);
  ASSERT_TRUE(values) << values.error();
  EXPECT_EQ(*values, (Values{287.25, 10.0, 10.100000000000001, 419.5}));

  auto constant = unpack_spectral_simple({}, spectral_drs(-3.5f, 0.25f, 0, 0, 0), 3);
  ASSERT_TRUE(constant) << constant.error();
  EXPECT_EQ(*constant, (Values{-3.5, 0.25, 0.25}));
}

TEST(SpectralPacking, Refusals) {
  // Three packed values needed for four coefficients, two there.
  EXPECT_EQ(unpack_spectral_simple(pack_simple(std::vector<std::uint64_t>{1, 2}, 12), spectral_drs(1.0f, 0.0f, 0, 0, 12), 4).error(),
            "not enough packed bits remaining");
  DataRepresentation no_first = make_drs(50, 0.0f, 0, 0, 8);
  EXPECT_EQ(unpack_spectral_simple(ByteVector{1, 2, 3}, no_first, 4).error(),
            "section 5 template 50 too short: the real part of the (0,0) coefficient is missing");
  EXPECT_EQ(unpack_spectral_simple({}, spectral_drs(1.0f, 0.0f, 0, 0, 65), 2).error(),
            "BitReader only supports reads up to 64 bits");
}

TEST(LogarithmicPacking, ExponentialOfThePackedValuesLessB) {
  // Z = X * 2^-2 + 0.5: 0.5, 0.75, 1.5; Y = exp(Z) - 1.25.
  const ByteVector payload = pack_simple(std::vector<std::uint64_t>{0, 1, 4}, 7);
  auto values = unpack_logarithmic(payload, logarithm_drs(1.25f, 0.5f, -2, 0, 7), 3);
  ASSERT_TRUE(values) << values.error();
  EXPECT_EQ(*values, (Values{std::exp(0.5) - 1.25, std::exp(0.75) - 1.25, std::exp(1.5) - 1.25}));

  DataRepresentation no_b = make_drs(61, 0.0f, 0, 0, 8);
  EXPECT_EQ(unpack_logarithmic(ByteVector{1}, no_b, 1).error(),
            "section 5 template 61 too short: the pre-processing parameter is missing");
  EXPECT_EQ(unpack_logarithmic(ByteVector{1}, logarithm_drs(0.0f, 0.0f, 0, 0, 8), 2).error(), "not enough packed bits remaining");
}

// Octets 21-24 are read when the section has them; a shorter section still
// parses (the message is listed) and the decoder names what is missing.
TEST(SpectralPacking, SectionFiveReaders) {
  for (const std::uint16_t number : {50, 61}) {
    const auto full = parse_section5(test::g2_section5_with_float(number, 4, 0.0f, 0, 0, 8, -2.75f));
    ASSERT_TRUE(full) << full.error();
    const auto& read = number == 50 ? full->realPartOfFirstCoefficient : full->preProcessingParameter;
    ASSERT_TRUE(read);
    EXPECT_EQ(std::bit_cast<float>(*read), -2.75f);
    const auto cut = parse_section5(test::g2_section5({.template_number = number, .count = 4, .bits = 8}));
    ASSERT_TRUE(cut) << cut.error();
    EXPECT_FALSE(cut->realPartOfFirstCoefficient);
    EXPECT_FALSE(cut->preProcessingParameter);
  }
}

// ------------------------------------------------------------ whole messages

Result<DecodedMessage> decode_with(const test::ByteVec& message, const DecodeOptions& options) {
  auto scan = scan_messages(message);
  if (!scan) return fail("scan: " + scan.error());
  const MessageRecord& record = scan->records.front();
  return decode_message(Bytes(message).subspan(record.offset, record.totalLength), record, options);
}

// Triangular truncation T2 on a spherical harmonic grid (template 3.50,
// 28 octets): (2 + 1) * (2 + 2) = 12 real and imaginary parts, one row.
TEST(SpectralPacking, MessageIsOneRowOfCoefficients) {
  test::Writer grid;
  grid.u8(0).u32(12).u8(0).u8(0).u16(50).u32(2).u32(2).u32(2).u8(1).u8(1);
  std::vector<std::uint64_t> packed;
  for (std::uint64_t k = 1; k <= 11; ++k) packed.push_back(k * 3);
  const auto message = test::grib2_message(
      {test::g2_section1(), test::g2_section(3, grid.take()), test::g2_section4(),
       test::g2_section5_with_float(50, 12, -1.0f, -1, 0, 6, 280.5f), test::g2_section6_none(),
       test::g2_section7(pack_simple(packed, 6))});
  const auto decoded = decode_with(message, {.all_templates = true});
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->field.Ni(), 12u);
  EXPECT_EQ(decoded->field.Nj(), 1u);
  EXPECT_FALSE(decoded->coordinates);
  Values expected{280.5};
  for (std::uint64_t x : packed) expected.push_back(static_cast<double>(x) * 0.5 - 1.0);
  EXPECT_EQ(decoded->field.values(), expected);
}

struct TemplateCase {
  const char* label;
  test::ByteVec section5;
  test::ByteVec payload;
  std::string refusal;      // with the default options
  std::vector<double> all;  // with every template; empty: refused there too
  std::string all_refusal = {};
};

class DecodeOptionTemplates : public ::testing::TestWithParam<TemplateCase> {};

// The default options refuse every template beyond the codes API's with
// its texts; the field API's options decode these four.
TEST_P(DecodeOptionTemplates, RefusedByDefaultDecodedOnRequest) {
  const TemplateCase& c = GetParam();
  // An unstructured grid of four points: one row, no coordinates.
  const auto message = test::grib2_message({test::g2_section1(), test::g2_section3_template(101, 4, 1),
                                            test::g2_section4(), c.section5, test::g2_section6_none(),
                                            test::g2_section7(c.payload)});
  const auto refused = decode_with(message, {});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), c.refusal);
  const auto decoded = decode_with(message, {.all_templates = true});
  if (c.all.empty()) {
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error(), c.all_refusal);
    return;
  }
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->field.values(), c.all);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, DecodeOptionTemplates,
    ::testing::Values(
        TemplateCase{"png", test::g2_section5_png(4, 1.0f, 0, 0, 8), test::encode_png({2, 2, 8, 0, {0, 1, 2, 3}}),
                     "GRIB2 data representation template 41 (grid point data - PNG) is not implemented yet",
                     {1, 2, 3, 4}},
        TemplateCase{"spectral", test::g2_section5_with_float(50, 4, 0.0f, 0, 0, 8, 9.5f), {1, 2, 3},
                     "GRIB2 data representation template 50 (unknown) is not implemented yet", {9.5, 1, 2, 3}},
        TemplateCase{"logarithm", test::g2_section5_with_float(61, 4, 0.0f, 0, 0, 8, 1.0f), {0, 0, 0, 0},
                     "GRIB2 data representation template 61 (unknown) is not implemented yet", {0, 0, 0, 0}},
        TemplateCase{"run_length", test::g2_section5_run_length(4, 8, 2, {7, 9}), {0x02, 0x06},
                     "GRIB2 data representation template 200 (unknown) is not implemented yet", {9, 9, 9, 9}},
        TemplateCase{"spectral_complex", test::g2_section5({.template_number = 51, .count = 4}), {},
                     "GRIB2 data representation template 51 (unknown) is not implemented yet", {},
                     "GRIB2 data representation template 51 (unknown) is not implemented yet"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace vorlak
