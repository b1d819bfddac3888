#include "core/key_lookup.hpp"

#include <cmath>
#include <limits>

#include "core/key_catalogue.hpp"
#include "grib/limits.hpp"
#include "grib/text.hpp"

namespace vorlak {
namespace {

KeyValue double_value(double v) { return KeyValue{v}; }

// Answers a computed key from the decoded message into `out`: true when
// answered, false when the axis it needs is absent and the derived keys
// should answer instead.
CodesResult<bool> answer_computed(Computed which, std::string_view key, const DecodedMessage& decoded,
                                  KeyValue& out) {
  const std::vector<double>* lat = decoded.coordinates ? &decoded.coordinates->latitude.values : nullptr;
  const std::vector<double>* lon = decoded.coordinates ? &decoded.coordinates->longitude.values : nullptr;
  switch (which) {
    case Computed::Values:
      out = KeyValue{decoded.field.values()};
      return true;
    case Computed::NumberOfMissing:
      out = KeyValue{static_cast<std::int64_t>(
          std::min<std::uint64_t>(decoded.missing_count, std::numeric_limits<std::int64_t>::max()))};
      return true;
    case Computed::DistinctLatitudes:
      if (!lat) return false;
      out = KeyValue{*lat};
      return true;
    case Computed::DistinctLongitudes:
      if (!lon) return false;
      out = KeyValue{*lon};
      return true;
    case Computed::Latitudes: {
      if (!lat || !lon) return false;
      auto size = coordinate_array_size(key, lat->size(), lon->size());
      if (!size) return codes_fail(std::move(size.error()));
      std::vector<double> expanded;
      expanded.reserve(*size);
      for (double row_latitude : *lat) expanded.insert(expanded.end(), lon->size(), row_latitude);
      out = KeyValue{std::move(expanded)};
      return true;
    }
    case Computed::Longitudes: {
      if (!lat || !lon) return false;
      auto size = coordinate_array_size(key, lat->size(), lon->size());
      if (!size) return codes_fail(std::move(size.error()));
      std::vector<double> expanded;
      expanded.reserve(*size);
      for (std::size_t r = 0; r < lat->size(); ++r) expanded.insert(expanded.end(), lon->begin(), lon->end());
      out = KeyValue{std::move(expanded)};
      return true;
    }
    case Computed::IIncrement:
      if (!lon || lon->size() < 2) return false;
      out = double_value(std::fabs((*lon)[1] - (*lon)[0]));
      return true;
    case Computed::JIncrement:
      if (!lat || lat->size() < 2) return false;
      out = double_value(std::fabs((*lat)[1] - (*lat)[0]));
      return true;
    case Computed::LatitudeFirst:
      if (!lat || lat->empty()) return false;
      out = double_value(lat->front());
      return true;
    case Computed::LatitudeLast:
      if (!lat || lat->empty()) return false;
      out = double_value(lat->back());
      return true;
    case Computed::LongitudeFirst:
      if (!lon || lon->empty()) return false;
      out = double_value(lon->front());
      return true;
    case Computed::LongitudeLast:
      if (!lon || lon->empty()) return false;
      out = double_value(lon->back());
      return true;
    case Computed::None: break;
  }
  return false;
}

}  // namespace

CodesResult<std::uint64_t> coordinate_array_size(std::string_view key, std::size_t rows, std::size_t columns) {
  const std::uint64_t r = rows;
  const std::uint64_t c = columns;
  if (c != 0 && r > kMaxGridPoints / c) {
    return codes_fail(CodesError::internal(str_cat(key, " array of ", r, " x ", c, " points is too large")));
  }
  return r * c;
}

CodesResult<KeyValue> get_key(const HandleRecord& handle, std::string_view key) {
  const Computed which = computed_key(key);
  if (which != Computed::None) {
    auto decoded = handle.decoded();
    if (decoded) {
      KeyValue value;
      auto answered = answer_computed(which, key, **decoded, value);
      if (!answered) return codes_fail(std::move(answered.error()));
      if (*answered) return value;
    } else if (which != Computed::Latitudes && which != Computed::Longitudes) {
      return codes_fail(std::move(decoded.error()));
    }
    // Otherwise the derived keys answer (a failed decode is dropped for the
    // two coordinate arrays).
  }
  if (const KeyValue* value = handle.derived.find(key)) return *value;
  return codes_fail(CodesError::key_not_found(std::string(key)));
}

bool key_defined(const HandleRecord& handle, std::string_view key) {
  if (handle.derived.contains(key)) return true;
  const CatalogueKey* entry = find_catalogue_key(key);
  if (!entry) return false;
  switch (entry->listing) {
    case KeyListing::Always: return true;
    case KeyListing::AxisGrids: return has_axis_grid(handle.record);
    case KeyListing::WhenDerived: return false;
  }
  return false;
}

bool has_axis_grid(const MessageRecord& record) {
  const auto& grid_template = record.gridDefinitionTemplateNumber;
  return grid_template && (*grid_template == 0 || *grid_template == 40);
}

namespace {

// A derived value as get_long would read it; none when it does not convert.
std::optional<std::int64_t> as_long(const KeyValue& value) {
  switch (value.tag()) {
    case KeyTag::Long: return std::get<std::int64_t>(value.value);
    case KeyTag::Double: return saturating_double_to_long(std::get<double>(value.value));
    case KeyTag::String: return parse_decimal_long(std::get<std::string>(value.value));
    case KeyTag::DoubleArray: break;
  }
  return std::nullopt;
}

}  // namespace

CodesResult<std::uint64_t> key_size(const HandleRecord& handle, std::string_view key) {
  const Computed which = computed_key(key);
  if (which == Computed::Values) {
    // From the grid, without decoding.
    if (handle.grid_size_known) return handle.grid_size;
    const KeyValue* count = handle.derived.find("numberOfValues");
    const auto n = count ? as_long(*count) : std::nullopt;
    if (!n) return codes_fail(CodesError::key_not_found(std::string(key)));
    return static_cast<std::uint64_t>(*n);
  }
  const bool grid = which == Computed::Latitudes || which == Computed::Longitudes;
  if (grid || which == Computed::DistinctLatitudes || which == Computed::DistinctLongitudes) {
    // The axes' lengths, decoding; never the derived keys.
    const auto decoded = handle.decoded();
    if (!decoded) return codes_fail(decoded.error());
    const auto& coordinates = (*decoded)->coordinates;
    if (!coordinates) return codes_fail(CodesError::key_not_found(std::string(key)));
    const std::uint64_t rows = coordinates->latitude.values.size();
    const std::uint64_t columns = coordinates->longitude.values.size();
    if (grid) return rows * columns;
    return which == Computed::DistinctLatitudes ? rows : columns;
  }
  const auto value = get_key(handle, key);
  if (!value) return codes_fail(value.error());
  switch (value->tag()) {
    case KeyTag::String: return std::get<std::string>(value->value).size();
    case KeyTag::DoubleArray: return std::get<std::vector<double>>(value->value).size();
    case KeyTag::Long:
    case KeyTag::Double: break;
  }
  return 1;
}

CodesResult<std::int64_t> get_long(const HandleRecord& handle, std::string_view key) {
  auto value = get_key(handle, key);
  if (!value) return codes_fail(std::move(value.error()));
  switch (value->tag()) {
    case KeyTag::Long: return std::get<std::int64_t>(value->value);
    case KeyTag::Double: return saturating_double_to_long(std::get<double>(value->value));
    case KeyTag::String:
      if (auto parsed = parse_decimal_long(std::get<std::string>(value->value))) return *parsed;
      break;
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(key), "long", value->type_name()));
}

CodesResult<double> get_double(const HandleRecord& handle, std::string_view key) {
  auto value = get_key(handle, key);
  if (!value) return codes_fail(std::move(value.error()));
  switch (value->tag()) {
    case KeyTag::Long: return static_cast<double>(std::get<std::int64_t>(value->value));
    case KeyTag::Double: return std::get<double>(value->value);
    case KeyTag::String:
      if (auto parsed = parse_decimal_double(std::get<std::string>(value->value))) return *parsed;
      break;
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(key), "double", value->type_name()));
}

CodesResult<std::string> get_string(const HandleRecord& handle, std::string_view key) {
  auto value = get_key(handle, key);
  if (!value) return codes_fail(std::move(value.error()));
  switch (value->tag()) {
    case KeyTag::Long: return std::to_string(std::get<std::int64_t>(value->value));
    case KeyTag::Double: return format_double(std::get<double>(value->value));
    case KeyTag::String: return std::move(std::get<std::string>(value->value));
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(key), "string", value->type_name()));
}

CodesResult<std::vector<double>> get_double_array(const HandleRecord& handle, std::string_view key) {
  auto value = get_key(handle, key);
  if (!value) return codes_fail(std::move(value.error()));
  if (value->tag() == KeyTag::DoubleArray) return std::move(std::get<std::vector<double>>(value->value));
  return codes_fail(CodesError::type_mismatch(std::string(key), "double_array", value->type_name()));
}

}  // namespace vorlak
