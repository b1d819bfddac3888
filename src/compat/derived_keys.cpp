// The derived keys of a message. Values are first gathered into one slot per
// key (texts as views of constant data or of the record), then emitted in
// name order, which is fixed at compile time: no sorting and one string per
// key at run time.
#include "compat/derived_keys.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "compat/calendar.hpp"
#include "compat/code_names.hpp"
#include "compat/param_rules.hpp"

namespace vorlak {

const KeyValue* DerivedKeys::find(std::string_view name) const {
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                                   [](const Entry& e, std::string_view n) { return e.first < n; });
  return (it != entries_.end() && it->first == name) ? &it->second : nullptr;
}

void DerivedKeys::set(std::string name, KeyValue value) {
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                                   [](const Entry& e, const std::string& n) { return e.first < n; });
  if (it != entries_.end() && it->first == name) {
    it->second = std::move(value);
  } else {
    entries_.emplace(it, std::move(name), std::move(value));
  }
}

namespace {

// Every derived key, in the order the values are computed.
enum Key : std::uint8_t {
  kEdition, kEditionNumber, kOffset, kTotalLength, kNumberOfPoints, kNumberOfValues,
  kNumberOfDataPoints, kNx, kNy, kShortName, kName, kUnits, kTypeOfLevel, kLevelType, kLevel,
  kGridType, kGridDefinitionDescription, kDataType, kPackingType, kStepType, kMissingValue,
  kMessageNumber, kCentre, kCentreDescription, kSubCentre, kSubCentreDescription, kDiscipline,
  kParameterCategory, kParameterNumber, kGridDefinitionTemplateNumber,
  kProductDefinitionTemplateNumber, kDataRepresentationTemplateNumber, kBitsPerValue,
  kTable2Version, kIndicatorOfParameter, kGeneratingProcessIdentifier, kParamId, kCfName,
  kCfVarName, kForecastTime, kEndStep, kStepRange, kStepUnits, kIScansNegatively,
  kJScansPositively, kJPointsAreConsecutive, kAlternativeRowScanning, kDataDate, kDataTime,
  kValidityDate, kValidityTime, kKeyCount
};

constexpr std::array<std::string_view, kKeyCount> kKeyNames = {
    "edition", "editionNumber", "offset", "totalLength", "numberOfPoints", "numberOfValues",
    "numberOfDataPoints", "Nx", "Ny", "shortName", "name", "units", "typeOfLevel", "levelType",
    "level", "gridType", "gridDefinitionDescription", "dataType", "packingType", "stepType",
    "missingValue", "messageNumber", "centre", "centreDescription", "subCentre",
    "subCentreDescription", "discipline", "parameterCategory", "parameterNumber",
    "gridDefinitionTemplateNumber", "productDefinitionTemplateNumber",
    "dataRepresentationTemplateNumber", "bitsPerValue", "table2Version", "indicatorOfParameter",
    "generatingProcessIdentifier", "paramId", "cfName", "cfVarName", "forecastTime", "endStep",
    "stepRange", "stepUnits", "iScansNegatively", "jScansPositively", "jPointsAreConsecutive",
    "alternativeRowScanning", "dataDate", "dataTime", "validityDate", "validityTime"};

// The keys in ascending byte-wise name order.
constexpr std::array<std::uint8_t, kKeyCount> kNameOrder = [] {
  std::array<std::uint8_t, kKeyCount> order{};
  for (std::size_t i = 0; i < kKeyCount; ++i) order[i] = static_cast<std::uint8_t>(i);
  std::sort(order.begin(), order.end(),
            [](std::uint8_t a, std::uint8_t b) { return kKeyNames[a] < kKeyNames[b]; });
  return order;
}();

constexpr bool names_unique() {
  for (std::size_t i = 1; i < kKeyCount; ++i) {
    if (kKeyNames[kNameOrder[i - 1]] == kKeyNames[kNameOrder[i]]) return false;
  }
  return true;
}
static_assert(names_unique());

// The values while gathering: a kind per key, and the value itself, left
// uninitialised until set (only the kinds are cleared per build). Texts are
// views that outlive the build.
enum class Kind : std::uint8_t { Absent, Long, Double, Text };

union SlotValue {
  std::int64_t long_value;
  double double_value;
  struct {
    const char* data;
    std::size_t size;
  } text;
};

class Slots {
 public:
  void set_long(Key k, std::int64_t v) { put(k, Kind::Long).long_value = v; }
  void set_double(Key k, double v) { put(k, Kind::Double).double_value = v; }
  void set_text(Key k, std::string_view v) {
    SlotValue& slot = put(k, Kind::Text);
    slot.text.data = v.data();
    slot.text.size = v.size();
  }
  template <class T>
  void set_if(Key k, const std::optional<T>& v) {
    if (v) set_long(k, static_cast<std::int64_t>(*v));
  }

  // Builds every entry in place, in name order.
  DerivedKeys emit() const {
    std::vector<DerivedKeys::Entry> entries;
    entries.reserve(count_);
    for (const std::uint8_t k : kNameOrder) {
      if (kinds_[k] == Kind::Absent) continue;
      const SlotValue& v = values_[k];
      switch (kinds_[k]) {
        case Kind::Long: entries.emplace_back(kKeyNames[k], KeyValue{v.long_value}); break;
        case Kind::Double: entries.emplace_back(kKeyNames[k], KeyValue{v.double_value}); break;
        case Kind::Text:
          entries.emplace_back(kKeyNames[k], KeyValue{std::string(v.text.data, v.text.size)});
          break;
        case Kind::Absent: break;
      }
    }
    return DerivedKeys::from_sorted(std::move(entries));
  }

 private:
  SlotValue& put(Key k, Kind kind) {
    if (kinds_[k] == Kind::Absent) ++count_;
    kinds_[k] = kind;
    return values_[k];
  }
  std::array<Kind, kKeyCount> kinds_{};
  std::array<SlotValue, kKeyCount> values_;
  std::size_t count_ = 0;
};

std::int64_t saturated(std::uint64_t v) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return static_cast<std::int64_t>(std::min(v, kMax));
}

std::int64_t edition_code(Edition e) {
  switch (e) {
    case Edition::One: return 1;
    case Edition::Two: return 2;
    case Edition::Unknown: return 0;
  }
  return 0;
}

// Decimal text of a forecast time into a caller's buffer (at most 10 digits).
std::string_view decimal(std::uint32_t v, std::array<char, 16>& buf) {
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  return {buf.data(), static_cast<std::size_t>(res.ptr - buf.data())};
}

void set_time_keys(const MessageRecord& r, std::int64_t step_unit, Slots& slots) {
  if (!r.reference_time) return;
  const auto reference = parse_rfc3339(*r.reference_time);
  if (!reference) return;
  const auto data = date_time_keys(*reference);
  if (!data) return;
  slots.set_long(kDataDate, data->date);
  slots.set_long(kDataTime, data->time);
  if (!r.forecastTime || step_unit < 0) return;
  const auto validity_instant =
      add_steps(*reference, *r.forecastTime, seconds_per_step_unit(step_unit));
  // An instant the calendar cannot write leaves the validity keys out.
  const auto validity = validity_instant ? date_time_keys(*validity_instant) : std::nullopt;
  if (!validity) return;
  slots.set_long(kValidityDate, validity->date);
  slots.set_long(kValidityTime, validity->time);
}

}  // namespace

DerivedKeys derive_keys(const MessageRecord& r, bool grid_size_known, std::uint64_t grid_size) {
  Slots s;
  const std::int64_t edition = edition_code(r.edition);
  s.set_long(kEdition, edition);
  s.set_long(kEditionNumber, edition);
  s.set_long(kOffset, saturated(r.offset));
  s.set_long(kTotalLength, saturated(r.totalLength));
  if (grid_size_known) {
    const std::int64_t points = saturated(grid_size);
    s.set_long(kNumberOfPoints, points);
    s.set_long(kNumberOfValues, points);
    s.set_long(kNumberOfDataPoints, points);
  }
  s.set_if(kNx, r.Ni);
  s.set_if(kNy, r.Nj);

  const KeyTimeNameViews names = key_time_name_views(r);
  s.set_text(kShortName, names.shortName);
  s.set_text(kName, names.name);
  s.set_text(kUnits, names.units);

  const std::string_view level_name = type_of_level_name(r.edition, r.centre, r.levelType, r.level);
  s.set_text(kTypeOfLevel, level_name);
  s.set_text(kLevelType, level_name);
  s.set_double(kLevel, level_value(r));

  const GridTypeNames grid = grid_type_names(r.gridDefinitionTemplateNumber);
  std::string unknown_grid;
  if (grid.gridType.empty()) {
    std::array<char, 16> buf;
    unknown_grid = "unknown_";
    unknown_grid += decimal(*r.gridDefinitionTemplateNumber, buf);
    s.set_text(kGridType, unknown_grid);
  } else {
    s.set_text(kGridType, grid.gridType);
  }
  s.set_text(kGridDefinitionDescription, grid.description);

  s.set_text(kDataType, (r.forecastTime && *r.forecastTime != 0) ? "fc" : "an");
  s.set_text(kPackingType, packing_type_name(r.edition, r.dataRepresentationTemplateNumber));
  s.set_text(kStepType, "instant");
  s.set_double(kMissingValue, 9999.0);
  s.set_long(kMessageNumber, saturated(r.messageNumber));
  if (r.centre) {
    s.set_long(kCentre, *r.centre);
    s.set_text(kCentreDescription, centre_description(*r.centre));
  }
  s.set_if(kSubCentre, r.subCentre);
  if (r.centre && r.subCentre) {
    s.set_text(kSubCentreDescription, sub_centre_description(*r.centre, *r.subCentre));
  }
  s.set_if(kDiscipline, r.discipline);
  s.set_if(kParameterCategory, r.parameterCategory);
  s.set_if(kParameterNumber, r.parameterNumber);
  s.set_if(kGridDefinitionTemplateNumber, r.gridDefinitionTemplateNumber);
  s.set_if(kProductDefinitionTemplateNumber, r.productDefinitionTemplateNumber);
  s.set_if(kDataRepresentationTemplateNumber, r.dataRepresentationTemplateNumber);
  s.set_if(kBitsPerValue, r.bitsPerValue);
  if (r.edition == Edition::One) {
    s.set_if(kTable2Version, r.table2Version);
    s.set_if(kIndicatorOfParameter, r.parameterNumber);
  }
  s.set_if(kGeneratingProcessIdentifier, r.generatingProcessIdentifier);
  if (names.paramId) s.set_long(kParamId, *names.paramId);
  if (!names.cfName.empty()) s.set_text(kCfName, names.cfName);
  if (!names.cfVarName.empty()) s.set_text(kCfVarName, names.cfVarName);

  std::array<char, 16> step_buf;
  if (r.forecastTime) {
    s.set_long(kForecastTime, *r.forecastTime);
    s.set_long(kEndStep, *r.forecastTime);
    s.set_text(kStepRange, decimal(*r.forecastTime, step_buf));
  }
  // Unit code, or -1 for a unit without a length in time ("unit").
  std::int64_t step_unit = -1;
  if (r.step_unit_name) step_unit = step_unit_code(*r.step_unit_name).value_or(-1);
  if (step_unit >= 0) s.set_long(kStepUnits, step_unit);

  if (r.scanningMode) {
    const std::uint8_t mode = *r.scanningMode;
    s.set_long(kIScansNegatively, (mode & 0x80) ? 1 : 0);
    s.set_long(kJScansPositively, (mode & 0x40) ? 1 : 0);
    s.set_long(kJPointsAreConsecutive, (mode & 0x20) ? 1 : 0);
    s.set_long(kAlternativeRowScanning, (mode & 0x10) ? 1 : 0);
  }
  set_time_keys(r, step_unit, s);
  return s.emit();
}

}  // namespace vorlak
