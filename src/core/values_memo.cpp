#include "core/values_memo.hpp"

#include "grib/decode_message.hpp"

namespace vorlak {

const Result<DecodedMessage>& ValuesMemo::get(const BytesSource& source, const MessageRecord& record) {
  return get_with([&]() -> Result<DecodedMessage> {
    auto bytes = message_bytes(source, record);
    if (!bytes) return fail(std::move(bytes.error()));
    return decode_message(*bytes, record);
  });
}

}  // namespace vorlak
