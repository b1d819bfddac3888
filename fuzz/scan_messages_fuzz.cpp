// Fuzz target: scan_messages over arbitrary bytes. Beyond not crashing, the
// records must describe the buffer truthfully: each starts with "GRIB", lies
// wholly inside it, follows the previous one without overlap, and its bytes
// can be sliced out again.
#include <cstdint>
#include <cstring>

#include "grib/framing.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vorlak;
  const Bytes buffer(data, size);
  auto scan = scan_messages(buffer);
  if (!scan) return 0;
  if (scan->records.empty()) __builtin_trap();  // success means at least one message
  std::uint64_t previous_end = 0;
  std::uint64_t number = 0;
  auto block = ByteBlock::copy_of(buffer);
  for (const MessageRecord& record : scan->records) {
    if (record.offset < previous_end || record.totalLength > size || record.offset > size - record.totalLength) {
      __builtin_trap();
    }
    if (std::memcmp(data + record.offset, "GRIB", 4) != 0) __builtin_trap();
    if (record.messageNumber != ++number) __builtin_trap();
    if (record.edition == Edition::Unknown) __builtin_trap();
    auto bytes = message_bytes(BytesSource::shared(block), record);
    if (!bytes || bytes->size() != record.totalLength) __builtin_trap();
    previous_end = record.offset + record.totalLength;
  }
  return 0;
}
