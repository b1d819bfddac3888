// Fuzz target: decode_message on well-formed messages of each template
// family whose data representation fields, bitmap and payload come from the
// input (fuzz/family_skeleton.hpp), so mutations reach the decoders instead
// of dying in the framing. A decoded field must have the grid's shape.
#include <cstdint>

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
  auto decoded = decode_message(Bytes(message).subspan(record.offset, record.totalLength), record);
  if (!decoded) return 0;
  const auto& field = decoded->field;
  if (field.values().size() != field.Ni() * field.Nj()) __builtin_trap();
  if (input.family != fuzz::kGrib1 && field.values().size() != std::uint64_t{input.Ni} * input.Nj) __builtin_trap();
  if (decoded->missing_count > field.values().size()) __builtin_trap();
  return 0;
}
