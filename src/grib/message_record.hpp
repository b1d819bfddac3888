#pragma once
// The summary of one message taken while scanning: position, length,
// edition and the metadata the derived keys are computed from.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlak {

enum class Edition : std::uint8_t { One = 0, Two = 1, Unknown = 2 };

struct MessageRecord {
  Edition edition = Edition::Unknown;
  std::uint64_t messageNumber = 0;  // 1-based among accepted messages
  std::uint64_t offset = 0;         // position of "GRIB" in the buffer
  std::uint64_t totalLength = 0;
  std::optional<double> level;      // GRIB2: scaled first fixed surface; GRIB1: PDS octets 11-12
  std::string shortName;
  std::optional<std::string> name;
  std::optional<std::string> units;
  std::optional<std::string> reference_time;  // "YYYY-MM-DDTHH:MM:SSZ"
  std::optional<std::string> step_unit_name;
  std::optional<std::uint32_t> forecastTime;
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
};

struct ScanResult {
  std::vector<MessageRecord> records;  // buffer order
  bool no_grib1_messages = true;
};

// Unit-of-time-range code to its name (shared by both editions).
const char* step_unit_name_for(std::uint8_t code);

}  // namespace vorlak
