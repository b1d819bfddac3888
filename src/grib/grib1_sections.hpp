#pragma once
// GRIB edition 1: product definition (PDS), grid description (GDS), bit map
// (BMS) and binary data section header (BDS), and the two section walks.
#include <cstdint>
#include <optional>
#include <string>

#include "grib/grib2_sections.hpp"

namespace vorlak {

struct Grib1Product {
  std::string reference_time;  // "YYYY-MM-DDTHH:MM:00Z"
  std::uint8_t table2Version = 0;
  std::uint8_t centre = 0;
  std::uint8_t generatingProcessIdentifier = 0;
  std::uint8_t indicatorOfParameter = 0;
  std::uint8_t indicatorOfTypeOfLevel = 0;
  std::uint8_t unitOfTimeRange = 0;
  std::uint8_t P1 = 0;
  std::uint8_t subCentre = 0;
  std::uint16_t level = 0;
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

// IBM single-precision number (sign, base-16 exponent biased by 64, 24-bit
// mantissa), computed in double and rounded to float.
float ibm_to_float(std::uint32_t raw);

Result<void> summarise_grib1(Bytes message, std::uint64_t message_number, MessageRecord& record);

struct Grib1Collected {
  Grib1Product product;
  GridSummary grid;
  std::optional<Bitmap> bitmap;
  Grib1DataHeader header;
  Bytes bds;
};

Result<Grib1Collected> collect_grib1(Bytes message);

}  // namespace vorlak
