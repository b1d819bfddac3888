// Fuzz target: decode_message on well-formed messages of each template
// family whose data representation fields, bitmap and payload come from the
// input (fuzz/family_skeleton.hpp), so mutations reach the decoders instead
// of dying in the framing. A decoded field must have the grid's shape, and
// the same message split across threads must decode to the same result.
#include <cstdint>
#include <cstring>

#include "family_skeleton.hpp"
#include "grib/decode_message.hpp"
#include "grib/framing.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vorlak;
  const fuzz::FamilyInput input = fuzz::parse_family_input({data, size});
  const fuzz::ByteVec message = fuzz::family_message(input);
  auto scan = scan_messages(message);
  if (!scan) return 0;
  const MessageRecord& record = scan->records.front();
  const Bytes bytes = Bytes(message).subspan(record.offset, record.totalLength);
  auto decoded = decode_message(bytes, record);
  // The same message split across threads, whatever its size: the same
  // error text, or the same values and missing count.
  DecodeOptions split;
  split.threads = 3;
  split.split_threshold = 0;
  auto pieces = decode_message(bytes, record, split);
  if (decoded.has_value() != pieces.has_value()) __builtin_trap();
  if (!decoded) {
    if (decoded.error() != pieces.error()) __builtin_trap();
    return 0;
  }
  if (decoded->missing_count != pieces->missing_count) __builtin_trap();
  const auto& a = decoded->field.values();
  const auto& b = pieces->field.values();
  if (a.size() != b.size() || (!a.empty() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) != 0)) {
    __builtin_trap();
  }
  const auto& field = decoded->field;
  if (field.values().size() != field.Ni() * field.Nj()) __builtin_trap();
  if (input.family != fuzz::kGrib1 && field.values().size() != std::uint64_t{input.Ni} * input.Nj) __builtin_trap();
  if (decoded->missing_count > field.values().size()) __builtin_trap();
  return 0;
}
