#pragma once
// The fields of one GRIB file or buffer, for the product's own reading API.
//
// A FieldFile is made once from the bytes (read whole, or copied once from
// the caller's buffer), which are scanned once; nothing is decoded then.
// Afterwards it is immutable apart from the keys of each field, built on
// first use and kept (once only, safe under concurrent first use), so one
// FieldFile may be read from several threads at once. Every field is
// addressed by its position in the file (0-based, file order); a message
// that carries several fields yields one entry per field. A message cut
// short at the end of the bytes (a truncated file) still gives its complete
// fields, then the field the cut falls in, which fails alone; the codes API
// skips such a message.
//
// Keys are read without decoding. Values and coordinates are decoded for
// the one field asked for and handed over; nothing decoded is kept here.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "compat/derived_keys.hpp"
#include "compat/grid_crs.hpp"
#include "core/codes_error.hpp"
#include "core/coordinate_cache.hpp"
#include "core/field_walk.hpp"
#include "core/grid_points.hpp"
#include "core/handle_record.hpp"
#include "grib/bytes.hpp"
#include "grib/decode_options.hpp"
#include "grib/framing.hpp"
#include "grib/result.hpp"
#include "types/key_value.hpp"

namespace vorlak {

// Where a field lies: its message (number, 1-based; offset and length in the
// bytes) and its place among the fields of that message (0-based).
struct FieldPosition {
  std::uint64_t message_number = 0;
  std::uint64_t message_offset = 0;
  std::uint64_t message_length = 0;
  std::uint32_t index_in_message = 0;
  std::uint32_t fields_in_message = 1;
};

// Rows and columns of a grid that has rows (point k of the values lies in
// row k / columns, column k % columns).
struct FieldShape {
  std::uint64_t rows = 0;
  std::uint64_t columns = 0;
};

struct FieldData {
  std::vector<double> values;  // NaN where missing
  std::uint64_t missing = 0;   // points without a value (bitmap or missing-value code)
  std::optional<FieldShape> shape;
};

// One key of a field and its value.
using FieldKey = std::pair<std::string, KeyValue>;

// Read-only doubles and what keeps them alive: the coordinates a grid
// shares through the coordinate cache (no copy), or an array made for the
// caller.
struct SharedDoubles {
  std::shared_ptr<const void> owner;
  std::span<const double> data;
};

// The arrays of a field's grid: a latitude and a longitude per point, and
// for projected grids x per column and y per row in metres.
enum class GridArray : std::uint8_t { Latitudes, Longitudes, X, Y };

// A failure to open: the text, and the operating system's error number when
// the file could not be read (0 otherwise).
struct FieldFileError {
  std::string text;
  int os_error = 0;
};

class FieldFile;
using SharedFieldFile = std::shared_ptr<const FieldFile>;

class FieldFile {
 public:
  // Reads the whole file once. Fails with the read error (and its error
  // number), or "no GRIB messages found".
  static Expected<SharedFieldFile, FieldFileError> open(const std::string& path);
  // Takes the bytes as they are (the caller made its copy). Fails with
  // "no GRIB messages found".
  static Result<SharedFieldFile> from_bytes(SharedBytes bytes);

  ~FieldFile();
  FieldFile(const FieldFile&) = delete;
  FieldFile& operator=(const FieldFile&) = delete;

  std::size_t size() const { return fields_.size(); }
  std::size_t byte_size() const { return bytes_ ? bytes_->size() : 0; }
  // Every accessor below takes a field index below size() (the caller's check).
  const FieldPosition& position(std::size_t field) const { return fields_[field].position; }

  // ------------------------------------------------------------------ keys
  // Every key of the field read without decoding, ascending by name: the
  // codes API's keys and the fields of its templates.
  std::span<const FieldKey> keys(std::size_t field) const;
  // Null when the field has no such key.
  const KeyValue* find_key(std::size_t field, std::string_view name) const;
  // The typed reads, converted as the codes API converts: KeyNotFound for
  // an absent key, TypeMismatch when the value has no such form.
  CodesResult<std::int64_t> key_long(std::size_t field, std::string_view name) const;
  CodesResult<double> key_double(std::size_t field, std::string_view name) const;
  CodesResult<std::string> key_text(std::size_t field, std::string_view name) const;

  // ------------------------------------------------------ decoded content
  // Decodes this field alone. The values come in the presented order of
  // the grid's layout (that of the coordinates) when the grid places as
  // many points as there are values, else in the message's order.
  Result<FieldData> values(std::size_t field, const DecodeOptions& options) const;
  // Rows and columns without decoding the values; none where the grid has
  // no rows (rows of their own lengths, a single row, spectral
  // coefficients).
  Result<std::optional<FieldShape>> shape(std::size_t field) const;
  // Latitude or longitude of every point, in the order of the values; none
  // where the message does not place the grid's points.
  Result<std::optional<std::vector<double>>> latitudes(std::size_t field) const;
  Result<std::optional<std::vector<double>>> longitudes(std::size_t field) const;

  // The field as the codes API would see a message holding only it, its
  // decode (or the decode's error) already in place: for the key listing
  // with computed keys.
  HandleRecord codes_view(std::size_t field, const DecodeOptions& options) const;

  // ------------------------------------------------------------------ grid
  // (field_grid.cpp) Computed without decoding values, except for nearest.
  //
  // The identity of the field's grid: the edition, then the bytes of its
  // grid section, so fields on byte-identical sections share it; a GRIB1
  // field on a predefined grid has its centre and grid number instead.
  std::string grid_id(std::size_t field) const;
  // The grid's coordinates, shared by every field on it (computed once,
  // through the coordinate cache); none where the message does not place
  // the points. Fails for parameters that make no sense and for points
  // placed in a way not supported (a broken points-per-row list, a turned
  // Mercator grid, a template without geometry here).
  Result<std::optional<SharedCoordinates>> grid_coordinates(std::size_t field) const;
  // One of the grid's arrays in the presented order (that of the values):
  // none where the grid has no coordinates, and x and y none unless it is
  // projected. Shares the cached coordinates where their form allows.
  Result<std::optional<SharedDoubles>> grid_array(std::size_t field, GridArray which) const;
  // The grid's coordinate reference system as PROJ parameters and CF
  // grid_mapping attributes; none where the grid has no coordinates. Fails
  // where its projection or rotation makes no sense.
  Result<std::optional<NamedValues>> proj_parameters(std::size_t field) const;
  Result<std::optional<NamedValues>> cf_grid_mapping(std::size_t field) const;
  // The `count` points nearest to a position by great-circle distance (km),
  // nearest first, ties by index; indexes are presented ones (into the
  // values as this API hands them out). Decodes the values; fails where the
  // grid has no coordinates, saying why.
  CodesResult<std::vector<NearestCandidate>> nearest(std::size_t field, double latitude, double longitude,
                                                     std::uint64_t count, const DecodeOptions& options) const;

 private:
  struct Entry {
    FieldPosition position;
    std::size_t record = 0;  // index into scan_.records
    FieldSpans spans;        // the field's sections within its message
    // Set for a field no reader can read (a bitmap reuse without an
    // earlier bitmap, the field a cut falls in): why.
    std::optional<std::string> error;
    // Read through the one-field message made of its sections (one field
    // of several, a bitmap reuse, a message cut short), not the message.
    bool own_message = false;
  };

  // A field's record (the codes of its own sections) and the keys of the
  // codes API, which most reads ask for; every key (the template fields
  // too) is derived when one outside them is asked for, or all are listed.
  struct Described {
    MessageRecord record;
    std::optional<std::uint64_t> grid_size;
  };

  // The bytes a field is read from: its message, or the one-field message
  // made of its sections.
  struct FieldBytes {
    std::vector<std::uint8_t> made;
    Bytes message;
    Bytes view() const { return made.empty() ? message : Bytes(made); }
  };

  FieldFile(SharedBytes bytes, ScanResult scan);
  void add_fields(std::size_t record);
  void add_cut_message();
  Bytes message_of_record(std::size_t record) const;
  Bytes message_of(std::size_t field) const;
  const Described& described(std::size_t field) const;
  Described describe(std::size_t field) const;
  const DerivedKeys& codes_keys(std::size_t field) const;
  const DerivedKeys& all_keys(std::size_t field) const;
  FieldBytes bytes_of(std::size_t field) const;
  Result<DecodedMessage> decode(std::size_t field, const DecodeOptions& options) const;
  // The field's grid section; empty when it has none (a GRIB1 message on a
  // predefined grid).
  Bytes grid_section(std::size_t field) const;
  Edition edition(std::size_t field) const { return scan_.records[fields_[field].record].edition; }
  Result<std::optional<std::vector<double>>> coordinate(std::size_t field, bool latitude) const;

  SharedBytes bytes_;
  ScanResult scan_;
  std::vector<Entry> fields_;
  // The record and keys of each field, made on first use.
  std::unique_ptr<std::atomic<const Described*>[]> described_;
  std::unique_ptr<std::atomic<const DerivedKeys*>[]> codes_keys_;
  std::unique_ptr<std::atomic<const DerivedKeys*>[]> all_keys_;
};

}  // namespace vorlak
