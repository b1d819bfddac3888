// Whole-message decoding: collect the sections again, decode the data section
// with the decoder of its template, spread the values over the grid with the
// bitmap, count the missing points, check the shape and attach coordinates.
#include "grib/decode_message.hpp"

#include <algorithm>
#include <cmath>

#include "grib/decoders.hpp"
#include "grib/geometry.hpp"
#include "grib/value_count.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

std::uint64_t count_nan(const std::vector<double>& values) {
  return static_cast<std::uint64_t>(
      std::count_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }));
}

Result<std::vector<double>> decode_payload(Bytes payload, const DataRepresentation& drs,
                                           std::uint64_t count, const DecodeOptions& options) {
  const std::uint16_t number = drs.dataRepresentationTemplateNumber;
  switch (number) {
    case 0: return unpack_simple(payload, drs, count);
    case 2:
    case 3: return unpack_complex(payload, drs, count);
    case 4: return unpack_ieee(payload, drs, count);
    case 40: return unpack_jpeg2000(payload, drs, count);
    case 42: return unpack_ccsds(payload, drs, count);
    default: break;
  }
  if (options.all_templates) {
    switch (number) {
      case 41: return unpack_png(payload, drs, count);
      case 50: return unpack_spectral_simple(payload, drs, count);
      case 61: return unpack_logarithmic(payload, drs, count);
      case 200: return unpack_run_length(payload, drs, count);
      default: break;
    }
  }
  return fail(str_cat("GRIB2 data representation template ", number, " (",
                      data_representation_name(number), ") is not implemented yet"));
}

// Templates whose decoded values carry missing points as NaN.
bool marks_missing(const DataRepresentation& drs) {
  switch (drs.dataRepresentationTemplateNumber) {
    case 2:
    case 3: return drs.missingValueManagement != 0;
    case 200: return true;  // level 0
    default: return false;
  }
}

std::string shape_mismatch(std::uint64_t values, const GridSummary& grid) {
  if (grid.reduced_point_count) {
    return str_cat("decoded value count ", values, " does not match the ", *grid.reduced_point_count,
                   " points of the grid's rows");
  }
  return str_cat("decoded value count ", values, " does not match grid dimensions ", grid.Ni, "x", grid.Nj);
}

Result<DecodedMessage> assemble(const MessageRecord& record, const GridSummary& grid,
                                std::uint64_t Ni, std::uint64_t Nj, std::vector<double>&& values,
                                std::uint64_t missing, bool with_coordinates) {
  auto field = DecodedField::make(Ni, Nj, std::move(values));
  if (!field) return fail(field.error());
  std::optional<Coordinates> coordinates;
  if (with_coordinates) coordinates = compute_coordinates(grid);
  return DecodedMessage{record, grid, std::move(*field), std::move(coordinates), missing};
}

Result<DecodedMessage> decode_grib2(Bytes message, const MessageRecord& record, const DecodeOptions& options) {
  auto collected = collect_grib2(message);
  if (!collected) return fail(collected.error());
  // Nj is already corrected for Gaussian grids that state fewer rows.
  const GridSummary& grid = collected->grid;
  const DataRepresentation& drs = collected->representation;
  const std::optional<Bitmap>& bitmap = collected->bitmap;

  // Quasi-regular grids hold the points of their rows, one row of all of them.
  const bool reduced = grid.reduced_point_count.has_value();
  const std::uint64_t grid_points = reduced ? *grid.reduced_point_count : std::uint64_t{grid.Ni} * grid.Nj;
  if (auto ok = check_point_count(grid_points); !ok) return fail(ok.error());
  if (bitmap) {
    if (auto ok = check_point_count(bitmap->size); !ok) return fail(ok.error());
  }
  const std::uint64_t count = bitmap                 ? bitmap->count_present()
                              : drs.numberOfValues   ? drs.numberOfValues
                                                     : grid_points;
  if (auto ok = check_point_count(count); !ok) return fail(ok.error());
  // The field API reads the values a points-per-row list does not add up
  // to (one row, no coordinates): the list is at fault, not the data.
  const bool rows_at_fault = reduced && options.all_templates && !bitmap;
  // More values than grid points can only end in the shape check below;
  // failing here spares decoding (and allocating) them first.
  if (const std::uint64_t output = bitmap ? bitmap->size : count; output > grid_points && !rows_at_fault) {
    return fail(shape_mismatch(output, grid));
  }

  auto values = decode_payload(collected->payload, drs, count, options);
  if (!values) return fail(values.error());

  std::uint64_t missing = 0;
  if (marks_missing(drs)) missing = count_nan(*values);
  if (bitmap) {
    missing += bitmap->size - count;  // count is the number of present points
    *values = apply_bitmap(*bitmap, std::move(*values));
  }

  if (values->size() != grid_points) {
    if (!rows_at_fault) return fail(shape_mismatch(values->size(), grid));
    const std::uint64_t size = values->size();
    return assemble(record, grid, size, 1, std::move(*values), missing, false);
  }
  if (reduced) return assemble(record, grid, grid_points, 1, std::move(*values), missing, false);
  return assemble(record, grid, grid.Ni, grid.Nj, std::move(*values), missing, true);
}

Result<DecodedMessage> decode_grib1(Bytes message, const MessageRecord& record) {
  auto collected = collect_grib1(message);
  if (!collected) return fail(collected.error());
  const GridSummary& grid = collected->grid;
  const std::optional<Bitmap>& bitmap = collected->bitmap;
  const std::uint16_t number = grid.gridDefinitionTemplateNumber;
  // Reduced Gaussian and thinned latitude/longitude grids.
  const bool reduced = grid.reduced_point_count.has_value();
  const bool harmonic = number == 50 || number == 51;

  const std::uint64_t points =
      reduced ? *grid.reduced_point_count : std::uint64_t{grid.Ni} * grid.Nj;
  if (auto ok = check_point_count(points); !ok) return fail(ok.error());
  const std::uint64_t count = bitmap ? bitmap->count_present() : points;

  auto values = unpack_grib1(collected->bds, collected->header,
                             collected->product.decimalScaleFactor, count);
  if (!values) return fail(values.error());
  if (bitmap) *values = apply_bitmap(*bitmap, std::move(*values));

  const std::uint64_t decoded = values->size();
  std::uint64_t Ni = grid.Ni;
  std::uint64_t Nj = grid.Nj;
  if (reduced) {
    // Rows of varying length: a single column of all points, no axes.
    if (decoded != points) {
      return fail(str_cat("decoded GRIB1 value count ", decoded,
                          " does not match expected point count ", points));
    }
    Ni = decoded;
    Nj = 1;
  } else if (harmonic) {
    Ni = decoded;
    Nj = 1;
  } else if (decoded != Ni * Nj) {
    return fail(str_cat("decoded GRIB1 value count ", decoded, " does not match grid dimensions ",
                        grid.Ni, "x", grid.Nj));
  }
  const std::uint64_t missing = count_nan(*values);
  return assemble(record, grid, Ni, Nj, std::move(*values), missing, !reduced && !harmonic);
}

}  // namespace

Result<DecodedMessage> decode_message(Bytes message, const MessageRecord& record, const DecodeOptions& options) {
  if (auto ok = check_decode_entry(message, record); !ok) return fail(ok.error());
  if (record.edition == Edition::One) return decode_grib1(message, record);
  return decode_grib2(message, record, options);
}

}  // namespace vorlak
