#pragma once
// Everything a Python user can make the core do with one buffer: scan it,
// make a handle of every message, read every key the handle lists (and the
// computed and coordinate keys) with get_key and each typed reader, decode
// the values, walk the grid and search it. Shared by the fuzz targets and
// by the suite that replays their regression inputs; a crash, a sanitizer
// report or a hang is the finding, the totals only keep the work from being
// optimised away.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/grid_points.hpp"
#include "core/grid_view.hpp"
#include "core/handle_record.hpp"
#include "core/key_lookup.hpp"
#include "core/keys_iterator.hpp"
#include "grib/decode_message.hpp"
#include "grib/framing.hpp"

namespace vorlak::test {

struct ExerciseTotals {
  std::uint64_t messages = 0;
  std::uint64_t keys_read = 0;
  std::uint64_t decoded = 0;
  std::uint64_t refused = 0;
};

// Keys read on every handle besides the ones it lists: the computed keys
// (the first twelve), which are listed only for some grids, and names it
// does not have.
inline constexpr std::array<std::string_view, 16> kExtraKeys = {
    "values", "numberOfMissing", "latitudes", "longitudes", "distinctLatitudes", "distinctLongitudes",
    "latitudeOfFirstGridPointInDegrees", "longitudeOfFirstGridPointInDegrees",
    "latitudeOfLastGridPointInDegrees", "longitudeOfLastGridPointInDegrees", "iDirectionIncrementInDegrees",
    "jDirectionIncrementInDegrees", "Ni", "Nj", "", "noSuchKey"};

// Fields larger than this are legal, but decoding and expanding them is
// legitimate work, not a finding; the harness stops short of them.
inline constexpr std::uint64_t kExercisePointLimit = std::uint64_t{1} << 16;

inline void read_key(const HandleRecord& handle, std::string_view key, ExerciseTotals& totals) {
  ++totals.keys_read;
  const auto value = get_key(handle, key);
  if (!value) ++totals.refused;
  // The shape of a key describes the value get_key builds.
  const auto shape = key_shape(handle, key);
  if (static_cast<bool>(shape) != static_cast<bool>(value)) __builtin_trap();
  if (value && shape->tag != value->tag()) __builtin_trap();
  if (value && value->tag() == KeyTag::DoubleArray &&
      shape->size != std::get<std::vector<double>>(value->value).size()) {
    __builtin_trap();
  }
  if (auto v = get_long(handle, key); !v) ++totals.refused;
  if (auto v = get_double(handle, key); !v) ++totals.refused;
  if (auto v = get_string(handle, key); !v) ++totals.refused;
  if (auto v = get_double_array(handle, key); !v) ++totals.refused;
}

inline bool within_exercise_limit(const HandleRecord& handle) {
  return !handle.grid_size_known || handle.grid_size <= kExercisePointLimit;
}

inline void exercise_handle(const HandleRecord& handle, ExerciseTotals& totals) {
  ++totals.messages;
  if (auto bytes = message_bytes(handle.bytes, handle.record); !bytes) ++totals.refused;
  KeysIteratorState keys = KeysIteratorState::for_handle(handle);
  const bool decode = within_exercise_limit(handle);
  const auto computed = [](std::string_view name) {
    return std::find(kExtraKeys.begin(), kExtraKeys.begin() + 12, name) != kExtraKeys.begin() + 12;
  };
  while (keys.next()) {
    const std::string* name = keys.current_name();
    if (!decode && computed(*name)) continue;  // each of them decodes the field
    read_key(handle, *name, totals);
  }
  keys.skip_computed();
  if (!decode) return;
  for (std::string_view key : kExtraKeys) read_key(handle, key, totals);
  if (auto decoded = handle.decoded(); decoded) {
    ++totals.decoded;
  } else {
    ++totals.refused;
  }
  if (auto view = grid_view(handle); view) totals.keys_read += view->size();
  if (auto points = grid_points(handle); points) totals.keys_read += points->size();
  if (auto found = nearest(handle, 45.0, 10.0, 4); found) totals.keys_read += found->size();
  const std::array<double, 2> lats = {-90.0, 91.0};
  const std::array<double, 2> lons = {0.0, 720.0};
  if (auto each = nearest_each(handle, lats, lons); each) totals.keys_read += each->size();
}

// The core's equivalent of codes_new_from_message / opening a file and
// reading every key of every message.
inline ExerciseTotals exercise_buffer(std::span<const std::uint8_t> data) {
  ExerciseTotals totals;
  auto block = ByteBlock::copy_of(data);
  auto scan = scan_messages(block->span());
  if (!scan) {
    ++totals.refused;
    return totals;
  }
  for (const MessageRecord& record : scan->records) {
    exercise_handle(HandleRecord::make(record, BytesSource::shared(block)), totals);
    // The private copy codes_new_from_message makes, with its own offsets.
    if (auto bytes = message_bytes(BytesSource::shared(block), record); bytes) {
      exercise_handle(HandleRecord::make(record, BytesSource::private_copy(ByteBlock::copy_of(*bytes))), totals);
    }
  }
  return totals;
}

// Decoding alone, as the values memo does it, for inputs that need not scan.
inline bool decode_alone(std::span<const std::uint8_t> message, const MessageRecord& record) {
  auto decoded = decode_message(message, record);
  return decoded.has_value();
}

}  // namespace vorlak::test
