#pragma once
// The decoded field of one message, with its grid axes: what the values memo
// keeps and the key layer, the grid iterator and nearest search read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "grib/grib2_sections.hpp"
#include "grib/message_record.hpp"
#include "grib/result.hpp"

namespace vorlak {

struct CoordinateAxis {
  std::string name;
  std::string units;
  std::vector<double> values;
};

// Either both axes or none. Point k lies at longitude k % Ni, latitude k / Ni.
struct Coordinates {
  CoordinateAxis longitude;  // "longitude", "degrees_east", Ni entries
  CoordinateAxis latitude;   // "latitude", "degrees_north", Nj entries
};

class DecodedField {
 public:
  // Fails with "grid shape and data length must match" unless values hold Ni x Nj entries.
  static Result<DecodedField> make(std::uint64_t Ni, std::uint64_t Nj, std::vector<double> values);

  const std::vector<double>& values() const { return values_; }
  std::uint64_t Ni() const { return Ni_; }
  std::uint64_t Nj() const { return Nj_; }
  // Hands the values over, leaving the field empty: for a decode that
  // nobody else shares.
  std::vector<double> take_values() && { return std::move(values_); }

 private:
  DecodedField(std::uint64_t Ni, std::uint64_t Nj, std::vector<double> values)
      : values_(std::move(values)), Ni_(Ni), Nj_(Nj) {}
  std::vector<double> values_;
  std::uint64_t Ni_ = 0;
  std::uint64_t Nj_ = 0;
};

struct DecodedMessage {
  MessageRecord record;
  GridSummary grid;
  DecodedField field;
  std::optional<Coordinates> coordinates;
  std::uint64_t missing_count = 0;
};

}  // namespace vorlak
