#pragma once
// Key lookup: computed keys from the decoded field, then derived keys, and
// the four typed readers with their conversion rules.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/codes_error.hpp"
#include "core/handle_record.hpp"
#include "types/key_value.hpp"

namespace vorlak {

CodesResult<KeyValue> get_key(const HandleRecord& handle, std::string_view key);

// codes_is_defined: a derived key, or a computed key the message answers
// (values and numberOfMissing always; the coordinate keys on latitude/
// longitude and Gaussian grids). Never decodes.
bool key_defined(const HandleRecord& handle, std::string_view key);
// True for the grid templates whose coordinates are computed (0 and 40).
bool has_axis_grid(const MessageRecord& record);

// codes_get_size: "values" from the grid size without decoding; the
// coordinate arrays from the decoded axes; other keys by their value.
CodesResult<std::uint64_t> key_size(const HandleRecord& handle, std::string_view key);


// What get_key would answer, described without building it: the kind, and
// the number of elements of an array (bytes of a text, 1 for a number). The
// same decoding and the same errors as get_key; an array key costs nothing
// beyond the decode.
struct KeyShape {
  KeyTag tag = KeyTag::Long;
  std::uint64_t size = 0;
};
CodesResult<KeyShape> key_shape(const HandleRecord& handle, std::string_view key);

// The keys whose answer can be an array as large as the grid ("values",
// the coordinate arrays and axes): worth describing before building.
bool is_grid_array_key(std::string_view key);

// Writes the elements of a "double_array" key into `out`, which must hold
// exactly key_shape(handle, key).size elements (the caller's own buffer,
// so an array is built once). A key of another kind fails as
// get_double_array does.
CodesResult<void> read_double_array_into(const HandleRecord& handle, std::string_view key, std::span<double> out);

// The scalar readers refuse an array key from its shape, without building it.
CodesResult<std::int64_t> get_long(const HandleRecord& handle, std::string_view key);
CodesResult<double> get_double(const HandleRecord& handle, std::string_view key);
CodesResult<std::string> get_string(const HandleRecord& handle, std::string_view key);
CodesResult<std::vector<double>> get_double_array(const HandleRecord& handle, std::string_view key);

// rows x columns for the expanded "latitudes" / "longitudes" arrays of `key`;
// refused (Internal) before any allocation when it cannot be a real grid.
CodesResult<std::uint64_t> coordinate_array_size(std::string_view key, std::size_t rows, std::size_t columns);

// The conversions the readers use, shared with the array and index code.
std::int64_t saturating_double_to_long(double value);
std::optional<std::int64_t> parse_decimal_long(std::string_view text);
std::optional<double> parse_decimal_double(std::string_view text);
// Shortest round-trip digits in positional notation; "NaN", "inf", "-inf".
std::string format_double(double value);

// A key's value as each typed reader gives it (`name` for the error): a
// long from a double saturates, a text converts only when it is a decimal
// number, an array is a type mismatch.
CodesResult<std::int64_t> value_as_long(const KeyValue& value, std::string_view name);
CodesResult<double> value_as_double(const KeyValue& value, std::string_view name);
CodesResult<std::string> value_as_text(KeyValue value, std::string_view name);

}  // namespace vorlak
