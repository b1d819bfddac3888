#pragma once
// GRIB edition 2: the parsed grid definition (section 3), data representation
// (section 5) and bitmap (section 6), and the two section walks.
#include <cstdint>
#include <optional>
#include <vector>

#include "grib/framing.hpp"

namespace vorlak {

struct GridSummary {
  std::uint16_t gridDefinitionTemplateNumber = 0;
  std::uint32_t Ni = 0;
  std::uint32_t Nj = 0;
  std::optional<double> latitudeOfFirstGridPoint;
  std::optional<double> longitudeOfFirstGridPoint;
  std::optional<double> latitudeOfLastGridPoint;
  std::optional<double> longitudeOfLastGridPoint;
  std::optional<double> iDirectionIncrement;
  std::optional<double> jDirectionIncrement;
  std::optional<std::uint32_t> N;  // Gaussian
  std::uint8_t projection_kind = 0;  // 0 lat/lon, Gaussian and unknown; 1 Lambert; 2 polar stereographic; 3 Mercator
  std::uint8_t scanningMode = 0;
  // GRIB1 reduced Gaussian grids (template 41): the total of the points per row.
  std::optional<std::uint64_t> reduced_point_count;
};

// Template 200, run-length packing with level values: octet 12 bits per
// packed value (V), 13-14 the largest level used (MV), 15-16 the largest
// level (MVL), 17 the decimal scale factor of the level values
// (sign-magnitude), 18 onward MVL two-octet scaled representative values.
struct RunLengthLevels {
  std::uint8_t bitsPerValue = 0;
  std::uint16_t maxLevelUsed = 0;
  std::uint16_t maxLevel = 0;
  std::int8_t decimalScaleFactor = 0;
  // The values the section holds: MVL of them, fewer when it ends early.
  std::vector<std::uint16_t> levelValues;
};

struct DataRepresentation {
  std::uint32_t numberOfValues = 0;
  std::uint16_t dataRepresentationTemplateNumber = 0;
  std::uint32_t reference_value_bits = 0;  // IEEE single-precision bit pattern
  std::int16_t binaryScaleFactor = 0;
  std::int16_t decimalScaleFactor = 0;
  std::uint8_t bitsPerValue = 0;
  // Templates 2 and 3
  std::uint8_t groupSplittingMethod = 0;
  std::uint8_t missingValueManagement = 0;
  std::uint32_t primaryMissingValue = 0;
  std::uint32_t secondaryMissingValue = 0;
  std::uint32_t numberOfGroups = 0;
  std::uint8_t referenceForGroupWidths = 0;
  std::uint8_t bitsForGroupWidths = 0;
  std::uint32_t referenceForGroupLengths = 0;
  std::uint8_t lengthIncrement = 0;
  std::uint32_t trueLengthOfLastGroup = 0;
  std::uint8_t bitsForScaledGroupLengths = 0;
  // Template 3
  std::uint8_t orderOfSpatialDifferencing = 0;
  std::uint8_t descriptorOctets = 0;
  // Template 40
  std::uint8_t typeOfOriginalFieldValues = 0;
  std::uint8_t typeOfCompression = 0;
  std::uint8_t targetCompressionRatio = 0;
  // Template 42
  std::uint8_t ccsdsFlags = 0;  // compression options mask
  std::uint8_t ccsdsBlockSize = 0;
  std::uint16_t ccsdsReferenceSampleInterval = 0;
  // Templates 50 and 61, octets 21-24 (IEEE single-precision bit pattern):
  // the real part of the (0,0) coefficient (50), the pre-processing
  // parameter B (61). Absent when the section ends before octet 24.
  std::optional<std::uint32_t> realPartOfFirstCoefficient;
  std::optional<std::uint32_t> preProcessingParameter;
  // Template 200
  RunLengthLevels runLength;
};

// One presence flag per grid point, packed most significant bit first
// exactly as section 6 stores it; bits past `size` are zero.
struct Bitmap {
  std::vector<std::uint8_t> bits;
  std::uint64_t size = 0;

  bool present(std::uint64_t i) const { return (bits[i >> 3] >> (7 - (i & 7))) & 1u; }
  std::uint64_t count_present() const { return count_set_bits(bits.data(), bits.size()); }

  // The bits set in `octets` octets from `data`.
  static std::uint64_t count_set_bits(const std::uint8_t* data, std::size_t octets);
};

Result<GridSummary> parse_section3(Bytes section);
// Section 5 through the template layouts (data_representation.cpp).
Result<DataRepresentation> parse_section5(Bytes section);

// Scanning walk: fills the record's GRIB2 fields from sections 1, 3, 4 and 5
// (the last occurrence of each) and appends one FieldSpans per data section
// to `fields`. `record` already holds edition, offset, totalLength and
// discipline. Section 4 never fails the message: what its template does not
// place (an undescribed template, a section that ends early) is absent.
Result<void> summarise_grib2(Bytes message, std::uint64_t message_number, MessageRecord& record,
                             std::vector<FieldSpans>& fields);

// The record of one field of a message: `message_record` with the codes
// of the sections in `spans` (GRIB1 messages have one field: a copy).
Result<MessageRecord> summarise_field(Bytes message, const MessageRecord& message_record, const FieldSpans& spans);

struct Grib2Collected {
  GridSummary grid;
  DataRepresentation representation;
  std::optional<Bitmap> bitmap;
  Bytes payload;  // section 7 after its 5-octet header
};

// Decoding walk over sections 3, 5, 6 and 7 (last occurrence wins).
Result<Grib2Collected> collect_grib2(Bytes message);
// The same for one field of a message from the sections the scan found for
// it: the bitmap of a section 6 that says 254 is that of the section its
// spans name as the source.
Result<Grib2Collected> collect_grib2_field(Bytes message, const FieldSpans& spans);

const char* data_representation_name(std::uint16_t template_number);

}  // namespace vorlak
