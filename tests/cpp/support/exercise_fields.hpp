#pragma once
// Everything the field API (vorlak.open) can make the core do with one
// buffer: open it as a FieldFile, read every key of every field with each
// typed read, decode the values, the shape and the coordinates, and the
// codes view with its computed keys and nearest search. Shared by the fuzz
// target and by the suite that replays the message-level inputs. Besides a
// crash or a sanitizer report, a finding is a broken promise between the
// results of one field, named by the returned text (empty when all hold).
#include <cstdint>
#include <string>

#include "core/field_file.hpp"
#include "core/key_lookup.hpp"
#include "core/keys_iterator.hpp"
#include "grib/text.hpp"

namespace vorlak::test {

// Fields larger than this are legal, but decoding them is legitimate work,
// not a finding; the harness reads only their keys.
inline constexpr std::uint64_t kFieldExercisePoints = std::uint64_t{1} << 16;

// Equal values, NaN equal to NaN.
inline bool same_value(const KeyValue& a, const KeyValue& b) {
  if (a.tag() == KeyTag::Double && b.tag() == KeyTag::Double) {
    const double x = std::get<double>(a.value), y = std::get<double>(b.value);
    return x == y || (x != x && y != y);
  }
  return a.value == b.value;
}

inline std::string exercise_field(const FieldFile& file, std::size_t i) {
  const DecodeOptions options{.all_templates = true};
  std::string previous;
  for (const auto& [name, value] : file.keys(i)) {
    if (!previous.empty() && !(previous < name)) return str_cat("field ", i, ": keys out of order at ", name);
    previous = name;
    // A key read by name (the codes API's keys come from a set of their own)
    // has the value the listing gives.
    const KeyValue* found = file.find_key(i, name);
    if (!found || !same_value(*found, value)) return str_cat("field ", i, ": key ", name, " differs when read by name");
    (void)file.key_long(i, name);
    (void)file.key_double(i, name);
    (void)file.key_text(i, name);
  }
  auto points = file.key_long(i, "numberOfPoints");
  if (!points || *points < 0 || static_cast<std::uint64_t>(*points) > kFieldExercisePoints) return {};

  auto values = file.values(i, options);
  auto shape = file.shape(i);
  auto latitudes = file.latitudes(i);
  auto longitudes = file.longitudes(i);
  if (values) {
    const std::uint64_t size = values->values.size();
    if (values->missing > size) return str_cat("field ", i, ": more missing points than points");
    if (values->shape && values->shape->rows * values->shape->columns != size) {
      return str_cat("field ", i, ": shape ", values->shape->rows, " x ", values->shape->columns, " for ", size,
                     " values");
    }
    if (shape && (values->shape.has_value() != shape->has_value() ||
                  (*shape && ((*shape)->rows != values->shape->rows || (*shape)->columns != values->shape->columns)))) {
      return str_cat("field ", i, ": shape without decoding differs from the decoded one");
    }
    for (const auto* coordinate : {&latitudes, &longitudes}) {
      if (*coordinate && **coordinate && (**coordinate)->size() != size) {
        return str_cat("field ", i, ": ", (**coordinate)->size(), " coordinates for ", size, " values");
      }
    }
  }
  const HandleRecord view = file.codes_view(i, options);
  for (const std::string& name : iterator_key_names(view)) (void)get_key(view, name);
  // The grid: its arrays agree with its coordinates, a point found is one of them.
  (void)file.grid_id(i);
  (void)file.proj_parameters(i);
  (void)file.cf_grid_mapping(i);
  auto coordinates = file.grid_coordinates(i);
  for (GridArray which : {GridArray::X, GridArray::Y}) {
    auto axis = file.grid_array(i, which);
    if (axis && *axis && coordinates && *coordinates) {
      const GridLayout& layout = (**coordinates)->layout();
      if ((*axis)->data.size() != (which == GridArray::X ? layout.columns() : layout.rows())) {
        return str_cat("field ", i, ": a plane axis of ", (*axis)->data.size(), " for its grid");
      }
    }
  }
  if (auto found = file.nearest(i, 45.0, 10.0, 4, options); found && values) {
    for (const NearestCandidate& c : *found) {
      if (c.index >= values->values.size()) return str_cat("field ", i, ": nearest point ", c.index, " past the values");
    }
  }
  return {};
}

inline std::string exercise_field_file(Bytes bytes) {
  auto file = FieldFile::from_bytes(ByteBlock::copy_of(bytes));
  if (!file) return {};
  if ((*file)->size() == 0) return "a file without fields";
  for (std::size_t i = 0; i < (*file)->size(); ++i) {
    const FieldPosition& p = (*file)->position(i);
    if (p.message_offset > bytes.size() || p.message_length > bytes.size() - p.message_offset) {
      return str_cat("field ", i, ": message outside the bytes");
    }
    if (p.index_in_message >= p.fields_in_message) return str_cat("field ", i, ": index past its message's fields");
    if (std::string problem = exercise_field(**file, i); !problem.empty()) return problem;
  }
  return {};
}

}  // namespace vorlak::test
