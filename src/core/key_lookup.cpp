#include "core/key_lookup.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/key_catalogue.hpp"
#include "grib/limits.hpp"
#include "grib/text.hpp"

namespace vorlak {
namespace {

bool is_array_key(Computed which) {
  return which == Computed::Values || which == Computed::Latitudes || which == Computed::Longitudes ||
         which == Computed::DistinctLatitudes || which == Computed::DistinctLongitudes;
}

// The kind and size of a computed key's answer, from the decoded message
// alone (no array is built); none when the axis it needs is absent and the
// derived keys should answer instead.
CodesResult<std::optional<KeyShape>> computed_shape(Computed which, std::string_view key,
                                                    const DecodedMessage& decoded) {
  const std::vector<double>* lat = decoded.coordinates ? &decoded.coordinates->latitude.values : nullptr;
  const std::vector<double>* lon = decoded.coordinates ? &decoded.coordinates->longitude.values : nullptr;
  constexpr std::optional<KeyShape> kDerived;
  constexpr KeyShape kDouble{KeyTag::Double, 1};
  switch (which) {
    case Computed::Values: return KeyShape{KeyTag::DoubleArray, decoded.field.values().size()};
    case Computed::NumberOfMissing: return KeyShape{KeyTag::Long, 1};
    case Computed::DistinctLatitudes:
      if (!lat) return kDerived;
      return KeyShape{KeyTag::DoubleArray, lat->size()};
    case Computed::DistinctLongitudes:
      if (!lon) return kDerived;
      return KeyShape{KeyTag::DoubleArray, lon->size()};
    case Computed::Latitudes:
    case Computed::Longitudes: {
      if (!lat || !lon) return kDerived;
      auto size = coordinate_array_size(key, lat->size(), lon->size());
      if (!size) return codes_fail(std::move(size.error()));
      return KeyShape{KeyTag::DoubleArray, *size};
    }
    case Computed::IIncrement: return lon && lon->size() >= 2 ? kDouble : kDerived;
    case Computed::JIncrement: return lat && lat->size() >= 2 ? kDouble : kDerived;
    case Computed::LatitudeFirst:
    case Computed::LatitudeLast: return lat && !lat->empty() ? kDouble : kDerived;
    case Computed::LongitudeFirst:
    case Computed::LongitudeLast: return lon && !lon->empty() ? kDouble : kDerived;
    case Computed::None: break;
  }
  return kDerived;
}

// Writes a computed array key into `out`, whose size computed_shape gave.
void write_computed_array(Computed which, const DecodedMessage& decoded, std::span<double> out) {
  const auto copy = [&](const std::vector<double>& from) { std::copy(from.begin(), from.end(), out.begin()); };
  const std::vector<double>& lat = decoded.coordinates->latitude.values;
  const std::vector<double>& lon = decoded.coordinates->longitude.values;
  switch (which) {
    case Computed::Values: copy(decoded.field.values()); return;
    case Computed::DistinctLatitudes: copy(lat); return;
    case Computed::DistinctLongitudes: copy(lon); return;
    // A grid of one column (a rewritten Ni can make millions of rows) is
    // written as one run, not row by row.
    case Computed::Latitudes: {
      if (lon.size() == 1) return copy(lat);
      auto at = out.begin();
      for (const double row_latitude : lat) at = std::fill_n(at, lon.size(), row_latitude);
      return;
    }
    case Computed::Longitudes: {
      if (lon.size() == 1) {
        std::fill(out.begin(), out.end(), lon.front());
        return;
      }
      auto at = out.begin();
      for (std::size_t r = 0; r < lat.size(); ++r) at = std::copy(lon.begin(), lon.end(), at);
      return;
    }
    default: return;
  }
}

// The value of a computed key whose shape computed_shape gave.
KeyValue computed_value(Computed which, const KeyShape& shape, const DecodedMessage& decoded) {
  if (shape.tag == KeyTag::DoubleArray) {
    std::vector<double> array(shape.size);
    write_computed_array(which, decoded, array);
    return KeyValue{std::move(array)};
  }
  if (which == Computed::NumberOfMissing) {
    return KeyValue{static_cast<std::int64_t>(
        std::min<std::uint64_t>(decoded.missing_count, std::numeric_limits<std::int64_t>::max()))};
  }
  const std::vector<double>& lat = decoded.coordinates->latitude.values;
  const std::vector<double>& lon = decoded.coordinates->longitude.values;
  switch (which) {
    case Computed::IIncrement: return KeyValue{std::fabs(lon[1] - lon[0])};
    case Computed::JIncrement: return KeyValue{std::fabs(lat[1] - lat[0])};
    case Computed::LatitudeFirst: return KeyValue{lat.front()};
    case Computed::LatitudeLast: return KeyValue{lat.back()};
    case Computed::LongitudeFirst: return KeyValue{lon.front()};
    case Computed::LongitudeLast: return KeyValue{lon.back()};
    default: return KeyValue{0.0};
  }
}

KeyShape shape_of(const KeyValue& value) {
  switch (value.tag()) {
    case KeyTag::String: return {KeyTag::String, std::get<std::string>(value.value).size()};
    case KeyTag::DoubleArray: return {KeyTag::DoubleArray, std::get<std::vector<double>>(value.value).size()};
    case KeyTag::Long:
    case KeyTag::Double: break;
  }
  return {value.tag(), 1};
}

// Where a key's answer comes from: a computed key of the decoded message
// (with its shape), or the derived keys (`decoded` null). Both get_key and
// key_shape follow it, so they agree on every key.
struct Source {
  const DecodedMessage* decoded = nullptr;
  KeyShape shape{};
};

CodesResult<Source> source_of(const HandleRecord& handle, Computed which, std::string_view key) {
  if (which == Computed::None) return Source{};
  auto decoded = handle.decoded();
  if (decoded) {
    auto shape = computed_shape(which, key, **decoded);
    if (!shape) return codes_fail(std::move(shape.error()));
    if (*shape) return Source{*decoded, **shape};
  } else if (which != Computed::Latitudes && which != Computed::Longitudes) {
    return codes_fail(std::move(decoded.error()));
  }
  // Otherwise the derived keys answer (a failed decode is dropped for the
  // two coordinate arrays).
  return Source{};
}

// For the scalar readers: an array answer is refused by its shape, before
// anything is built.
CodesResult<void> refuse_array(const HandleRecord& handle, std::string_view key, const char* requested) {
  const Computed which = computed_key(key);
  if (!is_array_key(which)) return {};
  auto shape = key_shape(handle, key);
  if (!shape) return codes_fail(std::move(shape.error()));
  if (shape->tag != KeyTag::DoubleArray) return {};
  return codes_fail(CodesError::type_mismatch(std::string(key), requested,
                                              KeyValue::key_type_name(KeyTag::DoubleArray)));
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
  auto source = source_of(handle, which, key);
  if (!source) return codes_fail(std::move(source.error()));
  if (source->decoded) return computed_value(which, source->shape, *source->decoded);
  if (const KeyValue* value = handle.derived.find(key)) return *value;
  return codes_fail(CodesError::key_not_found(std::string(key)));
}

bool is_grid_array_key(std::string_view key) { return is_array_key(computed_key(key)); }

CodesResult<KeyShape> key_shape(const HandleRecord& handle, std::string_view key) {
  auto source = source_of(handle, computed_key(key), key);
  if (!source) return codes_fail(std::move(source.error()));
  if (source->decoded) return source->shape;
  if (const KeyValue* value = handle.derived.find(key)) return shape_of(*value);
  return codes_fail(CodesError::key_not_found(std::string(key)));
}

CodesResult<void> read_double_array_into(const HandleRecord& handle, std::string_view key, std::span<double> out) {
  const Computed which = computed_key(key);
  auto source = source_of(handle, which, key);
  if (!source) return codes_fail(std::move(source.error()));
  if (source->decoded) {
    if (source->shape.tag != KeyTag::DoubleArray) {
      return codes_fail(CodesError::type_mismatch(std::string(key), "double_array",
                                                  KeyValue::key_type_name(source->shape.tag)));
    }
    if (source->shape.size != out.size()) {
      return codes_fail(CodesError::internal(str_cat(key, " has ", source->shape.size, " elements, not ", out.size())));
    }
    write_computed_array(which, *source->decoded, out);
    return {};
  }
  const KeyValue* value = handle.derived.find(key);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(key)));
  if (value->tag() != KeyTag::DoubleArray) {
    return codes_fail(CodesError::type_mismatch(std::string(key), "double_array", value->type_name()));
  }
  const auto& array = std::get<std::vector<double>>(value->value);
  if (array.size() != out.size()) {
    return codes_fail(CodesError::internal(str_cat(key, " has ", array.size(), " elements, not ", out.size())));
  }
  std::copy(array.begin(), array.end(), out.begin());
  return {};
}

bool has_axis_grid(const MessageRecord& record) {
  const auto& grid_template = record.gridDefinitionTemplateNumber;
  return grid_template && (*grid_template == 0 || *grid_template == 40);
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
  const auto shape = key_shape(handle, key);
  if (!shape) return codes_fail(shape.error());
  return shape->size;
}

CodesResult<std::int64_t> get_long(const HandleRecord& handle, std::string_view key) {
  if (auto refused = refuse_array(handle, key, "long"); !refused) return codes_fail(std::move(refused.error()));
  auto value = get_key(handle, key);
  if (!value) return codes_fail(std::move(value.error()));
  return value_as_long(*value, key);
}

CodesResult<double> get_double(const HandleRecord& handle, std::string_view key) {
  if (auto refused = refuse_array(handle, key, "double"); !refused) return codes_fail(std::move(refused.error()));
  auto value = get_key(handle, key);
  if (!value) return codes_fail(std::move(value.error()));
  return value_as_double(*value, key);
}

CodesResult<std::string> get_string(const HandleRecord& handle, std::string_view key) {
  if (auto refused = refuse_array(handle, key, "string"); !refused) return codes_fail(std::move(refused.error()));
  auto value = get_key(handle, key);
  if (!value) return codes_fail(std::move(value.error()));
  return value_as_text(std::move(*value), key);
}

CodesResult<std::vector<double>> get_double_array(const HandleRecord& handle, std::string_view key) {
  auto value = get_key(handle, key);
  if (!value) return codes_fail(std::move(value.error()));
  if (value->tag() == KeyTag::DoubleArray) return std::move(std::get<std::vector<double>>(value->value));
  return codes_fail(CodesError::type_mismatch(std::string(key), "double_array", value->type_name()));
}

}  // namespace vorlak
