// GRIB1 messages on predefined grids (no GDS): the grid number and the
// values as one row, counted from the bitmap or the data section's bits.
#include "grib/grib1_predefined.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "support/message_builder.hpp"

namespace vorlak {
namespace {

using test::ByteVec;

ByteVec predefined(const std::vector<double>& values, unsigned bits, const ByteVec& bms = {}) {
  const test::SimplePacked packed = test::pack_simple(values, bits, 0, {}, true);
  return test::grib1_message(test::g1_pds({.grid = 211, .has_gds = false, .has_bms = !bms.empty()}), {}, bms,
                             test::g1_bds_simple(packed));
}

TEST(Grib1Predefined, ValuesCountedFromTheDataSection) {
  // 7 values of 12 bits leave 4 padding bits in 11 octets: counted as unused.
  const std::vector<double> values{1, 2, 3, 4, 5, 6, 7};
  const ByteVec message = predefined(values, 12);
  auto grid = grib1_predefined_grid(message);
  ASSERT_TRUE(grid) << grid.error();
  EXPECT_EQ(grid->grid_number, 211);
  EXPECT_EQ(grid->points, 7u);
  auto decoded = decode_grib1_predefined(message);
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(*decoded, values);
}

TEST(Grib1Predefined, ValuesSpreadOverTheBitmap) {
  const std::vector<bool> present{true, false, true, true, false, false, true, true, true, false, true};
  const ByteVec message = predefined({10, 20, 30, 40, 50, 60, 70}, 8, test::g1_bms(present));
  auto grid = grib1_predefined_grid(message);
  ASSERT_TRUE(grid) << grid.error();
  EXPECT_EQ(grid->points, present.size());
  auto decoded = decode_grib1_predefined(message);
  ASSERT_TRUE(decoded) << decoded.error();
  ASSERT_EQ(decoded->size(), present.size());
  EXPECT_EQ((*decoded)[2], 20.0);
  EXPECT_TRUE(std::isnan((*decoded)[1]));
  EXPECT_EQ((*decoded)[10], 70.0);
}

TEST(Grib1Predefined, Refusals) {
  // A constant field says nothing about its size without a bitmap.
  auto constant = grib1_predefined_grid(predefined({5, 5, 5}, 0));
  ASSERT_FALSE(constant);
  EXPECT_NE(constant.error().find("predefined grid 211"), std::string::npos);
  // With a bitmap it does.
  auto with_bitmap = grib1_predefined_grid(predefined({5, 5}, 0, test::g1_bms({true, false, true})));
  ASSERT_TRUE(with_bitmap);
  EXPECT_EQ(with_bitmap->points, 3u);
  EXPECT_FALSE(grib1_predefined_grid(test::minimal_grib1()));                                 // has a GDS
  EXPECT_FALSE(grib1_predefined_grid(predefined({1, 2}, 8, test::g1_bms({true, true}, 5))));  // predefined bitmap
  ByteVec truncated = predefined({1, 2, 3}, 8);
  truncated.resize(truncated.size() - 8);
  EXPECT_FALSE(decode_grib1_predefined(truncated));
  EXPECT_FALSE(decode_grib1_predefined(ByteVec{'G', 'R', 'I', 'B'}));
}

}  // namespace
}  // namespace vorlak
