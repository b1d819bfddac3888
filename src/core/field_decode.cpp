// The decoding side of a FieldFile: the values of one field in the
// presented order of its grid's layout (the order its coordinates come in),
// decoded from the field's own sections into the caller's memory; its rows
// and columns; and the codes view of one field for the key listing. The
// grid's coordinates are in field_grid.cpp.
#include <algorithm>
#include <cstddef>
#include <variant>

#include "core/field_file.hpp"
#include "core/grid_geometry.hpp"
#include "grib/decode_message.hpp"
#include "grib/geometry/grid_layout.hpp"
#include "grib/grib1_predefined.hpp"
#include "grib/value_count.hpp"

namespace vorlak {
namespace {

// The layout of the field's grid, when its section places the points (a
// layout this reader cannot present leaves the values in message order).
std::optional<GridLayout> layout_of(Edition edition, Bytes grid_section) {
  if (grid_section.empty()) return std::nullopt;
  auto definition = grid_definition_of(edition, grid_section);
  if (!definition) return std::nullopt;
  auto layout = GridLayout::make(definition->layout);
  if (!layout) return std::nullopt;
  return std::move(*layout);
}

// Rows and columns: a grid of rows of one length; a single row (an
// unstructured grid's points, say) has none.
std::optional<FieldShape> shape_of(const GridLayout& layout) {
  if (!layout.regular() || layout.rows() < 2 || layout.points() == 0) return std::nullopt;
  return FieldShape{layout.rows(), layout.columns()};
}

// GRIB1 fields decode whole into a vector of their own (they are small),
// which is then copied into the caller's memory.
Result<std::uint64_t> copy_out(Result<std::vector<double>> values, const OutputProvider& output) {
  if (!values) return fail(std::move(values.error()));
  const std::span<double> out = output(values->size());
  if (out.size() != values->size()) return fail("the output holds the wrong number of values");
  std::copy(values->begin(), values->end(), out.begin());
  return static_cast<std::uint64_t>(std::count_if(values->begin(), values->end(), [](double v) { return v != v; }));
}

}  // namespace

Result<DecodedMessage> FieldFile::decode(std::size_t field, const DecodeOptions& options) const {
  const Entry& entry = fields_[field];
  if (entry.error) return fail(*entry.error);
  return decode_field(message_of(field), scan_.records[entry.record], entry.spans, options);
}

Result<FieldDecoded> FieldFile::values_into(std::size_t field, const OutputProvider& output,
                                            const DecodeOptions& options) const {
  const Entry& entry = fields_[field];
  if (entry.error) return fail(*entry.error);
  const Bytes message = message_of(field);
  const MessageRecord& record = scan_.records[entry.record];
  std::span<double> out;
  bool asked = false;
  const OutputProvider kept = [&](std::uint64_t n) {
    out = output(n);
    asked = true;
    return out;
  };
  Result<std::uint64_t> missing = fail("message edition is unknown");
  if (record.edition == Edition::Two) {
    auto collected = collect_grib2_field(message, entry.spans);
    if (!collected) return fail(std::move(collected.error()));
    const Bitmap* bitmap = collected->bitmap ? &*collected->bitmap : nullptr;
    missing = decode_grib2_values_into(collected->grid, collected->representation, bitmap, collected->payload, kept,
                                       options);
  } else if (record.edition == Edition::One && !entry.spans.grid.present()) {
    // On a grid its producer predefines: one row, in the message's order.
    missing = copy_out(decode_grib1_predefined(message), kept);
  } else if (record.edition == Edition::One) {
    auto decoded = decode_message(message, record, options);
    if (!decoded) return fail(std::move(decoded.error()));
    missing = copy_out(std::move(decoded->field).take_values(), kept);
  }
  if (!missing) return fail(std::move(missing.error()));
  if (!asked) return fail("the decoder handed back no values");
  FieldDecoded done{out.size(), *missing, std::nullopt};
  const std::optional<GridLayout> layout = layout_of(record.edition, grid_section(field));
  if (!layout || layout->points() != out.size()) return done;  // one dimension, in message order
  if (!layout->identity()) {
    // Alternating rows turn where they lie; columns held consecutively
    // take a copy of the field.
    auto in_place = layout->to_presented_in_place(out);
    if (!in_place) return fail(std::move(in_place.error()));
    if (!*in_place) {
      const std::vector<double> message_order(out.begin(), out.end());
      if (auto ok = layout->to_presented<double>(message_order, out); !ok) return fail(std::move(ok.error()));
    }
  }
  done.shape = shape_of(*layout);
  return done;
}

Result<FieldArray> FieldFile::array(std::size_t field, ValueType type, const DecodeOptions& options) const {
  FieldArray out;
  const OutputProvider output = [&](std::uint64_t n) {
    out.values = ValueArray::doubles(n);
    return out.values.as_doubles();
  };
  auto decoded = values_into(field, output, options);
  if (!decoded) return fail(std::move(decoded.error()));
  out.missing = decoded->missing;
  out.shape = decoded->shape;
  if (type == ValueType::Float32) out.values.narrow_to_floats(std::max(options.threads, 1u));
  return out;
}

Result<FieldData> FieldFile::values(std::size_t field, const DecodeOptions& options) const {
  FieldData out;
  const OutputProvider output = [&](std::uint64_t n) {
    out.values.resize(n);
    return std::span<double>(out.values);
  };
  auto decoded = values_into(field, output, options);
  if (!decoded) return fail(std::move(decoded.error()));
  out.missing = decoded->missing;
  out.shape = decoded->shape;
  return out;
}

Result<std::optional<FieldShape>> FieldFile::shape(std::size_t field) const {
  const std::optional<GridLayout> layout = layout_of(scan_.records[fields_[field].record].edition, grid_section(field));
  if (!layout) return std::optional<FieldShape>();
  return shape_of(*layout);
}

HandleRecord FieldFile::codes_view(std::size_t field, const DecodeOptions& options) const {
  // The record of the field's own sections over the shared bytes: the key
  // layer reads the sections its spans place.
  HandleRecord view = HandleRecord::make(described(field).record, BytesSource::shared(bytes_));
  // A memo of its own, filled now: the view shares nothing decoded.
  view.memo = std::make_shared<ValuesMemo>();
  view.memo->get_with([&] { return decode(field, options); });
  return view;
}

}  // namespace vorlak
