#pragma once
// The key catalogue: every key that is not a template field, with its kind,
// where its value comes from, and when a message lists it. The derived keys
// (src/compat/derived_keys.cpp) are computed under these names; the key
// lookup, the keys iterator, codes_is_defined, codes_get_size and the
// message index ask this table which keys need decoded values or axes.
// Template fields (src/grib/template_layouts.hpp) are the other keys.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "types/key_value.hpp"

namespace vorlak {

enum class KeySource : std::uint8_t {
  Record,   // the message's record (codes read while scanning)
  Message,  // the field's template octets, read when the handle is made
  Values,   // the decoded values
  Axes,     // the decoded coordinate axes
};

enum class KeyListing : std::uint8_t {
  WhenDerived,  // listed and defined when the derivation produced it
  Always,       // every message answers it
  AxisGrids,    // listed on latitude/longitude and Gaussian grids (templates 0 and 40)
};

// The keys answered from the decoded field rather than the derived keys.
enum class Computed : std::uint8_t {
  None,
  Values,
  NumberOfMissing,
  DistinctLatitudes,
  DistinctLongitudes,
  Latitudes,
  Longitudes,
  IIncrement,
  JIncrement,
  LatitudeFirst,
  LatitudeLast,
  LongitudeFirst,
  LongitudeLast,
};

struct CatalogueKey {
  std::string_view name;
  KeyTag kind;
  KeySource source;
  KeyListing listing;
  Computed computed;   // None for derived keys
  bool skip_computed;  // removed by codes_skip_computed
};

// The derived keys, in the order derive_keys computes them.
enum class DerivedKey : std::uint8_t {
  edition, editionNumber, offset, totalLength, numberOfPoints, numberOfValues, numberOfDataPoints, Nx, Ny,
  shortName, name, units, typeOfLevel, levelType, level, gridType, gridDefinitionDescription, dataType,
  packingType, stepType, missingValue, messageNumber, centre, centreDescription, subCentre, subCentreDescription,
  discipline,
  parameterCategory, parameterNumber, gridDefinitionTemplateNumber, productDefinitionTemplateNumber,
  dataRepresentationTemplateNumber, bitsPerValue, table2Version, indicatorOfParameter,
  generatingProcessIdentifier, paramId, cfName, cfVarName, forecastTime, endStep, stepRange, stepUnits,
  iScansNegatively, jScansPositively, jPointsAreConsecutive, alternativeRowScanning, dataDate, dataTime,
  validityDate, validityTime,
  // Beyond template 4.0: statistical time ranges, ensembles, probabilities,
  // layers and the GRIB1 time range.
  startStep, number, lowerLimit, upperLimit, topLevel, bottomLevel, typeOfFirstFixedSurface,
  typeOfSecondFixedSurface, timeRangeIndicator, P1, P2,
  count
};

inline constexpr std::size_t kDerivedKeyCount = static_cast<std::size_t>(DerivedKey::count);

namespace catalogue_detail {

using enum KeyTag;
using enum KeySource;
using enum KeyListing;

constexpr CatalogueKey derived(std::string_view name, KeyTag kind, KeySource source = Record,
                               bool skip = false) {
  return {name, kind, source, WhenDerived, Computed::None, skip};
}

constexpr CatalogueKey computed(std::string_view name, KeyTag kind, KeySource source, KeyListing listing,
                                Computed which, bool skip = false) {
  return {name, kind, source, listing, which, skip};
}

}  // namespace catalogue_detail

// Index i of the first kDerivedKeyCount entries is DerivedKey i.
inline constexpr auto kKeyCatalogue = [] {
  using namespace catalogue_detail;
  return std::array{
      derived("edition", Long), derived("editionNumber", Long), derived("offset", Long),
      derived("totalLength", Long), derived("numberOfPoints", Long), derived("numberOfValues", Long),
      derived("numberOfDataPoints", Long), derived("Nx", Long), derived("Ny", Long),
      derived("shortName", String), derived("name", String), derived("units", String),
      derived("typeOfLevel", String), derived("levelType", String), derived("level", Double),
      derived("gridType", String), derived("gridDefinitionDescription", String, Record, true),
      derived("dataType", String), derived("packingType", String), derived("stepType", String),
      derived("missingValue", Double), derived("messageNumber", Long), derived("centre", Long),
      derived("centreDescription", String, Record, true), derived("subCentre", Long),
      derived("subCentreDescription", String),
      derived("discipline", Long), derived("parameterCategory", Long), derived("parameterNumber", Long),
      derived("gridDefinitionTemplateNumber", Long), derived("productDefinitionTemplateNumber", Long),
      derived("dataRepresentationTemplateNumber", Long), derived("bitsPerValue", Long),
      derived("table2Version", Long), derived("indicatorOfParameter", Long),
      derived("generatingProcessIdentifier", Long), derived("paramId", Long, Record, true),
      derived("cfName", String, Record, true), derived("cfVarName", String, Record, true),
      derived("forecastTime", Long), derived("endStep", Long, Message), derived("stepRange", String, Message),
      derived("stepUnits", Long, Message), derived("iScansNegatively", Long), derived("jScansPositively", Long),
      derived("jPointsAreConsecutive", Long), derived("alternativeRowScanning", Long), derived("dataDate", Long),
      derived("dataTime", Long), derived("validityDate", Long, Message, true),
      derived("validityTime", Long, Message, true),
      derived("startStep", Long, Message), derived("number", Long, Message), derived("lowerLimit", Double, Message),
      derived("upperLimit", Double, Message), derived("topLevel", Double), derived("bottomLevel", Double),
      derived("typeOfFirstFixedSurface", Long), derived("typeOfSecondFixedSurface", Long),
      derived("timeRangeIndicator", Long), derived("P1", Long), derived("P2", Long),
      // Answered from the decoded field.
      computed("values", DoubleArray, Values, Always, Computed::Values, true),
      computed("numberOfMissing", Long, Values, Always, Computed::NumberOfMissing),
      computed("distinctLatitudes", DoubleArray, Axes, AxisGrids, Computed::DistinctLatitudes, true),
      computed("distinctLongitudes", DoubleArray, Axes, AxisGrids, Computed::DistinctLongitudes, true),
      computed("latitudes", DoubleArray, Axes, AxisGrids, Computed::Latitudes, true),
      computed("longitudes", DoubleArray, Axes, AxisGrids, Computed::Longitudes, true),
      computed("iDirectionIncrementInDegrees", Double, Axes, AxisGrids, Computed::IIncrement),
      computed("jDirectionIncrementInDegrees", Double, Axes, AxisGrids, Computed::JIncrement),
      computed("latitudeOfFirstGridPointInDegrees", Double, Axes, AxisGrids, Computed::LatitudeFirst),
      computed("latitudeOfLastGridPointInDegrees", Double, Axes, AxisGrids, Computed::LatitudeLast),
      computed("longitudeOfFirstGridPointInDegrees", Double, Axes, AxisGrids, Computed::LongitudeFirst),
      computed("longitudeOfLastGridPointInDegrees", Double, Axes, AxisGrids, Computed::LongitudeLast),
  };
}();

inline constexpr std::string_view derived_key_name(DerivedKey k) {
  return kKeyCatalogue[static_cast<std::size_t>(k)].name;
}

// The catalogue entry of a key, or null for template fields and unknown keys.
const CatalogueKey* find_catalogue_key(std::string_view name);

// The computed key `name` stands for (Computed::None for every other key);
// cheap enough for every key read.
Computed computed_key(std::string_view name);

}  // namespace vorlak
