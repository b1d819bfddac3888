// Framing: finding messages among junk, numbering, truncation, lengths that
// would overflow, the message byte accessor and the checked readers.
#include "grib/framing.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "support/message_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;

ByteVec junk(std::size_t n, std::uint8_t fill = 0x5A) { return ByteVec(n, fill); }

std::vector<std::uint64_t> offsets_of(const ScanResult& scan) {
  std::vector<std::uint64_t> out;
  for (const auto& r : scan.records) out.push_back(r.offset);
  return out;
}

TEST(FramingScan, TooSmallOrEmptyBuffersFindNothing) {
  for (const ByteVec& buffer : {ByteVec{}, ByteVec{'G'}, ByteVec{'G', 'R'}, ByteVec{'G', 'R', 'I'},
                                ByteVec{'G', 'R', 'I', 'B'}, ByteVec{'G', 'R', 'I', 'B', 0, 0, 0}}) {
    auto scan = scan_messages(buffer);
    ASSERT_FALSE(scan) << buffer.size();
    EXPECT_EQ(scan.error(), "no GRIB messages found");
  }
}

// Junk of various sizes before, between and after messages of both editions.
struct JunkLayout {
  std::size_t before, between, after;
  std::uint8_t fill;
};

class FramingJunk : public ::testing::TestWithParam<JunkLayout> {};

TEST_P(FramingJunk, MessagesAreFoundAndNumberedInOrder) {
  const JunkLayout layout = GetParam();
  const ByteVec m2 = test::minimal_grib2();
  const ByteVec m1 = test::minimal_grib1();
  const ByteVec buffer = test::concat({junk(layout.before, layout.fill), m2, junk(layout.between, layout.fill), m1,
                                       m2, junk(layout.after, layout.fill)});
  auto scan = scan_messages(buffer);
  ASSERT_TRUE(scan) << scan.error();
  ASSERT_EQ(scan->records.size(), 3u);
  const std::uint64_t second = layout.before + m2.size() + layout.between;
  EXPECT_EQ(offsets_of(*scan), (std::vector<std::uint64_t>{layout.before, second, second + m1.size()}));
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(scan->records[i].messageNumber, i + 1);
  EXPECT_EQ(scan->records[0].edition, Edition::Two);
  EXPECT_EQ(scan->records[1].edition, Edition::One);
  EXPECT_EQ(scan->records[0].totalLength, m2.size());
  EXPECT_EQ(scan->records[1].totalLength, m1.size());
  EXPECT_FALSE(scan->no_grib1_messages);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FramingJunk,
                         ::testing::Values(JunkLayout{0, 0, 0, 0}, JunkLayout{1, 1, 1, 0}, JunkLayout{3, 7, 2, 'G'},
                                           JunkLayout{100, 0, 3, 0xFF}, JunkLayout{0, 513, 4, 'R'},
                                           JunkLayout{17, 17, 1000, '7'}));

TEST(FramingScan, MagicFragmentsAmongJunkAreSkipped) {
  const ByteVec m2 = test::minimal_grib2();
  // "GRI", "GRIB" followed by junk edition bytes, and a trailing "GRIB" with fewer than 8 bytes.
  const ByteVec buffer = test::concat({ByteVec{'G', 'R', 'I', 'G', 'R', 'I', 'B', 0, 0, 0, 9, 'G'}, m2,
                                       ByteVec{'G', 'R', 'I', 'B', 0, 0, 2}});
  auto scan = scan_messages(buffer);
  ASSERT_TRUE(scan) << scan.error();
  ASSERT_EQ(scan->records.size(), 1u);
  EXPECT_EQ(scan->records[0].offset, 12u);
  EXPECT_TRUE(scan->no_grib1_messages);
}

TEST(FramingScan, UnsupportedEditionIsSkippedAndTakesNoNumber) {
  ByteVec bad = test::minimal_grib2();
  bad[7] = 3;
  const ByteVec good = test::minimal_grib2();
  auto scan = scan_messages(test::concat({good, bad, good}));
  ASSERT_TRUE(scan) << scan.error();
  ASSERT_EQ(scan->records.size(), 2u);
  EXPECT_EQ(scan->records[1].offset, good.size() + bad.size());
  EXPECT_EQ(scan->records[1].messageNumber, 2u);
}

TEST(FramingScan, MissingEndMarkerResumesInsideTheBrokenMessage) {
  // The inner message sits inside the payload of an outer one.
  const ByteVec inner = test::minimal_grib2();
  const ByteVec outer = test::grib2_message({test::g2_section1(), test::g2_section7(inner)}, 0, {}, "7778");
  auto scan = scan_messages(outer);
  ASSERT_TRUE(scan) << scan.error();
  ASSERT_EQ(scan->records.size(), 1u);
  EXPECT_EQ(scan->records[0].offset, 16u + 21u + 5u);
  EXPECT_EQ(scan->records[0].totalLength, inner.size());
}

TEST(FramingScan, MagicInsideAnAcceptedMessageIsNotAMessage) {
  const ByteVec inner = test::minimal_grib2();
  std::vector<ByteVec> sections{test::g2_section1(), test::g2_section3_latlon({})};
  for (auto& s : test::g2_simple_field({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 8)) sections.push_back(s);
  sections.insert(sections.begin() + 1, test::g2_section(2, inner));  // local use section holding a message
  const ByteVec outer = test::grib2_message(sections);
  auto scan = scan_messages(test::concat({outer, inner}));
  ASSERT_TRUE(scan) << scan.error();
  EXPECT_EQ(offsets_of(*scan), (std::vector<std::uint64_t>{0, outer.size()}));
}

TEST(FramingScan, Grib1EndMarkerIsNotChecked) {
  const ByteVec m1 = test::grib1_message(test::g1_pds(), test::g1_gds_latlon({}), {},
                                         test::g1_bds_simple(test::pack_simple({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 8, 0, {}, true)),
                                         {}, "ABCD");
  auto scan = scan_messages(m1);
  ASSERT_TRUE(scan) << scan.error();
  EXPECT_EQ(scan->records[0].edition, Edition::One);
  EXPECT_FALSE(scan->no_grib1_messages);
}

TEST(FramingScan, IndicatorAndEndMarkerOnlyIsNotAMessage) {
  auto scan = scan_messages(test::grib2_message(std::vector<ByteVec>{}));
  ASSERT_FALSE(scan);
  EXPECT_EQ(scan.error(), "no GRIB messages found");
}

// Declared lengths that are too small, too large, or so large that offset +
// length would wrap around 64 bits: the message is skipped, a following one found.
struct BadLength {
  int edition;
  std::uint64_t length;
};

class FramingBadLength : public ::testing::TestWithParam<BadLength> {};

TEST_P(FramingBadLength, MessageIsSkipped) {
  const auto [edition, length] = GetParam();
  const ByteVec good = test::minimal_grib2();
  ByteVec bad = edition == 2 ? test::grib2_message({test::g2_section1()}, 0, length)
                             : test::grib1_message(test::g1_pds(), test::g1_gds_latlon({}), {}, {},
                                                   static_cast<std::uint32_t>(length));
  for (const std::size_t lead : {std::size_t{0}, std::size_t{5}}) {
    auto scan = scan_messages(test::concat({junk(lead), bad, good}));
    ASSERT_TRUE(scan) << scan.error();
    ASSERT_EQ(scan->records.size(), 1u);
    EXPECT_EQ(scan->records[0].offset, lead + bad.size());
    EXPECT_EQ(scan->records[0].messageNumber, 1u);
  }
}

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();
INSTANTIATE_TEST_SUITE_P(Lengths, FramingBadLength,
                         ::testing::Values(BadLength{2, 0}, BadLength{2, 19}, BadLength{2, kMax64},
                                           BadLength{2, kMax64 - 4}, BadLength{2, kMax64 - 15},
                                           BadLength{2, std::uint64_t{1} << 63}, BadLength{2, 1u << 20},
                                           BadLength{1, 0}, BadLength{1, 7}, BadLength{1, 0xFFFFFF},
                                           BadLength{1, 0x800000}));

// Every proper prefix of a message is refused, never read past its end (the
// prefix is its own allocation, so an overread shows under the sanitizers).
TEST(FramingTruncation, EveryPrefixIsRefused) {
  for (const ByteVec& whole : {test::minimal_grib2(), test::minimal_grib1()}) {
    for (std::size_t n = 0; n < whole.size(); ++n) {
      const ByteVec prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
      auto scan = scan_messages(prefix);
      ASSERT_FALSE(scan) << "prefix " << n << " of " << whole.size();
      EXPECT_EQ(scan.error(), "no GRIB messages found");
    }
  }
}

TEST(FramingTruncation, CompleteMessageAfterATruncatedOneIsFound) {
  const ByteVec whole = test::minimal_grib2();
  for (std::size_t n = 1; n < whole.size(); ++n) {
    const ByteVec buffer = test::concat({ByteVec(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)), whole});
    auto scan = scan_messages(buffer);
    ASSERT_TRUE(scan) << "prefix " << n;
    ASSERT_EQ(scan->records.size(), 1u) << "prefix " << n;
    EXPECT_EQ(scan->records[0].offset, n);
  }
}

TEST(FramingTruncation, SectionWalkFailuresAreSkipped) {
  // Section 3's length field set to 0..4 and past the end of the message.
  const ByteVec whole = test::minimal_grib2();
  const std::size_t s3 = 16 + 21;
  for (const std::uint32_t length : {0u, 1u, 2u, 3u, 4u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    ByteVec bad = whole;
    bad[s3] = static_cast<std::uint8_t>(length >> 24);
    bad[s3 + 1] = static_cast<std::uint8_t>(length >> 16);
    bad[s3 + 2] = static_cast<std::uint8_t>(length >> 8);
    bad[s3 + 3] = static_cast<std::uint8_t>(length);
    EXPECT_FALSE(scan_messages(bad)) << length;
    auto scan = scan_messages(test::concat({bad, whole}));
    ASSERT_TRUE(scan);
    EXPECT_EQ(offsets_of(*scan), (std::vector<std::uint64_t>{bad.size()})) << length;
  }
}

// ---------------------------------------------------------------- message bytes

TEST(MessageBytes, SharedBufferSlicesAndChecksTheRange) {
  const ByteVec file = test::concat({junk(3), test::minimal_grib2()});
  auto shared = BytesSource::shared(ByteBlock::copy_of(file));
  MessageRecord record;
  record.messageNumber = 3;
  record.offset = 3;
  record.totalLength = file.size() - 3;
  auto bytes = message_bytes(shared, record);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), record.totalLength);
  EXPECT_EQ((*bytes)[0], 'G');

  record.totalLength += 1;
  EXPECT_EQ(message_bytes(shared, record).error(), "message 3 bytes are out of range for cached file");
  record.offset = kMax64 - 2;
  record.totalLength = 3;
  EXPECT_EQ(message_bytes(shared, record).error(), "message byte range overflowed");
  record.totalLength = 2;
  EXPECT_EQ(message_bytes(shared, record).error(), "message 3 bytes are out of range for cached file");
}

TEST(MessageBytes, PrivateCopyAndNone) {
  const ByteVec message = test::minimal_grib1();
  MessageRecord record;
  record.offset = 1000;  // ignored for a private copy
  auto bytes = message_bytes(BytesSource::private_copy(ByteBlock::copy_of(message)), record);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), message.size());
  EXPECT_EQ(message_bytes(BytesSource{}, record).error(), "raw message bytes are unavailable");
}

// ---------------------------------------------------------------- readers

TEST(ByteReaders, CheckedReadsStayInside) {
  const ByteVec b{0x01, 0x02, 0x03, 0x04, 0x05};
  EXPECT_EQ(read_u24_be(b, 0).value(), 0x010203u);
  EXPECT_EQ(read_u24_be(b, 2).value(), 0x030405u);
  EXPECT_EQ(read_u24_be(b, 3).error(), "read_u24_be out of range at offset 3");
  const std::size_t huge = std::numeric_limits<std::size_t>::max() - 1;
  EXPECT_EQ(read_u24_be(b, huge).error(), "read_u24_be out of range at offset " + std::to_string(huge));
  const std::uint8_t eight[8] = {0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88};
  EXPECT_EQ(read_u64_be(eight), 0xFFEEDDCCBBAA9988ull);
  EXPECT_EQ(sign_magnitude_32(0x80000005u), -5);
  EXPECT_EQ(sign_magnitude_16(0x8003u), -3);
  EXPECT_EQ(sign_magnitude_24(0x800001u), -1);
  EXPECT_EQ(sign_magnitude_24(0x7FFFFFu), 0x7FFFFF);
}

struct EntryCase {
  Edition edition;
  ByteVec message;
  const char* error;  // nullptr: accepted
};

TEST(DecodeEntry, EditionAndMagicChecks) {
  const ByteVec g2(20, 0);
  ByteVec grib20 = g2;
  grib20[0] = 'G', grib20[1] = 'R', grib20[2] = 'I', grib20[3] = 'B';
  const ByteVec grib19(grib20.begin(), grib20.end() - 1);
  const ByteVec grib8(grib20.begin(), grib20.begin() + 8);
  const ByteVec grib7(grib20.begin(), grib20.begin() + 7);
  const std::vector<EntryCase> cases{
      {Edition::Unknown, grib20, "message edition is unknown"},
      {Edition::Two, grib20, nullptr},
      {Edition::Two, grib19, "input is not a GRIB message"},
      {Edition::Two, g2, "input is not a GRIB message"},
      {Edition::One, grib8, nullptr},
      {Edition::One, grib7, "input is not a GRIB1 message"},
      {Edition::One, ByteVec(8, 'G'), "input is not a GRIB1 message"},
  };
  for (const auto& c : cases) {
    MessageRecord record;
    record.edition = c.edition;
    auto checked = check_decode_entry(c.message, record);
    if (c.error == nullptr) {
      EXPECT_TRUE(checked) << checked.error();
    } else {
      ASSERT_FALSE(checked);
      EXPECT_EQ(checked.error(), c.error);
    }
  }
}

// ---------------------------------------------------------------- real files

struct RealFile {
  const char* name;
  std::size_t messages;
  Edition edition;
  int grid_template;  // of the first message
  int data_template;  // of the first message; -1 for GRIB1
};

class FramingRealFiles : public ::testing::TestWithParam<RealFile> {};

TEST_P(FramingRealFiles, ScanFindsEveryMessage) {
  const RealFile& f = GetParam();
  const std::filesystem::path path = std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata") / f.name;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "test data absent: " << path;
  std::ifstream in(path, std::ios::binary);
  const ByteVec bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto scan = scan_messages(bytes);
  ASSERT_TRUE(scan) << scan.error();
  EXPECT_EQ(scan->records.size(), f.messages);
  std::uint64_t end = 0;
  for (const auto& r : scan->records) {
    EXPECT_EQ(r.edition, f.edition);
    EXPECT_GE(r.offset, end);
    end = r.offset + r.totalLength;
    EXPECT_TRUE(r.parameterNumber);
    EXPECT_GE(r.field_count, 1u);
  }
  EXPECT_LE(end, bytes.size());
  const MessageRecord& first = scan->records.front();
  EXPECT_EQ(first.gridDefinitionTemplateNumber.value_or(0xFFFF), f.grid_template);
  EXPECT_EQ(first.dataRepresentationTemplateNumber.value_or(0xFFFF), f.data_template < 0 ? 0xFFFF : f.data_template);
  EXPECT_EQ(scan->no_grib1_messages, f.edition != Edition::One);
}

INSTANTIATE_TEST_SUITE_P(
    TestData, FramingRealFiles,
    ::testing::Values(
        RealFile{"hrrr.t06z.wrfsfcf01-UGRD.grib2", 1, Edition::Two, 30, 0},
        RealFile{"s2s-pdt9-pdt10-pdt12.grib2", 10, Edition::Two, 0, 0},
        RealFile{"s2s-pdt12-pdt107-anomaly.grib2", 4, Edition::Two, 0, 0},
        RealFile{"jma_kousa_dust_multifield.grib2", 1, Edition::Two, 0, 0},
        RealFile{"icon_global_icosahedral_single-level_2021112018_000_TOT_PREC.grib2", 1, Edition::Two, 101, 0},
        RealFile{"ndfd_critfireo.grib2", 4, Edition::Two, 30, 2},
        RealFile{"gfs.t12z.pgrb2.0p25.f023-PV-TMP-missing.grib2", 1, Edition::Two, 0, 3},
        RealFile{"gdas.t12z.pgrb2.0p25.f000.msg13.grib2", 1, Edition::Two, 0, 3},
        RealFile{"gdas.t00z.sfluxgrbf000.msg1.grib2", 1, Edition::Two, 40, 3},
        RealFile{"aqm.t12z.ave_1hr_o3-AK-polar-stereographic.grib2", 1, Edition::Two, 20, 3},
        RealFile{"aqm.t12z.ave_1hr_o3-HI-mercator.grib2", 1, Edition::Two, 10, 3},
        RealFile{"jma_meps_pall_fh00-15_first20fields.grib2", 1, Edition::Two, 0, 3},
        RealFile{"CMC_glb_TMP_ISBL_1_latlon.24x.24_2021051800_P000.grib2", 1, Edition::Two, 0, 40},
        RealFile{"multi_1.at_10m.t12z.f147.grib2", 19, Edition::Two, 0, 40},
        RealFile{"20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2", 1, Edition::Two, 1, 40},
        RealFile{"MRMS_MergedRhoHV_19.00_20260219-042039.grib2", 1, Edition::Two, 0, 41},
        RealFile{"ecmwf-ifs-oper-surface.grib2", 5, Edition::Two, 0, 42},
        RealFile{"ecmwf_20250912120000-0h-oper-fc.msg90.grib2", 1, Edition::Two, 0, 42},
        RealFile{"meteofrance.arome-TCDC.grib2", 1, Edition::Two, 0, 42},
        RealFile{"jma_tornado_nowcast_runlength.grib2", 1, Edition::Two, 0, 200},
        RealFile{"ecmwf_soil_8vars_tiny.grib1", 8, Edition::One, 0, -1},
        RealFile{"ncep_plottrak.grib1", 1, Edition::One, 0, -1}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

}  // namespace
}  // namespace vorlak
