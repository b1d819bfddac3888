#pragma once
// Sections of any described template (src/grib/template_layouts.hpp), built
// from key values by the same layout description the reader walks:
//
//   ByteVec s4 = g2_template_section(4, 8, {{"parameterCategory", {1}}, {"parameterNumber", {8}},
//                                           {"forecastTime", {-7}}, {"lengthOfTimeRange", {23}},
//                                           {"typeOfStatisticalProcessing", {2}}});
//
// Fields not named are 0; kMissingValue writes all ones. An entry field
// takes one value per entry; a group's count field, when not named, is set
// to the number of entries given. The template number and, for section 3,
// the entry width of the points-per-row list (2 octets) are filled in.
// Values are written by the field's sign rule (negative one-octet scale
// factors in sign-magnitude); Ieee32 fields take the bit pattern.
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "support/message_builder.hpp"

namespace vorlak::test {

inline constexpr std::int64_t kMissingValue = std::numeric_limits<std::int64_t>::min();

struct TemplateValue {
  std::string_view key;
  std::vector<std::int64_t> values;
};

// The whole section (length and number first); `length` overrides octets
// 1-4 and cuts or pads the bytes to it.
ByteVec g2_template_section(std::uint8_t section, std::uint16_t number, const std::vector<TemplateValue>& values,
                            std::optional<std::uint32_t> length = {});

}  // namespace vorlak::test
