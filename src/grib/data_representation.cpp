// Section 5 (data representation) through the template layouts: octets 6-9
// number of values, 10-11 template, then the template. Every template but
// 5.4 and 5.200 opens with 12-15 reference value (IEEE single precision),
// 16-17 binary and 18-19 decimal scale factors (sign-magnitude), 20 bits per
// value; this header is read at 5.0's octets whatever the template says,
// and a section that ends before octet 20 is refused. Template 5.4 is
// shorter in the WMO layout (octet 12 its precision: 1 = 32-bit, 2 = 64-bit,
// 3 = 128-bit) and is read so when the section ends before octet 20.
//
// The fields of each decoded template land in DataRepresentation by the
// bindings below, one row per field. Where a template's section ends before
// a bound field, the templates the codes API decodes (2, 3, 40, 42) fail
// with "section 5 template N too short"; the templates read only by the
// field API (50, 61, 200) leave their fields unset, and their decoders say
// what is missing, so that the message is still listed.
#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "grib/grib2_sections.hpp"
#include "grib/template_walk.hpp"
#include "grib/text.hpp"

namespace vorlak {
namespace {

using Store = void (*)(DataRepresentation&, const FieldValue&);

// A field of a template layout, by key name, and where its number goes.
struct Binding {
  std::string_view key;
  Store store;
};

template <class T>
struct Unwrapped {
  using type = T;
};
template <class T>
struct Unwrapped<std::optional<T>> {
  using type = T;
};

// The field's number (the bit pattern of an IEEE field) into a member.
template <auto Member>
void set(DataRepresentation& d, const FieldValue& v) {
  using T = std::remove_cvref_t<decltype(d.*Member)>;
  d.*Member = static_cast<typename Unwrapped<T>::type>(v.value());
}

template <auto Member>
void set_run_length(DataRepresentation& d, const FieldValue& v) {
  using T = std::remove_cvref_t<decltype(d.runLength.*Member)>;
  d.runLength.*Member = static_cast<T>(v.value());
}

using D = DataRepresentation;

constexpr Binding kHeader[] = {
    {"numberOfValues", set<&D::numberOfValues>},
    {"dataRepresentationTemplateNumber", set<&D::dataRepresentationTemplateNumber>},
    {"referenceValue", set<&D::reference_value_bits>},
    {"binaryScaleFactor", set<&D::binaryScaleFactor>},
    {"decimalScaleFactor", set<&D::decimalScaleFactor>},
    {"bitsPerValue", set<&D::bitsPerValue>},
};

constexpr Binding kIeeeShort[] = {
    {"numberOfValues", set<&D::numberOfValues>},
    {"dataRepresentationTemplateNumber", set<&D::dataRepresentationTemplateNumber>},
    {"precision",
     [](D& d, const FieldValue& v) {
       d.bitsPerValue = v.raw == 1 ? 32 : v.raw == 2 ? 64 : v.raw == 3 ? 128 : 0;
     }},
};

constexpr Binding kComplex[] = {
    {"groupSplittingMethodUsed", set<&D::groupSplittingMethod>},
    {"missingValueManagementUsed", set<&D::missingValueManagement>},
    {"primaryMissingValueSubstitute", set<&D::primaryMissingValue>},
    {"secondaryMissingValueSubstitute", set<&D::secondaryMissingValue>},
    {"numberOfGroupsOfDataValues", set<&D::numberOfGroups>},
    {"referenceForGroupWidths", set<&D::referenceForGroupWidths>},
    {"numberOfBitsUsedForTheGroupWidths", set<&D::bitsForGroupWidths>},
    {"referenceForGroupLengths", set<&D::referenceForGroupLengths>},
    {"lengthIncrementForTheGroupLengths", set<&D::lengthIncrement>},
    {"trueLengthOfLastGroup", set<&D::trueLengthOfLastGroup>},
    {"numberOfBitsForScaledGroupLengths", set<&D::bitsForScaledGroupLengths>},
};

constexpr Binding kDifferencing[] = {
    {"orderOfSpatialDifferencing", set<&D::orderOfSpatialDifferencing>},
    {"numberOfOctetsExtraDescriptors", set<&D::descriptorOctets>},
};

constexpr Binding kJpeg2000[] = {
    {"typeOfOriginalFieldValues", set<&D::typeOfOriginalFieldValues>},
    {"typeOfCompressionUsed", set<&D::typeOfCompression>},
    {"targetCompressionRatio", set<&D::targetCompressionRatio>},
};

constexpr Binding kCcsds[] = {
    {"typeOfOriginalFieldValues", set<&D::typeOfOriginalFieldValues>},
    {"ccsdsFlags", set<&D::ccsdsFlags>},
    {"blockSize", set<&D::ccsdsBlockSize>},
    {"referenceSampleInterval", set<&D::ccsdsReferenceSampleInterval>},
};

constexpr Binding kSpectral[] = {{"realPartOfCoefficient", set<&D::realPartOfFirstCoefficient>}};
constexpr Binding kLogarithm[] = {{"preProcessingParameter", set<&D::preProcessingParameter>}};

constexpr Binding kRunLength[] = {
    {"bitsPerValue", set_run_length<&RunLengthLevels::bitsPerValue>},
    {"MV", set_run_length<&RunLengthLevels::maxLevelUsed>},
    {"MVL", set_run_length<&RunLengthLevels::maxLevel>},
    // The layout reads this octet as a scale factor either way producers
    // write one; the level values take it as sign and magnitude alone.
    {"decimalScaleFactorOfRepresentativeValueOfEachLevel",
     [](D& d, const FieldValue& v) {
       d.runLength.decimalScaleFactor = static_cast<std::int8_t>(signed_value(v.raw, 1, SignRule::SignMagnitude));
     }},
};

// What a template's fields are bound to, and what a section too short for
// them means: an error, or fields left unset.
struct TemplateBindings {
  std::uint16_t number;
  std::span<const Binding> first;
  std::span<const Binding> second;  // template 3: its fields after those of 2
  bool required;
};

constexpr TemplateBindings kTemplates[] = {
    {2, kComplex, {}, true},   {3, kComplex, kDifferencing, true}, {40, kJpeg2000, {}, true},
    {42, kCcsds, {}, true},    {50, kSpectral, {}, false},        {61, kLogarithm, {}, false},
    {200, kRunLength, {}, false},
};

// The bindings resolved against a layout once: every bound field of
// section 5 lies at fixed octets (no repeated group comes before it), so
// reading a section is one length check and a load per field.
struct Resolved {
  const TemplateLayout* layout = nullptr;
  std::vector<std::pair<FixedPlace, Store>> fields;
  std::uint32_t end = 0;  // octets a section needs to hold them all
};

Resolved resolve(std::uint16_t number, std::initializer_list<std::span<const Binding>> lists) {
  constexpr std::uint32_t kNever = 0xFFFFFFFFu;  // a binding the layout does not place
  Resolved r;
  r.layout = find_template(5, number);
  for (const auto list : lists) {
    for (const Binding& b : list) {
      const auto key = template_key_id(b.key);
      const auto index = (r.layout && key) ? r.layout->find(*key) : std::nullopt;
      const auto place = index ? fixed_place(*r.layout, *index) : std::nullopt;
      r.end = place ? std::max(r.end, place->end()) : kNever;
      r.fields.emplace_back(place.value_or(FixedPlace{}), b.store);
    }
  }
  return r;
}

struct Readers {
  Resolved header = resolve(0, {kHeader});
  Resolved ieee_short = resolve(4, {kIeeeShort});
  std::array<Resolved, std::size(kTemplates)> templates;
  Readers() {
    for (std::size_t t = 0; t < std::size(kTemplates); ++t) {
      templates[t] = resolve(kTemplates[t].number, {kTemplates[t].first, kTemplates[t].second});
    }
  }
};

const Readers& readers() {
  static const Readers r;
  return r;
}

// Reads every bound field into `drs`; false (nothing stored) when the
// section does not hold them all.
bool read_fields(const Resolved& r, Bytes s, DataRepresentation& drs) {
  if (s.size() < r.end) return false;
  for (const auto& [place, store] : r.fields) store(drs, place.read(s));
  return true;
}

// Template 5.200's MVL level values. The walker places a list only when all
// of its entries fit in the section; the decoder wants the ones that do
// (it reports a list shorter than MVL), so they are read here, as many as
// the section holds, from where the layout puts the list.
void read_level_values(const Resolved& r, Bytes s, RunLengthLevels& levels) {
  if (!r.layout || r.layout->group_count == 0) return;
  const TemplateGroup& list = r.layout->group(0);
  const std::size_t start = list.octet - 1u;
  if (list.stride == 0 || s.size() < start) return;
  const std::size_t held = (s.size() - start) / list.stride;
  const std::size_t n = std::min<std::size_t>(held, levels.maxLevel);
  levels.levelValues.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    std::uint32_t raw = 0;
    for (std::size_t o = 0; o < list.stride; ++o) raw = (raw << 8) | s[start + k * list.stride + o];
    levels.levelValues[k] = static_cast<std::uint16_t>(raw);
  }
}

}  // namespace

Result<DataRepresentation> parse_section5(Bytes s) {
  const Readers& r = readers();
  DataRepresentation drs;
  const bool ieee = s.size() >= 11 && load_u16_be(s.data() + 9) == 4;
  if (ieee && s.size() < 20) {
    if (!read_fields(r.ieee_short, s, drs)) return fail("section 5 too short");
    return drs;
  }
  if (!read_fields(r.header, s, drs)) return fail("section 5 too short");
  const std::uint16_t number = drs.dataRepresentationTemplateNumber;
  for (std::size_t t = 0; t < std::size(kTemplates); ++t) {
    if (kTemplates[t].number != number) continue;
    if (read_fields(r.templates[t], s, drs)) {
      if (number == 200) read_level_values(r.templates[t], s, drs.runLength);
    } else if (kTemplates[t].required) {
      return fail(str_cat("section 5 template ", number, " too short"));
    }
    break;
  }
  return drs;
}

}  // namespace vorlak
