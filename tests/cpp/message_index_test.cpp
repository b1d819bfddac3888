// The message index: key description parsing, distinct values with their orderings,
// selection and the walk over matching entries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "core/message_index.hpp"
#include "support/synthetic_handle.hpp"

namespace vorlak {
namespace {

using test::ByteVec;

struct SpecCase {
  const char* text;
  const char* name;
  TypeHint hint;
};

class IndexKeySpecParse : public ::testing::TestWithParam<SpecCase> {};

TEST_P(IndexKeySpecParse, SplitsNameAndOneLetterHint) {
  const IndexKeySpec key_spec = IndexKeySpec::parse(GetParam().text);
  EXPECT_EQ(key_spec.name, GetParam().name);
  EXPECT_EQ(key_spec.type_hint, GetParam().hint);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IndexKeySpecParse,
    ::testing::Values(SpecCase{"level", "level", TypeHint::Unspecified},
                      SpecCase{"level:l", "level", TypeHint::Integer}, SpecCase{"level:I", "level", TypeHint::Integer},
                      SpecCase{"level:L", "level", TypeHint::Integer}, SpecCase{"level:i", "level", TypeHint::Integer},
                      SpecCase{"level:d", "level", TypeHint::Float}, SpecCase{"level:F", "level", TypeHint::Float},
                      SpecCase{"shortName:s", "shortName", TypeHint::Unspecified},
                      SpecCase{"shortName:str", "shortName", TypeHint::Unspecified},
                      SpecCase{"level:", "level", TypeHint::Unspecified},
                      SpecCase{"a:b:c", "a", TypeHint::Unspecified}, SpecCase{":d", "", TypeHint::Float},
                      SpecCase{"", "", TypeHint::Unspecified}));

// Three messages: t at 500 hPa, u at 850 hPa, t at 850 hPa.
ByteVec three_messages() {
  ByteVec out;
  const std::pair<std::uint8_t, std::uint32_t> fields[] = {{0, 50000}, {2, 85000}, {0, 85000}};
  for (auto [category, pascals] : fields) {
    test::G2Product product;
    product.category = category;
    product.number = category == 2 ? 2 : 0;
    product.level_value = pascals;
    const ByteVec message = test::minimal_grib2(product);
    out.insert(out.end(), message.begin(), message.end());
  }
  return out;
}

class MessageIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() / ("vorlak-index-" + std::to_string(::getpid()) + ".grib2"))
                .string();
    const ByteVec bytes = three_messages();
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
  }
  void TearDown() override { std::filesystem::remove(path_); }

  IndexState make(std::vector<std::string> keys) {
    auto index = IndexState::from_file(path_, keys);
    EXPECT_TRUE(index) << (index ? "" : index.error());
    return std::move(*index);
  }

  std::vector<std::string> walk(IndexState& index) {
    std::vector<std::string> names;
    while (auto handle = index.next_match()) {
      names.push_back(handle->derived.find("shortName") ? std::get<std::string>(handle->derived.find("shortName")->value)
                                                         : "?");
    }
    return names;
  }

  std::string path_;
};

TEST_F(MessageIndexTest, DistinctValuesOverAllEntries) {
  IndexState index = make({"shortName", "level"});
  ASSERT_EQ(index.entries().size(), 3u);
  EXPECT_EQ(index.distinct_strings("shortName"), (std::vector<std::string>{"t", "u"}));
  EXPECT_EQ(index.distinct_count("shortName"), 2u);
  EXPECT_TRUE(index.distinct_longs("shortName").empty());
  EXPECT_EQ(index.distinct_longs("level"), (std::vector<std::int64_t>{500, 850}));
  EXPECT_EQ(index.distinct_doubles("level"), (std::vector<double>{500, 850}));
  EXPECT_TRUE(index.distinct_strings("noSuchKey").empty());
  EXPECT_EQ(index.distinct_count("noSuchKey"), 0u);
}

TEST_F(MessageIndexTest, WalkReturnsMatchesInOrderThenNothing) {
  IndexState index = make({"shortName", "level"});
  EXPECT_FALSE(index.next_match());  // no selection yet
  index.select("shortName", std::string("t"));
  EXPECT_FALSE(index.next_match());  // level still unselected
  index.select("level", std::int64_t{850});
  EXPECT_EQ(walk(index), (std::vector<std::string>{"t"}));
  EXPECT_EQ(index.cursor(), 3u);
  EXPECT_FALSE(index.next_match());
  index.select("shortName", std::string("u"));  // replaces, restarts
  EXPECT_EQ(walk(index), (std::vector<std::string>{"u"}));
  EXPECT_EQ(index.selection().size(), 2u);
}

TEST_F(MessageIndexTest, FloatSelectionsMatchWithinTolerance) {
  IndexState index = make({"level:d"});
  EXPECT_EQ(index.find_key("level")->type_hint, TypeHint::Float);
  index.select("level", 500.0000000005);
  EXPECT_EQ(walk(index).size(), 1u);
  index.select("level", 500.00001);
  EXPECT_EQ(walk(index).size(), 0u);
  index.select("level", std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(walk(index).size(), 0u);
}

TEST_F(MessageIndexTest, TextSelectionsMatchTheTextReading) {
  IndexState index = make({"level"});
  index.select("level", std::string("850"));
  EXPECT_EQ(walk(index), (std::vector<std::string>{"u", "t"}));
  index.select("level", std::string("850.0"));
  EXPECT_TRUE(walk(index).empty());
}

TEST_F(MessageIndexTest, ExtraSelectionsFilterToo) {
  IndexState index = make({"level"});
  index.select("level", std::int64_t{850});
  index.select("shortName", std::string("t"));
  EXPECT_EQ(walk(index), (std::vector<std::string>{"t"}));
  EXPECT_EQ(index.find_key("shortName"), nullptr);
}

TEST_F(MessageIndexTest, NoKeysWalksEverythingAndAddedFilesRepeat) {
  IndexState index = make({});
  EXPECT_EQ(walk(index), (std::vector<std::string>{"t", "u", "t"}));
  ASSERT_TRUE(index.add_file(path_));
  EXPECT_EQ(index.cursor(), 0u);
  EXPECT_EQ(walk(index), (std::vector<std::string>{"t", "u", "t", "t", "u", "t"}));
  EXPECT_EQ(index.distinct_strings("shortName"), (std::vector<std::string>{"t", "u"}));
}

TEST_F(MessageIndexTest, HandlesShareTheEntrysMemo) {
  IndexState index = make({});
  auto first = index.next_match();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->memo, index.entries()[0].memo);
  EXPECT_EQ(first->bytes.bytes, index.entries()[0].bytes.bytes);
  ASSERT_TRUE(first->decoded());
  EXPECT_TRUE(index.entries()[0].memo->filled());
}

TEST_F(MessageIndexTest, FailedLoadsChangeNothing) {
  const std::string missing = path_ + ".missing";
  auto none = IndexState::from_file(missing, std::vector<std::string>{});
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error(), "failed to stat '" + missing + "': No such file or directory (os error 2)");
  IndexState index = make({"shortName"});
  index.select("shortName", std::string("t"));
  ASSERT_TRUE(index.next_match());
  EXPECT_FALSE(index.add_file(missing));
  EXPECT_EQ(index.entries().size(), 3u);
  EXPECT_EQ(index.cursor(), 1u);
}

TEST(MessageIndexDistinct, DoublesByTotalOrderKeepingBothZeros) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<HandleRecord> entries;
  for (KeyValue value : {KeyValue{1.5}, KeyValue{-0.0}, KeyValue{nan}, KeyValue{0.0}, KeyValue{-nan},
                         KeyValue{1.5}, KeyValue{std::int64_t{-3}}, KeyValue{std::string("abc")},
                         KeyValue{std::string("2e0")}}) {
    DerivedKeys derived;
    derived.set("x", value);
    entries.push_back(test::handle_with(fail("unused"), derived));
  }
  entries.push_back(test::handle_with(fail("unused")));  // no "x" at all
  const IndexState index(std::move(entries), {});
  const auto doubles = index.distinct_doubles("x");
  ASSERT_EQ(doubles.size(), 7u);
  EXPECT_TRUE(std::isnan(doubles[0]) && std::signbit(doubles[0]));
  EXPECT_EQ(doubles[1], -3.0);
  EXPECT_TRUE(doubles[2] == 0.0 && std::signbit(doubles[2]));
  EXPECT_TRUE(doubles[3] == 0.0 && !std::signbit(doubles[3]));
  EXPECT_EQ(doubles[4], 1.5);
  EXPECT_EQ(doubles[5], 2.0);
  EXPECT_TRUE(std::isnan(doubles[6]) && !std::signbit(doubles[6]));
  EXPECT_EQ(index.distinct_longs("x"), (std::vector<std::int64_t>{-3, 0, 1}));
  EXPECT_EQ(index.distinct_strings("x"),
            (std::vector<std::string>{"-0", "-3", "0", "1.5", "2e0", "NaN", "abc"}));
}

}  // namespace
}  // namespace vorlak
