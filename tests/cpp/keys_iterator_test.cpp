// The keys iterator's name list and its advance / read / rewind / skip states.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/key_catalogue.hpp"
#include "core/keys_iterator.hpp"

namespace vorlak {
namespace {

HandleRecord handle_with_keys(std::initializer_list<const char*> names, std::optional<std::uint16_t> grid_template) {
  HandleRecord handle;
  for (const char* name : names) handle.derived.set(name, KeyValue{std::int64_t{1}});
  handle.record.gridDefinitionTemplateNumber = grid_template;
  return handle;
}

std::size_t count_of(const std::vector<std::string>& names, std::string_view name) {
  return static_cast<std::size_t>(std::count(names.begin(), names.end(), name));
}

TEST(KeysIteratorNames, SortedByteWiseWithoutRepeats) {
  const auto names =
      iterator_key_names(handle_with_keys({"shortName", "Nx", "latitudes", "edition", "Ni"}, std::uint16_t{0}));
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
  EXPECT_EQ(names.front(), "Ni");  // upper case first
  EXPECT_EQ(names[1], "Nx");
  EXPECT_EQ(count_of(names, "latitudes"), 1u);
  EXPECT_EQ(count_of(names, "values"), 1u);
  EXPECT_EQ(count_of(names, "numberOfMissing"), 1u);
  EXPECT_EQ(names.size(), 5u + 2u + 10u - 1u);  // derived + two + ten coordinate names, latitudes once
}

TEST(KeysIteratorNames, CoordinateNamesOnlyForTemplates0And40) {
  for (auto [grid_template, expected] : {std::pair<std::optional<std::uint16_t>, std::size_t>{0, 1},
                                         {40, 1}, {30, 0}, {std::nullopt, 0}}) {
    const auto names = iterator_key_names(handle_with_keys({"edition"}, grid_template));
    EXPECT_EQ(count_of(names, "longitudes"), expected);
    EXPECT_EQ(count_of(names, "jDirectionIncrementInDegrees"), expected);
    EXPECT_EQ(count_of(names, "values"), 1u);
  }
  // A derived coordinate key is still listed on other templates.
  const auto names = iterator_key_names(handle_with_keys({"latitudes"}, std::uint16_t{30}));
  EXPECT_EQ(count_of(names, "latitudes"), 1u);
  EXPECT_EQ(count_of(names, "longitudes"), 0u);
}

TEST(KeysIteratorState, AdvancesOncePerNameThenStaysExhausted) {
  KeysIteratorState it({"a", "b", "c"});
  EXPECT_EQ(it.current_name(), nullptr);
  std::vector<std::string> seen;
  while (it.next()) seen.push_back(*it.current_name());
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(it.current_name(), nullptr);
  EXPECT_FALSE(it.next());
  EXPECT_FALSE(it.next());
  it.rewind();
  EXPECT_EQ(it.current_name(), nullptr);
  ASSERT_TRUE(it.next());
  EXPECT_EQ(*it.current_name(), "a");
}

TEST(KeysIteratorState, SkipComputedRemovesTheTwelveAndRewinds) {
  KeysIteratorState it = KeysIteratorState::for_handle(
      handle_with_keys({"paramId", "cfName", "cfVarName", "validityDate", "validityTime", "centreDescription",
                        "gridDefinitionDescription", "edition", "Ni"},
                       std::uint16_t{0}));
  ASSERT_TRUE(it.next());
  it.skip_computed();
  EXPECT_EQ(it.current_name(), nullptr);
  std::vector<std::string> seen;
  while (it.next()) seen.push_back(*it.current_name());
  std::size_t skipped = 0;
  for (const CatalogueKey& k : kKeyCatalogue) {
    if (!k.skip_computed) continue;
    ++skipped;
    EXPECT_EQ(count_of(seen, k.name), 0u) << k.name;
  }
  EXPECT_EQ(skipped, 12u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(count_of(seen, "numberOfMissing"), 1u);
  EXPECT_EQ(count_of(seen, "latitudeOfFirstGridPointInDegrees"), 1u);
  EXPECT_EQ(count_of(seen, "edition"), 1u);
  const auto remaining = it.keys();
  it.skip_computed();  // a second call only rewinds
  EXPECT_EQ(it.keys(), remaining);
}

}  // namespace
}  // namespace vorlak
