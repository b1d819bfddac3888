// Opening a FieldFile, the positions of its fields and their keys. The
// decoding side is in field_decode.cpp.
#include "core/field_file.hpp"

#include "core/file_read.hpp"
#include "core/key_lookup.hpp"

namespace vorlak {

FieldFile::FieldFile(SharedBytes bytes, ScanResult scan) : bytes_(std::move(bytes)), scan_(std::move(scan)) {
  // One field per message: the message's last field, which its record
  // describes.
  fields_.reserve(scan_.records.size());
  for (std::size_t r = 0; r < scan_.records.size(); ++r) {
    const MessageRecord& record = scan_.records[r];
    Entry entry;
    entry.position.message_number = record.messageNumber;
    entry.position.message_offset = record.offset;
    entry.position.message_length = record.totalLength;
    entry.record = r;
    fields_.push_back(entry);
  }
  described_ = std::make_unique<std::atomic<const HandleRecord*>[]>(fields_.size());
}

FieldFile::~FieldFile() {
  for (std::size_t i = 0; i < fields_.size(); ++i) delete described_[i].load(std::memory_order_relaxed);
}

Expected<SharedFieldFile, FieldFileError> FieldFile::open(const std::string& path) {
  int os_error = 0;
  auto bytes = read_whole_file(path, &os_error);
  if (!bytes) return std::unexpected(FieldFileError{std::move(bytes.error()), os_error});
  auto file = from_bytes(std::move(*bytes));
  if (!file) return std::unexpected(FieldFileError{std::move(file.error()), 0});
  return std::move(*file);
}

Result<SharedFieldFile> FieldFile::from_bytes(SharedBytes bytes) {
  if (!bytes) bytes = std::make_shared<const ByteBlock>(0);
  auto scan = scan_messages(bytes->span());
  if (!scan) return fail(std::move(scan.error()));
  return SharedFieldFile(new FieldFile(std::move(bytes), std::move(*scan)));
}

const HandleRecord& FieldFile::described(std::size_t field) const {
  std::atomic<const HandleRecord*>& slot = described_[field];
  if (const HandleRecord* done = slot.load(std::memory_order_acquire)) return *done;
  auto made = std::make_unique<const HandleRecord>(
      HandleRecord::make(scan_.records[fields_[field].record], BytesSource::shared(bytes_)));
  const HandleRecord* expected = nullptr;
  // A thread that loses the race keeps the winner's record.
  if (slot.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel)) return *made.release();
  return *expected;
}

Result<Bytes> FieldFile::message_of(std::size_t field) const {
  return message_bytes(BytesSource::shared(bytes_), scan_.records[fields_[field].record]);
}

// ---------------------------------------------------------------------- keys

const DerivedKeys& FieldFile::keys(std::size_t field) const { return described(field).derived; }

const KeyValue* FieldFile::find_key(std::size_t field, std::string_view name) const {
  return keys(field).find(name);
}

CodesResult<std::int64_t> FieldFile::key_long(std::size_t field, std::string_view name) const {
  const KeyValue* value = find_key(field, name);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(name)));
  switch (value->tag()) {
    case KeyTag::Long: return std::get<std::int64_t>(value->value);
    case KeyTag::Double: return saturating_double_to_long(std::get<double>(value->value));
    case KeyTag::String:
      if (auto parsed = parse_decimal_long(std::get<std::string>(value->value))) return *parsed;
      break;
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(name), "long", value->type_name()));
}

CodesResult<double> FieldFile::key_double(std::size_t field, std::string_view name) const {
  const KeyValue* value = find_key(field, name);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(name)));
  switch (value->tag()) {
    case KeyTag::Long: return static_cast<double>(std::get<std::int64_t>(value->value));
    case KeyTag::Double: return std::get<double>(value->value);
    case KeyTag::String:
      if (auto parsed = parse_decimal_double(std::get<std::string>(value->value))) return *parsed;
      break;
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(name), "double", value->type_name()));
}

CodesResult<std::string> FieldFile::key_text(std::size_t field, std::string_view name) const {
  const KeyValue* value = find_key(field, name);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(name)));
  switch (value->tag()) {
    case KeyTag::Long: return std::to_string(std::get<std::int64_t>(value->value));
    case KeyTag::Double: return format_double(std::get<double>(value->value));
    case KeyTag::String: return std::get<std::string>(value->value);
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(name), "string", value->type_name()));
}

}  // namespace vorlak
