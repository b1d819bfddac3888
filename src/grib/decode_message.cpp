// Whole-message decoding: collect the sections again, decode the data section
// with the decoder of its template, spread the values over the grid with the
// bitmap, count the missing points, check the shape and attach coordinates.
#include "grib/decode_message.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "grib/decoders.hpp"
#include "grib/geometry.hpp"
#include "grib/worker_pool.hpp"
#include "grib/value_count.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

std::uint64_t count_nan(std::span<const double> values, const DecodeOptions& options) {
  const std::uint64_t n = values.size();
  std::atomic<std::uint64_t> total{0};
  run_pieces(split_threads(options, n), n, split_pieces(options, n), 8, [&](std::uint64_t b, std::uint64_t e) {
    std::uint64_t nan = 0;
    for (std::uint64_t i = b; i < e; ++i) nan += values[i] != values[i];
    total.fetch_add(nan, std::memory_order_relaxed);
  });
  return total.load();
}

// The templates whose decoders give a vector of their own (read only when
// the caller asks for every template).
bool own_vector(const DataRepresentation& drs, const DecodeOptions& options) {
  if (!options.all_templates) return false;
  switch (drs.dataRepresentationTemplateNumber) {
    case 41:
    case 50:
    case 61:
    case 200: return true;
    default: return false;
  }
}

Result<Values> decode_own_vector(Bytes payload, const DataRepresentation& drs, std::uint64_t count) {
  switch (drs.dataRepresentationTemplateNumber) {
    case 41: return unpack_png(payload, drs, count);
    case 50: return unpack_spectral_simple(payload, drs, count);
    case 61: return unpack_logarithmic(payload, drs, count);
    default: return unpack_run_length(payload, drs, count);
  }
}

std::string not_implemented(std::uint16_t number) {
  return str_cat("GRIB2 data representation template ", number, " (", data_representation_name(number),
                 ") is not implemented yet");
}

Result<void> decode_payload(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                            const OutputProvider& output, const DecodeOptions& options) {
  switch (const std::uint16_t number = drs.dataRepresentationTemplateNumber) {
    case 0: return unpack_simple_into(payload, drs, count, output, options);
    case 2:
    case 3: return unpack_complex_into(payload, drs, count, output, options);
    case 4: return unpack_ieee_into(payload, drs, count, output, options);
    case 40: return unpack_jpeg2000_into(payload, drs, count, output, options);
    case 42: return unpack_ccsds_into(payload, drs, count, output, options);
    default:
      if (!own_vector(drs, options)) return fail(not_implemented(number));
  }
  // Copied into the caller's memory.
  auto values = decode_own_vector(payload, drs, count);
  if (!values) return fail(values.error());
  std::ranges::copy(*values, output(count).begin());
  return {};
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
  auto field = decode_grib2_values(grid, collected->representation,
                                   collected->bitmap ? &*collected->bitmap : nullptr, collected->payload, options);
  if (!field) return fail(field.error());
  // Quasi-regular grids hold the points of their rows, one row of all of them.
  if (grid.reduced_point_count) {
    // The field's own count: the points of its rows, or what the field API
    // read where the list does not add up.
    const std::uint64_t points = field->values.size();
    return assemble(record, grid, points, 1, std::move(field->values), field->missing, false);
  }
  return assemble(record, grid, grid.Ni, grid.Nj, std::move(field->values), field->missing, true);
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
  const std::uint64_t missing = count_nan(*values, DecodeOptions{});
  return assemble(record, grid, Ni, Nj, std::move(*values), missing, !reduced && !harmonic);
}

}  // namespace

namespace {

struct FieldSize {
  std::uint64_t count;  // values to decode
  std::uint64_t size;   // values of the field
};

// The points of the grid: those of its rows for a quasi-regular grid.
std::uint64_t grid_points_of(const GridSummary& grid) {
  return grid.reduced_point_count ? *grid.reduced_point_count : std::uint64_t{grid.Ni} * grid.Nj;
}

// The field API reads the values a points-per-row list does not add up to
// (one row, no coordinates): the list is at fault, not the data.
bool rows_at_fault(const GridSummary& grid, const Bitmap* bitmap, const DecodeOptions& options) {
  return grid.reduced_point_count && options.all_templates && !bitmap;
}

Result<FieldSize> field_size(const GridSummary& grid, const DataRepresentation& drs, const Bitmap* bitmap,
                             const DecodeOptions& options) {
  const std::uint64_t grid_points = grid_points_of(grid);
  if (auto ok = check_point_count(grid_points); !ok) return fail(ok.error());
  if (bitmap) {
    if (auto ok = check_point_count(bitmap->size); !ok) return fail(ok.error());
  }
  const std::uint64_t count = bitmap                 ? bitmap->count_present()
                              : drs.numberOfValues   ? drs.numberOfValues
                                                     : grid_points;
  if (auto ok = check_point_count(count); !ok) return fail(ok.error());
  // More values than grid points can only end in the shape check below;
  // failing here spares decoding (and allocating) them first.
  const std::uint64_t size = bitmap ? bitmap->size : count;
  if (size > grid_points && !rows_at_fault(grid, bitmap, options)) return fail(shape_mismatch(size, grid));
  return FieldSize{count, size};
}

// The packed values lie at the front of `values`: count the missing ones,
// spread them over the bitmap in place, check the shape.
Result<std::uint64_t> finish_values(const GridSummary& grid, const DataRepresentation& drs, const Bitmap* bitmap,
                                    FieldSize size, std::span<double> values, const DecodeOptions& options) {
  std::uint64_t missing = 0;
  if (marks_missing(drs)) missing = count_nan(values.first(size.count), options);
  if (bitmap) {
    missing += bitmap->size - size.count;  // count is the number of present points
    expand_bitmap_in_place(*bitmap, values, size.count);
  }
  if (size.size != grid_points_of(grid) && !rows_at_fault(grid, bitmap, options)) {
    return fail(shape_mismatch(size.size, grid));
  }
  return missing;
}

}  // namespace

Result<std::uint64_t> decode_grib2_values_into(const GridSummary& grid, const DataRepresentation& drs,
                                               const Bitmap* bitmap, Bytes payload, const OutputProvider& output,
                                               const DecodeOptions& options) {
  auto size = field_size(grid, drs, bitmap, options);
  if (!size) return fail(size.error());
  // The decoder writes the packed values at the front of the field's own
  // memory, which the bitmap then spreads them over in place.
  std::span<double> values;
  bool handed_out = false;
  const OutputProvider packed = [&](std::uint64_t n) {
    values = output(size->size);
    handed_out = true;
    return values.first(std::min<std::uint64_t>(n, size->size));
  };
  if (auto ok = decode_payload(payload, drs, size->count, packed, options); !ok) return fail(ok.error());
  if (!handed_out || values.size() != size->size) return fail("the decoder handed back no values");
  return finish_values(grid, drs, bitmap, *size, values, options);
}

Result<FieldValues> decode_grib2_values(const GridSummary& grid, const DataRepresentation& drs, const Bitmap* bitmap,
                                        Bytes payload, const DecodeOptions& options) {
  FieldValues field;
  if (own_vector(drs, options)) {
    // The decoder's own vector becomes the field's.
    auto size = field_size(grid, drs, bitmap, options);
    if (!size) return fail(size.error());
    auto values = decode_own_vector(payload, drs, size->count);
    if (!values) return fail(values.error());
    field.values = std::move(*values);
    field.values.resize(size->size);
    auto missing = finish_values(grid, drs, bitmap, *size, field.values, options);
    if (!missing) return fail(missing.error());
    field.missing = *missing;
    return field;
  }
  const OutputProvider output = [&](std::uint64_t n) {
    field.values = zeroed_values(n);
    return std::span<double>(field.values);
  };
  auto missing = decode_grib2_values_into(grid, drs, bitmap, payload, output, options);
  if (!missing) return fail(missing.error());
  field.missing = *missing;
  return field;
}

Result<DecodedMessage> decode_message(Bytes message, const MessageRecord& record, const DecodeOptions& options) {
  if (auto ok = check_decode_entry(message, record); !ok) return fail(ok.error());
  if (record.edition == Edition::One) return decode_grib1(message, record);
  return decode_grib2(message, record, options);
}

}  // namespace vorlak
