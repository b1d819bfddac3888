#include "grib/complex_packing.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>

#include "grib/bit_reader.hpp"
#include "grib/limits.hpp"
#include "support/kernel_sets.hpp"
#include "support/payload_encoders.hpp"

namespace vorlak {
namespace {

using test::BitWriter;
using test::ByteVector;
using test::ComplexGroup;
using test::ComplexLayout;
using test::encode_complex;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Compares value by value, NaN matching NaN.
void expect_values(const Result<Values>& got, const Values& want, const char* what) {
  ASSERT_TRUE(got) << what << ": " << got.error();
  ASSERT_EQ(got->size(), want.size()) << what;
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (std::isnan(want[i])) {
      EXPECT_TRUE(std::isnan((*got)[i])) << what << " index " << i;
    } else {
      EXPECT_EQ((*got)[i], want[i]) << what << " index " << i;
    }
  }
}

void expect_error(const Result<Values>& got, const std::string& text, const char* what) {
  ASSERT_FALSE(got) << what;
  EXPECT_EQ(got.error(), text) << what;
}

ComplexLayout two_groups(std::vector<std::uint64_t> second_values) {
  ComplexLayout layout;
  layout.groups = {ComplexGroup{10, 0, {0, 0, 0}}, ComplexGroup{20, 4, std::move(second_values)}};
  return layout;
}

// Every test of this suite runs under each kernel set of the machine.
class ComplexPacking : public test::EachKernelSet {};
INSTANTIATE_FOR_EACH_KERNEL_SET(ComplexPacking);

TEST_P(ComplexPacking, WorkedTemplate52) {
  auto e = encode_complex(two_groups({0x1, 0xF}));
  expect_values(unpack_complex(e.payload, e.drs, 5), {10, 10, 10, 21, 35}, "management off");

  auto m = encode_complex(two_groups({0xF, 0x1}));
  m.drs.missingValueManagement = 1;
  expect_values(unpack_complex(m.payload, m.drs, 5), {10, 10, 10, kNaN, 21}, "management 1");
}

TEST_P(ComplexPacking, MissingValueManagement) {
  ComplexLayout layout;
  // bitsPerValue comes out as 5, so reference 31 is all ones and 30 the secondary marker.
  layout.groups = {ComplexGroup{31, 0, {0, 0}}, ComplexGroup{30, 0, {0}}, ComplexGroup{2, 3, {7, 6, 5}}};
  auto e = encode_complex(layout);
  ASSERT_EQ(e.drs.bitsPerValue, 5);
  e.drs.missingValueManagement = 1;
  expect_values(unpack_complex(e.payload, e.drs, 6), {kNaN, kNaN, 30, kNaN, 8, 7}, "primary only");
  e.drs.missingValueManagement = 2;
  expect_values(unpack_complex(e.payload, e.drs, 6), {kNaN, kNaN, kNaN, kNaN, kNaN, 7}, "primary and secondary");
}

TEST_P(ComplexPacking, WorkedDifferencing) {
  for (std::uint8_t management : {0, 1}) {
    ComplexLayout order1;
    order1.order = 1;
    order1.initial_values = {100};
    order1.overall_minimum = -5;
    order1.groups = {ComplexGroup{0, 4, {0, 7, 3, 5}}};  // width 4: no value is all ones
    auto e1 = encode_complex(order1);
    e1.drs.missingValueManagement = management;
    expect_values(unpack_complex(e1.payload, e1.drs, 4), {100, 102, 100, 100}, "order 1");

    ComplexLayout order2;
    order2.order = 2;
    order2.initial_values = {10, 12};
    order2.overall_minimum = 0;
    order2.groups = {ComplexGroup{0, 2, {0, 0, 1, 1}}};
    auto e2 = encode_complex(order2);
    e2.drs.missingValueManagement = management;
    expect_values(unpack_complex(e2.payload, e2.drs, 4), {10, 12, 15, 19}, "order 2");

    // The two skipped points come from the first non-empty groups, however short.
    order2.groups = {ComplexGroup{0, 1, {0}}, ComplexGroup{0, 0, {}}, ComplexGroup{0, 2, {0, 1, 1}}};
    auto e3 = encode_complex(order2);
    e3.drs.missingValueManagement = management;
    expect_values(unpack_complex(e3.payload, e3.drs, 4), {10, 12, 15, 19}, "order 2, split skip");
  }
}

TEST_P(ComplexPacking, DescriptorRefusals) {
  DataRepresentation drs = test::make_drs(3, 0.0f, 0, 0, 8);
  drs.numberOfGroups = 1;
  struct Case {
    unsigned order, octets;
    std::size_t payload;
    const char* error;
  };
  const Case cases[] = {
      {3, 2, 64, "unsupported spatial differencing order 3"},
      {1, 0, 64, "spatial differencing metadata has zero extra descriptor octets"},
      {2, 2, 5, "section 7 too short for spatial differencing descriptors: need 6 bytes"},
      {1, 9, 18, "sign-magnitude descriptor width must be between 1 and 8 bytes, got 9"},
  };
  for (const auto& c : cases) {
    drs.orderOfSpatialDifferencing = static_cast<std::uint8_t>(c.order);
    drs.descriptorOctets = static_cast<std::uint8_t>(c.octets);
    expect_error(unpack_complex(ByteVector(c.payload, 0), drs, 1), c.error, c.error);
  }
}

TEST_P(ComplexPacking, SignMagnitudeDescriptors) {
  const ByteVector bytes{0x00, 0x05, 0x80, 0x05};
  auto sd = parse_differencing_descriptors(bytes, 1, 2);
  ASSERT_TRUE(sd) << sd.error();
  EXPECT_EQ(sd->initial_values, (std::vector<std::int64_t>{5}));
  EXPECT_EQ(sd->overall_minimum, -5);
}

TEST_P(ComplexPacking, GroupRefusals) {
  DataRepresentation drs = test::make_drs(2, 0.0f, 0, 0, 8);
  expect_error(unpack_complex({}, drs, 1), "complex packing metadata has zero groups", "no groups");

  // One group: reference 0, raw width 60 on top of 200, length from the last-group field.
  drs.numberOfGroups = 1;
  drs.referenceForGroupWidths = 200;
  drs.bitsForGroupWidths = 8;
  drs.bitsForScaledGroupLengths = 8;
  drs.trueLengthOfLastGroup = 1;
  expect_error(unpack_complex(ByteVector{0, 60, 0, 0}, drs, 1), "group width overflow", "width overflow");

  // A 64-bit raw width of all ones must not wrap round to a small width.
  DataRepresentation wrap = drs;
  wrap.referenceForGroupWidths = 1;
  wrap.bitsForGroupWidths = 64;
  ByteVector wrap_payload{0};
  wrap_payload.insert(wrap_payload.end(), 8, 0xFF);
  wrap_payload.insert(wrap_payload.end(), 4, 0);
  expect_error(unpack_complex(wrap_payload, wrap, 1), "group width overflow", "raw width wrap");

  // An overflow in a later group wins over a short payload in an earlier one.
  DataRepresentation later = drs;
  later.numberOfGroups = 2;
  later.referenceForGroupWidths = 1;
  later.referenceForGroupLengths = 100;
  expect_error(unpack_complex(ByteVector{0, 0, 7, 255, 0, 0}, later, 101), "group width overflow",
               "overflow after a short group");

  // Width 65 (1 + 64) is refused for a group with values, accepted for an empty one.
  drs.referenceForGroupWidths = 1;
  const ByteVector wide{0, 64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  expect_error(unpack_complex(wide, drs, 1), "BitReader only supports reads up to 64 bits", "wide group");
  drs.trueLengthOfLastGroup = 0;
  expect_values(unpack_complex(wide, drs, 0), {}, "wide empty group");
}

TEST_P(ComplexPacking, CountsAreCheckedAgainstThePayload) {
  auto e = encode_complex(two_groups({0x1, 0xF}));
  expect_error(unpack_complex(e.payload, e.drs, 4), "complex packed value count 5 does not match expected 4",
               "one too many");
  expect_error(unpack_complex(e.payload, e.drs, 6), "complex packed value count 5 does not match expected 6",
               "one too few");

  // The group columns must fit before anything is sized by NG.
  DataRepresentation drs = e.drs;
  drs.numberOfGroups = 1000;
  expect_error(unpack_complex(e.payload, drs, 5), "not enough packed bits remaining", "columns past the end");

  // Zero-width columns take no bits; the group count alone is bounded.
  DataRepresentation free_columns = test::make_drs(2, 0.0f, 0, 0, 0);
  free_columns.numberOfGroups = 0xFFFFFFFFu;
  expect_error(unpack_complex({}, free_columns, 5),
               "complex packing group count 4294967295 exceeds the supported maximum 268435456", "group count");

  // Below that bound, free columns still cannot buy more groups than the
  // values and the payload bits: 134 million empty groups for 24 values.
  free_columns.numberOfGroups = 134'021'125u;
  expect_error(unpack_complex(ByteVector(10, 0), free_columns, 24),
               "complex packing group count 134021125 is more than 24 values and 10 payload octets can hold",
               "unpaid groups");

  // Lengths claiming billions of points fail on the count, before any output exists.
  free_columns.numberOfGroups = 3;
  free_columns.referenceForGroupLengths = 4'000'000'000u;
  free_columns.lengthIncrement = 1;
  free_columns.trueLengthOfLastGroup = 4'000'000'000u;
  expect_error(unpack_complex({}, free_columns, 5),
               "complex packed value count 12000000000 does not match expected 5", "huge lengths");

  // Values running past the payload.
  auto cut = e;
  cut.payload.pop_back();
  expect_error(unpack_complex(cut.payload, cut.drs, 5), "not enough packed bits remaining", "values cut short");

  expect_error(unpack_complex(e.payload, e.drs, kMaxGridPoints + 1),
               "value count 268435457 exceeds the supported maximum 268435456", "count bound");
}

TEST_P(ComplexPacking, UndoDifferencingSkipsMissingPoints) {
  SpatialDifferencing sd{1, {100}, -5};
  OptionalIntegers in{std::nullopt, 0, 7, std::nullopt, 3};
  auto out = undo_differencing(in, sd);
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, (OptionalIntegers{std::nullopt, 100, 102, std::nullopt, 100}));

  SpatialDifferencing bad{2, {1}, 0};
  EXPECT_EQ(undo_differencing(in, bad).error(), "missing initial values for order-2 differencing");
  SpatialDifferencing none{1, {}, 0};
  EXPECT_EQ(undo_differencing(in, none).error(), "missing first initial value for order-1 differencing");
  SpatialDifferencing third{3, {1, 2, 3}, 0};
  EXPECT_EQ(undo_differencing(in, third).error(), "unsupported spatial differencing order 3");

  const Values scaled = scale_optional(*out, test::make_drs(3, 0.5f, 1, 1, 8));
  EXPECT_TRUE(std::isnan(scaled[0]));
  EXPECT_EQ(scaled[1], (100.0 * 2.0 + 0.5) * (1.0 / 10.0));
}

// Carrying the state across a stretch by its step sums lands where stepping
// through it does: cuts anywhere, also among the points that stand for the
// initial values, with missing points between, and wrapping sums.
TEST_P(ComplexPacking, CarryOverMatchesSteppingThrough) {
  std::mt19937_64 rng(17);
  for (int trial = 0; trial < 300; ++trial) {
    const unsigned order = 1 + trial % 2;
    const SpatialDifferencing sd{static_cast<std::uint8_t>(order), {static_cast<std::int64_t>(rng()), -5}, 0};
    std::vector<std::optional<std::uint64_t>> steps(1 + rng() % 40);
    for (auto& st : steps) {
      if (rng() % 4 != 0) st = trial % 5 == 0 ? rng() : rng() % 1000;
    }
    // Stepping through: the first `order` present points take the initial values.
    const auto step_through = [&](DifferencingState state, std::size_t from, std::size_t to) {
      for (std::size_t i = from; i < to; ++i) {
        if (!steps[i]) continue;
        if (state.to_skip > 0) {
          if (--state.to_skip == 0) state = after_initial_values(sd);
          continue;
        }
        state.difference += *steps[i];
        state.value += order == 1 ? *steps[i] : state.difference;
      }
      return state;
    };
    DifferencingState start;
    start.to_skip = order;
    const std::size_t cut = rng() % (steps.size() + 1);
    const DifferencingState at_cut = step_through(start, 0, cut);
    StepSums sums;
    for (std::size_t i = cut; i < steps.size(); ++i) {
      if (!steps[i]) continue;
      if (sums.present < 2) sums.first[sums.present] = *steps[i];
      ++sums.present;
      sums.sum += *steps[i];
      sums.sum_of_sums += sums.sum;
    }
    const DifferencingState want = step_through(at_cut, cut, steps.size());
    const DifferencingState got = carry_over(sd, at_cut, sums);
    ASSERT_EQ(got.to_skip, want.to_skip) << "trial " << trial;
    ASSERT_EQ(got.value, want.value) << "trial " << trial;
    if (order == 2) ASSERT_EQ(got.difference, want.difference) << "trial " << trial;
  }
}

// A random field packed as an encoder would, decoded by both routes.
class ComplexRoundTrip : public test::EachKernelSetWith<unsigned> {};

TEST_P(ComplexRoundTrip, BothRoutesRestoreTheField) {
  const unsigned order = param();
  std::mt19937_64 rng(order + 11);
  std::vector<std::int64_t> field(2001);
  std::int64_t level = 5000;
  for (auto& v : field) {
    level += static_cast<std::int64_t>(rng() % 201) - 100;
    v = level + static_cast<std::int64_t>(rng() % 7);
  }
  ComplexLayout layout;
  if (order == 0) {
    std::vector<std::uint64_t> ints(field.begin(), field.end());
    layout.groups = test::split_into_groups(ints, 13);
    layout.groups.push_back(ComplexGroup{7, 0, {}});  // an empty last group
  } else {
    layout = test::difference_and_group(field, order, 17);
  }
  const float reference = -3.5f;
  auto e = encode_complex(layout, reference, -2, 1);
  Values want(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    want[i] = (static_cast<double>(field[i]) * 0.25 + static_cast<double>(reference)) * (1.0 / 10.0);
  }
  expect_values(unpack_complex(e.payload, e.drs, field.size()), want, "single pass");

  // With one spare bit per group no value is all ones, so nothing is missing.
  for (auto& g : layout.groups) ++g.width;
  auto m = encode_complex(layout, reference, -2, 1);
  m.drs.missingValueManagement = 1;
  expect_values(unpack_complex(m.payload, m.drs, field.size()), want, "general route");
}

INSTANTIATE_FOR_EACH_KERNEL_SET_WITH(ComplexRoundTrip, ::testing::Values(0u, 1u, 2u));

}  // namespace
}  // namespace vorlak
