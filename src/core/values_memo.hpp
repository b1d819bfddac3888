#pragma once
// A once-only cell holding a message's decoded field, or the error its decode
// gave. Shared by a handle and its clones; concurrent first requests wait for
// the single decode.
#include <atomic>
#include <mutex>
#include <optional>
#include <utility>

#include "grib/framing.hpp"
#include "types/decoded.hpp"

namespace vorlak {

class ValuesMemo {
 public:
  // Decodes on first use (message_bytes of the source, then decode_message).
  const Result<DecodedMessage>& get(const BytesSource& source, const MessageRecord& record);

  // Fills the cell with `decode()` on first use. If `decode` throws, the cell
  // stays empty and the next request tries again.
  template <class Decode>
  const Result<DecodedMessage>& get_with(Decode&& decode) {
    std::call_once(once_, [&] {
      result_.emplace(std::forward<Decode>(decode)());
      filled_.store(true, std::memory_order_release);
    });
    return *result_;
  }

  bool filled() const { return filled_.load(std::memory_order_acquire); }

 private:
  std::once_flag once_;
  std::optional<Result<DecodedMessage>> result_;
  std::atomic<bool> filled_{false};
};

}  // namespace vorlak
