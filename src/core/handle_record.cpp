#include "core/handle_record.hpp"

namespace vorlak {

// Two 32-bit dimensions: the product always fits in 64 bits. A grid with
// rows of their own lengths has their sum.
std::optional<std::uint64_t> grid_size_of(const MessageRecord& record) {
  if (!record.Ni || !record.Nj) return std::nullopt;
  if (record.reduced_point_count) return *record.reduced_point_count;
  return std::uint64_t{*record.Ni} * std::uint64_t{*record.Nj};
}

HandleRecord HandleRecord::make(const MessageRecord& record, BytesSource bytes) {
  HandleRecord handle;
  handle.record = record;
  const auto size = grid_size_of(record);
  handle.grid_size_known = size.has_value();
  handle.grid_size = size.value_or(0);
  handle.bytes = std::move(bytes);
  handle.memo = std::make_shared<ValuesMemo>();
  // The template fields come from the message's bytes; without them (or
  // when they are out of range) only the record's keys are derived.
  const Result<Bytes> message = message_bytes(handle.bytes, handle.record);
  handle.derived = derive_keys(FieldView{handle.record, message ? *message : Bytes{}, handle.grid_size_known,
                                         handle.grid_size});
  return handle;
}

CodesResult<const DecodedMessage*> HandleRecord::decoded() const {
  if (!memo) return codes_fail(CodesError::internal("message handle has no values memo"));
  const Result<DecodedMessage>& result = memo->get(bytes, record);
  if (!result) return codes_fail(CodesError::internal(result.error()));
  return &*result;
}

}  // namespace vorlak
