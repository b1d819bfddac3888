#pragma once
// GRIB edition 1: product definition (PDS), grid description (GDS), bit map
// (BMS) and binary data section header (BDS), and the two section walks.
#include <cstdint>
#include <optional>
#include <vector>

#include "grib/grib2_sections.hpp"

namespace vorlak {

struct Grib1Product {
  ReferenceTime reference_time;  // seconds 0
  std::uint8_t table2Version = 0;
  std::uint8_t centre = 0;
  std::uint8_t generatingProcessIdentifier = 0;
  std::uint8_t indicatorOfParameter = 0;
  std::uint8_t indicatorOfTypeOfLevel = 0;
  std::uint8_t unitOfTimeRange = 0;
  std::uint16_t P1 = 0;  // octet 19; octets 19-20 for time range indicator 10
  std::uint8_t P2 = 0;
  std::uint8_t timeRangeIndicator = 0;
  std::uint8_t subCentre = 0;
  std::uint16_t level = 0;                  // octets 11-12; octet 11 (the top) for layer types
  std::optional<std::uint8_t> level_bottom;  // octet 12 for layer types
  std::int16_t decimalScaleFactor = 0;
  bool has_gds = false;
  bool has_bms = false;
};

struct Grib1DataHeader {
  std::int16_t binaryScaleFactor = 0;
  float referenceValue = 0.0f;
  std::uint8_t bitsPerValue = 0;
  std::uint8_t unused_bits = 0;
};

Result<Grib1Product> parse_pds(Bytes pds);
Result<GridSummary> parse_gds(Bytes gds);
Result<Bitmap> parse_bms(Bytes bms, std::uint64_t point_count);
Result<Grib1DataHeader> parse_bds_header(Bytes bds);

// True when the GDS (types 0, 4, 10, 14) lists the points of each row
// instead of a fixed Ni: Ni is missing, or, on a Gaussian grid (type 4),
// Di is.
// The record's point count and the grid's layout both follow this rule.
bool grib1_rows_listed(Bytes gds);

// IBM single-precision number (sign, base-16 exponent biased by 64, 24-bit
// mantissa), computed in double and rounded to float.
float ibm_to_float(std::uint32_t raw);

// True for the level types whose octets 11 and 12 hold a layer's two
// surfaces (WMO GRIB1 code table 3: 101, 104, 106, 108, 110, 112, 114, 116,
// 120, 121, 128, 141).
bool grib1_layer_type(std::uint8_t level_type);

// Scanning walk: fills the record from the PDS and GDS and appends the one
// field of the message to `fields`.
Result<void> summarise_grib1(Bytes message, std::uint64_t message_number, MessageRecord& record,
                             std::vector<FieldSpans>& fields);

struct Grib1Collected {
  Grib1Product product;
  GridSummary grid;
  std::optional<Bitmap> bitmap;
  Grib1DataHeader header;
  Bytes bds;
};

Result<Grib1Collected> collect_grib1(Bytes message);

}  // namespace vorlak
