#pragma once
// Whole-message decoding for both editions: collect the sections, decode the
// data section, spread it over the grid with the bitmap, attach coordinates.
#include <cstdint>
#include <vector>

#include "grib/decode_options.hpp"
#include "grib/grib1_sections.hpp"
#include "types/decoded.hpp"

namespace vorlak {

// The default options decode what the codes API always has and refuse the
// other templates with its texts.
Result<DecodedMessage> decode_message(Bytes message, const MessageRecord& record,
                                      const DecodeOptions& options = {});

// One entry per bitmap position: the packed values in order at present
// positions, NaN elsewhere (and at present positions past the packed values).
std::vector<double> apply_bitmap(const Bitmap& bitmap, std::vector<double>&& packed);

Result<std::vector<double>> unpack_grib1(Bytes bds, const Grib1DataHeader& header,
                                         std::int16_t decimal_scale, std::uint64_t count);

}  // namespace vorlak
