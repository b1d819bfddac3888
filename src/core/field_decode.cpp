// The decoding side of a FieldFile: the values of one field, its rows and
// columns, the latitude and longitude of every point, and the codes view
// of one field for the key listing and the nearest search.
#include <cstddef>

#include "core/field_file.hpp"
#include "grib/decode_message.hpp"
#include "grib/geometry.hpp"
#include "grib/grib1_sections.hpp"
#include "grib/value_count.hpp"

namespace vorlak {
namespace {

// The grid a field's values are laid out on, from the decoding walk (no
// payload is decoded), and whether the values come in rows.
struct FieldGrid {
  GridSummary grid;
  bool has_rows = true;
};

// Rows of varying length and spectral coefficients have no rows and
// columns; every other grid has Nj rows of Ni points.
bool grid_has_rows(Edition edition, const GridSummary& grid) {
  if (grid.reduced_point_count) return false;
  const std::uint16_t number = grid.gridDefinitionTemplateNumber;
  if (edition == Edition::One) return number != 41 && number != 50 && number != 51;
  return number < 50 || number > 53;
}

Result<FieldGrid> collect_grid(Bytes message, const MessageRecord& record) {
  if (auto ok = check_decode_entry(message, record); !ok) return fail(std::move(ok.error()));
  FieldGrid out;
  if (record.edition == Edition::One) {
    auto collected = collect_grib1(message);
    if (!collected) return fail(std::move(collected.error()));
    out.grid = std::move(collected->grid);
  } else {
    // Nj comes corrected for Gaussian grids that state fewer rows.
    auto collected = collect_grib2(message);
    if (!collected) return fail(std::move(collected.error()));
    out.grid = std::move(collected->grid);
  }
  out.has_rows = grid_has_rows(record.edition, out.grid);
  return out;
}

Result<DecodedMessage> decode_field(Bytes message, const MessageRecord& record, const DecodeOptions& options) {
  return decode_message(message, record, options);
}

}  // namespace

Result<DecodedMessage> FieldFile::decode(std::size_t field, const DecodeOptions& options) const {
  if (const auto& sections = fields_[field].sections; sections && sections->error) return fail(*sections->error);
  auto bytes = bytes_of(field, FieldContent::Whole);
  if (!bytes) return fail(std::move(bytes.error()));
  return decode_field(bytes->view(), record_of(field), options);
}

Result<FieldData> FieldFile::values(std::size_t field, const DecodeOptions& options) const {
  auto decoded = decode(field, options);
  if (!decoded) return fail(std::move(decoded.error()));
  FieldData out;
  const std::uint64_t rows = decoded->field.Nj();
  const std::uint64_t columns = decoded->field.Ni();
  if (grid_has_rows(decoded->record.edition, decoded->grid)) out.shape = FieldShape{rows, columns};
  out.missing = decoded->missing_count;
  out.values = std::move(decoded->field).take_values();
  return out;
}

Result<std::optional<FieldShape>> FieldFile::shape(std::size_t field) const {
  auto bytes = bytes_of(field, FieldContent::Grid);
  if (!bytes) return fail(std::move(bytes.error()));
  auto grid = collect_grid(bytes->view(), record_of(field));
  if (!grid) return fail(std::move(grid.error()));
  if (!grid->has_rows) return std::optional<FieldShape>();
  return std::optional<FieldShape>(FieldShape{grid->grid.Nj, grid->grid.Ni});
}

Result<std::optional<std::vector<double>>> FieldFile::coordinate(std::size_t field, bool latitude) const {
  using Out = std::optional<std::vector<double>>;
  auto bytes = bytes_of(field, FieldContent::Grid);
  if (!bytes) return fail(std::move(bytes.error()));
  auto grid = collect_grid(bytes->view(), record_of(field));
  if (!grid) return fail(std::move(grid.error()));
  if (!grid->has_rows) return Out();
  const std::optional<Coordinates> axes = compute_coordinates(grid->grid);
  if (!axes) return Out();
  // Point k lies in row k / columns and column k % columns.
  const std::vector<double>& lat = axes->latitude.values;
  const std::vector<double>& lon = axes->longitude.values;
  const std::uint64_t rows = lat.size();
  const std::uint64_t columns = lon.size();
  if (columns != 0 && rows > kMaxGridPoints / columns) {
    return fail(str_cat("grid of ", rows, " x ", columns, " points exceeds the supported maximum ",
                        kMaxGridPoints));
  }
  std::vector<double> out;
  out.reserve(rows * columns);
  if (latitude) {
    for (double row_latitude : lat) out.insert(out.end(), columns, row_latitude);
  } else {
    for (std::uint64_t r = 0; r < rows; ++r) out.insert(out.end(), lon.begin(), lon.end());
  }
  return Out(std::move(out));
}

Result<std::optional<std::vector<double>>> FieldFile::latitudes(std::size_t field) const {
  return coordinate(field, true);
}

Result<std::optional<std::vector<double>>> FieldFile::longitudes(std::size_t field) const {
  return coordinate(field, false);
}

HandleRecord FieldFile::codes_view(std::size_t field, const DecodeOptions& options) const {
  HandleRecord view = described(field);
  if (fields_[field].own_record) {
    // The codes functions read the one-field message made of its sections.
    if (auto bytes = bytes_of(field, FieldContent::Whole)) {
      view.bytes = BytesSource::private_copy(ByteBlock::copy_of(bytes->view()));
    }
  }
  // A memo of its own, filled now: the view shares nothing decoded.
  view.memo = std::make_shared<ValuesMemo>();
  view.memo->get_with([&] { return decode(field, options); });
  return view;
}

CodesResult<std::vector<NearestCandidate>> FieldFile::nearest(std::size_t field, double latitude,
                                                              double longitude, std::uint64_t count,
                                                              const DecodeOptions& options) const {
  return vorlak::nearest(codes_view(field, options), latitude, longitude, count);
}

}  // namespace vorlak
