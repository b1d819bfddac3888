#include "core/handle_record.hpp"

namespace vorlak {

HandleRecord HandleRecord::make(const MessageRecord& record, BytesSource bytes) {
  HandleRecord handle;
  handle.record = record;
  handle.grid_size_known = record.Ni.has_value() && record.Nj.has_value();
  // Two 32-bit dimensions: the product always fits in 64 bits. A reduced
  // Gaussian grid has rows of their own lengths: its size is their sum.
  handle.grid_size = handle.grid_size_known ? std::uint64_t{*record.Ni} * std::uint64_t{*record.Nj} : 0;
  if (handle.grid_size_known && record.reduced_point_count) handle.grid_size = *record.reduced_point_count;
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
