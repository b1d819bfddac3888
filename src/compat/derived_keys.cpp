// The derived keys of a field. Values are first gathered into one slot per
// catalogue key (texts as views of constant data or of the record), then
// emitted in name order, which is fixed at compile time, merged with the
// template fields the key set asks for: no sorting of the catalogue keys and
// one string per key at run time.
#include "compat/derived_keys.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "compat/code_names.hpp"
#include "compat/layer_names.hpp"
#include "compat/param_rules.hpp"
#include "compat/step_keys.hpp"
#include "core/key_catalogue.hpp"
#include "grib/template_walk.hpp"

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

void DerivedKeys::add_absent(std::vector<Entry> entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.first < b.first; });
  const std::size_t kept = entries_.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i].first == entries[i - 1].first) continue;  // the first of a name
    if (!find(entries[i].first)) entries_.push_back(std::move(entries[i]));
  }
  std::inplace_merge(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(kept), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.first < b.first; });
}

namespace {

using Key = DerivedKey;
constexpr std::size_t kKeyCount = kDerivedKeyCount;

// The keys in ascending byte-wise name order.
constexpr std::array<std::uint8_t, kKeyCount> kNameOrder = [] {
  std::array<std::uint8_t, kKeyCount> order{};
  for (std::size_t i = 0; i < kKeyCount; ++i) order[i] = static_cast<std::uint8_t>(i);
  std::sort(order.begin(), order.end(), [](std::uint8_t a, std::uint8_t b) {
    return kKeyCatalogue[a].name < kKeyCatalogue[b].name;
  });
  return order;
}();

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

// A template field's value, with its key id.
using TemplateEntry = std::pair<std::uint16_t, KeyValue>;

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
  bool has(Key k) const { return kinds_[static_cast<std::size_t>(k)] != Kind::Absent; }

  // Builds every entry in place, in name order, merging the template fields
  // (ascending key ids are ascending names); a catalogue key wins over a
  // template field of the same name.
  DerivedKeys emit(std::vector<TemplateEntry> fields) const {
    std::vector<DerivedKeys::Entry> entries;
    entries.reserve(count_ + fields.size());
    std::size_t next = 0;
    auto flush_before = [&](std::string_view name) {
      while (next < fields.size() && template_key_name(fields[next].first) < name) {
        entries.emplace_back(template_key_name(fields[next].first), std::move(fields[next].second));
        ++next;
      }
      if (next < fields.size() && template_key_name(fields[next].first) == name) ++next;
    };
    for (const std::uint8_t k : kNameOrder) {
      if (kinds_[k] == Kind::Absent) continue;
      const std::string_view name = kKeyCatalogue[k].name;
      if (!fields.empty()) flush_before(name);
      const SlotValue& v = values_[k];
      switch (kinds_[k]) {
        case Kind::Long: entries.emplace_back(name, KeyValue{v.long_value}); break;
        case Kind::Double: entries.emplace_back(name, KeyValue{v.double_value}); break;
        case Kind::Text: entries.emplace_back(name, KeyValue{std::string(v.text.data, v.text.size)}); break;
        case Kind::Absent: break;
      }
    }
    for (; next < fields.size(); ++next) {
      entries.emplace_back(template_key_name(fields[next].first), std::move(fields[next].second));
    }
    return DerivedKeys::from_sorted(std::move(entries));
  }

 private:
  SlotValue& put(Key k, Kind kind) {
    const auto i = static_cast<std::size_t>(k);
    if (kinds_[i] == Kind::Absent) ++count_;
    kinds_[i] = kind;
    return values_[i];
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

// Decimal text of a grid template number into a caller's buffer.
std::string_view decimal(std::uint32_t v, std::array<char, 16>& buf) {
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  return {buf.data(), static_cast<std::size_t>(res.ptr - buf.data())};
}

// ------------------------------------------------------- template fields

// The template key ids the derivation reads.
struct TemplateKeys {
  std::uint16_t length, process, range_unit, perturbation, pv;
  std::uint16_t end[6];  // year, month, day, hour, minute, second of end of overall time interval
  std::uint16_t lower_factor, lower_value, upper_factor, upper_value;
  std::vector<bool> in_template_0;  // by key id: the key is a field of template 4.0
};

const TemplateKeys& template_keys() {
  static const TemplateKeys keys = [] {
    auto id = [](std::string_view name) { return template_key_id(name).value_or(kNoField); };
    TemplateKeys k{id("lengthOfTimeRange"),
                   id("typeOfStatisticalProcessing"),
                   id("indicatorOfUnitForTimeRange"),
                   id("perturbationNumber"),
                   id("pv"),
                   {id("yearOfEndOfOverallTimeInterval"), id("monthOfEndOfOverallTimeInterval"),
                    id("dayOfEndOfOverallTimeInterval"), id("hourOfEndOfOverallTimeInterval"),
                    id("minuteOfEndOfOverallTimeInterval"), id("secondOfEndOfOverallTimeInterval")},
                   id("scaleFactorOfLowerLimit"),
                   id("scaledValueOfLowerLimit"),
                   id("scaleFactorOfUpperLimit"),
                   id("scaledValueOfUpperLimit"),
                   std::vector<bool>(template_key_count(), false)};
    if (const TemplateLayout* zero = find_template(4, 0)) {
      for (std::size_t i = 0; i < zero->size(); ++i) k.in_template_0[zero->field(i).key] = true;
    }
    return k;
  }();
  return keys;
}

// A section of the message by its span; empty when it is not there.
Bytes section_bytes(Bytes message, const SectionSpan& span) {
  if (!span.present() || span.offset > message.size() || message.size() - span.offset < span.length) return {};
  return message.subspan(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.length));
}

// A field's value as a key: a number for one entry, an array for several.
// Octets all ones read as that unsigned number (255, 65535, ...), except
// time offsets, which are two's complement.
std::int64_t entry_long(const FieldValue& v) {
  if (v.missing() && v.sign != SignRule::TwosComplement) return saturated(v.raw);
  return v.value();
}

std::optional<KeyValue> field_key(const TemplateReader& r, std::size_t i) {
  const std::uint32_t n = r.count(i);
  if (n == 0) return std::nullopt;
  const bool real = r.layout()->field(i).sign == SignRule::Ieee32;
  if (n == 1) {
    const auto v = r.get(i);
    if (!v) return std::nullopt;
    if (real) return KeyValue{v->real()};
    return KeyValue{entry_long(*v)};
  }
  std::vector<double> values;
  values.reserve(n);  // n entries lie inside the section: bounded by its length
  for (std::uint32_t e = 0; e < n; ++e) {
    const auto v = r.get(i, e);
    if (!v) return std::nullopt;
    values.push_back(real ? v->real() : static_cast<double>(entry_long(*v)));
  }
  return KeyValue{std::move(values)};
}

// The fields of a template, in name order.
void add_template_fields(const TemplateReader& r, bool only_beyond_template_0, std::vector<TemplateEntry>& out) {
  if (!r.layout()) return;
  const TemplateKeys& k = template_keys();
  for (const auto& [key, i] : r.layout()->by_key()) {
    if (only_beyond_template_0 && (k.in_template_0[key] || key == k.pv)) continue;
    if (!out.empty() && out.back().first == key) continue;  // the first of a repeated key
    if (auto value = field_key(r, i)) out.emplace_back(key, std::move(*value));
  }
}

// A probability limit: scaled value x 10^-factor; none where either is missing.
std::optional<double> limit(const TemplateReader& r, std::uint16_t factor_key, std::uint16_t value_key) {
  const auto factor = r.find(factor_key);
  const auto value = r.find(value_key);
  if (!factor || !value || factor->missing() || value->missing()) return std::nullopt;
  return static_cast<double>(value->value()) * std::pow(10.0, static_cast<double>(-factor->value()));
}

// The outermost time range of a template that has one.
std::optional<TimeRange> time_range(const TemplateReader& r) {
  const TemplateKeys& k = template_keys();
  if (!r.layout() || !r.layout()->find(k.length)) return std::nullopt;
  TimeRange range;
  if (const auto v = r.find(k.process)) range.process = static_cast<std::uint8_t>(v->raw);
  if (const auto v = r.find(k.range_unit)) range.unit = static_cast<std::uint8_t>(v->raw);
  if (const auto v = r.find(k.length)) range.length = v->value();
  std::uint64_t end[6];
  bool complete = true;
  for (int i = 0; i < 6; ++i) {
    const auto v = r.find(k.end[i]);
    complete = complete && v;
    end[i] = v ? v->raw : 0;
  }
  if (complete && end[0] <= 0xFFFF) {
    range.end = ReferenceTime{static_cast<std::uint16_t>(end[0]), static_cast<std::uint8_t>(end[1]),
                              static_cast<std::uint8_t>(end[2]), static_cast<std::uint8_t>(end[3]),
                              static_cast<std::uint8_t>(end[4]), static_cast<std::uint8_t>(end[5])};
  }
  return range;
}

}  // namespace

DerivedKeys derive_keys(const MessageRecord& r, bool grid_size_known, std::uint64_t grid_size) {
  return derive_keys(FieldView{r, {}, grid_size_known, grid_size}, KeySet::Codes);
}

DerivedKeys derive_keys(const FieldView& field, KeySet set) {
  const MessageRecord& r = field.record;
  Slots s;
  const std::int64_t edition = edition_code(r.edition);
  s.set_long(Key::edition, edition);
  s.set_long(Key::editionNumber, edition);
  s.set_long(Key::offset, saturated(r.offset));
  s.set_long(Key::totalLength, saturated(r.totalLength));
  if (field.grid_size_known) {
    const std::int64_t points = saturated(field.grid_size);
    s.set_long(Key::numberOfPoints, points);
    s.set_long(Key::numberOfValues, points);
    s.set_long(Key::numberOfDataPoints, points);
  }
  s.set_if(Key::Nx, r.Ni);
  s.set_if(Key::Ny, r.Nj);

  const KeyTimeNameViews names = key_time_name_views(r);
  s.set_text(Key::shortName, names.shortName);
  s.set_text(Key::name, names.name);
  s.set_text(Key::units, names.units);

  // A layer: its two surfaces, and for GRIB2 the layer's own level name.
  std::string layer_name;
  const bool layer = is_layer(r);
  if (layer && r.edition == Edition::Two && r.levelType) {
    layer_name = layer_level_name(r.centre, *r.levelType, *r.secondLevelType);
  }
  const std::string_view level_name =
      !layer_name.empty() ? std::string_view(layer_name) : type_of_level_name(r.edition, r.centre, r.levelType, r.level);
  s.set_text(Key::typeOfLevel, level_name);
  s.set_text(Key::levelType, level_name);
  s.set_double(Key::level, level_value(r));
  if (layer) {
    s.set_double(Key::topLevel, level_value(r));
    s.set_double(Key::bottomLevel, surface_in_level_units(r.edition, r.secondLevelType, *r.secondLevel));
    if (r.edition == Edition::Two) {
      s.set_if(Key::typeOfFirstFixedSurface, r.levelType);
      s.set_if(Key::typeOfSecondFixedSurface, r.secondLevelType);
    }
  }

  const GridTypeNames grid = grid_type_names(r.gridDefinitionTemplateNumber, r.reduced_point_count.has_value());
  std::string unknown_grid;
  if (grid.gridType.empty()) {
    std::array<char, 16> buf;
    unknown_grid = "unknown_";
    unknown_grid += decimal(*r.gridDefinitionTemplateNumber, buf);
    s.set_text(Key::gridType, unknown_grid);
  } else {
    s.set_text(Key::gridType, grid.gridType);
  }
  s.set_text(Key::gridDefinitionDescription, grid.description);

  s.set_text(Key::dataType, (r.forecastTime && *r.forecastTime != 0) ? "fc" : "an");
  s.set_text(Key::packingType, packing_type_name(r.edition, r.dataRepresentationTemplateNumber));
  s.set_double(Key::missingValue, 9999.0);
  s.set_long(Key::messageNumber, saturated(r.messageNumber));
  if (r.centre) {
    s.set_long(Key::centre, *r.centre);
    s.set_text(Key::centreDescription, centre_description(*r.centre));
  }
  s.set_if(Key::subCentre, r.subCentre);
  if (r.centre && r.subCentre) {
    s.set_text(Key::subCentreDescription, sub_centre_description(*r.centre, *r.subCentre));
  }
  s.set_if(Key::discipline, r.discipline);
  s.set_if(Key::parameterCategory, r.parameterCategory);
  s.set_if(Key::parameterNumber, r.parameterNumber);
  s.set_if(Key::gridDefinitionTemplateNumber, r.gridDefinitionTemplateNumber);
  s.set_if(Key::productDefinitionTemplateNumber, r.productDefinitionTemplateNumber);
  s.set_if(Key::dataRepresentationTemplateNumber, r.dataRepresentationTemplateNumber);
  s.set_if(Key::bitsPerValue, r.bitsPerValue);
  if (r.edition == Edition::One) {
    s.set_if(Key::table2Version, r.table2Version);
    s.set_if(Key::indicatorOfParameter, r.parameterNumber);
  }
  s.set_if(Key::generatingProcessIdentifier, r.generatingProcessIdentifier);
  if (names.paramId) s.set_long(Key::paramId, *names.paramId);
  if (!names.cfName.empty()) s.set_text(Key::cfName, names.cfName);
  if (!names.cfVarName.empty()) s.set_text(Key::cfVarName, names.cfVarName);

  if (r.scanningMode) {
    const std::uint8_t mode = *r.scanningMode;
    s.set_long(Key::iScansNegatively, (mode & 0x80) ? 1 : 0);
    s.set_long(Key::jScansPositively, (mode & 0x40) ? 1 : 0);
    s.set_long(Key::jPointsAreConsecutive, (mode & 0x20) ? 1 : 0);
    s.set_long(Key::alternativeRowScanning, (mode & 0x10) ? 1 : 0);
  }

  // The product template: its fields, its time range, members and limits.
  std::vector<TemplateEntry> fields;
  std::optional<TimeRange> range;
  const bool grib2 = r.edition == Edition::Two;
  const Bytes product = grib2 ? section_bytes(field.message, r.spans.product) : Bytes{};
  const bool other_template = r.productDefinitionTemplateNumber.value_or(0) != 0;
  if (grib2 && (other_template || set == KeySet::All) && !product.empty()) {
    const TemplateReader product_fields(find_template(4, *r.productDefinitionTemplateNumber), product);
    const TemplateKeys& k = template_keys();
    add_template_fields(product_fields, set == KeySet::Codes, fields);
    range = time_range(product_fields);
    if (const auto v = product_fields.find(k.perturbation)) s.set_long(Key::number, entry_long(*v));
    if (const auto v = limit(product_fields, k.lower_factor, k.lower_value)) s.set_double(Key::lowerLimit, *v);
    if (const auto v = limit(product_fields, k.upper_factor, k.upper_value)) s.set_double(Key::upperLimit, *v);
  }
  if (grib2 && set == KeySet::All) {
    if (const auto grid_bytes = section_bytes(field.message, r.spans.grid); !grid_bytes.empty()) {
      add_template_fields(TemplateReader(find_template(3, r.gridDefinitionTemplateNumber.value_or(0xFFFF)),
                                         grid_bytes),
                          false, fields);
    }
    if (const auto data_bytes = section_bytes(field.message, r.spans.representation); !data_bytes.empty()) {
      add_template_fields(
          TemplateReader(find_template(5, r.dataRepresentationTemplateNumber.value_or(0xFFFF)), data_bytes), false,
          fields);
    }
  }
  if (set == KeySet::All && fields.size() > 1) {  // three templates' fields, each in name order
    std::stable_sort(fields.begin(), fields.end(),
                     [](const TemplateEntry& a, const TemplateEntry& b) { return a.first < b.first; });
    fields.erase(std::unique(fields.begin(), fields.end(),
                             [](const TemplateEntry& a, const TemplateEntry& b) { return a.first == b.first; }),
                 fields.end());
  }

  // Time.
  const StepKeys steps = step_keys(r, range);
  s.set_if(Key::stepUnits, steps.units);
  if (steps.data) {
    s.set_long(Key::dataDate, steps.data->date);
    s.set_long(Key::dataTime, steps.data->time);
  }
  if (steps.validity && steps.units) {
    s.set_long(Key::validityDate, steps.validity->date);
    s.set_long(Key::validityTime, steps.validity->time);
  }
  s.set_text(Key::stepType, steps.type);
  char step_text[48];
  if (r.forecastTime) {
    s.set_long(Key::forecastTime, *r.forecastTime);
    s.set_long(Key::endStep, *steps.end);
    s.set_text(Key::stepRange, step_range_text(*steps.start, *steps.end, step_text));
    if (range || r.edition == Edition::One) s.set_long(Key::startStep, *steps.start);
  }
  if (r.edition == Edition::One) {
    s.set_if(Key::timeRangeIndicator, r.timeRangeIndicator);
    s.set_if(Key::P1, r.forecastTime);
    s.set_if(Key::P2, r.P2);
  }
  return s.emit(std::move(fields));
}

}  // namespace vorlak
