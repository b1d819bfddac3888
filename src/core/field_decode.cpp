// The decoding side of a FieldFile: the values of one field in the
// presented order of its grid's layout (the order its coordinates come in),
// its rows and columns, and the codes view of one field for the key
// listing. The grid's coordinates are in field_grid.cpp.
#include <cstddef>
#include <variant>

#include "core/field_file.hpp"
#include "core/grid_geometry.hpp"
#include "grib/decode_message.hpp"
#include "grib/geometry/grid_layout.hpp"
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

}  // namespace

Result<DecodedMessage> FieldFile::decode(std::size_t field, const DecodeOptions& options) const {
  if (const auto& error = fields_[field].error) return fail(*error);
  const FieldBytes bytes = bytes_of(field);
  // The whole-message decoder reads the edition from the record and the
  // rest from the bytes.
  return decode_message(bytes.view(), scan_.records[fields_[field].record], options);
}

Result<FieldData> FieldFile::values(std::size_t field, const DecodeOptions& options) const {
  auto decoded = decode(field, options);
  if (!decoded) return fail(std::move(decoded.error()));
  FieldData out;
  out.missing = decoded->missing_count;
  out.values = std::move(decoded->field).take_values();
  const std::optional<GridLayout> layout = layout_of(scan_.records[fields_[field].record].edition, grid_section(field));
  if (!layout || layout->points() != out.values.size()) return out;  // one dimension, in message order
  if (!layout->identity()) {
    std::vector<double> presented(out.values.size());
    if (auto ok = layout->to_presented<double>(out.values, presented); !ok) return fail(std::move(ok.error()));
    out.values = std::move(presented);
  }
  out.shape = shape_of(*layout);
  return out;
}

Result<std::optional<FieldShape>> FieldFile::shape(std::size_t field) const {
  const std::optional<GridLayout> layout = layout_of(scan_.records[fields_[field].record].edition, grid_section(field));
  if (!layout) return std::optional<FieldShape>();
  return shape_of(*layout);
}

HandleRecord FieldFile::codes_view(std::size_t field, const DecodeOptions& options) const {
  const Entry& entry = fields_[field];
  const MessageRecord& message_record = scan_.records[entry.record];
  HandleRecord view;
  std::optional<MessageRecord> own;
  std::vector<std::uint8_t> made;
  if (entry.own_message) {
    // The codes functions read the one-field message made of its sections,
    // with the record its own scan gives, placed where the message is.
    made = single_field_message(message_of(field), entry.spans);
    if (auto scan = scan_messages(made); scan && !scan->records.empty()) {
      own = scan->records.front();
      own->messageNumber = message_record.messageNumber;
      own->offset = message_record.offset;
      own->totalLength = message_record.totalLength;
    }
  }
  if (own) {
    view = HandleRecord::make(*own, BytesSource::private_copy(ByteBlock::copy_of(made)));
  } else if (entry.own_message) {
    // Sections that do not make a message of their own: the field's keys
    // from its record alone.
    view = HandleRecord::make(described(field).record, BytesSource{});
  } else {
    view = HandleRecord::make(message_record, BytesSource::shared(bytes_));
  }
  // A memo of its own, filled now: the view shares nothing decoded.
  view.memo = std::make_shared<ValuesMemo>();
  view.memo->get_with([&] { return decode(field, options); });
  return view;
}

}  // namespace vorlak
