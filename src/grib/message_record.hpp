#pragma once
// The summary of one message taken while scanning: position, length,
// edition, the spans of the sections each of its fields uses, and the codes
// and numbers the derived keys are computed from (no text: naming happens in
// src/compat when a key is asked for).
#include <cstdint>
#include <optional>
#include <vector>

namespace vorlak {

enum class Edition : std::uint8_t { One = 0, Two = 1, Unknown = 2 };

// Where a section lies in its message: offset of its first octet and its
// length. Length 0: the section is absent.
struct SectionSpan {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;

  bool present() const { return length != 0; }
  bool operator==(const SectionSpan&) const = default;
};

// The sections in effect for one field of a message: the latest occurrence
// of each before the field's data section. GRIB1 maps its PDS to `product`,
// its GDS to `grid`, its BMS to `bitmap` and `bitmap_source`, its BDS to
// `data`.
struct FieldSpans {
  SectionSpan identification;  // section 1
  SectionSpan local;           // section 2
  SectionSpan grid;            // section 3
  SectionSpan product;         // section 4
  SectionSpan representation;  // section 5
  SectionSpan bitmap;          // the field's section 6
  // The section 6 whose bitmap applies: the field's own for indicator 0,
  // the latest earlier one holding a bitmap for 254, none for 255.
  SectionSpan bitmap_source;
  SectionSpan data;            // section 7

  bool operator==(const FieldSpans&) const = default;
};

// The reference time as the message states it (not checked as a date).
struct ReferenceTime {
  std::uint16_t year = 0;
  std::uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;

  bool operator==(const ReferenceTime&) const = default;
};

struct MessageRecord {
  Edition edition = Edition::Unknown;
  std::uint64_t messageNumber = 0;  // 1-based among accepted messages
  std::uint64_t offset = 0;         // position of "GRIB" in the buffer
  std::uint64_t totalLength = 0;
  // GRIB2: the first fixed surface, scaled; GRIB1: PDS octets 11-12, or
  // octet 11 (the top) for layer types.
  std::optional<double> level;
  std::optional<ReferenceTime> reference_time;
  std::optional<std::uint8_t> indicatorOfUnitOfTimeRange;  // GRIB2 section 4 / GRIB1 PDS octet 18
  // GRIB2: two's complement as producers write it; GRIB1: P1 (octets 19-20
  // for time range indicator 10).
  std::optional<std::int64_t> forecastTime;
  std::optional<std::uint32_t> Ni;
  std::optional<std::uint32_t> Nj;
  std::optional<std::uint16_t> centre;
  std::optional<std::uint16_t> subCentre;
  std::optional<std::uint16_t> table2Version;
  std::optional<std::uint16_t> generatingProcessIdentifier;
  std::optional<std::uint16_t> productDefinitionTemplateNumber;
  std::optional<std::uint16_t> dataRepresentationTemplateNumber;
  std::optional<std::uint16_t> gridDefinitionTemplateNumber;
  std::optional<std::uint8_t> discipline;
  std::optional<std::uint8_t> parameterCategory;
  std::optional<std::uint8_t> parameterNumber;
  std::optional<std::uint8_t> bitsPerValue;
  std::optional<std::uint8_t> levelType;
  std::optional<std::uint8_t> scanningMode;
  // Reduced Gaussian and thinned latitude/longitude grids (a points-per-row
  // list): the sum of the points of every row. Their
  // Ni is 0xFFFF (missing), so Ni x Nj says nothing about the field's size.
  std::optional<std::uint64_t> reduced_point_count;
  // A layer's second surface: GRIB2 type of second fixed surface and its
  // scaled value; GRIB1 layer types: octet 12 (the bottom).
  std::optional<std::uint8_t> secondLevelType;
  std::optional<double> secondLevel;
  // GRIB1 PDS octets 20 (P2) and 21 (time range indicator).
  std::optional<std::uint8_t> P2;
  std::optional<std::uint8_t> timeRangeIndicator;

  // The sections this record describes: the last occurrence of each.
  FieldSpans spans;
  // This message's fields in ScanResult::fields (a field ends with its data
  // section; a message without one has none).
  std::uint32_t first_field = 0;
  std::uint32_t field_count = 0;
};

struct ScanResult {
  std::vector<MessageRecord> records;  // buffer order
  std::vector<FieldSpans> fields;      // every field of every record, in order
  bool no_grib1_messages = true;
};

}  // namespace vorlak
