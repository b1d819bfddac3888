#pragma once
// The data representation template decoders. Each takes the body of
// section 7 (after its 5-octet header), the parsed section 5 and the number
// of values wanted, and returns exactly that many values or an error text.
#include <cstdint>
#include <vector>

#include "grib/grib2_sections.hpp"

namespace vorlak {

using Values = std::vector<double>;

Result<Values> unpack_simple(Bytes payload, const DataRepresentation& drs, std::uint64_t count);     // 5.0
Result<Values> unpack_complex(Bytes payload, const DataRepresentation& drs, std::uint64_t count);    // 5.2, 5.3
Result<Values> unpack_ieee(Bytes payload, const DataRepresentation& drs, std::uint64_t count);       // 5.4
Result<Values> unpack_jpeg2000(Bytes payload, const DataRepresentation& drs, std::uint64_t count);   // 5.40
Result<Values> unpack_ccsds(Bytes payload, const DataRepresentation& drs, std::uint64_t count);      // 5.42

// Decoded only when the caller asks for every template (DecodeOptions::all_templates).
Result<Values> unpack_png(Bytes payload, const DataRepresentation& drs, std::uint64_t count);             // 5.41
Result<Values> unpack_spectral_simple(Bytes payload, const DataRepresentation& drs, std::uint64_t count); // 5.50
Result<Values> unpack_logarithmic(Bytes payload, const DataRepresentation& drs, std::uint64_t count);     // 5.61
Result<Values> unpack_run_length(Bytes payload, const DataRepresentation& drs, std::uint64_t count);      // 5.200

}  // namespace vorlak
