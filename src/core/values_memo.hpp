#pragma once
// A once-only cell holding a message's decoded field, or the error its decode
// gave. Shared by a handle and its clones; concurrent first requests wait for
// the single decode.
#include <mutex>
#include <optional>

#include "grib/framing.hpp"
#include "types/decoded.hpp"

namespace vorlak {

class ValuesMemo {
 public:
  // Decodes on first use (message_bytes of the source, then decode_message).
  const Result<DecodedMessage>& get(const BytesSource& source, const MessageRecord& record);

  bool filled() const;

 private:
  std::once_flag once_;
  std::optional<Result<DecodedMessage>> result_;
};

}  // namespace vorlak
