#pragma once
// Whole-message decoding for both editions: collect the sections, decode the
// data section, spread it over the grid with the bitmap, attach coordinates.
#include <cstdint>
#include <span>
#include <vector>

#include "grib/decode_options.hpp"
#include "grib/decoders.hpp"
#include "grib/grib1_sections.hpp"
#include "grib/value_buffer.hpp"
#include "types/decoded.hpp"

namespace vorlak {

// The default options decode what the codes API always has, on the
// calling thread, and refuse the other templates with its texts.
Result<DecodedMessage> decode_message(Bytes message, const MessageRecord& record,
                                      const DecodeOptions& options = {});

// The values of one edition 2 field from its section 5, the bitmap in
// effect for it (null: none) and its section 7 payload: one value per
// bitmap position, else one per packed value, NaN where absent or missing;
// with the number of missing points. The count to decode follows the
// bitmap, else numberOfValues, else the grid's points (Ni x Nj, or those of
// its rows when they vary); a field whose values cannot fill the grid
// fails with "decoded value count {} does not match ..." and the grid.
struct FieldValues {
  Values values;
  std::uint64_t missing = 0;
};
Result<FieldValues> decode_grib2_values(const GridSummary& grid, const DataRepresentation& drs, const Bitmap* bitmap,
                                        Bytes payload, const DecodeOptions& options);
// The same into memory from `output`, asked once for the field's number of
// values after the checks that need no decoding have passed (so memory the
// caller has not initialised, such as a new array, is fine); gives the
// number of missing points.
Result<std::uint64_t> decode_grib2_values_into(const GridSummary& grid, const DataRepresentation& drs,
                                               const Bitmap* bitmap, Bytes payload, const OutputProvider& output,
                                               const DecodeOptions& options);

// One entry per bitmap position: the packed values in order at present
// positions, NaN elsewhere (and at present positions past the packed values).
std::vector<double> apply_bitmap(const Bitmap& bitmap, std::vector<double>&& packed);
// The same in place: the first `packed` entries of `out` hold the packed
// values, and `out` has one entry per bitmap position.
void expand_bitmap_in_place(const Bitmap& bitmap, std::span<double> out, std::uint64_t packed);

Result<std::vector<double>> unpack_grib1(Bytes bds, const Grib1DataHeader& header,
                                         std::int16_t decimal_scale, std::uint64_t count);

}  // namespace vorlak
