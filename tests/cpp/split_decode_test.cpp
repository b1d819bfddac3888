// A field split across threads against the same field decoded whole: every
// template, bit widths, group layouts and missing value management, on
// generated fields, broken copies of them and the real files. Here every
// field is split, however small, into many pieces. The split route must
// give the same values bit for bit, or fail with the same text. Complex
// packing is also checked against the plain route of optional integers
// (undo_differencing, scale_optional), and every kernel set must agree.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "grib/complex_packing.hpp"
#include "grib/decode_message.hpp"
#include "grib/decoders.hpp"
#include "grib/framing.hpp"
#include "grib/text.hpp"
#include "support/kernel_sets.hpp"
#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

using test::ByteVector;
using test::ComplexGroup;
using test::ComplexLayout;

DecodeOptions split(unsigned threads) {
  DecodeOptions options;
  options.threads = threads;
  options.split_threshold = 0;
  return options;
}

constexpr unsigned kThreadCounts[] = {2, 3, 7};

using Decoder = Result<Values> (*)(Bytes, const DataRepresentation&, std::uint64_t, const DecodeOptions&);

std::uint64_t bits_of(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

void expect_same(const Result<Values>& want, const Result<Values>& got, const std::string& what) {
  ASSERT_EQ(got.has_value(), want.has_value()) << what << ": " << (got ? want.error() : got.error());
  if (!want) {
    EXPECT_EQ(got.error(), want.error()) << what;
    return;
  }
  ASSERT_EQ(got->size(), want->size()) << what;
  for (std::size_t i = 0; i < want->size(); ++i) {
    ASSERT_EQ(bits_of((*got)[i]), bits_of((*want)[i])) << what << ", value " << i << ": " << (*got)[i] << " vs "
                                                      << (*want)[i];
  }
}

// Whole under every kernel set (all alike, and like `oracle` when given),
// then split on several thread counts; gives the whole result.
Result<Values> check_routes(Decoder decode, Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                            const std::string& what, const Values* oracle = nullptr) {
  std::optional<Result<Values>> first;
  for (const UnpackKernels* set : available_kernels()) {
    test::ScopedKernels kernels(set);
    const std::string label = what + " [" + set->name + "]";
    const Result<Values> whole = decode(payload, drs, count, DecodeOptions{});
    if (oracle) expect_same(Result<Values>(*oracle), whole, label + " against the plain route");
    if (first) {
      expect_same(*first, whole, label + " against the first kernel set");
    } else {
      first = whole;
    }
    for (unsigned threads : kThreadCounts) {
      expect_same(whole, decode(payload, drs, count, split(threads)), label + ", " + std::to_string(threads) + " threads");
    }
  }
  return *first;
}

// ------------------------------------------------------------ complex packing

enum class Groups { short_mixed, long_runs, many_empty, missing_first };

struct ComplexCase {
  unsigned order;
  std::uint8_t management;
  Groups groups;
};

std::string describe(const ComplexCase& c) {
  static const char* kGroups[] = {"short mixed", "long runs", "many empty", "missing first"};
  return str_cat("order ", c.order, ", management ", unsigned{c.management}, ", ",
                 kGroups[static_cast<int>(c.groups)]);
}

void PrintTo(const ComplexCase& c, std::ostream* os) { *os << describe(c); }

// References below 1000 with bitsPerValue 10, so 1023 and 1022 are the
// missing codes of constant groups; packed values hit their width's codes
// now and then.
ComplexLayout random_layout(std::mt19937_64& rng, const ComplexCase& c) {
  const unsigned widths[] = {0, 0, 1, 2, 3, 4, 5, 7, 8, 11, 12, 13, 16, 24, 31, 32, 33};
  ComplexLayout layout;
  layout.missing_management = c.management;
  layout.groups.push_back(ComplexGroup{1000, 0, {0}});
  std::size_t points = 1;
  const std::size_t target = c.groups == Groups::long_runs ? 40000 : 6000;
  while (points < target) {
    ComplexGroup g;
    g.reference = rng() % 1000;
    g.width = widths[rng() % std::size(widths)];
    std::size_t length = c.groups == Groups::long_runs ? 500 + rng() % 4000 : 1 + rng() % 40;
    if (c.groups == Groups::many_empty && rng() % 2) length = 0;
    const bool hide = c.groups == Groups::missing_first && points < target / 3;
    if (g.width == 0 && (hide || rng() % 6 == 0)) g.reference = 1023 - rng() % 2;
    const std::uint64_t ones = g.width == 0 ? 0 : (std::uint64_t{1} << g.width) - 1;
    for (std::size_t i = 0; i < length; ++i) {
      std::uint64_t x = ones == 0 ? 0 : rng() & ones;
      if (g.width > 0 && (hide || rng() % 7 == 0)) x = ones - (rng() % 2);
      g.values.push_back(x);
    }
    points += length;
    layout.groups.push_back(std::move(g));
  }
  if (c.order) {
    layout.order = c.order;
    layout.descriptor_octets = 3;
    layout.initial_values = {static_cast<std::int64_t>(rng() % 5000) - 2500, static_cast<std::int64_t>(rng() % 5000)};
    layout.initial_values.resize(c.order);
    layout.overall_minimum = -static_cast<std::int64_t>(rng() % 3000);
  }
  return layout;
}

// The plain route: one optional integer per point, then differencing, then
// scaling, with the missing codes of the drs the encoder chose.
Values plain_route(const ComplexLayout& layout, const DataRepresentation& drs) {
  const unsigned m = drs.missingValueManagement;
  const std::uint64_t primary = drs.bitsPerValue == 0 ? 0 : (std::uint64_t{1} << drs.bitsPerValue) - 1;
  const std::uint64_t secondary = primary == 0 ? 0 : primary - 1;
  OptionalIntegers ints;
  for (const ComplexGroup& g : layout.groups) {
    const std::uint64_t ones = g.width == 0 ? 0 : (std::uint64_t{1} << g.width) - 1;
    for (std::uint64_t x : g.values) {
      bool missing;
      if (g.width == 0) {
        missing = m != 0 && (g.reference == primary || (m == 2 && g.reference == secondary));
      } else {
        missing = (m == 1 && x == ones) || (m == 2 && (x == ones || x == ones - 1));
      }
      ints.push_back(missing ? std::nullopt : std::optional<std::int64_t>(static_cast<std::int64_t>(g.reference + x)));
    }
  }
  if (layout.order) {
    SpatialDifferencing sd{static_cast<std::uint8_t>(layout.order), layout.initial_values, layout.overall_minimum};
    ints = *undo_differencing(std::move(ints), sd);
  }
  return scale_optional(ints, drs);
}

std::uint64_t points_of(const ComplexLayout& layout) {
  std::uint64_t n = 0;
  for (const auto& g : layout.groups) n += g.values.size();
  return n;
}

class SplitComplex : public ::testing::TestWithParam<ComplexCase> {};

TEST_P(SplitComplex, SameValuesAsWholeAndAsThePlainRoute) {
  const ComplexCase& c = GetParam();
  std::mt19937_64 rng(c.order * 100 + c.management * 10 + static_cast<unsigned>(c.groups));
  for (int trial = 0; trial < 3; ++trial) {
    const ComplexLayout layout = random_layout(rng, c);
    const auto e = test::encode_complex(layout, -7.25f, -3, 1);
    ASSERT_EQ(e.drs.bitsPerValue, 10);
    const Values oracle = plain_route(layout, e.drs);
    check_routes(unpack_complex, e.payload, e.drs, points_of(layout), describe(c) + str_cat(", trial ", trial),
                 &oracle);
  }
}

TEST_P(SplitComplex, BrokenCopiesFailAlikeOrDecodeAlike) {
  const ComplexCase& c = GetParam();
  std::mt19937_64 rng(c.order * 100 + c.management * 10 + static_cast<unsigned>(c.groups) + 7);
  const ComplexLayout layout = random_layout(rng, c);
  const auto e = test::encode_complex(layout, 1.5f, 0, 0);
  const std::uint64_t n = points_of(layout);
  for (int trial = 0; trial < 12; ++trial) {
    ByteVector payload = e.payload;
    DataRepresentation drs = e.drs;
    std::uint64_t count = n;
    switch (trial % 6) {
      case 0: payload.resize(rng() % payload.size()); break;
      case 1:
        for (int k = 0; k < 4; ++k) payload[rng() % std::min<std::size_t>(payload.size(), 3 * drs.numberOfGroups)] ^= 1u << (rng() % 8);
        break;
      case 2: count += (rng() % 2) ? 1 : -1; break;
      case 3: drs.numberOfGroups += (rng() % 2) ? 1 : -1; break;
      case 4: drs.trueLengthOfLastGroup += static_cast<std::uint32_t>(rng() % 5); break;
      case 5: drs.bitsForGroupWidths = static_cast<std::uint8_t>(rng() % 12); break;
    }
    check_routes(unpack_complex, payload, drs, count, describe(c) + str_cat(", broken copy ", trial));
  }
}

std::vector<ComplexCase> complex_cases() {
  std::vector<ComplexCase> cases;
  for (unsigned order : {0u, 1u, 2u}) {
    for (std::uint8_t management : {0, 1, 2}) {
      for (Groups g : {Groups::short_mixed, Groups::long_runs, Groups::many_empty, Groups::missing_first}) {
        cases.push_back({order, management, g});
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Layouts, SplitComplex, ::testing::ValuesIn(complex_cases()), [](const auto& info) {
  std::string label = describe(info.param);
  for (char& ch : label) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return label;
});

// The initial values of 5.3 when the points are fewer than the order, and
// when the present points before a piece's end are fewer.
TEST(SplitComplexEdges, FewPointsAndInitialValuesAcrossPieces) {
  for (std::uint8_t management : {0, 1}) {
    for (unsigned order : {1u, 2u}) {
      for (std::uint64_t points : {0u, 1u, 2u, 3u}) {
        ComplexLayout layout;
        layout.order = order;
        layout.initial_values = {7, 19};
        layout.initial_values.resize(order);
        layout.overall_minimum = -2;
        layout.missing_management = management;
        layout.groups = {ComplexGroup{3, 2, std::vector<std::uint64_t>(points, 1)}};
        const auto e = test::encode_complex(layout);
        for (std::uint64_t count = 0; count <= 3; ++count) {
          check_routes(unpack_complex, e.payload, e.drs, count,
                       str_cat("order ", order, ", management ", unsigned{management}, ", ", points, " points, count ",
                               count));
        }
      }
    }
  }
  // One present point per group between missing ones: the initial values
  // are handed out in different pieces.
  ComplexLayout layout;
  layout.order = 2;
  layout.initial_values = {100, 90};
  layout.missing_management = 1;
  for (int g = 0; g < 40; ++g) {
    layout.groups.push_back(ComplexGroup{5, 2, {3, 3, static_cast<std::uint64_t>(g % 3), 3}});
  }
  const auto e = test::encode_complex(layout);
  const Values oracle = plain_route(layout, e.drs);
  check_routes(unpack_complex, e.payload, e.drs, points_of(layout), "sparse present points", &oracle);
}

// ------------------------------------------------------------ the other templates

TEST(SplitSimple, EveryWidth) {
  std::mt19937_64 rng(3);
  for (unsigned width : {0u, 1u, 7u, 8u, 12u, 13u, 16u, 24u, 31u, 32u, 33u, 57u, 63u, 64u}) {
    const std::uint64_t mask = width == 64 ? ~0ull : (1ull << width) - 1;
    std::vector<std::uint64_t> ints(3001);
    for (auto& x : ints) x = rng() & mask;
    const ByteVector payload = test::pack_simple(ints, width);
    const DataRepresentation drs = test::make_drs(0, 2.5f, -2, 1, static_cast<std::uint8_t>(width));
    check_routes(unpack_simple, payload, drs, ints.size(), str_cat("width ", width));
    check_routes(unpack_simple, Bytes(payload).first(payload.size() / 2), drs, ints.size(),
                 str_cat("width ", width, ", cut short"));
  }
}

TEST(SplitIeee, BothPrecisionsWithSpecialValues) {
  std::mt19937_64 rng(4);
  ByteVector bytes(8 * 2003);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  for (std::uint8_t width : {32, 64}) {
    const DataRepresentation drs = test::make_drs(4, 0.0f, 0, 0, width);
    check_routes(unpack_ieee, bytes, drs, bytes.size() * 8 / width, str_cat(unsigned{width}, " bits"));
    check_routes(unpack_ieee, bytes, drs, bytes.size() * 8 / width + 1, str_cat(unsigned{width}, " bits, short"));
  }
}

TEST(SplitCcsds, SampleSizesFlagsAndBrokenStreams) {
  std::mt19937_64 rng(5);
  const test::AecSettings settings[] = {
      {8, 32, 128, AEC_DATA_PREPROCESS},
      {12, 16, 64, AEC_DATA_PREPROCESS | AEC_DATA_SIGNED},
      {16, 64, 4096, AEC_DATA_MSB},
      {24, 32, 128, AEC_DATA_PREPROCESS | AEC_DATA_3BYTE | AEC_DATA_MSB},
      {24, 32, 128, AEC_DATA_PREPROCESS},
      {32, 8, 32, AEC_DATA_PREPROCESS | AEC_DATA_MSB},
  };
  for (const auto& s : settings) {
    for (std::size_t n : {50u, 5001u, 100'000u}) {
      std::vector<std::int64_t> samples(n);
      for (auto& v : samples) v = static_cast<std::int64_t>(rng() % (1ull << std::min(s.bits, 31u)));
      ByteVector payload = test::encode_ccsds(samples, s);
      const DataRepresentation drs = test::ccsds_drs(s, 3.0f, 1, 2);
      const std::string what = str_cat(s.bits, " bits, flags ", s.flags, ", ", n, " samples");
      check_routes(unpack_ccsds, payload, drs, n, what);
      check_routes(unpack_ccsds, payload, drs, n + 3, what + ", more asked for");
      payload.resize(payload.size() * 2 / 3);
      check_routes(unpack_ccsds, payload, drs, n, what + ", cut short");
    }
  }
}

TEST(SplitJpeg2000, OpenJpegThreadsGiveTheSameSamples) {
  std::mt19937_64 rng(6);
  for (bool jp2 : {false, true}) {
    test::Jpeg2000Image image{97, 61, 12, 1, jp2, {}};
    for (std::uint32_t i = 0; i < image.width * image.height; ++i) {
      image.samples.push_back(static_cast<std::int32_t>((i % 97) * 30 + rng() % 64));
    }
    ByteVector payload = test::encode_jpeg2000(image);
    const DataRepresentation drs = test::make_drs(40, 100.0f, 0, 1, 12);
    const std::uint64_t n = std::uint64_t{image.width} * image.height;
    check_routes(unpack_jpeg2000, payload, drs, n, jp2 ? "JP2" : "code stream");
    for (int trial = 0; trial < 6; ++trial) {
      ByteVector broken = payload;
      if (trial % 2) {
        broken.resize(broken.size() / 2 + rng() % (broken.size() / 2));
      } else {
        for (int k = 0; k < 3; ++k) broken[100 + rng() % (broken.size() - 100)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
      }
      check_routes(unpack_jpeg2000, broken, drs, n, str_cat(jp2 ? "JP2" : "code stream", ", broken copy ", trial));
    }
  }
}

// ------------------------------------------------------------ whole messages

std::filesystem::path testdata() { return std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata"); }

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void expect_same_message(const Result<DecodedMessage>& want, const Result<DecodedMessage>& got,
                         const std::string& what) {
  ASSERT_EQ(got.has_value(), want.has_value()) << what << ": " << (got ? want.error() : got.error());
  if (!want) {
    EXPECT_EQ(got.error(), want.error()) << what;
    return;
  }
  EXPECT_EQ(got->missing_count, want->missing_count) << what;
  const auto& a = want->field.values();
  const auto& b = got->field.values();
  ASSERT_EQ(b.size(), a.size()) << what;
  ASSERT_TRUE(a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0) << what;
}

// Byte ranges of one edition 2 section by number (the last one), from the
// section lengths.
std::optional<std::pair<std::size_t, std::size_t>> section_span(Bytes message, unsigned number) {
  std::optional<std::pair<std::size_t, std::size_t>> found;
  for (std::size_t at = 16; at + 5 <= message.size();) {
    const std::size_t length = (std::size_t{message[at]} << 24) | (std::size_t{message[at + 1]} << 16) |
                               (std::size_t{message[at + 2]} << 8) | message[at + 3];
    if (length < 5 || at + length > message.size()) break;
    if (message[at + 4] == number) found = std::pair{at, length};
    at += length;
  }
  return found;
}

TEST(SplitMessages, RealFilesDecodeAlikeWholeAndSplit) {
  if (!std::filesystem::is_directory(testdata())) GTEST_SKIP() << "no " << testdata();
  DecodeOptions pair;
  pair.threads = 2;  // the default threshold: only the large fields split
  for (const auto& entry : std::filesystem::directory_iterator(testdata())) {
    const auto ext = entry.path().extension();
    if (ext != ".grib1" && ext != ".grib2") continue;
    const auto bytes = read_file(entry.path());
    const auto scan = scan_messages(bytes);
    if (!scan) continue;
    for (const MessageRecord& record : scan->records) {
      const Bytes message = Bytes(bytes).subspan(record.offset, record.totalLength);
      const std::string what = str_cat(entry.path().filename().string(), " message ", record.messageNumber);
      const auto whole = decode_message(message, record);
      expect_same_message(whole, decode_message(message, record, split(3)), what + ", every field split");
      expect_same_message(whole, decode_message(message, record, pair), what + ", two threads");
    }
  }
}

// Broken copies of the real messages: octets of section 5 and of the start
// and middle of section 7 changed. Fields of up to about a million points,
// and the JPEG 2000 ones only from one file, to keep the work small.
TEST(SplitMessages, BrokenRealMessagesFailAlikeOrDecodeAlike) {
  if (!std::filesystem::is_directory(testdata())) GTEST_SKIP() << "no " << testdata();
  std::mt19937_64 rng(8);
  int copies = 0;
  for (const auto& entry : std::filesystem::directory_iterator(testdata())) {
    if (entry.path().extension() != ".grib2") continue;
    const std::string name = entry.path().filename().string();
    const auto bytes = read_file(entry.path());
    const auto scan = scan_messages(bytes);
    if (!scan) continue;
    for (const MessageRecord& record : scan->records) {
      if (record.messageNumber > 2) break;
      const auto original = Bytes(bytes).subspan(record.offset, record.totalLength);
      const auto s5 = section_span(original, 5);
      const auto s7 = section_span(original, 7);
      if (!s5 || !s7 || s7->second < 64) continue;
      const auto collected = collect_grib2(original);
      if (!collected || std::uint64_t{collected->grid.Ni} * collected->grid.Nj > 1'100'000) continue;
      const bool jpeg = collected->representation.dataRepresentationTemplateNumber == 40;
      if (jpeg && name.rfind("CMC", 0) != 0) continue;
      for (int trial = 0; trial < 4; ++trial) {
        std::vector<std::uint8_t> message(original.begin(), original.end());
        const std::size_t body7 = s7->first + 5;
        if (trial == 0) {
          message[s5->first + 11 + rng() % (s5->second - 11)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        } else {
          const std::size_t span = trial == 1 ? std::min<std::size_t>(64, s7->second - 5) : s7->second - 5;
          message[body7 + rng() % span] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        }
        const std::string what = str_cat(name, " message ", record.messageNumber, ", broken copy ", trial);
        const auto whole = decode_message(message, record);
        expect_same_message(whole, decode_message(message, record, split(3)), what);
        ++copies;
      }
    }
  }
  EXPECT_GE(copies, 40);
}

}  // namespace
}  // namespace vorlak
